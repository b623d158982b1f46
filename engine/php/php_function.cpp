/*
 * User functions (extended reading).
 *
 * A definition is read whole when the driver meets its keyword: the name,
 * the parameter group "( ... )" and the body group "{ ... }" (whatever comes
 * between, a return type say, is dropped). The groups stay as the lexer made
 * them, tokens of the scan kept by collections. A call binds each parameter
 * variable to its argument's value (its default, evaluated then, when the
 * argument is missing), walks the body as a nested run of the driver and
 * puts the parameters' former values back: parameters behave as locals,
 * other variables a body assigns stay global, as the loose reading has them.
 */

#include "php/php_function.h"

#include "common/qz_ascii.h"
#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "php/php_call.h"
#include "php/php_driver.h"
#include "php/php_eval.h"
#include "php/php_lex.h"
#include "php/php_lex_string.h"
#include "php/php_reclaim.h"
#include "php/php_value.h"
#include "php/php_variable.h"
#include "runtime/qz_array.h"
#include "runtime/qz_symtable.h"
#include "source/qz_source.h"

#include <strings.h>
#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

struct php_param {
  _qz_token* var;       /* the "$name" token in the parameter group */
  _qz_token* def_first; /* first token of its default, or null */
  _qz_token* def_end;   /* the token after the default (a "," or the ")") */
  bool by_ref;          /* declared "&$name": the caller's variable takes its last value */
};

struct php_function {
  _qz_token* params; /* the "( ... )" group */
  _qz_token* body;   /* the "{ ... }" group */
  unsigned long line;
  unsigned long order; /* place among the scan's definitions, from 0 */
  unsigned long walks; /* bodies walked so far */
  bool walking;        /* its body is being walked now */
  bool decoder;        /* a walk gave back decoded text (QZ_MAX_WALKS_PER_DECODER) */
  /* What kinds of argument earlier walks had (see function_signature): a
   * walk with kinds seen before reports nothing, it only computes. */
  std::vector<std::string> signatures;
};

/* A walk in progress: where the value of its first "return" goes, whether
 * its calls are reported, and whether it is a method PHP runs by itself on
 * an object that unserialize made (function_is_unserialize_hook). */
struct php_walk {
  _qz_token* result;
  bool quiet;
  bool hook;
};

}  // namespace

/* Every function recorded in this scan, by name with letter case folded (PHP
 * function names ignore case); the first definition of a name wins. */
static std::unordered_map<const char*, php_function, qz_ascii_fold_hash, qz_ascii_fold_equal>
    function_table;
/* Walks in progress, innermost last. */
static std::vector<php_walk> function_walks;
/* Bodies walked in this scan, against QZ_MAX_FUNCTION_WALKS_PER_SCAN. */
static unsigned long function_walks_made = 0;
/* Anonymous functions recorded in this scan; numbers their names. */
static unsigned long function_closures = 0;
/* Definitions recorded in this scan; gives each its order. */
static unsigned long function_defined = 0;

static bool function_reach() { return (qz_engine_options & QZ_OPT_INTERPRETER_REACH) != 0; }

/* A call met before its function was defined: its line and the text of
 * each argument (absent for a value without text). Texts are copied: the
 * scan's own strings may be collected before the end. */
struct php_early_call {
  unsigned long line;
  std::vector<std::pair<bool, std::string>> args;
};
/* Early calls by name with letter case folded (names are the scan's
 * interned texts, as the function table's are); only a name's first. */
static std::unordered_map<const char*, php_early_call, qz_ascii_fold_hash, qz_ascii_fold_equal>
    function_early_calls;
static unsigned long function_early_bytes = 0;
/* Doc comments of the classes defined in this scan (extended reading), by
 * class name with letter case folded; at most QZ_MAX_CLASS_DOC_COMMENTS. */
static std::unordered_map<const char*, std::string, qz_ascii_fold_hash, qz_ascii_fold_equal>
    function_class_docs;

/* Recorded functions by the address of a name as callers hold it (the
 * scan's interned copy, a table key or a fixed text: one address per text
 * for the scan): the table's lookup folds letter case over the whole name,
 * and walks look the same names up again and again. A slot is believed
 * only in the generation it was filled in; recording a function or a new
 * scan starts the next. */
struct function_cached {
  const char* name;
  php_function* f;
  unsigned long generation; /* 0: never filled */
};
static function_cached function_cache[QZ_CALL_KIND_CACHE_SLOTS];
static unsigned long function_generation = 1;

/* The recorded function named `name` (an address as described above), or
 * null. */
static php_function* function_find(const char* name) {
  function_cached& slot = function_cache[qz_sym_cache_slot_of(name)];
  if (slot.generation == function_generation && slot.name == name) return slot.f;
  auto it = function_table.find(name);
  slot = {name, it == function_table.end() ? nullptr : &it->second, function_generation};
  return slot.f;
}

void php_function_scan_begin() {
  function_early_calls.clear();
  function_early_bytes = 0;
  function_table.clear();
  function_generation++;
  function_walks.clear();
  function_walks_made = 0;
  function_closures = 0;
  function_defined = 0;
  function_class_docs.clear();
}

void php_function_class_doc(const char* class_name, const std::string& doc) {
  if (!class_name || function_class_docs.size() >= QZ_MAX_CLASS_DOC_COMMENTS) return;
  try {
    function_class_docs.emplace(class_name, doc);
  } catch (...) {
    qz_scan_note(QZ_SCAN_OUT_OF_MEMORY);
  }
}

const std::string* php_function_class_doc_of(const char* class_name) {
  if (!class_name) return nullptr;
  auto it = function_class_docs.find(class_name);
  return it == function_class_docs.end() ? nullptr : &it->second;
}

/* Reads from source up to the group that `open` begins and through its
 * matching `close` (first: a token already read, or null). On success the
 * group is returned as a list of its own and what came before it is
 * released. At the end of input the group never closed: everything read is
 * left in *unread, a list for the caller to walk as before, and null is
 * returned. */
static _qz_token* function_read_group(_qz_token* first, char* open, char* close,
                                      qz_io_handle* source, _qz_token** unread) {
  _qz_token *head = nullptr, *tail = nullptr, *group = nullptr;
  unsigned long depth = 0;
  for (_qz_token* t = first ? first : php_lex_get_token(source, 0); t;
       t = php_lex_get_token(source, 0)) {
    qz_token_link(&head, &tail, t);
    bool bracket = t->type == TOKEN_SEPARATOR;
    if (bracket && t->name == open && depth++ == 0) group = t;
    if (bracket && t->name == close && group && --depth == 0) {
      if (group->prev) {
        group->prev->next = nullptr;
        group->prev = nullptr;
        qz_token_free(head);
      }
      return group;
    }
  }
  *unread = head;
  return nullptr;
}

/* Records name's parameter and body groups (keeping them for the scan);
 * false when either is missing. */
static bool function_record(const char* name, _qz_token* params, _qz_token* body,
                            unsigned long line) {
  if (!params || !body) {
    qz_token_free(params);
    qz_token_free(body);
    return false;
  }
  /* The first definition of a name stands (a function read before the
   * first statement is read again at its place): a later one is dropped. */
  if (function_table.count(name)) {
    qz_token_free(params);
    qz_token_free(body);
    return true;
  }
  php_reclaim_keep(params);
  php_reclaim_keep(body);
  try {
    function_table.emplace(
        name, php_function{params, body, line, function_defined++, 0, false, false, {}});
    function_generation++;
  } catch (...) {
    qz_scan_note(QZ_SCAN_OUT_OF_MEMORY);
  }
  return true;
}

/* An anonymous function is recorded under a name of its own, and the
 * expression reads as that name: a variable given it calls the body, and so
 * does a callback naming it. Returns the literal of that name, or null (the
 * groups are then released). */
static _qz_token* function_closure(_qz_token* params, _qz_token* body, unsigned long line) {
  std::string generated = QZ_CLOSURE_NAME_PREFIX + std::to_string(++function_closures);
  char* interned = qz_engine_insert_sym(&generated[0]);
  if (!interned) {
    qz_token_free(params);
    qz_token_free(body);
    return nullptr;
  }
  if (!function_record(interned, params, body, line)) return nullptr;
  _qz_token* value = qz_token_alloc(TOKEN_LITERAL, TOKEN_LITERAL, line);
  if (value) value->name = static_cast<char*>(value->value.ptr = interned);
  return value;
}

/* The token after a "function" keyword read from source, past the "&" of
 * a function that returns a reference (null at the end of input). */
static _qz_token* function_read_name(qz_io_handle* source) {
  _qz_token* name = php_lex_get_token(source, 0);
  while (name && name->type != TOKEN_LITERAL && name->name && std::strcmp(name->name, "&") == 0) {
    qz_token_free(name);
    name = php_lex_get_token(source, 0);
  }
  return name;
}

/* Whether that token names the function: a word, not a variable nor a
 * closure's "(". */
static bool function_is_name(const _qz_token* name) {
  return name && name->type == TOKEN_WORD && name->name && name->name[0] != '$' &&
         !php_is_char_seperator(name->name[0]);
}

_qz_token* php_function_define(_qz_token* keyword, qz_io_handle* source, bool in_class,
                               const char* class_name, bool* replaces, _qz_token** unread) {
  *replaces = false;
  *unread = nullptr;
  _qz_token* name = function_read_name(source);
  bool anonymous = name && name->type == TOKEN_SEPARATOR && name->name == qz_engine_sleft_handle;
  if (!anonymous && !function_is_name(name)) return name; /* read on as before */
  _qz_token* params = function_read_group(anonymous ? name : nullptr, qz_engine_sleft_handle,
                                          qz_engine_sright_handle, source, unread);
  _qz_token* body = params ? function_read_group(nullptr, qz_engine_lleft_handle,
                                                 qz_engine_lright_handle, source, unread)
                           : nullptr;
  if (!body) {
    /* A definition cut short by the end of input (an unclosed string, say)
     * is walked as it stands, as if it were no definition. */
    if (params) {
      _qz_token* last = params;
      while (last->next) last = last->next;
      last->next = *unread;
      if (*unread) (*unread)->prev = last;
      *unread = params;
    }
    if (!anonymous) {
      name->next = *unread;
      if (*unread) (*unread)->prev = name;
      *unread = name;
    }
    return nullptr;
  }
  if (!anonymous) {
    std::string method = std::string("->") + name->name;
    if (in_class && class_name && qz_ascii_fold_equal()(name->name, "__construct"))
      method = std::string("new ") + class_name;
    char* key = in_class ? qz_engine_insert_sym(&method[0]) : name->name;
    if (key) function_record(key, params, body, keyword->lineno);
    qz_token_free(name);
    return nullptr;
  }
  _qz_token* value = function_closure(params, body, keyword->lineno);
  *replaces = value != nullptr;
  return value;
}

/* ---- Definitions before the first statement ---------------------------- */

/* The text of source from its start, when it can be read again from there
 * (a buffer, or a seekable stream put back where it was); false else, or
 * when it is longer than QZ_MAX_HOIST_SOURCE_BYTES. */
static bool hoist_source_text(qz_io_handle* source, std::string* text) {
  if (auto* buf = dynamic_cast<buf_file_handle*>(source)) {
    if (!buf->buffer || buf->position != 0) return false;
    size_t n = strnlen(buf->buffer, QZ_MAX_HOIST_SOURCE_BYTES + 1);
    if (n > QZ_MAX_HOIST_SOURCE_BYTES) return false;
    text->assign(buf->buffer, n);
    return true;
  }
  auto* file = dynamic_cast<linux_file_handle*>(source);
  if (!file || !file->stream) return false;
  /* At its start, and able to go back there: nothing is read otherwise. */
  if (std::ftell(file->stream) != 0 || std::fseek(file->stream, 0, SEEK_SET) != 0) return false;
  /* Its size, where the stream can tell it, lets one read take it all;
   * else reads that double go on to one byte past the bound (which tells a
   * longer text). */
  const unsigned long size = qz_source_size(source);
  size_t have = 0, room = size <= QZ_MAX_HOIST_SOURCE_BYTES ? size + 1 : QZ_HOIST_READ_BYTES;
  for (;; room = have) {
    room = std::min(room, QZ_MAX_HOIST_SOURCE_BYTES + 1 - have);
    if (room == 0) break;
    text->resize(have + room);
    const size_t got = std::fread(&(*text)[have], 1, room, file->stream);
    have += got;
    if (got < room) break;
  }
  text->resize(have);
  const bool whole = !std::ferror(file->stream) && have <= QZ_MAX_HOIST_SOURCE_BYTES;
  std::clearerr(file->stream);
  return std::fseek(file->stream, 0, SEEK_SET) == 0 && whole;
}

/* What a byte is to hoist_words: nothing to it (digits too, which go on
 * with a name or a number), a byte that begins a name, or one that may
 * begin a string, a comment, a brace or a closing tag. The table for a
 * reading of the keyword "function" alone has only "f" and "F" begin a
 * name. */
enum : unsigned char { HOIST_PLAIN, HOIST_NAME, HOIST_MARK };
struct hoist_classes {
  unsigned char names[256], keyword[256];
  bool name_byte[256];
  hoist_classes() {
    for (int c = 0; c < 256; c++) {
      name_byte[c] = php_lex_is_word_byte(static_cast<char>(c));
      const bool letter = name_byte[c] && !(c >= '0' && c <= '9');
      names[c] = letter ? HOIST_NAME : HOIST_PLAIN;
      keyword[c] = c == 'f' || c == 'F' ? HOIST_NAME : HOIST_PLAIN;
    }
    /* The NUL after the text stops the scan of plain bytes. */
    for (unsigned char c : {'\'', '"', '`', '#', '/', '{', '}', '?', '\0'})
      names[c] = keyword[c] = HOIST_MARK;
  }
};
static const hoist_classes hoist_class;

/* php_lex_is_word_byte, from the table. */
static bool hoist_name_byte(char c) { return hoist_class.name_byte[static_cast<unsigned char>(c)]; }

/* Hands seen(at, end) the bounds of every name of the top level of the
 * code of text, outside all braces (with keyword_only, of every such name
 * that begins with "f" or "F": enough to find the keyword "function");
 * strings, comments and the text outside the code tags are passed over. A
 * cheap reading of the bytes, not the lexer's: it only decides whether the
 * definitions are worth a read. */
template <class Seen>
static void hoist_words(const std::string& text, bool keyword_only, Seen seen) {
  const size_t n = text.size();
  const unsigned char* t = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* of = keyword_only ? hoist_class.keyword : hoist_class.names;
  bool code = false;
  unsigned long depth = 0;
  for (size_t i = 0; i < n;) {
    if (!code) {
      const void* open = std::memchr(t + i, '<', n - i);
      if (!open) return;
      i = static_cast<size_t>(static_cast<const unsigned char*>(open) - t) + 1;
      if (i < n && t[i] == '?') {
        code = true;
        i++;
      }
      continue;
    }
    /* Digits here go on with a number, never begin a name. Inside braces
     * only strings, comments and braces count, and at the top level of the
     * keyword's reading they and "f": both skip through the C library's
     * search for a set of bytes. */
    if (depth)
      i += std::strcspn(reinterpret_cast<const char*>(t + i), "'\"`#/{}?");
    else if (keyword_only)
      i += std::strcspn(reinterpret_cast<const char*>(t + i), "'\"`#/{}?fF");
    else
      while (of[t[i]] == HOIST_PLAIN) i++;
    if (i >= n) return;
    const unsigned char c = t[i];
    if (c == 0) {
      i++;
    } else if (of[c] == HOIST_NAME && !depth) {
      size_t end = i + 1;
      while (end < n && hoist_name_byte(static_cast<char>(t[end]))) end++;
      if (i == 0 || (t[i - 1] != '$' && !hoist_name_byte(static_cast<char>(t[i - 1]))))
        seen(i, end);
      i = end;
    } else if (c == '?') {
      if (i + 1 < n && t[i + 1] == '>') code = false;
      i += code ? 1 : 2;
    } else if (c == '\'' || c == '"' || c == '`') {
      /* To the next quote of its kind after an even run of backslashes. */
      size_t from = i + 1;
      for (;;) {
        const void* q = std::memchr(t + from, c, n - from);
        if (!q) return;
        size_t at = static_cast<size_t>(static_cast<const unsigned char*>(q) - t), b = at;
        while (b > i + 1 && t[b - 1] == '\\') b--;
        from = at + 1;
        if ((at - b) % 2 == 0) break;
      }
      i = from;
    } else if (c == '#' || (c == '/' && i + 1 < n && t[i + 1] == '/')) {
      /* A line comment ends at the line's end or at "?>". */
      const auto* nl = static_cast<const unsigned char*>(std::memchr(t + i, '\n', n - i));
      const size_t line_end = nl ? static_cast<size_t>(nl - t) : n;
      size_t at = i;
      for (;;) {
        const auto* q = static_cast<const unsigned char*>(std::memchr(t + at, '?', line_end - at));
        at = q ? static_cast<size_t>(q - t) : line_end;
        if (!q || (at + 1 < n && t[at + 1] == '>')) break;
        at++;
      }
      i = at;
    } else if (c == '/' && i + 1 < n && t[i + 1] == '*') {
      /* To the first "*" "/" after the opening pair ("/" "*" "/" is open). */
      const size_t open = i;
      size_t from = i + 2;
      i = n;
      while (from < n) {
        const void* slash = std::memchr(t + from, '/', n - from);
        if (!slash) break;
        const size_t at = static_cast<size_t>(static_cast<const unsigned char*>(slash) - t);
        from = at + 1;
        if (at >= open + 3 && t[at - 1] == '*') {
          i = at + 1;
          break;
        }
      }
    } else {
      if (c == '{') depth++;
      if (c == '}' && depth) depth--;
      i++;
    }
  }
}

/* Whether the code of text calls, at its top level, a name that a later
 * "function name(" of its top level defines. */
static bool hoist_needed(const std::string& text) {
  const size_t n = text.size();
  auto blanks = [&](size_t i) {
    while (i < n && qz_ascii_is_space(text[i])) i++;
    return i;
  };
  auto folded = [&](size_t at, size_t end, std::string* key) {
    key->assign(text, at, end - at);
    for (char& c : *key) c = qz_ascii_lower(c);
  };
  /* The names the top level defines, folded, with where each is first
   * defined. */
  std::unordered_map<std::string, size_t> defined;
  std::string key;
  hoist_words(text, true, [&](size_t at, size_t end) {
    if (end - at != 8 || strncasecmp(text.data() + at, "function", 8) != 0 ||
        defined.size() >= QZ_MAX_HOIST_NAMES)
      return;
    size_t i = blanks(end);
    if (i < n && text[i] == '&') i = blanks(i + 1);
    size_t name = i;
    while (i < n && hoist_name_byte(text[i])) i++;
    if (i == name || blanks(i) >= n || text[blanks(i)] != '(') return;
    folded(name, i, &key);
    defined.emplace(key, at);
  });
  if (defined.empty()) return false;
  bool needed = false;
  hoist_words(text, false, [&](size_t at, size_t end) {
    if (needed || blanks(end) >= n || text[blanks(end)] != '(') return;
    /* Not a method nor a static method. */
    if (at > 1 && ((text[at - 2] == '-' && text[at - 1] == '>') ||
                   (text[at - 2] == ':' && text[at - 1] == ':')))
      return;
    folded(at, end, &key);
    auto it = defined.find(key);
    needed = it != defined.end() && it->second > at;
  });
  return needed;
}

void php_function_hoist(qz_io_handle* source, unsigned char raw) {
  if (!function_reach() || !source) return;
  std::string text;
  if (!hoist_source_text(source, &text) || !hoist_needed(text)) return;
  unsigned long depth = 0;
  for (_qz_token* t = php_lex_get_token(source, raw); t && !qz_engine_is_interupt();
       t = php_lex_get_token(source, raw)) {
    if (t->type == TOKEN_SEPARATOR && t->name == qz_engine_lleft_handle) depth++;
    if (t->type == TOKEN_SEPARATOR && t->name == qz_engine_lright_handle && depth) depth--;
    if (depth || t->type == TOKEN_LITERAL || t->name != qz_engine_function_handle) {
      qz_token_free(t);
      continue;
    }
    _qz_token* name = function_read_name(source);
    /* A closure's "(" or "{" is read on by the loop, which counts its braces. */
    if (function_is_name(name)) {
      _qz_token* unread = nullptr;
      _qz_token* params = function_read_group(nullptr, qz_engine_sleft_handle,
                                              qz_engine_sright_handle, source, &unread);
      _qz_token* body = params ? function_read_group(nullptr, qz_engine_lleft_handle,
                                                     qz_engine_lright_handle, source, &unread)
                               : nullptr;
      if (body)
        function_record(name->name, params, body, t->lineno);
      else
        qz_token_free(params);
      qz_token_free(unread);
      qz_token_free(name);
    } else if (name && name->type == TOKEN_SEPARATOR && name->name == qz_engine_lleft_handle) {
      depth++;
      qz_token_free(name);
    } else {
      qz_token_free(name);
    }
    qz_token_free(t);
  }
  source->reset();
  php_lex_reset();
}

/* A new separator or word token named `name` (interned), or null. */
static _qz_token* function_token(_token_type type, char* name, unsigned long line) {
  _qz_token* t = qz_token_alloc(type, TOKEN_NONE, line);
  if (t) t->name = name;
  return t;
}

/* Whether t opens or closes a bracket pair, for depth counting. */
static int function_bracket(const _qz_token* t) {
  if (!t || t->type != TOKEN_SEPARATOR) return 0;
  if (t->name == qz_engine_sleft_handle || t->name == qz_engine_mleft_handle ||
      t->name == qz_engine_lleft_handle)
    return 1;
  if (t->name == qz_engine_sright_handle || t->name == qz_engine_mright_handle ||
      t->name == qz_engine_lright_handle)
    return -1;
  return 0;
}

_qz_token* php_function_define_arrow(_qz_token* keyword, qz_io_handle* source, bool* replaces,
                                     _qz_token** unread) {
  *replaces = false;
  *unread = nullptr;
  _qz_token* open = php_lex_get_token(source, 0);
  if (!qz_token_is_sep(open, qz_engine_sleft_handle)) return open; /* read on as before */
  _qz_token* params =
      function_read_group(open, qz_engine_sleft_handle, qz_engine_sright_handle, source, unread);
  if (!params) return nullptr;

  /* What stands between the parameters and "=>" (a return type) is
   * dropped; the expression runs to the first ";", ",", or closing bracket
   * outside any bracket it opened, which is left for the statement. */
  _qz_token *head = nullptr, *tail = nullptr;
  bool arrow = false;
  long depth = 0;
  _qz_token* t;
  while ((t = php_lex_get_token(source, 0)) != nullptr) {
    if (!arrow) {
      arrow = t->type != TOKEN_LITERAL && t->name == qz_engine_arrpair_handle;
      if (!arrow && t->type != TOKEN_LITERAL && t->name == qz_engine_quote_handle) break;
      qz_token_link(&head, &tail, t);
      continue;
    }
    depth += function_bracket(t);
    if (depth < 0 || (depth == 0 && (qz_token_is_sep(t, qz_engine_quote_handle) ||
                                     qz_token_is_sep(t, qz_engine_comma_handle))))
      break;
    qz_token_link(&head, &tail, t);
  }
  if (!arrow) {
    /* No "=>": not an arrow function after all; everything read is code. */
    _qz_token* last = params;
    while (last->next) last = last->next;
    last->next = head;
    if (head) head->prev = last;
    while (last->next) last = last->next;
    if (t) qz_token_link(&params, &last, t);
    *unread = params;
    return nullptr;
  }
  /* The tokens before the expression: the return type and the "=>". */
  _qz_token* expr = head;
  while (expr && !(expr->name == qz_engine_arrpair_handle && expr->type != TOKEN_LITERAL))
    expr = expr->next;
  _qz_token* first = expr ? expr->next : nullptr;
  if (first) {
    expr->next = nullptr;
    first->prev = nullptr;
  }
  qz_token_free(head);

  /* The body reads "{ return EXPR ; }", which a call walks as it walks
   * any function's. */
  unsigned long line = keyword->lineno;
  _qz_token* body = function_token(TOKEN_SEPARATOR, qz_engine_lleft_handle, line);
  _qz_token* ret =
      function_token(TOKEN_WORD, qz_engine_insert_sym(const_cast<char*>("return")), line);
  _qz_token* semi = function_token(TOKEN_SEPARATOR, qz_engine_quote_handle, line);
  _qz_token* close = function_token(TOKEN_SEPARATOR, qz_engine_lright_handle, line);
  _qz_token* btail = body;
  if (body && ret && ret->name && semi && close) {
    qz_token_link(&body, &btail, ret);
    for (_qz_token* e = first; e;) {
      _qz_token* nx = e->next;
      e->next = e->prev = nullptr;
      qz_token_link(&body, &btail, e);
      e = nx;
    }
    qz_token_link(&body, &btail, semi);
    qz_token_link(&body, &btail, close);
  } else {
    qz_scan_note(QZ_SCAN_OUT_OF_MEMORY);
    qz_token_free(body);
    qz_token_free(ret);
    qz_token_free(semi);
    qz_token_free(close);
    qz_token_free(first);
    body = nullptr;
  }
  _qz_token* value = function_closure(params, body, line);
  if (value) {
    *replaces = true;
    value->next = t; /* the terminator, which the statement reads next */
  } else {
    qz_token_free(t);
  }
  return value;
}

/* The parameters of a group "( ... )": each "$name" with its default. */
static std::vector<php_param> function_params(_qz_token* group) {
  std::vector<php_param> out;
  unsigned long depth = 0;
  php_param cur{nullptr, nullptr, nullptr, false};
  for (_qz_token* t = group ? group->next : nullptr; t; t = t->next) {
    bool open =
        qz_token_is_sep(t, qz_engine_sleft_handle) || qz_token_is_sep(t, qz_engine_mleft_handle);
    bool close =
        qz_token_is_sep(t, qz_engine_sright_handle) || qz_token_is_sep(t, qz_engine_mright_handle);
    if (depth == 0 && (qz_token_is_sep(t, qz_engine_comma_handle) || close)) {
      if (cur.def_first) cur.def_end = t;
      if (cur.var) out.push_back(cur);
      cur = php_param{nullptr, nullptr, nullptr, false};
      if (close) break;
      continue;
    }
    if (open) depth++;
    if (close && depth) depth--;
    if (depth == 0 && !cur.var && t->type != TOKEN_LITERAL && t->name && t->name[0] == '$' &&
        t->name[1]) {
      cur.var = t;
      cur.by_ref = t->prev && t->prev->type != TOKEN_LITERAL && t->prev->name &&
                   std::strcmp(t->prev->name, "&") == 0;
    } else if (depth == 0 && cur.var && !cur.def_first && t->name == qz_engine_assign_handle)
      cur.def_first = t->next;
  }
  return out;
}

/* The value of a parameter's default (its tokens up to def_end): a new
 * token of the scan, or null. */
static _qz_token* function_default(const php_param& p) {
  if (!p.def_first || p.def_first == p.def_end) return nullptr;
  /* The call being made is part of a statement still on the stacks. */
  php_rt_saved saved;
  php_rt_save(&saved);
  _qz_token* v = php_eval_expr(p.def_first, p.def_end);
  php_rt_restore(&saved);
  return v;
}

/* The kinds of the arguments a call hands over, one character each:
 * request data, decoded text, or anything else. */
static std::string function_signature(const std::vector<_qz_value>& values) {
  std::string sig;
  for (const _qz_value& v : values) {
    sig += php_value_holds_request(v) ? 'r' : (v.spare1 & QZ_VALUE_DECODED) ? 'd' : '-';
  }
  return sig;
}

/* The variable an argument names when it is a plain variable of the script
 * (not a request array), for a by-reference parameter to write back; else
 * null. */
static _qz_token* function_ref_target(_qz_token* arg) {
  if (!arg || arg->type != TOKEN_WORD || !arg->name || arg->name[0] != '$' || !arg->name[1])
    return nullptr;
  for (const char* c = arg->name + 1; *c; c++)
    if (!php_lex_is_word_byte(*c)) return nullptr;
  _qz_token* entry = php_reference_globals(arg);
  return entry && !php_variable_is_superglobal(entry) ? entry : nullptr;
}

bool php_function_known(const char* name) {
  return function_reach() && name && function_find(name);
}

bool php_function_quiet() { return !function_walks.empty() && function_walks.back().quiet; }

/* Whether `name` (a recorded name, methods as "->name") is a method that PHP
 * runs on an object unserialize rebuilt, with the fields the serialized text
 * chose: when it is made, turned into text, or destroyed. */
static bool function_is_unserialize_hook(const char* name) {
  static const char* const hooks[] = {"->__wakeup", "->__unserialize", "->__destruct",
                                      "->__tostring"};
  if (std::strncmp(name, "->__", 4) != 0) return false;
  for (const char* h : hooks)
    if (qz_ascii_fold_equal()(name, h)) return true;
  return false;
}

bool php_function_in_unserialize_hook() {
  return std::any_of(function_walks.begin(), function_walks.end(),
                     [](const php_walk& w) { return w.hook; });
}

/* A method no class of the script has, called on an object ("->name") or a
 * class ("Class::name"), goes to the class's __call or __callStatic as PHP
 * sends it: with the method's name and an array of the arguments. False
 * when the script has no such method either. */
static bool function_call_magic(const char* name, const char* scope,
                                const std::vector<_qz_token*>& args, unsigned long line,
                                _qz_token** result) {
  const char* method = scope ? scope + 2 : (name[0] == '-' && name[1] == '>') ? name + 2 : nullptr;
  if (!method || !method[0] || std::strncmp(method, "__call", 6) == 0) return false;
  const char* magic = scope ? "->__callStatic" : "->__call";
  if (!function_find(magic)) return false;
  _qz_token* called = qz_token_alloc(TOKEN_WORD, TOKEN_STRING, line);
  _qz_token* list = called ? qz_token_alloc(TOKEN_WORD, TOKEN_ARRAY, line) : nullptr;
  _qz_string* text = list ? qz_string_alloc(method) : nullptr;
  _qz_array* items = text ? qz_array_alloc() : nullptr;
  if (!items) return false;
  called->value.ptr = text;
  list->value.ptr = items;
  for (_qz_token* a : args) {
    _qz_value v = php_variable_value(a);
    if (!qz_array_push(items, &v)) break;
  }
  return php_function_call(magic, {called, list}, line, result);
}

bool php_function_call(const char* name, const std::vector<_qz_token*>& args, unsigned long line,
                       _qz_token** result) {
  *result = nullptr;
  if (!function_reach() || !name) return false;
  php_function* found = function_find(name);
  const char* scope = std::strstr(name, "::");
  if (!found && scope) {
    /* "Class::name" calls the method "->name" of whichever class has it. */
    std::string method = std::string("->") + (scope + 2);
    auto it = function_table.find(method.c_str());
    if (it != function_table.end()) found = &it->second;
  }
  if (!found) return function_call_magic(name, scope, args, line, result);
  php_function& f = *found;
  if (f.walking || function_walks.size() >= QZ_MAX_FUNCTION_DEPTH ||
      f.walks >= (f.decoder ? QZ_MAX_WALKS_PER_DECODER : QZ_MAX_WALKS_PER_FUNCTION))
    return true;
  if (function_walks_made >= QZ_MAX_FUNCTION_WALKS_PER_SCAN) {
    php_call_limit_reached(PHP_LIMIT_FUNCTION_WALKS, line);
    return true;
  }
  function_walks_made++;
  f.walks++;

  /* Every argument is read before any parameter is bound: a parameter may
   * share its name with a variable another argument reads. */
  std::vector<_qz_value> values;
  for (_qz_token* a : args) values.push_back(php_variable_value(a));

  /* A second call with arguments of the kinds an earlier one had adds
   * nothing for the rules to see (real code calls its helpers often):
   * its body is walked for its value, quietly. */
  std::string signature = function_signature(values);
  bool seen = std::find(f.signatures.begin(), f.signatures.end(), signature) != f.signatures.end();
  if (!seen) f.signatures.push_back(signature);

  /* Bind the parameters, keeping what their variables held before. Those
   * values live only here while defaults and the body run, which may
   * collect: they are held through it. */
  std::vector<php_param> params = function_params(f.params);
  std::vector<_qz_token*> saved;
  struct held_values {
    std::vector<_qz_value> values;
    held_values() { php_reclaim_hold(&values); }
    ~held_values() { php_reclaim_release(&values); }
  } held;
  for (size_t i = 0; i < params.size(); i++) {
    _qz_token* entry = php_reference_globals(params[i].var);
    if (!entry) continue;
    saved.push_back(entry);
    held.values.push_back(entry->value);
    _qz_token* def = i < values.size() ? nullptr : function_default(params[i]);
    entry->value = i < values.size() ? values[i] : def ? php_variable_value(def) : _qz_value{};
    /* An array passed by value is the parameter's own: writing to it leaves
     * the caller's alone. */
    if (!params[i].by_ref && entry->value.type == TOKEN_ARRAY)
      if (_qz_array* copy = qz_array_copy(static_cast<const _qz_array*>(entry->value.ptr)))
        entry->value.ptr = copy;
    entry->type = TOKEN_WORD;
    qz_token_free(def);
  }
  bool quiet = seen || php_function_quiet();
  function_walks.push_back(php_walk{nullptr, quiet, function_is_unserialize_hook(name)});
  f.walking = true;
  php_debug(f.body->next, nullptr, 1);
  f.walking = false;
  *result = function_walks.back().result;
  function_walks.pop_back();
  if (*result && ((*result)->value.spare1 & QZ_VALUE_DECODED)) f.decoder = true;
  /* What a by-reference parameter ends with, read before the parameters
   * are unbound, goes to the caller's variable afterwards. */
  std::vector<std::pair<_qz_token*, _qz_value>> out;
  for (size_t i = 0; i < params.size() && i < args.size(); i++) {
    _qz_token* target = params[i].by_ref ? function_ref_target(args[i]) : nullptr;
    _qz_token* entry = target ? php_reference_globals(params[i].var) : nullptr;
    if (entry) out.emplace_back(target, entry->value);
  }
  for (size_t i = saved.size(); i-- > 0;) saved[i]->value = held.values[i];
  for (const auto& target_value : out) target_value.first->value = target_value.second;
  return true;
}

/* Names whose early call is kept already, by address as function_cache
 * holds them (the same generations): a script calls the same functions of
 * other files again and again. */
struct function_noted {
  const char* name;
  unsigned long generation;
};
static function_noted function_early_seen[QZ_CALL_KIND_CACHE_SLOTS];

void php_function_note_early_call(const char* name, const std::vector<_qz_token*>& args,
                                  unsigned long line) {
  if (!function_reach() || !name || function_early_calls.size() >= QZ_MAX_EARLY_CALLS ||
      function_find(name))
    return;
  function_noted& seen = function_early_seen[qz_sym_cache_slot_of(name)];
  if (seen.generation == function_generation && seen.name == name) return;
  if (function_early_calls.count(name)) {
    seen = {name, function_generation};
    return;
  }
  php_early_call call{line, {}};
  unsigned long bytes = std::strlen(name);
  for (_qz_token* a : args) {
    const char* text = php_value_text(php_variable_value(a));
    call.args.emplace_back(text != nullptr, text ? text : "");
    bytes += call.args.back().second.size();
  }
  if (bytes > QZ_MAX_EARLY_CALL_BYTES - function_early_bytes) return;
  function_early_bytes += bytes;
  function_early_calls.emplace(name, std::move(call));
  seen = {name, function_generation};
}

/* Walks function `name` with the arguments kept from its early call, or
 * with none. */
static void function_walk_late(const char* name) {
  auto early = function_early_calls.find(name);
  std::vector<_qz_token*> args;
  unsigned long line = function_table.at(name).line;
  if (early != function_early_calls.end()) {
    line = early->second.line;
    for (const auto& has_text : early->second.args) {
      _qz_token* a = qz_token_alloc(TOKEN_WORD, TOKEN_NONE, line);
      _qz_string* s = a && has_text.first
                          ? qz_string_alloc_n(has_text.second.data(), has_text.second.size())
                          : nullptr;
      if (s) {
        a->value.type = TOKEN_STRING;
        a->value.ptr = s;
      }
      if (a) args.push_back(a);
    }
  }
  _qz_token* r = nullptr;
  php_function_call(name, args, line, &r);
  qz_token_free(r);
  for (_qz_token* a : args) qz_token_free(a);
}

void php_function_walk_uncalled() {
  if (!function_reach()) return;
  /* In source order: by line, then, for definitions sharing a line, in the
   * order they were read. Never by name address, which the heap chooses. */
  struct uncalled {
    unsigned long line, order;
    const char* name;
  };
  std::vector<uncalled> names;
  for (const auto& entry : function_table)
    if (entry.second.walks == 0)
      names.push_back({entry.second.line, entry.second.order, entry.first});
  std::sort(names.begin(), names.end(), [](const uncalled& a, const uncalled& b) {
    return a.line != b.line ? a.line < b.line : a.order < b.order;
  });
  for (const auto& u : names) function_walk_late(u.name);
}

bool php_function_return(_qz_token* head) {
  if (function_walks.empty() || !head) return false;
  _qz_token* first = head->next;
  if (!first || first->type == TOKEN_LITERAL || !first->name ||
      !qz_ascii_fold_equal()(first->name, "return"))
    return false;
  first->type = TOKEN_IGNORED;
  _qz_token* value = php_eval_expr(head, nullptr);
  /* A variable is read now, while the parameters are still bound. */
  if (value && value->type == TOKEN_WORD && value->name && value->name[0] == '$') {
    value->value = php_variable_value(value);
    value->name = nullptr;
    value->ref = nullptr;
  }
  php_walk& w = function_walks.back();
  if (!w.result)
    w.result = value;
  else
    qz_token_free(value);
  return true;
}
