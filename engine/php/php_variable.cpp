/*
 * The variable list, the request superglobals and the string form of values.
 *
 * The variable list is a token chain hanging from php_rt_state.var_list, one
 * entry per variable name in order of first reference. Two lookups run over
 * it for every variable the evaluator meets, so both are indexed:
 *   - by the exact (interned) name pointer, for php_reference_globals;
 *   - by the name text with ASCII letter case folded, for php_lookup_global_variable,
 *     keeping the FIRST entry of each text, which is what a walk from the head
 *     comparing with strcasecmp would return.
 * The index describes the list whose head and tail it last saw.
 * php_variable_clear empties both at the end of a scan, so token addresses
 * reused by the next scan never meet stale index entries. The list's head and
 * tail live in the exported php_rt_state, so a list emptied or changed behind
 * the index's back (different head or tail) is noticed at the next use and
 * re-indexed by one walk.
 */

#include "php/php_variable.h"

#include "common/qz_ascii.h"
#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "php/php_eval.h"
#include "runtime/qz_array.h"
#include "runtime/qz_flat_index.h"
#include "runtime/qz_symtable.h"

#include <strings.h>

#include <cstdio>
#include <cstring>

/* Index state: lives from the first variable of a scan to the list's reset.
 * Keys are the entries' own interned names, which live as long as the
 * entries, so nothing is copied. */
namespace {
/* Entries are found by their name's pointer, and by its text case folded. */
struct var_pointer_hash {
  size_t operator()(const char* name) const { return reinterpret_cast<uintptr_t>(name); }
};
struct var_pointer_equal {
  bool operator()(const _qz_token* e, const char* name) const { return e->name == name; }
};
struct var_folded_equal {
  bool operator()(const _qz_token* e, const char* text) const {
    return qz_ascii_fold_equal()(e->name, text);
  }
};
}  // namespace
/* exact name pointer -> entry */
static qz_flat_index<_qz_token*, var_pointer_hash, var_pointer_equal> var_by_name;
/* text, case folded -> first entry */
static qz_flat_index<_qz_token*, qz_ascii_fold_hash, var_folded_equal> var_by_folded;
static _qz_token* var_index_head = nullptr; /* the list head the index describes */
static _qz_token* var_index_tail = nullptr; /* the list tail the index describes */

static void var_index_add(_qz_token* e) {
  if (!e->name) return;
  var_by_name.emplace(e->name, e);
  var_by_folded.emplace(e->name, e);
}

void php_variable_reset_index() {
  var_by_name.release();
  var_by_folded.release();
  var_index_head = nullptr;
  var_index_tail = nullptr;
}

/* Makes the index describe php_rt_state.var_list. Cheap when nothing changed
 * behind its back; otherwise one walk, which also repairs a missing tail. */
static void var_index_sync() {
  php_rt_state_t& st = php_rt_state;
  if (!st.var_list) {
    st.var_tail = nullptr;
    if (var_index_head) php_variable_reset_index();
    return;
  }
  if (st.var_list == var_index_head && st.var_tail == var_index_tail && st.var_tail) return;
  php_variable_reset_index();
  _qz_token* last = st.var_list;
  for (_qz_token* e = st.var_list; e; e = e->next) {
    var_index_add(e);
    last = e;
    if (e->next == st.var_list) break; /* a list must not be cyclic; stop if it is */
  }
  st.var_tail = last;
  var_index_head = st.var_list;
  var_index_tail = last;
}

_qz_token* php_variable_first() { return php_rt_state.var_list; }

bool php_variable_is_entry(_qz_token* tok) {
  if (!tok || !tok->name) return false;
  var_index_sync();
  _qz_token** hit = var_by_name.find(tok->name);
  return hit && *hit == tok;
}

_qz_token* php_reference_globals(_qz_token* tok) {
  if (!tok) return nullptr;
  if (!tok->name) return tok;
  var_index_sync();
  if (_qz_token** hit = var_by_name.find(tok->name)) return *hit;

  _qz_token* e = qz_token_clone(tok);
  if (!e) return nullptr;

  php_rt_state_t& st = php_rt_state;
  if (!st.var_list) {
    e->prev = nullptr;
    st.var_list = e;
  } else {
    e->prev = st.var_tail;
    st.var_tail->next = e;
  }
  st.var_tail = e;
  var_index_head = st.var_list;
  var_index_tail = e;
  var_index_add(e);
  return e;
}

_qz_value php_variable_value(_qz_token* tk) {
  if (!tk) return _qz_value{};
  if (tk->type == TOKEN_WORD && tk->name && tk->name[0] == '$')
    if (_qz_token* e = php_reference_globals(tk)) tk = e;
  return tk->ref ? *tk->ref : tk->value;
}

_qz_token* php_lookup_global_variable(char* name) {
  if (!name) return nullptr;
  var_index_sync();
  if (!php_rt_state.var_list) return nullptr;
  _qz_token** hit = var_by_folded.find(name);
  return hit ? *hit : nullptr;
}

/* The nine request arrays, in the order they enter the list, with the text
 * that every item never written reads as. "$_FILES_DATA" is itself a variable
 * so that a second index into a file item reads its own marker. */
static const char* const superglobal_rows[][2] = {
    {"$_GET", "$_GET_DATA"},
    {"$_POST", "$_POST_DATA"},
    {"$_REQUEST", "$_REQUEST_DATA"},
    {"$_SESSION", "$_SESSION_DATA"},
    {"$_SERVER", "$_SERVER_DATA"},
    {"$_COOKIE", "$_COOKIE_DATA"},
    {"$_GLOBALS", "$_GLOBALS_DATA"},
    {"$_FILES", "$_FILES_DATA"},
    {"$_FILES_DATA", "$_FILES_DATA_DATA"},
};

/* The long names of the request arrays that old scripts still use, read
 * with extended reading as their modern counterparts. */
static const char* const superglobal_long_rows[][2] = {
    {"$HTTP_GET_VARS", "$_GET_DATA"},         {"$HTTP_POST_VARS", "$_POST_DATA"},
    {"$HTTP_COOKIE_VARS", "$_COOKIE_DATA"},   {"$HTTP_SERVER_VARS", "$_SERVER_DATA"},
    {"$HTTP_SESSION_VARS", "$_SESSION_DATA"}, {"$HTTP_POST_FILES", "$_FILES_DATA"},
};

/* The request arrays' entries of the running scan, for
 * php_variable_is_superglobal; emptied with the variable list. */
static const _qz_token*
    superglobal_entries[sizeof superglobal_rows / sizeof superglobal_rows[0] +
                        sizeof superglobal_long_rows / sizeof superglobal_long_rows[0]];
static unsigned long superglobal_count = 0;

static void superglobal_create(const char* name, const char* marker) {
  _qz_token* tk = qz_token_alloc(TOKEN_WORD, TOKEN_ARRAY, 0);
  if (!tk) return;
  tk->name = qz_engine_insert_isym(const_cast<char*>(name));
  _qz_array* arr = qz_array_alloc();
  if (arr) arr->item_marker = qz_engine_insert_isym(const_cast<char*>(marker));
  tk->value.ptr = arr;
  _qz_token* entry = php_reference_globals(tk);
  if (entry && superglobal_count < sizeof superglobal_entries / sizeof superglobal_entries[0])
    superglobal_entries[superglobal_count++] = entry;
}

/* $GLOBALS with extended reading: an array whose items named after the
 * request arrays ("_GET"...) are those arrays, so $GLOBALS['_GET']['c'] reads
 * as $_GET['c']. */
static void superglobal_globals() {
  _qz_token* tk = qz_token_alloc(TOKEN_WORD, TOKEN_ARRAY, 0);
  _qz_array* arr = tk ? qz_array_alloc() : nullptr;
  if (!arr) return;
  tk->name = qz_engine_insert_isym(const_cast<char*>("$GLOBALS"));
  tk->value.ptr = arr;
  for (const auto& row : superglobal_rows) {
    _qz_token* e = php_lookup_global_variable(const_cast<char*>(row[0]));
    char* key = qz_engine_insert_sym(const_cast<char*>(row[0] + 1));
    _qz_bucket* b = e && key ? qz_array_item(arr, key) : nullptr;
    if (b) b->value = e->value;
  }
  php_reference_globals(tk);
}

void php_create_superglobals() {
  for (const auto& row : superglobal_rows) superglobal_create(row[0], row[1]);
  if (!(qz_engine_options & QZ_OPT_INTERPRETER_REACH)) return;
  for (const auto& row : superglobal_long_rows) superglobal_create(row[0], row[1]);
  superglobal_globals();
}

void php_variable_clear() {
  php_rt_state.var_list = nullptr;
  php_rt_state.var_tail = nullptr;
  superglobal_count = 0;
  php_variable_reset_index();
}

bool php_variable_is_superglobal(const _qz_token* entry) {
  for (unsigned long i = 0; i < superglobal_count; i++)
    if (superglobal_entries[i] == entry) return true;
  return false;
}

/* Markers of request data that no array's items take by default: the
 * items of $_SERVER a client sets (extended reading). */
static const char* const derived_markers[] = {PHP_CLIENT_SERVER_MARKER};

bool php_text_is_request_marker(const char* text) {
  if (!text) return false;
  for (const auto& row : superglobal_rows)
    if (std::strcmp(text, row[1]) == 0) return true;
  for (const char* marker : derived_markers)
    if (std::strcmp(text, marker) == 0) return true;
  return false;
}

bool php_server_key_is_client_set(const char* key, size_t len) {
  static const char* const request_line[] = {"QUERY_STRING", "REQUEST_URI", "PATH_INFO",
                                             "CONTENT_TYPE"};
  if (!key) return false;
  if (len >= 5 && strncasecmp(key, "HTTP_", 5) == 0) return true;
  for (const char* name : request_line)
    if (len == std::strlen(name) && strncasecmp(key, name, len) == 0) return true;
  return false;
}

const char* php_array_request_marker(const _qz_array* arr) {
  return arr && arr->item_marker && php_text_is_request_marker(arr->item_marker) ? arr->item_marker
                                                                                 : nullptr;
}

const char* php_text_request_marker_in(const char* text) {
  if (!text) return nullptr;
  const char* best = nullptr;
  const char* best_at = nullptr;
  size_t best_len = 0;
  /* The earliest marker; of two at one place, the longer
   * ("$_FILES_DATA_DATA" over "$_FILES_DATA"). */
  auto consider = [&](const char* marker) {
    const char* at = std::strstr(text, marker);
    size_t len = std::strlen(marker);
    if (at && (!best_at || at < best_at || (at == best_at && len > best_len))) {
      best = marker;
      best_at = at;
      best_len = len;
    }
  };
  for (const auto& row : superglobal_rows) consider(row[1]);
  for (const char* marker : derived_markers) consider(marker);
  return best;
}

char* php_l64a(long v, char* out) {
  static const char digits[] = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  /* Only the low 32 bits count, read as unsigned: a negative number gives
   * the text of its two's-complement low word. */
  unsigned long m = static_cast<unsigned long>(v) & 0xFFFFFFFFul;
  int n = 0;
  while (m) {
    out[n++] = digits[m & 63];
    m >>= 6;
  }
  out[n] = '\0';
  return out;
}

/* A new string of the integer v's text: in decimal, as PHP writes it, with
 * extended reading; else in radix-64 form. */
static _qz_string* var_integer_text(long v) {
  char digits[QZ_DECIMAL_TEXT_SIZE];
  if (qz_engine_options & QZ_OPT_INTERPRETER_REACH)
    snprintf(digits, sizeof digits, "%ld", v);
  else
    php_l64a(v, digits);
  return qz_string_alloc(digits);
}

_qz_string* php_to_tring(_qz_token* tok) {
  if (!tok) return qz_string_alloc(QZ_INVALID_STRING_TEXT);
  if (tok->value.type == TOKEN_LITERAL)
    return qz_string_alloc(static_cast<const char*>(tok->value.ptr));
  if (tok->type == TOKEN_WORD) {
    /* The variable's own string, shared, not copied; null when it holds none. */
    if (tok->value.type == TOKEN_STRING) return static_cast<_qz_string*>(tok->value.ptr);
    if (tok->value.type == TOKEN_INTEGER) return var_integer_text(tok->value.lval);
    /* Extended reading: an array the script built is "Array" as text, as
     * in PHP; a request array keeps its name. */
    if (tok->value.type == TOKEN_ARRAY && tok->value.ptr &&
        (qz_engine_options & QZ_OPT_INTERPRETER_REACH) &&
        !static_cast<_qz_array*>(tok->value.ptr)->item_marker)
      return qz_string_alloc("Array");
    return qz_string_alloc(tok->name ? tok->name : QZ_INVALID_STRING_TEXT);
  }
  if (tok->type == TOKEN_INTEGER) return var_integer_text(tok->value.lval);
  return qz_string_alloc(QZ_INVALID_STRING_TEXT);
}

void php_eval_string(const char* text) { qz_engine_scan_buff(text); }
