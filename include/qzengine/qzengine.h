#ifndef QZENGINE_QZENGINE_H
#define QZENGINE_QZENGINE_H

/*
 * qz-engine: the exported face of the scanning engine.
 *
 * The engine is process-global and single-threaded: start it once with
 * qz_engine_startup(), run one scan at a time on the calling thread, stop it
 * with qz_engine_shutdown(). Callbacks may be installed at any time outside a
 * scan; passing null empties a slot.
 */

#include <qzengine/export.h>
#include <qzengine/qz_io_handle.h>
#include <qzengine/version.h>

#include <cstddef>

/* One argument of a reported call. 24 bytes, laid out contiguously in an
 * array: an integer argument's text is written into buf and value points at
 * it; otherwise value points at engine-owned text that is valid only while
 * the call filter runs. */
struct _fcall_argument {
  char buf[16];
  const char* value;
};
static_assert(sizeof(_fcall_argument) == 24, "_fcall_argument crosses the interface");
static_assert(offsetof(_fcall_argument, value) == 16, "_fcall_argument crosses the interface");

typedef void (*qz_exception_handler_t)(char* file, int line, char* message);
typedef unsigned char (*qz_fcall_filter_t)(unsigned long line_no, unsigned long reserved,
                                           char* func_name, unsigned long assign_times,
                                           _fcall_argument* args, unsigned long arg_count);
typedef void (*qz_performace_filter_t)(unsigned long line_no, unsigned long used_tokens,
                                       unsigned long token_capacity, unsigned long used_symbols,
                                       unsigned long symbol_blocks, unsigned long array_count,
                                       unsigned long string_count);
typedef void (*qz_output_handler_t)(char* text);
typedef void (*qz_vardump_handler_t)(char* name, char* value);

/* Lifecycle. */
QZ_EXPORT void qz_engine_startup();
QZ_EXPORT void qz_engine_shutdown();

/* Scanning. A scan before startup, after shutdown, or from inside a callback
 * of a running scan is refused: nothing is read and nothing is reported. */
QZ_EXPORT void qz_engine_scan_file(char* path);
QZ_EXPORT void qz_engine_scan_buff(const char* text); /* null: an empty scan */
QZ_EXPORT void qz_engine_scan_file_w(wchar_t* path);  /* accepted and ignored */
QZ_EXPORT void qz_engine_real_scan(qz_io_handle* source);
QZ_EXPORT void qz_engine_release_all_resource();

/* Interrupt: raised from a callback, the running scan ends at its next token. */
QZ_EXPORT void qz_engine_interupt();
QZ_EXPORT unsigned char qz_engine_is_interupt();

/* Callback slots with their invokers; an empty slot makes its invoker a no-op
 * that returns 0. */
QZ_EXPORT void qz_engine_set_exception_handler(qz_exception_handler_t fn);
QZ_EXPORT void qz_engine_throw_exception(char* file, int line, char* message);
QZ_EXPORT void qz_engine_set_fcall_filter(qz_fcall_filter_t fn);
QZ_EXPORT unsigned char qz_engine_call_fcall_filter(unsigned long line_no, unsigned long reserved,
                                                    char* func_name, unsigned long assign_times,
                                                    _fcall_argument* args, unsigned long arg_count);
QZ_EXPORT void qz_engine_set_performace_filter(qz_performace_filter_t fn);
QZ_EXPORT void qz_engine_call_performace_filter(unsigned long line_no, unsigned long used_tokens,
                                                unsigned long token_capacity,
                                                unsigned long used_symbols,
                                                unsigned long symbol_blocks,
                                                unsigned long array_count,
                                                unsigned long string_count);
QZ_EXPORT void qz_engine_set_output_handler(qz_output_handler_t fn);
QZ_EXPORT void qz_call_output(char* text);
QZ_EXPORT void qz_engine_set_var_dump_handler(qz_vardump_handler_t fn);
QZ_EXPORT void qz_call_vardump(char* name, char* value);

/* Counters: tokens in use and token capacity of the token pool, texts and
 * blocks of the script symbol table. Always returns 1. */
QZ_EXPORT int qz_engine_get_performace(unsigned long& used_tokens, unsigned long& token_capacity,
                                       unsigned long& used_symbols, unsigned long& symbol_blocks);
/* Gathers the counters and hands them to the performance callback. */
QZ_EXPORT void qz_report_performance(unsigned long line_no);

/* Extended behaviour beyond the baseline engine, off by default so that a host
 * that sets nothing gets exactly the baseline behaviour. */
enum qz_engine_option_flags : unsigned long {
  /* The lexer also opens PHP code at "<?php" in any letter case, at "<?="
   * (an expression statement, as echo would) and at "<?" followed by white
   * space; "<?xml" stays text. */
  QZ_OPT_EXTENDED_TAGS = 1ul << 0,
  /* gzinflate (raw deflate) and gzuncompress (zlib framing) really inflate,
   * as does the engine's gzip decoder; data that does not inflate,
   * or would inflate past the per-string cap (a decompression bomb), still
   * gives the "qz_decoded" marker. str_rot13 works on the whole text instead
   * of its first 999 characters. Strings are handled by their recorded length,
   * so binary data keeps its NUL bytes from base64_decode through
   * str_replace, strrev and the other transforms into the inflater. */
  QZ_OPT_FULL_DECODE = 1ul << 1,
  /* The end of input is told by the source, not by a byte value: a 0xFF byte
   * of a buf_file_handle or a linux_file_handle is data (a word character to
   * the lexer), so an image header or a stray 0xFF no longer hides what
   * follows it. A host's own qz_io_handle still ends at a read of -1. */
  QZ_OPT_BINARY_SAFE = 1ul << 2,
  /* Reaching a nesting or work limit is a finding: once per limit per scan
   * the call filter gets a call named "qz_limit_reached" (QZ_LIMIT_MARKER)
   * at the line where it happened, whose one argument names the limit:
   * "nested_runs" (evaluated code nested too deep), "runs_per_scan" (too
   * many runs of evaluated code), "eval_bytes" (too much evaluated code),
   * "explode_pieces" (a text split into too many pieces), "call_depth"
   * (calls and array accesses nested too deep in one statement),
   * "string_length" (a text longer than the per-string cap) or
   * "statement_tokens" (one statement too long to keep whole, with
   * QZ_OPT_MEMORY_BUDGET).
   * QZ_SCAN_LIMIT_REACHED is noted with the flag or without it. */
  QZ_OPT_LIMIT_FINDINGS = 1ul << 3,
  /* Each scan's memory is bounded. Tokens and strings that top-level code
   * no longer holds are given back during the scan, so repeated
   * concatenation and long files cost memory in proportion to what the
   * script keeps; a statement keeps at most its first 262,144 tokens.
   * Each scan also has a memory budget, set by the size of its input: once
   * its strings, arrays and tokens would pass it, further allocations fail,
   * the scan ends at its next step with the verdict reached so far, and
   * qz_engine_scan_status() reports QZ_SCAN_MEMORY_BUDGET. Verdicts do not
   * change; the performance callback's token count is then the count in
   * use, and its string count stays the number made. */
  QZ_OPT_MEMORY_BUDGET = 1ul << 4,
  /* The interpreter reads more of what scripts do, so that it reaches the
   * call filter:
   *  - a string literal keeps up to the per-string cap (16 MB), not only
   *    its first 5,000 characters, and every byte after a NUL it holds;
   *  - a "(" at a statement start, after an operator, a separator or an
   *    expression keyword (echo, print, return...) groups: it calls nothing;
   *    a group followed by "(" is the callee of that list ("('system')(...)",
   *    "(function ($a) {...})(...)");
   *  - a request array stays one through reassignment; the long names
   *    ($HTTP_GET_VARS...) read as the modern arrays, and so do the items
   *    of $GLOBALS named after them ($GLOBALS['_GET']); a variable named by
   *    request data ($$k, ${$k}), extract of a request array and parse_str of
   *    request text alone make unset variables read as request data (an
   *    extract of anything else no longer does); "${'_' . $m}" with $m
   *    unset or request data reads as $_REQUEST ("A::${...}", a static
   *    property, does not);
   *  - foreach binds its variables to what the first iteration gives (for a
   *    request array: its item marker, for key and value); a variable in an
   *    array literal stands for the value it holds;
   *  - in an "else" branch, or an "if"/"elseif" whose condition calls empty()
   *    or isset(), an assignment without request data does not replace
   *    request data (both branches are read; the default is the other way
   *    the script may go);
   *  - "$v = $v . ..." and "$v .= ..." with $v never assigned start from the
   *    empty text, not from the variable's name;
   *  - a function definition is recorded, not reported ("use function
   *    name;" imports one and defines none); a call walks its
   *    body with the arguments bound (defaults filled in) and takes the
   *    first return value back; a function never called is walked once at
   *    the end of the script, with the arguments of the first call of its
   *    name made before it was defined when there was one; a parameter
   *    declared "&$name" hands the value it ended with back to a plain
   *    variable passed for it (the call is then reported with that value).
   *    An anonymous function reads as its name (QZ_CLOSURE_NAME_PREFIX and
   *    a number), and so does an arrow function "fn(params) => expression",
   *    whose body returns the expression. A call of a name the engine
   *    itself answers as one of PHP's functions runs that answer even
   *    where the script defines a function of the name: PHP declares such
   *    a stand-in only where the function is missing ("if
   *    (!function_exists('hex2bin')) { function hex2bin(...) ... }");
   *  - a function that takes a callback (call_user_func, array_map, usort,
   *    preg_replace_callback, ob_start...) also calls the function its
   *    callback names, with what it would hand it (a session save
   *    handler's "read" gets "$_COOKIE_DATA", the id the cookie chose), and
   *    filter_var(value, FILTER_CALLBACK, ['options' => callback]) calls
   *    the callback with the value; array_map with a built-in or a function
   *    of the script, over an array the scan knows of at most 256 items
   *    (4,096 items per scan), gives the array of the callback's results
   *    (the first call reported, the rest walked quietly), and over a
   *    request array a request array when the callback keeps the data;
   *  - a character of a value the scan does not know is not known either
   *    (never a letter of "qz_invalid_string"), and one past the end of a
   *    text is the empty text;
   *  - a doc comment ending on the line of a class keyword or the line
   *    before is the class's: "new ReflectionClass('X')" then
   *    "->getDocComment()" gives it (the class reflected last; at most
   *    QZ_DOC_COMMENT_MAX_BYTES of it, for QZ_MAX_CLASS_DOC_COMMENTS
   *    classes);
   *  - a quoted text handed to a call is that text: 'c' no longer reads as
   *    the value of a constant or property named c (define() still makes
   *    the constant);
   *  - include, include_once, require and require_once without parentheses
   *    are calls of their path, which runs to the end of the statement
   *    wherever the keyword stands ("$c = require 'c.php';",
   *    "return include $f;");
   *  - text written by file_put_contents, fwrite or fputs is walked as
   *    code only when it holds "<?" (a file without an opening tag runs no
   *    PHP);
   *  - loops inside function bodies and other walked token lists run as
   *    they do at the top level;
   *  - the "!" of "!=" and "!==" is kept: an inequality assigns nothing;
   *  - a ternary "C ? A : B" gives the branch holding request data, else A
   *    (C is read and dropped); "A ?? B" and "A ?: B" give B when A is not
   *    set, else as the ternary does;
   *  - an assignment binds the variable just read, whatever operators come
   *    before it ("$a = 'x' . $b = 'y'" assigns $b first), and assignments
   *    chain from the right; an array assigned from a variable or an item,
   *    or bound to a parameter, is a copy of up to 1,024 items (after "&"
   *    it is shared);
   *  - a string literal is text, even one that begins with "$"; a number
   *    joined to text is written in decimal; a cast ("(int)", "(array)"...)
   *    is dropped;
   *  - a callee without text, or whose text is the invalid-string text, is
   *    reported as QZ_UNKNOWN_CALLEE, at its line (as QZ_OWN_NAME_CALLEE
   *    when a built-in made it from __FILE__ or __DIR__); a callee of three
   *    or more characters, each picked by its position from a longer text
   *    and joined to the others alone ("$s[18] . $s[24] . $s[18]"), is
   *    reported once more after the call, as "qz_spelled_callee" with the
   *    function's name before the call's own arguments;
   *  - integer literals read in their base ("0x1F", "0b101", "0o17", "017")
   *    and without "_" separators; a "-" or "+" where a value begins is its
   *    sign ("substr($s, -3)") and makes a text that is no request marker
   *    the integer its leading digits give; "++" steps a text as PHP does
   *    ("Az" to "Ba", "9" to 10); an array the script built joins text as
   *    "Array", and an item of the empty text makes its variable an array;
   *  - "$a[] = v" appends v at the array's next index; an item of request
   *    data (a text that is a request marker, "$_FILES_DATA_DATA" too) is
   *    that marker, whatever its key;
   *  - "[" where a value begins opens a short array, reported as a call of
   *    "array" as "array(...)" is; a callback [$object, 'name'] calls
   *    "->name", ['Class', 'name'] calls "Class::name", a request array
   *    its item marker; the dots of "..." before an argument are dropped;
   *  - a for loop's first and last parts make their calls; it runs its body
   *    once, then again while its condition holds
   *    (a missing or fixed condition, which only a break ends: once only)
   *    (at most 50 rounds, 512 for a body of at most 256 tokens that joins
   *    texts with ".=", 2,048 later rounds per scan), the later rounds
   *    computing values without reporting calls again; a while loop does the
   *    same, its condition read aloud in the first round; "$i++;" and
   *    "++$i;" statements are evaluated, and "+=", "-=", "*=", "/=" and "|="
   *    assign the combined value;
   *  - "^", "|" and "&" between two values and "~" before one work bit by
   *    bit on texts (as PHP does) and on integers;
   *  - "->" is read whole and ">" compares; a method call is reported as
   *    "->name" or "Class::name", never as the global function of that
   *    name, and a function defined in a class body is a method that only
   *    method calls walk; "new X(...)" is reported as a call of "new X"
   *    and walks the constructor of class X with its arguments ("new X"
   *    without them as "new X()"); a method no class of the script has
   *    walks __call (__callStatic for "Class::name") with its name and an
   *    array of its arguments; a property of an object decoded from request
   *    data ("$d->cmd" after "$d = json_decode(...)") that the script did
   *    not set reads as request data;
   *  - text that came out of a decoder (base64_decode, gzinflate,
   *    gzuncompress, gzdecode, str_rot13, convert_uudecode, hex2bin), or was
   *    made from such text, is walked as it decodes but reported to the
   *    call filter with " qz_decoded" after it;
   *  - a string is read as PHP reads it, no character dropped: double-quoted
   *    strings, heredocs and backtick commands decode every escape (\n \t \r
   *    \v \e \f \\ \$ \", octal, \x, \u{...}; an unknown one keeps its
   *    backslash), single-quoted strings only \\ and \', nowdocs none; a
   *    heredoc ends at its label on a line of its own;
   *  - variables in double-quoted strings, heredocs and backtick commands
   *    ("$a", "$a[k]", "{$a['k']}", "${a}") are read as the pieces joined
   *    with ".", at most 256 tokens per string, the rest kept as text;
   *  - a backtick command is read as a call of shell_exec with its text;
   *  - "<?" followed by code ("<?eval(", "<?$x=") or white space, and "<?php"
   *    in any letter case, open PHP code; "<?xml" stays text;
   *  - strtr, substr, str_split, implode and join, array_reverse, sprintf,
   *    vsprintf, hex2bin, pack ("H", "h", "a"), str_pad, str_repeat,
   *    ucfirst, substr_replace, convert_uudecode, base_convert,
   *    rawurldecode, htmlspecialchars_decode, html_entity_decode, hexdec,
   *    octdec, bindec, basename, iconv, mb_convert_encoding, trim, ltrim,
   *    rtrim, chop, strpos, stripos and mb_substr are emulated on known text (a
   *    position not found is null), and pack "C" makes a
   *    byte of each number; str_replace takes arrays of searches and
   *    replacements (each search in turn); preg_replace without the "e"
   *    modifier replaces for simple patterns (literal bytes, ".",
   *    classes, escapes, "^" and "$") and leaves the subject as it is for
   *    any other;
   *  - a text transform keeps its input's markers: a marker such as
   *    "$_GET_DATA" or "qz_decoded" that the emulated result lost is put
   *    back (the result is the marker itself when the input was exactly that
   *    marker, else the lost markers are appended to it); hexdec, octdec,
   *    bindec and chr of text that holds a marker give its markers, and
   *    str_split of it one piece, the whole text; round, floor, ceil,
   *    intval and abs of an integer or a text of decimal digits give that
   *    whole number (of anything else they are not followed);
   *  - getenv of an HTTP_ name, QUERY_STRING, REQUEST_URI, PATH_INFO,
   *    CONTENT_TYPE or a name not known gives "$_SERVER_DATA"; every item of
   *    getallheaders() and apache_request_headers() reads as
   *    "$_SERVER_DATA", and of exif_read_data(), read_exif_data() and
   *    iptcparse() (an image's metadata) as "$_FILE_CONTENTS";
   *    file_get_contents("php://input") gives "$_POST_DATA",
   *    fopen of it the handle "$_INPUT_HANDLE", and fread, fgets, fgetss and
   *    stream_get_contents of that handle give "$_POST_DATA" (of a handle
   *    fsockopen gave, "$_SOCKET_HANDLE"); json_decode,
   *    array_values and array_keys of request data give a request array
   *    (array_values and array_keys of an array the script built a list of
   *    its values or keys), and so do array_merge, array_merge_recursive,
   *    array_replace, array_slice and array_unique given one, and
   *    parse_str of request text into its second argument; implode and
   *    join of a request array give its item marker after the items the
   *    scan knows; key, current, reset, end, array_pop and array_shift of
   *    one give its marker; gethostbyname of request data gives its
   *    marker, and gethostbynamel of it a request array (of other text
   *    neither is followed); constant(NAME) gives the constant define()
   *    made. */
  QZ_OPT_INTERPRETER_REACH = 1ul << 5,
};
/* The name of the call reported under QZ_OPT_LIMIT_FINDINGS. */
#define QZ_LIMIT_MARKER "qz_limit_reached"
/* The name under which QZ_OPT_INTERPRETER_REACH reports a call whose callee
 * has no known text: a variable never given one, the value of a call. */
#define QZ_UNKNOWN_CALLEE "qz_unknown_callee"
/* The name under which QZ_OPT_INTERPRETER_REACH reports such a call when
 * the callee was made from the script's own path by a built-in
 * ("$f = basename(__FILE__, '.php'); $f(...)"): the file's name chooses
 * the function. */
#define QZ_OWN_NAME_CALLEE "qz_own_name_callee"
/* Anonymous functions read with QZ_OPT_INTERPRETER_REACH are named this
 * prefix and their number in the script ("qz_closure_1"...): calls of them
 * are reported under that name. */
#define QZ_CLOSURE_NAME_PREFIX "qz_closure_"
/* Replaces the option flags (a mask of qz_engine_option_flags); returns the
 * previous flags. Takes effect at the next scan. */
QZ_EXPORT unsigned long qz_engine_set_options(unsigned long flags);
QZ_EXPORT unsigned long qz_engine_get_options();

/* How complete the last scan was: 0 when it read its whole input and every
 * step it took ran within the engine's bounds, else a mask of these flags.
 * The verdict of an incomplete scan stands for what was read; a host that
 * must not pass a file it could not fully look at treats any of the first
 * three as a failure of the scan. */
enum qz_scan_status_flags : unsigned long {
  QZ_SCAN_OUT_OF_MEMORY = 1ul << 0,    /* an allocation failed; something was not walked */
  QZ_SCAN_MEMORY_BUDGET = 1ul << 1,    /* the per-scan memory budget ended the scan early */
  QZ_SCAN_INPUT_UNREADABLE = 1ul << 2, /* the input could not be opened or read to its end */
  QZ_SCAN_LIMIT_REACHED = 1ul << 3,    /* a nesting or work limit stopped a walk of code */
};
/* The qz_scan_status_flags of the last scan (0 before any); cleared when a
 * scan starts. */
QZ_EXPORT unsigned long qz_engine_scan_status();

#endif
