/*
 * Taint under QZ_OPT_INTERPRETER_REACH: the carry rule that keeps a marker
 * alive through text transforms, and the extra taint sources.
 *
 * Rules match markers as substrings of argument texts, case-sensitively, so
 * a marker lowered, reversed or decoded into bytes would hide the request
 * origin of what a script finally runs. The carry rule puts a lost marker
 * back; see php_lib_taint.h for its exact wording.
 */

#include "builtins/php_lib_taint.h"

#include "builtins/php_lib_builtin.h"
#include "builtins/qz_transform.h"
#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "php/php_call.h"
#include "php/php_value.h"
#include "php/php_variable.h"
#include "runtime/qz_array.h"
#include "runtime/qz_string.h"
#include "runtime/qz_symtable.h"

#include <strings.h>
#include <cstring>
#include <string>

/* ---- module state -------------------------------------------------------- */

/* Every marker text the engine gives to data from outside the script or out
 * of a decoder. "$_FILES_DATA_DATA" holds "$_FILES_DATA" and needs no row;
 * PHP_CLIENT_SERVER_MARKER has one, so that a transform of it alone gives
 * it back whole. */
const char* const php_lib_taint_markers[] = {
    "$_GET_DATA",
    "$_POST_DATA",
    "$_REQUEST_DATA",
    "$_COOKIE_DATA",
    "$_SERVER_DATA",
    PHP_CLIENT_SERVER_MARKER,
    "$_FILES_DATA",
    "$_SESSION_DATA",
    "$_GLOBALS_DATA",
    "$_ENV_DATA",
    "$_DB_DATA",
    "$_REMOTE_FILE_CONTENTS",
    "$_FILE_CONTENTS",
    PHP_LIB_SOCKET_MARKER,
    "$_FILE_HANDLE",
    PHP_LIB_INPUT_HANDLE_MARKER,
    PHP_LIB_STDIN_DATA_MARKER,
    PHP_LIB_STDIN_HANDLE_MARKER,
    QZ_DECODED_TEXT,
    "$_ESCAPED_GET_DATA",
    "$_ESCAPED_POST_DATA",
    "$_ESCAPED_REQUEST_DATA",
    "$_ESCAPED_COOKIE_DATA",
    "$_ESCAPED_SERVER_DATA",
    "$_ESCAPED_SERVER_DATA_HTTP",
    "$_ESCAPED_FILES_DATA",
    "$_ESCAPED_SESSION_DATA",
    "$_ESCAPED_ENV_DATA",
    nullptr,
};

/* ---- the carry rule ------------------------------------------------------ */

unsigned long php_lib_taint_mask(const char* text, unsigned long len) {
  unsigned long mask = 0;
  for (unsigned long i = 0; i < len; i++) {
    /* Every marker starts with "$_" or with the "q" of the decoded marker. */
    bool dollar = text[i] == '$' && i + 1 < len && text[i + 1] == '_';
    if (!dollar && text[i] != 'q') continue;
    for (unsigned long k = 0; php_lib_taint_markers[k]; k++) {
      const char* m = php_lib_taint_markers[k];
      unsigned long n = std::strlen(m);
      if (n <= len - i && std::memcmp(text + i, m, n) == 0) mask |= 1ul << k;
    }
  }
  return mask;
}

/* The marker whose text is exactly the len bytes at text, or null. */
static const char* taint_exact_marker(const char* text, unsigned long len) {
  for (unsigned long k = 0; php_lib_taint_markers[k]; k++) {
    const char* m = php_lib_taint_markers[k];
    if (std::strlen(m) == len && std::memcmp(text, m, len) == 0) return m;
  }
  return nullptr;
}

_qz_token* php_lib_taint_carry(_qz_token* source, _qz_token* res) {
  const char *in, *out;
  unsigned long in_len, out_len;
  if (!source || !res || res->value.type != TOKEN_STRING) return res;
  if (!qz_value_text(&source->value, &in, &in_len)) return res;
  unsigned long had = php_lib_taint_mask(in, in_len);
  if (!had) return res;
  unsigned long kept = 0;
  if (qz_value_text(&res->value, &out, &out_len)) {
    kept = php_lib_taint_mask(out, out_len);
  } else {
    out = "";
    out_len = 0;
  }
  unsigned long lost = had & ~kept;
  if (!lost) return res;

  _qz_string* s = nullptr;
  if (const char* exact = taint_exact_marker(in, in_len)) {
    s = qz_string_alloc(exact);
  } else {
    std::string tail;
    for (unsigned long k = 0; php_lib_taint_markers[k]; k++)
      if (lost & (1ul << k)) tail += php_lib_taint_markers[k];
    if (out_len > QZ_MAX_STRING_LENGTH - tail.size()) {
      s = qz_string_alloc_n(tail.data(), tail.size());
    } else {
      std::string joined(out, out_len);
      joined += tail;
      s = qz_string_alloc_n(joined.data(), joined.size());
    }
  }
  if (s) res->value.ptr = s;
  return res;
}

_qz_token* php_lib_taint_strrev(_qz_token* t) {
  _qz_token* res = php_lib_taint_carry(t, qz_engine_strrev(t));
  const char* text;
  unsigned long len;
  if (!res || !t || !qz_value_text(&t->value, &text, &len)) return res;
  /* Only text read from outside the script: a file's or a download's. */
  static const char* const stored[] = {"$_FILE_CONTENTS", "$_REMOTE_FILE_CONTENTS"};
  const std::string in(text, len);
  for (const char* m : stored)
    if (in.find(m) != std::string::npos) res->value.spare1 |= QZ_VALUE_DECODED;
  return res;
}

_qz_token* php_lib_taint_decrypted(_qz_token* data) {
  if (!data) return nullptr;
  const char* text;
  unsigned long len;
  if (!qz_value_text(&data->value, &text, &len) || !php_lib_taint_mask(text, len)) return nullptr;
  _qz_token* res = php_lib_string_token(php_call_line, "", 0);
  return php_lib_taint_carry(data, res);
}

/* A new token standing for the text of v (a literal pointing at it: the
 * text stays owned where it is), or for `fallback` when v has no text. */
static _qz_token* taint_text_token(const _qz_value* v, const char* fallback) {
  const char* text = v ? php_value_text(*v) : nullptr;
  _qz_token* t = qz_token_alloc(TOKEN_WORD, TOKEN_LITERAL, php_call_line);
  if (t) t->value.ptr = const_cast<char*>(text ? text : fallback);
  return t;
}

/* str_replace with an array of searches: each replaced in turn by the
 * replacement, or by the item of a replacement array at its position (the
 * empty text past its end). Null when `search` is no array or has too many
 * items. */
static _qz_token* taint_str_replace_each(_qz_token* search, _qz_token* replace,
                                         _qz_token* subject) {
  _qz_value sv = php_variable_value(search);
  if (sv.type != TOKEN_ARRAY || !sv.ptr) return nullptr;
  _qz_array* searches = static_cast<_qz_array*>(sv.ptr);
  if (qz_array_size(searches) > QZ_STR_REPLACE_MAX_SEARCHES) return nullptr;
  _qz_value rv = php_variable_value(replace);
  const _qz_bucket* rb =
      rv.type == TOKEN_ARRAY && rv.ptr ? static_cast<_qz_array*>(rv.ptr)->head : nullptr;
  const bool replace_each = rv.type == TOKEN_ARRAY;
  _qz_token* cur = subject;
  for (const _qz_bucket* b = searches->head; b && cur; b = b->next) {
    _qz_token* s = taint_text_token(&b->value, "");
    _qz_token* r = taint_text_token(replace_each ? (rb ? &rb->value : nullptr) : &rv, "");
    _qz_token* next = s && r ? qz_engine_str_replace(cur, s, r) : nullptr;
    qz_token_free(s);
    qz_token_free(r);
    if (cur != subject) qz_token_free(cur);
    cur = next;
    if (rb) rb = rb->next;
  }
  if (cur != subject) return cur;
  /* No search at all: the text as it was. */
  const char* text = php_value_text(subject->value);
  return text ? php_lib_string_token(php_call_line, text, std::strlen(text)) : nullptr;
}

/* A bare constant the script never defined (`str_replace(x, '', ...)`):
 * PHP reads it as its own name. Null for anything else. */
static _qz_token* taint_bare_constant(_qz_token* t) {
  if (!t || !t->name || t->name[0] == '$' || t->value.type != TOKEN_NONE) return nullptr;
  if (php_variable_value(t).type != TOKEN_NONE) return nullptr;
  _qz_token* lit = qz_token_alloc(TOKEN_WORD, TOKEN_LITERAL, php_call_line);
  if (lit) lit->value.ptr = t->name;
  return lit;
}

_qz_token* php_lib_taint_str_replace(_qz_token* search, _qz_token* replace, _qz_token* subject) {
  if (_qz_token* res = taint_str_replace_each(search, replace, subject))
    return php_lib_taint_carry(subject, res);
  _qz_token* named_search = taint_bare_constant(search);
  _qz_token* named_replace = taint_bare_constant(replace);
  _qz_token* res = qz_engine_str_replace(subject, named_search ? named_search : search,
                                         named_replace ? named_replace : replace);
  qz_token_free(named_search);
  qz_token_free(named_replace);
  return php_lib_taint_carry(subject, res);
}

/* ---- taint sources ------------------------------------------------------- */

/* The argument's text when it has one, else null (the text is engine-owned). */
static const char* taint_text(_qz_token* t, unsigned long* len) {
  const char* text;
  if (!t || !qz_value_text(&t->value, &text, len)) return nullptr;
  return text;
}

/* Whether t's text is exactly the marker `marker`. */
static bool taint_text_is(_qz_token* t, const char* marker) {
  unsigned long len = 0;
  const char* text = taint_text(t, &len);
  return text && len == std::strlen(marker) && std::memcmp(text, marker, len) == 0;
}

/* Whether name's text is the stream `stream`, ignoring case. */
static bool taint_is_stream(_qz_token* name, const char* stream) {
  unsigned long len = 0;
  const char* text = taint_text(name, &len);
  return text && len == std::strlen(stream) && strncasecmp(text, stream, len) == 0;
}

static bool taint_is_input_stream(_qz_token* name) { return taint_is_stream(name, "php://input"); }

/* Whether handle reads the terminal: the constant STDIN (a bare word the
 * script cannot define), or the handle fopen gave for "php://stdin". */
static bool taint_is_stdin_handle(_qz_token* handle) {
  if (!handle) return false;
  if (handle->name && std::strcmp(handle->name, "STDIN") == 0 &&
      php_variable_value(handle).type == TOKEN_NONE)
    return true;
  return taint_text_is(handle, PHP_LIB_STDIN_HANDLE_MARKER);
}

_qz_token* php_lib_taint_getenv(_qz_token* name) {
  unsigned long len = 0;
  const char* text = taint_text(name, &len);
  bool request =
      !text || php_lib_taint_mask(text, len) != 0 || php_server_key_is_client_set(text, len);
  return php_lib_marker(name, request ? PHP_LIB_HEADER_DATA_MARKER : "$_ENV_DATA");
}

_qz_token* php_lib_taint_headers() {
  _qz_token* res = php_lib_array_token(php_call_line);
  if (res && res->value.ptr)
    static_cast<_qz_array*>(res->value.ptr)->item_marker =
        qz_engine_insert_isym(const_cast<char*>(PHP_LIB_HEADER_DATA_MARKER));
  return res;
}

/* The item marker of the request array an INPUT_* constant of the filter
 * extension names: INPUT_GET, INPUT_POST, INPUT_COOKIE, INPUT_SERVER,
 * INPUT_ENV, by name or by the number PHP gives it; any other type, or one
 * the scan cannot know, reads as the whole request. */
static const char* taint_filter_marker(_qz_token* type) {
  static const struct {
    const char* name;
    long number;
    const char* marker;
  } types[] = {{"INPUT_POST", 0, "$_POST_DATA"},
               {"INPUT_GET", 1, "$_GET_DATA"},
               {"INPUT_COOKIE", 2, "$_COOKIE_DATA"},
               {"INPUT_ENV", 4, "$_ENV_DATA"},
               {"INPUT_SERVER", 5, "$_SERVER_DATA"}};
  _qz_value v = type ? php_variable_value(type) : _qz_value{};
  unsigned long len = 0;
  const char* text = taint_text(type, &len);
  if (v.type == TOKEN_NONE && type && type->name && type->name[0] != '$') {
    text = type->name; /* a bare constant reads as its own name */
    len = std::strlen(text);
  }
  for (const auto& t : types) {
    if (v.type == TOKEN_INTEGER && v.lval == t.number) return t.marker;
    if (text && len == std::strlen(t.name) && strncasecmp(text, t.name, len) == 0) return t.marker;
  }
  return "$_REQUEST_DATA";
}

_qz_token* php_lib_taint_filter_input(_qz_token* type, _qz_token* name) {
  const char* marker = taint_filter_marker(type);
  unsigned long len = 0;
  const char* key = taint_text(name, &len);
  if (std::strcmp(marker, "$_SERVER_DATA") == 0 && php_server_key_is_client_set(key, len))
    marker = PHP_CLIENT_SERVER_MARKER;
  return php_lib_marker(name, marker);
}

_qz_token* php_lib_taint_filter_input_array(_qz_token* type) {
  _qz_token* res = php_lib_array_token(php_call_line);
  if (res && res->value.ptr)
    static_cast<_qz_array*>(res->value.ptr)->item_marker =
        qz_engine_insert_isym(const_cast<char*>(taint_filter_marker(type)));
  return res;
}

/* The request marker a value carries: a request array's item marker, or a
 * text that is a request marker itself; null for anything else. */
static const char* taint_request_marker(_qz_token* t) {
  if (!t) return nullptr;
  _qz_value v = php_variable_value(t);
  if (v.type == TOKEN_ARRAY && v.ptr)
    return php_array_request_marker(static_cast<_qz_array*>(v.ptr));
  const char* text = php_value_text(v);
  return text && php_text_is_request_marker(text) ? text : nullptr;
}

/* A new array every item of which is the request marker (null: none). */
static _qz_token* taint_marked_array(const char* marker) {
  if (!marker) return nullptr;
  _qz_token* res = php_lib_array_token(php_call_line);
  if (res && res->value.ptr)
    static_cast<_qz_array*>(res->value.ptr)->item_marker =
        qz_engine_insert_isym(const_cast<char*>(marker));
  return res;
}

_qz_token* php_lib_taint_file_metadata(_qz_token*) { return taint_marked_array("$_FILE_CONTENTS"); }

_qz_token* php_lib_taint_request_array(_qz_token* value) {
  return taint_marked_array(taint_request_marker(value));
}

_qz_token* php_lib_taint_unserialize(_qz_token* value) {
  if (_qz_token* res = php_lib_taint_request_array(value)) return res;
  const char* text = value ? php_value_text(php_variable_value(value)) : nullptr;
  return taint_marked_array(text ? php_text_request_marker_in(text) : nullptr);
}

/* The first request marker an array's items hold: an item's text, or a
 * nested array's item marker or items, down to QZ_SERIALIZED_DEPTH levels
 * and over at most QZ_SERIALIZED_ITEMS items in all; null for none. */
static const char* taint_marker_in_items(const _qz_array* arr, unsigned depth,
                                         unsigned long* budget) {
  if (!qz_array_is_live(arr) || depth > QZ_SERIALIZED_DEPTH) return nullptr;
  if (const char* marker = php_array_request_marker(arr)) return marker;
  for (const _qz_bucket* b = arr->head; b && *budget; b = b->next, --*budget) {
    if (b->value.type == TOKEN_ARRAY) {
      auto* inner = static_cast<const _qz_array*>(b->value.ptr);
      if (const char* m = taint_marker_in_items(inner, depth + 1, budget)) return m;
      continue;
    }
    if (const char* m = php_text_request_marker_in(php_value_text(b->value))) return m;
  }
  return nullptr;
}

_qz_token* php_lib_taint_serialized(_qz_token* value) {
  if (!value) return nullptr;
  _qz_value v = php_variable_value(value);
  if (v.type == TOKEN_ARRAY) {
    unsigned long budget = QZ_SERIALIZED_ITEMS;
    const char* m = taint_marker_in_items(static_cast<const _qz_array*>(v.ptr), 0, &budget);
    return m ? php_lib_marker(value, m) : nullptr;
  }
  const char* text = php_value_text(v);
  if (!text || !php_text_request_marker_in(text)) return nullptr;
  return php_lib_string_token(php_call_line, text, std::strlen(text));
}

_qz_token* php_lib_taint_print_r(_qz_token* value, _qz_token* return_text) {
  if (!return_text) return nullptr;
  /* true reads as the integer 1; a text flag only as PHP's "1" or "true". */
  _qz_value v = php_variable_value(return_text);
  const char* flag = v.type == TOKEN_INTEGER ? nullptr : php_value_text(v);
  bool returns = v.type == TOKEN_INTEGER
                     ? v.lval != 0
                     : flag && (std::strcmp(flag, "1") == 0 || strcasecmp(flag, "true") == 0);
  return returns ? php_lib_taint_serialized(value) : nullptr;
}

_qz_token* php_lib_taint_split(_qz_token*, _qz_token* subject) {
  return php_lib_taint_request_array(subject);
}

/* The keys (`keys`) or the values of an array the script built, as a new
 * list; null for anything that is no array. */
static _qz_token* taint_array_list(_qz_token* array, bool keys) {
  _qz_value v = php_variable_value(array);
  if (v.type != TOKEN_ARRAY || !v.ptr) return nullptr;
  _qz_token* res = php_lib_array_token(php_call_line);
  _qz_array* out = res ? static_cast<_qz_array*>(res->value.ptr) : nullptr;
  if (!out) return res;
  for (_qz_bucket* b = static_cast<_qz_array*>(v.ptr)->head; b; b = b->next) {
    _qz_value item = b->value;
    if (keys) {
      item = _qz_value{};
      item.type = b->key ? TOKEN_LITERAL : TOKEN_INTEGER;
      item.ptr = b->key;
      item.lval = static_cast<long>(b->index);
    }
    if (!qz_array_push(out, &item)) break;
  }
  return res;
}

_qz_token* php_lib_taint_array_flip(_qz_token* array) {
  if (_qz_token* res = php_lib_taint_request_array(array)) return res;
  _qz_value v = php_variable_value(array);
  if (v.type != TOKEN_ARRAY || !v.ptr) return nullptr;
  _qz_token* res = php_lib_array_token(php_call_line);
  _qz_array* out = res ? static_cast<_qz_array*>(res->value.ptr) : nullptr;
  if (!out) return res;
  for (_qz_bucket* b = static_cast<_qz_array*>(v.ptr)->head; b; b = b->next) {
    /* The old key becomes the value: its text, or the item's number. */
    _qz_value key{};
    key.type = b->key ? TOKEN_LITERAL : TOKEN_INTEGER;
    key.ptr = b->key;
    key.lval = static_cast<long>(b->index);
    /* The old value becomes the key; PHP flips only texts and integers, and
     * a later duplicate takes the place of an earlier one. */
    _qz_bucket* item = nullptr;
    if (b->value.type == TOKEN_INTEGER) {
      item = qz_array_item(out, static_cast<unsigned long>(b->value.lval));
    } else if (const char* text = php_value_text(b->value)) {
      if (char* interned = qz_engine_insert_sym(const_cast<char*>(text)))
        item = qz_array_item(out, interned);
    }
    if (item) item->value = key;
  }
  return res;
}

_qz_token* php_lib_taint_array_merge(_qz_token* args) {
  unsigned long n = 0;
  for (_qz_token* t = args; t && n < QZ_BUILTIN_MAX_ARGS; t = t->next, n++)
    if (_qz_token* res = php_lib_taint_request_array(t)) return res;
  return nullptr;
}

_qz_token* php_lib_taint_parse_str(_qz_token* text, _qz_token* result) {
  if (!result || result->type == TOKEN_LITERAL || !result->name || result->name[0] != '$')
    return nullptr;
  _qz_token* items = php_lib_taint_request_array(text);
  _qz_token* entry = items ? php_reference_globals(result) : nullptr;
  if (!entry || php_variable_is_superglobal(entry)) return nullptr;
  entry->type = TOKEN_WORD;
  entry->value = items->value;
  return nullptr;
}

_qz_token* php_lib_taint_array_values(_qz_token* array) {
  if (_qz_token* res = php_lib_taint_request_array(array)) return res;
  return taint_array_list(array, false);
}

_qz_token* php_lib_taint_array_keys(_qz_token* array) {
  /* The keys of request data are names the client chose. */
  if (_qz_token* res = php_lib_taint_request_array(array)) return res;
  return taint_array_list(array, true);
}

_qz_token* php_lib_taint_request_item(_qz_token* array) {
  const char* marker = taint_request_marker(array);
  return marker ? php_lib_marker(array, marker) : nullptr;
}

/* The first or the last item of an array the script built (its value, or
 * with want_key its key: the key text, else its number), as a new token;
 * null for an empty array and for anything but an array. */
static _qz_token* taint_end_item(_qz_token* array, bool last, bool want_key) {
  if (!array) return nullptr;
  _qz_value v = php_variable_value(array);
  if (v.type != TOKEN_ARRAY || !v.ptr) return nullptr;
  auto* arr = static_cast<_qz_array*>(v.ptr);
  _qz_bucket* b = last ? arr->tail : arr->head;
  if (!b) return nullptr;
  _qz_token* res = qz_token_alloc(TOKEN_WORD, TOKEN_NONE, php_call_line);
  if (!res) return nullptr;
  if (!want_key) {
    res->value = b->value;
  } else if (b->key) {
    res->value.type = TOKEN_LITERAL;
    res->value.ptr = b->key;
  } else {
    res->type = res->value.type = TOKEN_INTEGER;
    res->value.lval = static_cast<long>(b->index);
  }
  return res;
}

_qz_token* php_lib_taint_first_item(_qz_token* array) {
  _qz_token* marked = php_lib_taint_request_item(array);
  return marked ? marked : taint_end_item(array, false, false);
}

_qz_token* php_lib_taint_last_item(_qz_token* array) {
  _qz_token* marked = php_lib_taint_request_item(array);
  return marked ? marked : taint_end_item(array, true, false);
}

_qz_token* php_lib_taint_first_key(_qz_token* array) {
  _qz_token* marked = php_lib_taint_request_item(array);
  return marked ? marked : taint_end_item(array, false, true);
}

/* Whether name is the marker of an item of an upload ($_FILES['f']['tmp_name']
 * and its relatives): the path of a file whose bytes the client sent. */
static bool taint_is_upload(_qz_token* name) {
  return taint_text_is(name, PHP_LIB_UPLOAD_PATH_MARKER);
}

_qz_token* php_lib_taint_file_get_contents(_qz_token* name) {
  if (taint_is_input_stream(name)) return php_lib_marker(name, PHP_LIB_INPUT_DATA_MARKER);
  if (taint_is_upload(name)) return php_lib_marker(name, PHP_LIB_UPLOAD_DATA_MARKER);
  if (taint_is_stream(name, "php://stdin")) return php_lib_marker(name, PHP_LIB_STDIN_DATA_MARKER);
  return php_lib_file_get_contents(name);
}

/* Whether mode is one of fopen's writing modes (w, a, x or c first). */
static bool taint_is_write_mode(_qz_token* mode) {
  unsigned long len = 0;
  const char* text = taint_text(mode, &len);
  return text && len > 0 && std::strchr("waxc", text[0]) != nullptr;
}

_qz_token* php_lib_taint_fopen(_qz_token* name, _qz_token* mode) {
  if (taint_is_input_stream(name)) return php_lib_marker(name, PHP_LIB_INPUT_HANDLE_MARKER);
  if (taint_is_stream(name, "php://stdin"))
    return php_lib_marker(name, PHP_LIB_STDIN_HANDLE_MARKER);
  unsigned long len = 0;
  const char* path = taint_text(name, &len);
  if (!path || !taint_is_write_mode(mode)) return php_lib_fopen(name, mode);
  std::string handle = PHP_CALL_WRITE_HANDLE_PREFIX;
  handle.append(path, len < QZ_WRITE_HANDLE_PATH_MAX ? len : QZ_WRITE_HANDLE_PATH_MAX);
  return php_lib_string_token(php_call_line, handle.data(), handle.size());
}

_qz_token* php_lib_taint_fread(_qz_token* handle, _qz_token* length) {
  if (taint_text_is(handle, PHP_LIB_INPUT_HANDLE_MARKER))
    return php_lib_marker(handle, PHP_LIB_INPUT_DATA_MARKER);
  if (taint_text_is(handle, PHP_LIB_SOCKET_MARKER))
    return php_lib_marker(handle, PHP_LIB_SOCKET_MARKER);
  if (taint_is_stdin_handle(handle)) return php_lib_marker(handle, PHP_LIB_STDIN_DATA_MARKER);
  return php_lib_fread(handle, length);
}

_qz_token* php_lib_taint_digits_result(_qz_token* source, _qz_token* res) {
  unsigned long len = 0;
  const char* text = taint_text(source, &len);
  if (!text || !php_lib_taint_mask(text, len)) return res;
  qz_token_free(res);
  return php_lib_taint_carry(source, php_lib_string_token(php_call_line, "", 0));
}

_qz_token* php_lib_taint_fgets(_qz_token* handle) { return php_lib_taint_fread(handle, nullptr); }

_qz_token* php_lib_taint_readline() {
  return php_lib_string_token(php_call_line, PHP_LIB_STDIN_DATA_MARKER,
                              sizeof PHP_LIB_STDIN_DATA_MARKER - 1);
}

_qz_token* php_lib_taint_curl_exec(_qz_token* handle) {
  return php_lib_marker(handle, "$_REMOTE_FILE_CONTENTS");
}

_qz_token* php_lib_taint_socket_client(_qz_token* address) {
  return php_lib_marker(address, PHP_LIB_SOCKET_MARKER);
}

_qz_token* php_lib_taint_socket_read(_qz_token* socket, _qz_token*) {
  return php_lib_marker(socket, PHP_LIB_SOCKET_MARKER);
}

/* ---- shell escaping ------------------------------------------------------ */

/* The markers escapeshellarg rewrites: data a client sends or the server
 * hands the script. "$_SERVER_DATA" also covers "$_SERVER_DATA_HTTP", and
 * "$_FILES_DATA" the item marker "$_FILES_DATA_DATA". */
static const char* const taint_escaped_sources[] = {
    "$_GET_DATA",    "$_POST_DATA",  "$_REQUEST_DATA", "$_COOKIE_DATA",
    "$_SERVER_DATA", "$_FILES_DATA", "$_SESSION_DATA", "$_ENV_DATA",
};

unsigned long php_lib_taint_escapable_at(const char* text, unsigned long len) {
  for (const char* m : taint_escaped_sources) {
    unsigned long n = std::strlen(m);
    if (n <= len && std::memcmp(text, m, n) == 0) return n;
  }
  return 0;
}

void php_lib_taint_append_escaped(std::string* out, const char* m, unsigned long n) {
  *out += PHP_LIB_ESCAPED_PREFIX;
  out->append(m + 2, n - 2);
}

/* A token of an escaped text; the invalid-string text when it grew past
 * QZ_MAX_STRING_LENGTH. */
static _qz_token* taint_escaped_token(std::string* out) {
  if (out->size() > QZ_MAX_STRING_LENGTH) *out = QZ_INVALID_STRING_TEXT;
  return php_lib_string_token(php_call_line, out->data(), out->size());
}

_qz_token* php_lib_taint_escapeshellarg(_qz_token* arg) {
  unsigned long len = 0;
  const char* text = taint_text(arg, &len);
  if (!text) return nullptr;
  std::string out = "'";
  for (unsigned long i = 0; i < len && out.size() <= QZ_MAX_STRING_LENGTH; i++) {
    if (text[i] == '\'') {
      out += "'\\''";
    } else if (unsigned long n =
                   text[i] == '$' ? php_lib_taint_escapable_at(text + i, len - i) : 0) {
      php_lib_taint_append_escaped(&out, text + i, n);
      i += n - 1;
    } else {
      out += text[i];
    }
  }
  out += '\'';
  return taint_escaped_token(&out);
}

_qz_token* php_lib_taint_escapeshellcmd(_qz_token* cmd) {
  unsigned long len = 0;
  const char* text = taint_text(cmd, &len);
  if (!text) return nullptr;
  std::string out;
  /* A quote is left alone with its partner, the next quote of its kind. */
  const char* partner = nullptr;
  /* Still in the blanks before the first word (the program). */
  bool leading = true;
  for (unsigned long i = 0; i < len && out.size() <= QZ_MAX_STRING_LENGTH; i++) {
    const char c = text[i];
    if (c == '\'' || c == '"') {
      if (text + i == partner) {
        partner = nullptr;
      } else if (!partner) {
        partner = static_cast<const char*>(std::memchr(text + i + 1, c, len - i - 1));
        if (!partner) out += '\\';
      } else {
        out += '\\'; /* a quote of the other kind inside a pair */
      }
    } else if (std::strchr("#&;`|*?~<>^()[]{}$\\\n\xff", c) && c != '\0') {
      out += '\\';
    }
    /* Past the program's name, request data can only add arguments. */
    unsigned long n = c == '$' && !leading ? php_lib_taint_escapable_at(text + i, len - i) : 0;
    if (n) {
      php_lib_taint_append_escaped(&out, text + i, n);
      i += n - 1;
      continue;
    }
    if (c != ' ' && c != '\t') leading = false;
    out += c;
  }
  return taint_escaped_token(&out);
}
