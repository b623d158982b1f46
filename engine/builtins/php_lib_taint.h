#ifndef PHP_LIB_TAINT_H
#define PHP_LIB_TAINT_H

/*
 * Where data comes from, under QZ_OPT_INTERPRETER_REACH: the marker texts
 * that stand for data from outside the script, the rule that carries them
 * through text transforms, and the taint sources that read the request by
 * other ways than the request arrays (environment, headers, the raw body).
 *
 * The carry rule: a transform whose input text holds a marker gives a result
 * that holds it too. When the emulated result has lost a marker its input
 * held, the result becomes the marker itself if the input was exactly that
 * marker, else the emulated result followed by every lost marker, in the
 * order of php_lib_taint_markers (the markers alone if that would pass
 * QZ_MAX_STRING_LENGTH). A result that kept its markers is left as it is.
 *
 * Every built-in here takes tokens in PHP order and returns a new token owned
 * by the scan, as the other built-ins do.
 */

#include "php/php_variable.h"
#include "runtime/qz_token.h"

#include <string>

/* The marker for data read from the request body ("php://input"). */
#define PHP_LIB_INPUT_DATA_MARKER "$_POST_DATA"
/* The marker for request headers and the CGI variables derived from them. */
#define PHP_LIB_HEADER_DATA_MARKER PHP_CLIENT_SERVER_MARKER
/* The handle fopen gives for "php://input": reads from it are body data. */
#define PHP_LIB_INPUT_HANDLE_MARKER "$_INPUT_HANDLE"

/* An item of an upload's entry ($_FILES['f']['tmp_name'], ['name']...). */
#define PHP_LIB_UPLOAD_PATH_MARKER "$_FILES_DATA_DATA"
/* What a file uploaded holds: the bytes the client sent. */
#define PHP_LIB_UPLOAD_DATA_MARKER "$_FILES_DATA"

/* Text read from the terminal (STDIN, "php://stdin", readline): a command
 * line tool's input, which no web request reaches. */
#define PHP_LIB_STDIN_DATA_MARKER "$_STDIN_CONTENTS"
/* The handle fopen gives for "php://stdin": reads from it are terminal text. */
#define PHP_LIB_STDIN_HANDLE_MARKER "$_STDIN_HANDLE"

/* Request data escaped as one shell argument (escapeshellarg) reads as its
 * marker with this prefix in place of "$_": "$_GET_DATA" becomes
 * "$_ESCAPED_GET_DATA". The escaped form holds no plain marker, so a rule
 * that sees a plain marker in a command knows some request text reached it
 * unquoted, while the escaped forms still tell where the argument came
 * from. */
#define PHP_LIB_ESCAPED_PREFIX "$_ESCAPED_"

/* The marker texts that are carried, in the order lost ones are appended;
 * null-terminated. */
extern const char* const php_lib_taint_markers[];

/* A mask with bit k set when the len bytes at text hold marker k of
 * php_lib_taint_markers. Linear in len. */
unsigned long php_lib_taint_mask(const char* text, unsigned long len);

/* Applies the carry rule to res, the result token a transform made from
 * source: res's string may be replaced by a new one. Returns res (null stays
 * null). source without text, or a result that is no string, is left alone. */
_qz_token* php_lib_taint_carry(_qz_token* source, _qz_token* res);

/* The one-argument transforms of qz_transform.h with the carry rule applied
 * to their result (the registry's rows under QZ_OPT_INTERPRETER_REACH). */
template <_qz_token* (*F)(_qz_token*)>
_qz_token* php_lib_taint_carried(_qz_token* t) {
  return php_lib_taint_carry(t, F(t));
}
/* Numbers and characters made from request data (hexdec, octdec, bindec,
 * chr): the result becomes the source's markers, so that code a script
 * rebuilds from digits the request sent (chr(hexdec(...)) in a loop) is
 * still request data. Any other source gives F's result unchanged. */
_qz_token* php_lib_taint_digits_result(_qz_token* source, _qz_token* res);
template <_qz_token* (*F)(_qz_token*)>
_qz_token* php_lib_taint_from_digits(_qz_token* t) {
  return php_lib_taint_digits_result(t, F(t));
}
/* strrev with the carry rule. Stored text reversed whole (a file's contents,
 * a download) is unscrambled as str_rot13 unscrambles it: the result is
 * marked as a decoder's output, so that evaluating it reads as evaluating
 * decoded code. The script's own texts reversed (names built backwards)
 * are not marked. */
_qz_token* php_lib_taint_strrev(_qz_token* t);
/* str_replace in PHP order, carrying the subject's markers. */
_qz_token* php_lib_taint_str_replace(_qz_token* search, _qz_token* replace, _qz_token* subject);

/* Taint sources. */

/* PHP_LIB_HEADER_DATA_MARKER for a request variable of the CGI environment
 * (php_server_key_is_client_set), for a name that holds a marker, and for a
 * name without text (not known to the scan); "$_ENV_DATA" for any other
 * known name. */
_qz_token* php_lib_taint_getenv(_qz_token* name);
/* getallheaders and apache_request_headers: a new array whose every item
 * not written reads as PHP_LIB_HEADER_DATA_MARKER, as the request arrays'
 * items read as their marker. */
_qz_token* php_lib_taint_headers();
/* exif_read_data(file), iptcparse(block): the metadata an image file
 * carries, which its maker writes freely: a new array whose every item not
 * written reads as "$_FILE_CONTENTS". */
_qz_token* php_lib_taint_file_metadata(_qz_token* file);
/* filter_input(type, name): the item marker of the request array that type
 * (INPUT_GET, INPUT_POST...) names, "$_REQUEST_DATA" for a type the scan
 * cannot tell; filter_input_array(type): a new array whose every item not
 * written reads as that marker. */
_qz_token* php_lib_taint_filter_input(_qz_token* type, _qz_token* name);
_qz_token* php_lib_taint_filter_input_array(_qz_token* type);
/* openssl_decrypt and the like, of data that holds request markers: those
 * markers (the key is the script's, so whoever sent the data chose what it
 * decrypts to); null, as for a call not followed, for any other data. */
_qz_token* php_lib_taint_decrypted(_qz_token* data);
/* json_decode: of request text or a request array, an array every item of
 * which is request data (that marker); null otherwise. */
_qz_token* php_lib_taint_request_array(_qz_token* value);
/* unserialize: as json_decode, and also of a text that holds request data
 * among other text (the client wrote part of what is unserialized): an
 * array whose every item is the first request marker the text holds. */
_qz_token* php_lib_taint_unserialize(_qz_token* value);
/* serialize, json_encode, http_build_query: of request data, or of an
 * array whose items hold request data (nested arrays too, within
 * QZ_SERIALIZED_DEPTH and QZ_SERIALIZED_ITEMS), the first request marker
 * found; of a text that holds a request marker, that text; null, as for a
 * call not followed, otherwise. What a script sends or stores of the
 * request stays request data. */
_qz_token* php_lib_taint_serialized(_qz_token* value);
/* print_r with a true second argument (the text returned, not printed): as
 * php_lib_taint_serialized; null without it. (var_export is left out: its
 * text is a PHP literal, the escaping a script writing code should use.) */
_qz_token* php_lib_taint_print_r(_qz_token* value, _qz_token* return_text);
/* preg_split and mb_split (pattern, subject): as php_lib_taint_request_array
 * of the subject, so that a list the request sent stays request data. */
_qz_token* php_lib_taint_split(_qz_token* pattern, _qz_token* subject);
/* array_merge, array_merge_recursive, array_replace (any number of
 * arrays): as php_lib_taint_request_array of the first argument that is
 * request data, so that the request's items stay request data merged with
 * others; null when none is. */
_qz_token* php_lib_taint_array_merge(_qz_token* args);
/* parse_str(text, $result): when the text holds request data, $result is
 * given an array every item of which is request data; nothing else. */
_qz_token* php_lib_taint_parse_str(_qz_token* text, _qz_token* result);
/* array_values, array_keys: as php_lib_taint_request_array for request
 * data; of an array the script built, a new list of its values (keys: the
 * key texts, or the numbers of items without one); null otherwise. */
_qz_token* php_lib_taint_array_values(_qz_token* array);
_qz_token* php_lib_taint_array_keys(_qz_token* array);
/* array_flip: as php_lib_taint_request_array for request data; of an array
 * the script built, a new array with each text or integer value as a key
 * holding the old key (its text, or the item's number), a later duplicate
 * replacing an earlier one; null otherwise. */
_qz_token* php_lib_taint_array_flip(_qz_token* array);
/* Of a request array (or request text): that request marker; null
 * otherwise. */
_qz_token* php_lib_taint_request_item(_qz_token* array);
/* current, reset, array_shift (the first item), end, array_pop (the last)
 * and key (the first key) as php_lib_taint_request_item for request data;
 * of an array the script built, a copy of that item's value (a key's text,
 * or the number of an item without one); null for an empty array or
 * anything else. The array is left as it is: the internal pointer is not
 * modelled, and array_pop and array_shift remove nothing. */
_qz_token* php_lib_taint_first_item(_qz_token* array);
_qz_token* php_lib_taint_last_item(_qz_token* array);
_qz_token* php_lib_taint_first_key(_qz_token* array);
/* "$_POST_DATA" for "php://input" (ignoring case), PHP_LIB_STDIN_DATA_MARKER
 * for "php://stdin"; PHP_LIB_UPLOAD_DATA_MARKER
 * for a path that is PHP_LIB_UPLOAD_PATH_MARKER (an uploaded file read
 * back); else as php_lib_file_get_contents. */
_qz_token* php_lib_taint_file_get_contents(_qz_token* name);
/* "$_INPUT_HANDLE" for "php://input" (ignoring case), PHP_LIB_STDIN_HANDLE_MARKER
 * for "php://stdin"; for a mode that writes (one beginning with w, a, x or c)
 * PHP_CALL_WRITE_HANDLE_PREFIX followed by the path's text, so that what is
 * later written through the handle is seen beside where it goes; else as
 * php_lib_fopen. */
_qz_token* php_lib_taint_fopen(_qz_token* name, _qz_token* mode);
/* Reads of a handle: "$_POST_DATA" from the input handle, PHP_LIB_SOCKET_MARKER
 * (text off the network) from a socket fsockopen opened,
 * PHP_LIB_STDIN_DATA_MARKER from the terminal (the constant STDIN or the
 * handle of "php://stdin"), else "$_FILE_CONTENTS" (fread, fgets, fgetss,
 * stream_get_contents). */
_qz_token* php_lib_taint_fread(_qz_token* handle, _qz_token* length);
_qz_token* php_lib_taint_fgets(_qz_token* handle);
/* readline: a line from the terminal, PHP_LIB_STDIN_DATA_MARKER. */
_qz_token* php_lib_taint_readline();
/* curl_exec: the text a transfer returns, "$_REMOTE_FILE_CONTENTS" whatever
 * the handle. */
_qz_token* php_lib_taint_curl_exec(_qz_token* handle);
/* socket_read: text off the network, PHP_LIB_SOCKET_MARKER; so is the
 * connection stream_socket_client opens. */
_qz_token* php_lib_taint_socket_client(_qz_token* address);
_qz_token* php_lib_taint_socket_read(_qz_token* socket, _qz_token* length);

/* Shell escaping. */

/* The length of the request marker that text[0, len) begins with, of
 * those the shell escapes below rewrite, or 0. */
unsigned long php_lib_taint_escapable_at(const char* text, unsigned long len);
/* Appends the marker of n bytes at m in its escaped form. */
void php_lib_taint_append_escaped(std::string* out, const char* m, unsigned long n);

/* escapeshellarg: the text in single quotes, each quote in it written as
 * '\'' and each request marker (of the request arrays, headers and server
 * variables, the environment and the session) in its escaped form
 * (PHP_LIB_ESCAPED_PREFIX); other markers are kept. Null for an argument
 * without text (a value the scan cannot know), as for a call not followed;
 * the invalid-string text past QZ_MAX_STRING_LENGTH. */
_qz_token* php_lib_taint_escapeshellarg(_qz_token* arg);
/* escapeshellcmd: a backslash before each shell metacharacter (#&;`|*?~<>^
 * ()[]{}$\\, newline, 0xFF) and before each quote that has no partner later
 * in the text. A request marker that begins the command (after blanks)
 * stays plain: escaping a command the request chose does not make it any
 * safer. Later ones take their escaped form, as escapeshellarg gives it:
 * with the metacharacters escaped, request data past a fixed program's name
 * can only add arguments. Other markers are kept. Null for an argument
 * without text. */
_qz_token* php_lib_taint_escapeshellcmd(_qz_token* cmd);

#endif
