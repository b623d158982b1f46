#ifndef PHP_LIB_TEXT_H
#define PHP_LIB_TEXT_H

/*
 * Text-building built-ins that scripts use to hide names and payloads,
 * emulated on known text under QZ_OPT_INTERPRETER_REACH.
 *
 * Each returns a new token of the scan (the caller frees nothing), on the
 * line of its first argument (php_call_line when there is none), or null
 * when no token can be had. A text result is a STRING token; a text that
 * would pass QZ_MAX_STRING_LENGTH gives the invalid-string text (counted as
 * a refused string, so the string_length limit is noted), as does a call
 * PHP would refuse (a missing or out-of-range argument). A decoder whose
 * input does not decode gives the decoded marker (QZ_DECODED_TEXT), as
 * base64_decode does. Text results keep the input's markers by the carry rule
 * (php_lib_taint.h). Every routine is linear in its input's length.
 *
 * The variadic ones (marked "list") take the first argument of a list linked
 * by next, in PHP order, as the registry hands it.
 */

#include "runtime/qz_token.h"

/* strtr, list: (text, from, to) maps bytes of from to the byte at the same
 * place in to (the shorter decides, a later byte wins); (text, array) puts
 * each key's value in place of the key, longest key first, never rescanning
 * what was put in. An array with more than QZ_STRTR_MAX_PAIRS pairs, a key
 * longer than QZ_STRTR_MAX_KEY_LENGTH or keys of more than
 * QZ_STRTR_MAX_KEY_BYTES in all leaves the text as it is. */
_qz_token* php_lib_text_strtr(_qz_token* args);
/* substr, list: (text, start[, length]) with negative start and length
 * counting from the end, as PHP 8 does. */
_qz_token* php_lib_text_substr(_qz_token* args);
/* strpos and stripos (haystack, needle[, offset]) on known texts: the
 * position of the needle, or null when not found or not known. */
_qz_token* php_lib_text_strpos(_qz_token* args);
_qz_token* php_lib_text_stripos(_qz_token* args);
/* substr_replace(string, replacement, start[, length]) on texts: the span
 * substr(string, start, length) would give is replaced; the string's
 * markers are kept. */
_qz_token* php_lib_text_substr_replace(_qz_token* args);
/* htmlspecialchars_decode and html_entity_decode on texts: the entities
 * htmlspecialchars writes (&quot; &amp; &lt; &gt; &#039; &apos;) become
 * their characters; anything else stays as it is. */
_qz_token* php_lib_text_html_decode(_qz_token* text);
/* str_split, list: (text[, size]) an array of LITERAL pieces of size bytes
 * (the last one shorter), at most QZ_EXPLODE_MAX_PIECES of them; empty for
 * an empty text or a size below 1. */
_qz_token* php_lib_text_str_split(_qz_token* args);
/* implode and join, list: (glue, array), (array, glue) or (array). Integer
 * items join as decimal text, arrays as "Array", other items as nothing. */
_qz_token* php_lib_text_implode(_qz_token* args);
/* array_reverse, list: a new array of the items in reverse order; text keys
 * are kept, number keys renumbered. An empty array for a value that is no
 * array. */
_qz_token* php_lib_text_array_reverse(_qz_token* args);
/* sprintf, list, and vsprintf(format, array): conversions s, c, d, u, x, X,
 * o, b and "%%", with an argument number ("%2$s"), the flags "-", "+", "0",
 * " " and "'c", a width and a precision (cut for s). Too few arguments or
 * another conversion give the invalid-string text. */
_qz_token* php_lib_text_sprintf(_qz_token* args);
_qz_token* php_lib_text_vsprintf(_qz_token* format, _qz_token* values);
/* hex2bin: pairs of hex digits as bytes; an odd length or another byte gives
 * the decoded marker. */
_qz_token* php_lib_text_hex2bin(_qz_token* hex);
/* pack, list: the formats "H" and "h" (high or low nibble first) with a
 * count or "*", and "a"/"A" with "*"; hex digits of a bad byte count as 0.
 * Any other format gives the decoded marker. */
_qz_token* php_lib_text_pack(_qz_token* args);
/* str_pad, list: (text, length[, pad[, type]]), type 0 or STR_PAD_LEFT,
 * 1 or STR_PAD_RIGHT (default), 2 or STR_PAD_BOTH. */
_qz_token* php_lib_text_str_pad(_qz_token* args);
/* str_repeat: text repeated count times; a negative count gives the
 * invalid-string text. */
_qz_token* php_lib_text_str_repeat(_qz_token* text, _qz_token* count);
/* ucfirst: the first byte upper-cased (ASCII). */
_qz_token* php_lib_text_ucfirst(_qz_token* text);
/* iconv(from, to, text) and mb_convert_encoding(text, to[, from]): the
 * text as it is (a change of encoding leaves what matters to the rules),
 * request markers kept. */
_qz_token* php_lib_text_iconv(_qz_token* from, _qz_token* to, _qz_token* text);
_qz_token* php_lib_text_mb_convert_encoding(_qz_token* text, _qz_token* to);
/* basename: the last "/"-separated part of a path, trailing "/" dropped;
 * request markers kept (a client's file name stays request data). */
_qz_token* php_lib_text_basename(_qz_token* path);
/* dirname (list): the directory part of a path, as PHP gives it ("." for a
 * bare name, "/" at the root), request markers kept; null (the scan cannot
 * say) for a path without text (__FILE__) or a second argument other than 1. */
_qz_token* php_lib_text_dirname(_qz_token* args);
/* pathinfo (list): with PATHINFO_DIRNAME, _BASENAME, _EXTENSION or
 * _FILENAME (by name or number) that part of the path, markers kept; null
 * without a flag (PHP's array of parts) or with another one. */
_qz_token* php_lib_text_pathinfo(_qz_token* args);
/* convert_uudecode: uuencoded lines (a length character, then groups of four
 * characters) up to a line of length 0 or the end; a line cut short or no
 * byte decoded gives the decoded marker. */
_qz_token* php_lib_text_convert_uudecode(_qz_token* text);
/* hexdec, octdec, bindec: the number a text's digits of the base make
 * (other characters skipped); a value past a long saturates. */
_qz_token* php_lib_text_hexdec(_qz_token* number);
_qz_token* php_lib_text_octdec(_qz_token* number);
_qz_token* php_lib_text_bindec(_qz_token* number);
/* dechex, decoct, decbin: an integer (or the decimal number a text begins
 * with) written in base 16, 8 or 2, lower case; a negative one by its 64-bit
 * two's complement, as PHP gives it. */
_qz_token* php_lib_text_dechex(_qz_token* number);
_qz_token* php_lib_text_decoct(_qz_token* number);
_qz_token* php_lib_text_decbin(_qz_token* number);
/* base_convert: the digits of number valid in base from (others skipped)
 * written in base to, lower case; a base outside 2..36 gives the
 * invalid-string text. Past 64 bits the value is a double, as in PHP. */
_qz_token* php_lib_text_base_convert(_qz_token* number, _qz_token* from, _qz_token* to);
/* rawurldecode: "%hl" with two hex digits becomes its byte; anything else,
 * "+" included, stays. */
_qz_token* php_lib_text_rawurldecode(_qz_token* text);

/* token_get_all(code): an array of one token, the array [0, code, 1] whose
 * text is the whole of code: joining the texts of the items (the second of
 * an array item) gives the code back, which is all a script that rebuilds
 * its code from the tokens needs. Empty for a value without text. */
_qz_token* php_lib_text_token_get_all(_qz_token* code);

#endif
