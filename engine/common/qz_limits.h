#ifndef QZ_LIMITS_H
#define QZ_LIMITS_H

/*
 * Every fixed bound of the engine, in one place. Each is either part of the
 * engine's observable behaviour (pool geometry, text caps that decide what a
 * token or a rule field holds) or a safety bound that keeps a hostile script
 * from exhausting time or memory. Reaching a safety bound never fails the
 * scan: the affected operation yields its fallback and the walk goes on.
 */

/* Items per slab of every slab pool: heap requests stay rare. */
#define QZ_POOL_SLAB_ITEMS 3200
/* 32-bit occupancy words per slab: one bit per item. */
#define QZ_POOL_BITMAP_WORDS (QZ_POOL_SLAB_ITEMS / 32)

/* Bytes of one symbol-table arena; a text with its terminator that does not
 * fit gets an arena of its own, sized to fit. */
#define QZ_SYMTAB_ARENA_SIZE 5010

/* Longest runtime string (concatenation, decoding, replacement); a longer
 * result is not built and the invalid-string text stands in for it. */
#define QZ_MAX_STRING_LENGTH (16ul * 1024 * 1024)
/* A ".=" that outgrows the room behind its text makes room for this many
 * times the new text (within QZ_MAX_STRING_LENGTH and
 * QZ_STRING_APPEND_BUDGET_SHARE): a run of appends then costs time in
 * proportion to the text made, and its room at most this many times the
 * text. */
#define QZ_STRING_APPEND_GROWTH 2ul
/* Under a memory budget, the room beyond the text takes at most one over this
 * of what the budget has left: near its end, appends copy again rather than
 * hold back memory the rest of the scan may need. */
#define QZ_STRING_APPEND_BUDGET_SHARE 8ul

/* Entries of the cache of interned texts that spares a repeated text the
 * keyed hash and the table lookups; a text whose entry another took is
 * looked up in the tables as before. */
#define QZ_SYMTAB_CACHE_SLOTS 2048

/* Characters the lexer keeps of one token; the rest is read and dropped. */
#define QZ_LEX_TOKEN_MAX 5000
/* Tokens one string becomes at most when QZ_OPT_INTERPRETER_REACH splits it
 * at its variables (text pieces, variables with their index, the "." between
 * them, the call around a backtick command): past it the rest of the string
 * is kept as text, so a string of a million "$a" cannot flood the lexer. */
#define QZ_LEX_STRING_PIECES 256
/* Characters of an integer literal read in its base (a 64-bit value in
 * binary takes 66 with its "0b"); longer ones saturate as strtol does. */
#define QZ_LEX_NUMBER_DIGITS 80
/* Characters of a heredoc label that are kept; the rest is discarded. */
#define QZ_LEX_LABEL_MAX 64
/* Characters of a script tag read with get_str (into a 100-byte buffer). */
#define QZ_LEX_TAG_MAX 99
/* Characters read after a "<" outside code to recognise an opening tag: as
 * many as "?php" has. */
#define QZ_LEX_TAG_LOOKAHEAD 4
/* Characters of the longest operator ("==="): operator text grows no longer
 * in the lexer, and longer text is never looked up in the operator table. */
#define QZ_OPERATOR_MAX_LENGTH 3

/* Characters of a variable-variable's text kept after the "$" ($$name). */
#define QZ_VARVAR_NAME_MAX 126
/* Characters of a ${expr} text kept after the "$". */
#define QZ_VAR_VAR_CALL_NAME_MAX 64

/* Open calls, array accesses and groups within one statement; a statement
 * nested deeper is dropped, so hostile nesting costs no unbounded stack. */
#define QZ_MAX_CALL_DEPTH 4096
/* Tokens one statement keeps under the memory bounds (about 24 MB of
 * tokens); the rest, up to its ";", is read and dropped. Real statements,
 * even generated data tables, stay far below. */
#define QZ_MAX_STATEMENT_TOKENS (1ul << 18)
/* Nested runs of the driver (while conditions, evaluated code) at once. */
#define QZ_MAX_NESTED_RUNS 32
/* Entries of each runtime stack that a nested run's slot keeps between runs
 * (32 KB): ordinary statements fit, so runs need not grow their stacks
 * again, while stacks a huge statement grew are given back. */
#define QZ_RUN_STACK_KEEP 4096
/* Nested runs of the driver per scan; past it evaluated code is not walked
 * (the call is still reported), which ends eval bombs. */
#define QZ_MAX_NESTED_RUNS_PER_SCAN 1000
/* Bytes of evaluated code walked per scan, for the same reason. */
#define QZ_MAX_EVAL_BYTES_PER_SCAN (64ul * 1024 * 1024)
/* Decoded texts walked as code where they are decoded (extended reading),
 * per scan: a script that decodes the same few payloads in a loop costs no
 * more than this many walks; later decoded code is left to its sink. */
#define QZ_MAX_DECODED_CODE_WALKS 64
/* Bytes of those texts kept per scan so that a sink handed one of them
 * again does not walk it twice; a text that does not fit is not walked where
 * it is decoded. */
#define QZ_DECODED_CODE_KEEP_BYTES (4ul * 1024 * 1024)
/* Printable bytes that must follow an opening tag or the start of a
 * statement before decoded text reads as code: a "<?" met in binary noise is
 * followed by more noise within a few bytes. */
#define QZ_DECODED_CODE_MIN_BYTES 12
/* Bytes a sink's text may hold around a decoded text walked already (an
 * "?>" in front, a ";" behind) and still be that text, not walked again. */
#define QZ_DECODED_CODE_WRAP_BYTES 8

/* Bodies of user functions walked per scan, and per function (extended
 * reading): past either, a call is reported without walking the body, so a
 * function called in a long loop of statements costs no more. */
#define QZ_MAX_FUNCTION_WALKS_PER_SCAN 256
#define QZ_MAX_WALKS_PER_FUNCTION 8
/* Walks of a function once one of its walks gave back decoded text: a
 * string table's reader, which an obfuscated script calls once for every
 * name it hides; still within the scan's QZ_MAX_FUNCTION_WALKS_PER_SCAN. */
#define QZ_MAX_WALKS_PER_DECODER 64
/* Bytes of a script read a second time for its top-level functions when a
 * call comes before its definition; a longer script is read once only, as
 * twice would double the cost of the largest inputs. */
#define QZ_MAX_HOIST_SOURCE_BYTES (16ul << 20)
/* Names of top-level functions that check keeps; a hostile script of
 * millions of definitions is not hoisted past them. */
#define QZ_MAX_HOIST_NAMES 4096
/* Bytes of the first read of a stream for that check; each later read
 * doubles what was read. */
#define QZ_HOIST_READ_BYTES 4096
/* Places of one "list(...) = " or "[...] = " that take a value (extended
 * reading); later ones assign nothing. Real code names a handful; the bound
 * keeps a hostile statement of millions of commas from growing a vector. */
#define QZ_MAX_DESTRUCTURE_PLACES 256

/* Calls of names not defined yet that are kept for a function defined
 * further down (extended reading), and the bytes of argument text kept for
 * them: only the first call of a name is kept. */
#define QZ_MAX_EARLY_CALLS 1024
#define QZ_MAX_EARLY_CALL_BYTES (1024ul * 1024)
/* Bytes of a doc comment (a block comment opened with two stars) kept for
 * reflection on its class (extended reading): a payload hidden there is a
 * few lines; a longer comment is kept cut. */
#define QZ_DOC_COMMENT_MAX_BYTES 4096ul
/* Classes whose doc comments a scan keeps: later ones are not kept, and
 * reflection on them gives no text. */
#define QZ_MAX_CLASS_DOC_COMMENTS 64ul
/* Longest text that "new ReflectionClass" takes for a class name, and
 * constant() for a constant's; a longer one names none, so hostile input
 * cannot intern huge names. */
#define QZ_REFLECTED_NAME_MAX 128ul
/* Longest haystack stripos searches (extended reading): it folds a copy of
 * the text first; a longer one gives "not known" instead of a copy of up to
 * a whole string cap. */
#define QZ_FOLD_SEARCH_MAX_BYTES (1024ul * 1024)
/* User-function bodies walked inside one another at once: well below the
 * driver's own nesting bound, so deep call chains never read as nested
 * evaluated code. A function is never walked inside its own walk. */
#define QZ_MAX_FUNCTION_DEPTH 8
/* Callbacks called inside one another (a callback handed to a function that
 * takes callbacks, and so on): deeper ones are reported, not followed. */
#define QZ_MAX_CALLBACK_DEPTH 4
/* Items array_map hands its callback one by one (extended reading): a
 * decoder's table of character codes or pieces; a longer array is mapped
 * no further than the first item, as any callback is walked. */
#define QZ_ARRAY_MAP_ITEMS 256
/* Items array_map maps one by one in a whole scan: callbacks that map again
 * multiply the work, so past this every array_map walks its callback once,
 * as before. */
#define QZ_ARRAY_MAP_ITEMS_PER_SCAN 4096
/* Maximum iterations of the bounded for-loop emulation. */
#define QZ_FOR_LOOP_MAX 50
/* Rounds of one loop, and items of one foreach, that the extended reading
 * walks at most: a decoder that joins its payload from a few hundred pieces
 * finishes, and still four such loops fit in QZ_MAX_LOOP_ROUNDS_PER_SCAN. */
#define QZ_REACH_LOOP_MAX 512
/* Slots of each direct-mapped cache of call names (what the extended reading
 * looks for in them, the built-in or function they call): a file calls a
 * few hundred distinct functions. */
#define QZ_CALL_KIND_CACHE_SLOTS 512
/* Tokens per block of a nested run's scratch copies (96 KB): a block holds
 * the copies of an ordinary function body. */
#define QZ_DRIVER_SCRATCH_BLOCK 1024ul
/* Scratch blocks of all runs of one scan (about 6 MB, outside the scan's
 * budget): copies beyond them come from the token pool, as they did before. */
#define QZ_DRIVER_SCRATCH_BLOCKS 64ul
/* Tokens of a foreach body walked once per item of its array (extended
 * reading): a loop that joins a name or a payload piece by piece is a line
 * or two, and longer bodies are walked once, as before. */
#define QZ_FOREACH_ROUND_TOKENS 256
/* Rounds after the first that emulated loops walk per scan (extended
 * reading): nested and repeated loops cost no more than this many walks. */
#define QZ_MAX_LOOP_ROUNDS_PER_SCAN 2048
/* Tokens that those later rounds may walk in all per scan: decoder loops
 * are a few dozen tokens, so this leaves them room while a hostile loop with
 * a huge body costs no more than a few walks of a large script. */
#define QZ_MAX_LOOP_TOKENS_PER_SCAN (1024ul * 1024)
/* Under a memory budget, later loop rounds stop once the scan has used this
 * fraction (one over it) of the budget: a loop the walk cannot settle may
 * grow its texts each round, and ending the whole scan at the budget for
 * values only computed would leave the rest of a real script unread. */
#define QZ_LOOP_BUDGET_SHARE 4ul
/* Arguments a fixed-arity built-in can receive. */
#define QZ_BUILTIN_MAX_ARGS 10
/* Arguments a call's reading keeps without the heap (its list and the
 * records reported for it): few calls take more. */
#define QZ_CALL_ARGS_RESERVED 8
/* Arrays whose internal pointer (each, next, reset, end) a scan keeps moved
 * at once (extended reading); past it every array goes back to its first
 * item, so a script cannot grow the table without end. */
#define QZ_MAX_ARRAY_CURSORS 1024
/* How deep and over how many items serialize and its relatives look for
 * request data in an array (extended reading): a request value sits in the
 * first levels of what a script sends, and the look stays bounded on a
 * large or cyclic array. */
#define QZ_SERIALIZED_DEPTH 3
#define QZ_SERIALIZED_ITEMS 256ul
/* Digits (and sign) of a text that round, intval and their relatives read
 * as a whole number: 18 digits always fit a 64-bit long. */
#define QZ_WHOLE_NUMBER_DIGITS 18
/* Items the range() emulation builds at most, plus one. */
#define QZ_RANGE_MAX_SPAN 299
/* Bytes of the str_rot13 work buffer (input cut at one less). */
#define QZ_ROT13_BUFFER 1000

/* Rule file: bytes read per line, including the line end and the NUL. */
#define QZ_RULE_LINE_BUFFER 500
/* Width of a rule's text fields; texts are cut to one less. */
#define QZ_RULE_FIELD_SIZE 100
/* Width of a call-list or repeated-call function name. */
#define QZ_RULE_NAME_SIZE 32
/* Conditions of a behaviour rule, and names of a call list, that are read. */
#define QZ_RULE_MAX_ITEMS 13
/* Condition and name slots of a rule record. */
#define QZ_RULE_ITEM_SLOTS 16
/* Characters of one argument text copied into a match detail. */
#define QZ_RULE_DETAIL_ARG_MAX 200
/* Bytes of the rule file's path. */
#define QZ_RULE_PATH_SIZE 300

/* Bytes of the adapter's description buffer for one file. */
#define QZ_FILE_DESC_SIZE 250
/* Length of file_desc up to which another description may be appended. */
#define QZ_FILE_DESC_APPEND_LIMIT 169
/* Bytes of the buffers the adapter hands to a rule check. */
#define QZ_RULE_DESC_BUFFER 100
#define QZ_RULE_DETAIL_BUFFER 2000

/* ---- Behaviour rules: cipher ---- */
/* Bytes of the built-in rule-file pass phrase (the RC4 key). */
#define QZ_CIPHER_PHRASE_LENGTH 17
/* Largest text the cipher and hex routines take: its hexadecimal form and
 * terminator must still fit an int length; a longer text is refused. */
#define QZ_CIPHER_MAX_BYTES (1 << 28)

/* ---- built-in functions ---- */
/* Pieces one explode() call appends at most; the rest of the text is not
 * split, so a huge text of delimiters cannot flood the array pools. */
#define QZ_EXPLODE_MAX_PIECES 65536
/* First output buffer of an inflate: this many times the input's bytes plus
 * QZ_INFLATE_FIRST_EXTRA; it doubles from there up to QZ_MAX_STRING_LENGTH. */
#define QZ_INFLATE_FIRST_FACTOR 4
#define QZ_INFLATE_FIRST_EXTRA 1024
/* Bytes of input handed to zlib at once: its byte counters are 32 bits wide. */
#define QZ_INFLATE_INPUT_PIECE 0x40000000ul
/* strtr with a table of pairs: at most this many pairs, keys at most this
 * long and this many key bytes in all; a larger table leaves the text as it
 * is. The key length bounds the work per text byte, the key bytes the size of
 * the matching table. */
#define QZ_STRTR_MAX_PAIRS 1024
#define QZ_STRTR_MAX_KEY_LENGTH 64
#define QZ_STRTR_MAX_KEY_BYTES 4096
/* str_replace with an array of searches: at most this many, each a pass
 * over the whole text; with more the text is left as it is. */
#define QZ_STR_REPLACE_MAX_SEARCHES 64
/* Bytes of a path kept in the text of a handle opened for writing: longer
 * than any path a file system takes, and rules read far less of it. */
#define QZ_WRITE_HANDLE_PATH_MAX 4096ul
/* Items of a preg_replace pattern emulated as a transform; a longer pattern
 * leaves the subject as it is, bounding the work per subject byte. */
#define QZ_PREG_MAX_ITEMS 64

/* ---- Evaluator, variables and call reporting ---- */

/* Tokens, the closing ";" included, up to which a statement is too short to
 * evaluate: a call needs its name, "(" and ")" before the ";". */
#define QZ_SHORT_STATEMENT_TOKENS 3
/* Precedence the evaluator gives a call on its operator stack: above every
 * operator's (the table's highest is 6), so a pending call is always taken
 * off before an operator that follows it is stacked. */
#define QZ_CALL_PRECEDENCE 100
/* Bytes of an integer's radix-64 text: six digits cover 32 bits, plus NUL. */
#define QZ_L64A_TEXT_SIZE 7
/* Characters of a long written in decimal, sign and NUL included. */
#define QZ_DECIMAL_TEXT_SIZE 24
/* Bytes of the text a variable variable ($$name) is composed into: "$", at
 * most QZ_VARVAR_NAME_MAX characters of the named text, and the NUL. */
#define QZ_VARVAR_BUFFER (QZ_VARVAR_NAME_MAX + 2)

/* ---- Runtime values and memory ---- */

/* Slots of a flat index when it first grows: a handful of names costs one
 * small block, and doubling from here reaches any size in few steps. */
#define QZ_FLAT_INDEX_MIN_SLOTS 16

/* Buckets an array must exceed before its first lookup builds the key and
 * number maps; shorter arrays are cheaper to walk than to hash. */
#define QZ_ARRAY_INDEX_MIN_BUCKETS 8

/* Items, and levels of nested arrays, that an assignment or a parameter
 * copies of an array it takes by value (extended reading): settings tables
 * and request arrays are a few hundred items, and a larger array is shared
 * as it was before, so copying never costs more than a walk of this many. */
#define QZ_ARRAY_COPY_ITEMS 1024ul
#define QZ_ARRAY_COPY_DEPTH 4u

/* ---- Memory between and within scans ---- */

/* Token slabs kept between scans (about 300 KB each, so about 10 MB): enough
 * for the scripts met day to day to reuse them; a scan that grew the pool
 * further gives the rest back to the heap when it ends. */
#define QZ_POOL_KEEP_SLABS 32
/* Array and bucket slabs kept between scans (about 150 KB and 230 KB): most
 * scripts make arrays, and one slab each spares a scan making them afresh. */
#define QZ_ARRAY_KEEP_SLABS 1
/* Slabs of the built-in registry kept between scans (about 100 KB): one
 * holds every row a scan starts with, so no scan makes it afresh. */
#define QZ_REGISTRY_KEEP_SLABS 1
/* Bytes of strings, tokens and array items a scan makes before its first
 * collection, and at least between two: small scripts never collect. */
#ifndef QZ_RECLAIM_MIN_STEP /* the fuzzing build sets a small one */
#define QZ_RECLAIM_MIN_STEP (8ul * 1024 * 1024)
#endif
/* Per-scan memory budget (with QZ_OPT_MEMORY_BUDGET): strings, arrays,
 * buckets and token slabs made by one scan may take this many bytes plus
 * QZ_SCAN_BUDGET_PER_INPUT_BYTE per byte of input. The base leaves room for
 * a few decoded payloads (one string may reach QZ_MAX_STRING_LENGTH) in a
 * small file, with about 16 MB of a 64 MB footprint left to what the budget
 * does not count (the process, symbol tables, the lexer's buffers). With
 * collection, ordinary scripts hold far less than a counted byte per input
 * byte, but with extended reading a script's function and class bodies
 * stay as tokens for the whole scan: a file of nothing else holds about 24
 * counted bytes per byte of source (a token of about 100 bytes per four
 * bytes), and denser code more. The per-byte share leaves room for that and
 * for the data a large file declares; a budget nearly filled would also make
 * collections close in on each other. */
#define QZ_SCAN_BUDGET_BASE (48ul * 1024 * 1024)
#define QZ_SCAN_BUDGET_PER_INPUT_BYTE 32ul
/* The budget when the input's size is not known (a host's own source): that
 * of a 6.5 MB input, larger than the scripts hosts are expected to feed. */
#define QZ_SCAN_BUDGET_UNKNOWN_SIZE (256ul * 1024 * 1024)

/* ---- Request variables of old PHP ---- */

/* Code or command calls per scan whose unassigned variable is checked
 * against the whole variable list (for variables named at run time): a
 * shell needs one or two, and the bound keeps a file of thousands of such
 * calls linear. Past it no further variable reads as request data. */
#define QZ_MAX_REQUEST_GLOBAL_CHECKS 64

/* ---- Spread arguments (extended reading) ---- */

/* Items of an array a call spreads ("f(...$a)") that become arguments: more
 * than any built-in takes; later items are dropped. */
#define QZ_MAX_SPREAD_ARGS 16
/* Arguments a spread request array gives when the scan knows none of its
 * items: a callback API takes its callback first or second, so three reach
 * past both. */
#define QZ_SPREAD_REQUEST_ARGS 3

/* ---- Files a script writes, then includes (extended reading) ---- */

/* Files whose written text a scan follows: a dropper writes one or two;
 * past it no further file is followed. */
#define QZ_MAX_WRITTEN_FILES 16
/* Bytes of one such file's text kept: enough for the code a dropper writes
 * in pieces; later pieces are not added. */
#define QZ_MAX_WRITTEN_FILE_BYTES (64ul * 1024)

#endif
