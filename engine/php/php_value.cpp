/*
 * Structure built-ins: array and string indexing (the evaluator's
 * qz_array_item), array construction and its key => value pairs, the
 * evaluator's ${expr} (qz_var_var), and the small text helpers the evaluator
 * and the registry share.
 *
 * Indexing is where request taint travels: an item of a request array that
 * was never written reads as the array's marker text, and indexing a marker
 * text by number keeps the marker instead of yielding one character.
 */

#include "php/php_value.h"

#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "php/php_variable.h"
#include "runtime/qz_array.h"
#include "runtime/qz_symtable.h"

#include <strings.h>
#include <algorithm>
#include <cstring>
#include <string>

/* Markers that survive indexing by number, in the order they are tested. */
static const char* const value_sticky_markers[] = {
    "$_DB_DATA",      "$_POST_DATA",   "$_GET_DATA",    "$_REQUEST_DATA",
    "$_SESSION_DATA", "$_COOKIE_DATA", "$_SERVER_DATA",
};

const char* php_value_text(const _qz_value& v) {
  if (v.type == TOKEN_LITERAL) return static_cast<const char*>(v.ptr);
  if (v.type == TOKEN_STRING && v.ptr) return static_cast<_qz_string*>(v.ptr)->text;
  return nullptr;
}

bool php_value_holds_request(const _qz_value& v) {
  if (v.type == TOKEN_ARRAY) return v.ptr && static_cast<_qz_array*>(v.ptr)->item_marker;
  const char* text = php_value_text(v);
  return text && (php_text_is_request_marker(text) || std::strstr(text, "_DATA"));
}

/* Length of a LITERAL or STRING value's text (0 when there is none). */
static unsigned long value_text_length(const _qz_value& v) {
  if (v.type == TOKEN_STRING && v.ptr) return static_cast<_qz_string*>(v.ptr)->length;
  if (v.type == TOKEN_LITERAL && v.ptr) return std::strlen(static_cast<const char*>(v.ptr));
  return 0;
}

static bool value_is_text(const _qz_value& v) {
  return v.type == TOKEN_STRING || v.type == TOKEN_LITERAL;
}

/* A request marker, or a marker of an item of one ("$_FILES_DATA_DATA"):
 * "$_" and an upper-case name ending in "_DATA", nothing else. */
static bool value_is_request_marker(const char* text) {
  if (!text || php_text_is_request_marker(text)) return text != nullptr;
  size_t n = std::strlen(text);
  if (n < 8 || text[0] != '$' || text[1] != '_' || std::strcmp(text + n - 5, "_DATA") != 0)
    return false;
  for (size_t i = 2; i < n; i++)
    if (!(text[i] == '_' || (text[i] >= 'A' && text[i] <= 'Z'))) return false;
  return true;
}

/* String indexing by number: one character, a blank past the end, or the
 * marker itself when the text is a request or database marker. With
 * extended reading a character of a value the scan does not know is not
 * known either (the invalid-string text, not one of its letters), past the
 * end is the empty text, as PHP gives, and a negative number counts back
 * from the end. */
static _qz_token* value_index_string(_qz_token* container, _qz_token* v, long index) {
  _qz_token* res = qz_token_alloc(TOKEN_WORD, TOKEN_STRING, container->lineno);
  if (!res) return nullptr;
  const char* text = php_value_text(v->value);
  unsigned long len = value_text_length(v->value);
  bool reach = (qz_engine_options & QZ_OPT_INTERPRETER_REACH) != 0;
  /* An item of request data by number (a file of a multiple upload) is
   * request data too; an unknown value stays unknown. */
  if (reach && text &&
      (std::strcmp(text, qz_invalid_string_text()) == 0 || value_is_request_marker(text))) {
    res->value.ptr = qz_string_alloc(text);
    return res;
  }
  char pick[2] = {' ', '\0'};
  if (reach) pick[0] = '\0';
  /* Extended reading: a negative number counts from the end, as PHP 7.1
   * reads it ("abc"[-1] is "c"); written so that no index overflows. */
  if (reach && text && index < 0 && static_cast<unsigned long>(-(index + 1)) < len)
    index += static_cast<long>(len);
  if (text && static_cast<unsigned long>(index) < len) pick[0] = text[index];
  if (text) {
    for (const char* marker : value_sticky_markers) {
      if (strcasecmp(text, marker) == 0) {
        res->value.ptr = qz_string_alloc(marker);
        return res;
      }
    }
  }
  res->value.ptr = qz_string_alloc_n(pick, pick[0] ? 1 : 0);
  if (reach && pick[0] && len > 1) res->value.spare1 |= QZ_VALUE_SPELLED;
  return res;
}

/* Extended reading: an item of $_SERVER that the client sets (a header, a
 * part of the request line), never written by the script, reads as
 * PHP_CLIENT_SERVER_MARKER instead of the array's own marker. */
static void value_mark_client_set(_qz_array* arr, _qz_bucket* item) {
  if (!(qz_engine_options & QZ_OPT_INTERPRETER_REACH) || !arr->item_marker || !item->key ||
      item->value.type != TOKEN_LITERAL || item->value.ptr != arr->item_marker ||
      std::strcmp(arr->item_marker, "$_SERVER_DATA") != 0 ||
      !php_server_key_is_client_set(item->key, std::strlen(item->key)))
    return;
  if (char* marker = qz_engine_insert_isym(const_cast<char*>(PHP_CLIENT_SERVER_MARKER)))
    item->value.ptr = marker;
}

_qz_token* php_lib_reference_array_item(_qz_token* container, _qz_token* key) {
  if (!container || !key) return nullptr;
  _qz_token* v = php_reference_globals(container);
  if (key->type == TOKEN_WORD) {
    _qz_token* kv = php_reference_globals(key);
    if (kv) key = kv;
  }
  if (!v) {
    qz_report_fault(QZ_FAULT_ARRAY_ITEM_VAR);
    return nullptr;
  }

  /* Extended reading: an item of the empty text makes the variable an
   * array, as PHP does when it is written. */
  bool empty_text = value_is_text(v->value) && value_text_length(v->value) == 0 &&
                    (qz_engine_options & QZ_OPT_INTERPRETER_REACH);
  if (key->value.type == TOKEN_INTEGER && value_is_text(v->value) && !empty_text)
    return value_index_string(container, v, key->value.lval);

  /* A text indexed by a key may name a variable (a marker that is itself a
   * variable, such as the first-level marker of the file array). */
  if (key->value.type != TOKEN_INTEGER) {
    const char* text = php_value_text(v->value);
    if (text) {
      _qz_token* named = php_lookup_global_variable(const_cast<char*>(text));
      if (named) v = named;
    }
  }

  /* Extended reading: an item of request data ($_GET['a']['b'], a file's
   * name by index) is request data too. */
  if ((qz_engine_options & QZ_OPT_INTERPRETER_REACH) && value_is_text(v->value) &&
      value_is_request_marker(php_value_text(v->value))) {
    _qz_token* res = qz_token_alloc(TOKEN_WORD, TOKEN_STRING, container->lineno);
    if (res) res->value.ptr = qz_string_alloc(php_value_text(v->value));
    return res;
  }
  if (v->value.type != TOKEN_ARRAY || !v->value.ptr) {
    _qz_array* arr = qz_array_alloc();
    if (!arr) return nullptr;
    v->value.type = TOKEN_ARRAY;
    v->value.ptr = arr;
  }
  _qz_array* arr = static_cast<_qz_array*>(v->value.ptr);

  _qz_bucket* item = nullptr;
  switch (key->value.type) {
    case TOKEN_INTEGER:
      item = qz_array_item(arr, static_cast<unsigned long>(key->value.lval));
      break;
    case TOKEN_LITERAL: item = qz_array_item(arr, static_cast<char*>(key->value.ptr)); break;
    case TOKEN_STRING: {
      /* Items are found by the interned key text. Extended reading interns
       * a built key ('a' . 'b', a text from a table) as literal keys are,
       * so that $a['ab'] finds what $a[$k] wrote. Otherwise, and for a key
       * with a NUL inside, a new item keeps the key's text itself as its
       * key: the string is referenced, so no append may grow it in place. */
      auto* ks = static_cast<_qz_string*>(key->value.ptr);
      char* interned = nullptr;
      if (ks && (qz_engine_options & QZ_OPT_INTERPRETER_REACH) &&
          std::strlen(ks->text) == ks->length)
        interned = qz_engine_insert_sym(ks->text);
      item = qz_array_item(arr, interned ? interned : ks ? qz_reference_string(ks)->text : nullptr);
      break;
    }
    default:
      if (key->name) item = qz_array_item(arr, key->name);
      break;
  }
  if (!item) {
    _qz_value zero{};
    zero.type = TOKEN_INTEGER;
    item = qz_array_push(arr, &zero);
    if (!item) return nullptr;
  }
  value_mark_client_set(arr, item);
  _qz_token* res = qz_bucket_to_token(item);
  if (res) res->type = TOKEN_WORD;
  return res;
}

_qz_token* php_lib_build_bucket(_qz_token* key, _qz_token* value) {
  if (!key || !value) return nullptr;
  _qz_token* pair = qz_token_alloc(TOKEN_PAIR, TOKEN_PAIR, key->lineno);
  if (!pair) return nullptr;
  _qz_bucket* b = qz_bucket_alloc();
  if (!b) return pair;
  b->key = key->name;
  /* Extended reading: a key that is a variable or a built text ($k => v,
   * 'a' . 'b' => v, "k$i" => v) is the text it holds, interned as literal
   * keys are; a key holding a number or no text stays as before. */
  if ((qz_engine_options & QZ_OPT_INTERPRETER_REACH) &&
      (!key->name || (key->type == TOKEN_WORD && key->name[0] == '$'))) {
    _qz_value kv = php_variable_value(key);
    if (kv.type == TOKEN_STRING || kv.type == TOKEN_LITERAL) {
      const char* text = php_value_text(kv);
      if (text && (kv.type == TOKEN_LITERAL || std::strlen(text) == value_text_length(kv)))
        if (char* interned = qz_engine_insert_sym(const_cast<char*>(text))) b->key = interned;
    }
  }
  b->value = value->value;
  pair->value.ptr = b;
  return pair;
}

_qz_token* php_lib_build_array(_qz_token* first) {
  _qz_token* res = qz_token_alloc(TOKEN_WORD, TOKEN_ARRAY, first ? first->lineno : 0);
  if (!res) return nullptr;
  _qz_array* arr = qz_array_alloc();
  if (!arr) return res;
  res->value.ptr = arr;
  for (_qz_token* t = first; t; t = t->next) {
    /* A pair token whose value was overwritten (".=" keeps the token type)
     * holds no bucket any more: its value is taken like any other. */
    _qz_bucket* b = t->type == TOKEN_PAIR && t->value.type == TOKEN_PAIR
                        ? static_cast<_qz_bucket*>(t->value.ptr)
                        : nullptr;
    /* A pair's bucket joins the array itself, unless it is already linked
     * into a list (pushing it again would tie the lists into a loop): then
     * its value is copied under its key. */
    if (b && !b->next && b != arr->tail) {
      qz_array_push(arr, b);
    } else if (b) {
      _qz_bucket* copy = qz_bucket_alloc();
      if (copy) {
        copy->key = b->key;
        copy->value = b->value;
        qz_array_push(arr, copy);
      }
    } else if (qz_engine_options & QZ_OPT_INTERPRETER_REACH) {
      /* A variable stands for the value it holds now. */
      _qz_value v = php_variable_value(t);
      qz_array_push(arr, &v);
    } else {
      qz_array_push(arr, &t->value);
    }
    if (t->next == first) break;
  }
  return res;
}

_qz_token* php_lib_build_empty_array(_qz_token* t) {
  if (!t) return nullptr;
  _qz_token* holder = qz_token_alloc(TOKEN_ARRAY, TOKEN_ARRAY, t->lineno);
  if (!holder) return nullptr;
  holder->name = t->name;
  _qz_array* arr = qz_array_alloc();
  if (!arr) return nullptr;
  holder->value.ptr = arr;
  _qz_value zero{};
  _qz_bucket* item = qz_array_push(arr, &zero);
  if (!item) return nullptr;
  _qz_token* res = qz_token_alloc(TOKEN_INTEGER, TOKEN_INTEGER, t->lineno);
  if (res) {
    res->value = item->value;
    res->value.type = TOKEN_INTEGER;
  }
  return res;
}

/* Set by php_var_var_names_property around one php_lib_var_var call. */
static bool var_var_property = false;

void php_var_var_names_property(bool property) { var_var_property = property; }

_qz_token* php_lib_var_var(_qz_token* name) {
  if (!name) return nullptr;
  const char* text = php_value_text(name->value);
  if (!text) text = name->name;
  if (!text) text = qz_invalid_string_text();
  /* Extended reading: "${'_' . $m}" with $m unknown (a variable never set,
   * or request data: its text is a "$..." name or marker) names a request
   * superglobal the request picks ("?m=POST" with old request globals);
   * it reads as $_REQUEST. */
  if ((qz_engine_options & QZ_OPT_INTERPRETER_REACH) && !var_var_property && text[0] == '_' &&
      text[1] == '$')
    text = "_REQUEST";
  char composed[QZ_VAR_VAR_CALL_NAME_MAX + 2];
  size_t len = strnlen(text, QZ_VAR_VAR_CALL_NAME_MAX);
  composed[0] = '$';
  std::memcpy(composed + 1, text, len);
  composed[len + 1] = '\0';
  _qz_token* var = qz_token_alloc(TOKEN_WORD, TOKEN_NONE, name->lineno);
  if (!var) return nullptr;
  var->name = qz_engine_insert_sym(composed);
  return php_reference_globals(var);
}

/* ---- text helpers ---- */

_qz_string* php_strcat(_qz_string* a, _qz_string* b) { return qz_string_concat(a, b); }

_qz_string* php_strcat(_qz_string* a, const char* b) { return qz_string_concat(a, b); }

_qz_string* php_strcat(const char* a, _qz_string* b) {
  return qz_string_concat(qz_string_alloc(a), b);
}

_qz_string* php_strcat(const char* a, const char* b) {
  return qz_string_concat(qz_string_alloc(a), qz_string_alloc(b));
}

_qz_string* php_strcpy(_qz_value* src, _qz_value* dst) {
  if (!src || !dst) return nullptr;
  _qz_string* s = static_cast<_qz_string*>(src->ptr);
  qz_reference_string(s);
  if (dst->ptr) qz_dereference_string(static_cast<_qz_string*>(dst->ptr));
  dst->ptr = s;
  return s;
}

bool php_compare_cstr(void* a, void* b, unsigned long) {
  if (!a || !b) return false;
  const char* x = *static_cast<char**>(a);
  const char* y = *static_cast<char**>(b);
  if (!x || !y) return x == y;
  return strcasecmp(x, y) == 0;
}

bool php_compare_size_t(void* a, void* b, unsigned long n) {
  if (n == 0) return true;
  if (!a || !b) return false;
  return std::memcmp(a, b, n) == 0;
}

_qz_value php_value_bucket_key(const _qz_bucket* b) {
  _qz_value k{};
  if (b->key) {
    k.type = TOKEN_LITERAL;
    k.ptr = b->key;
  } else {
    k.type = TOKEN_INTEGER;
    k.lval = static_cast<long>(b->index);
  }
  return k;
}

bool php_value_first_item(const _qz_value& v, _qz_value* item, _qz_value* key) {
  if (v.type != TOKEN_ARRAY || !v.ptr) return false;
  auto* arr = static_cast<_qz_array*>(v.ptr);
  _qz_value k{};
  *item = _qz_value{};
  if (arr->item_marker) {
    item->type = k.type = TOKEN_LITERAL;
    item->ptr = k.ptr = arr->item_marker;
  } else if (!arr->head) {
    return false;
  } else {
    *item = arr->head->value;
    k = php_value_bucket_key(arr->head);
  }
  if (key) *key = k;
  return true;
}

std::string php_text_increment(std::string s) {
  if (s.empty()) return "1";
  char front = 0;
  for (size_t pos = s.size(); pos-- > 0;) {
    char& c = s[pos];
    /* The class of c: its first value, its last, and what a carry out of
     * the front adds ("1" for digits, where "9" wraps to "0"). */
    static const struct {
      char low, high, wrap, carry;
    } classes[] = {{'a', 'z', 'a', 'a'}, {'A', 'Z', 'A', 'A'}, {'0', '9', '0', '1'}};
    const auto* cls = std::find_if(std::begin(classes), std::end(classes),
                                   [c](const auto& k) { return c >= k.low && c <= k.high; });
    if (cls == std::end(classes)) return s;
    if (c != cls->high) {
      c++;
      return s;
    }
    c = cls->wrap;
    front = cls->carry;
  }
  return std::string(1, front) + s;
}
