/*
 * Call reporting. Every call the evaluator closes comes here: the called name
 * is settled (through variables, so a call through a variable holding a
 * function's name is reported under that name), the arguments are taken off
 * the argument stack, the emulated built-in runs if one is registered, and the
 * call is reported to the host's call filter with one text per argument.
 *
 * After a call of "extract" the request may have defined any variable, so two
 * taint rules apply until the end of the current run: an argument with no
 * value reads as request data, and a call through a variable with no value
 * counts as a call of eval.
 */

#include "php/php_call.h"

#include "builtins/php_lib_registry.h"
#include "common/qz_ascii.h"
#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "php/php_driver.h"
#include "php/php_eval.h"
#include "php/php_function.h"
#include "php/php_lex.h"
#include "php/php_lex_string.h"
#include "php/php_value.h"
#include "php/php_variable.h"
#include "runtime/qz_array.h"
#include "runtime/qz_symtable.h"

#include <strings.h>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

static _qz_token* call_zero(_qz_token* call) {
  return qz_token_alloc(TOKEN_INTEGER, TOKEN_INTEGER, call ? call->lineno : 0);
}

unsigned long php_call_line = 0;
unsigned char php_extract_called;
unsigned long php_call_quiet = 0;

/* ---- Variables the request defines (extended reading) ------------------ */

/* Set once the scan met a call through which a variable the script never
 * assigns may still hold a value: an include, extract and its relatives, a
 * variable named at run time, a write through $GLOBALS. */
static bool call_variables_imported = false;
/* Variable-list walks of call_is_request_global in this scan, against
 * QZ_MAX_REQUEST_GLOBAL_CHECKS. */
static unsigned long call_request_global_checks = 0;
/* Set once the scan unserialized request data: the objects made then have
 * the fields the request chose. */
static bool call_unserialized_request = false;
/* A file the scan saw the script write (PHP_CALL_INCLUDES_WRITTEN_MARKER):
 * its path as written and the text it holds, at most
 * QZ_MAX_WRITTEN_FILE_BYTES of it. */
struct call_written_file {
  std::string path, text;
};
/* The files written so far in the scan, at most QZ_MAX_WRITTEN_FILES. */
static std::vector<call_written_file> call_written;
/* Variables of the top-level code that a statement "$v = clean($v)" gave
 * their first value from themselves while nothing had assigned them (see
 * php_call_note_self_clean), at most QZ_MAX_REQUEST_GLOBAL_CHECKS. */
static std::vector<const _qz_token*> call_self_cleaned;
/* Variables of the top-level code that isset or empty asked about while
 * nothing had assigned them (call_note_tested_global), at most
 * QZ_MAX_REQUEST_GLOBAL_CHECKS: the script expects them from outside. */
static std::vector<const _qz_token*> call_tested_globals;
/* Set once a built-in's result of this scan carries QZ_VALUE_OWN_PATH. */
static bool call_own_path_made = false;

/* What the extended reading looks for in a call's name, decided once per
 * name of the scan (names are interned, so a name is its pointer). */
enum : unsigned char {
  CALL_KIND_IMPORTS = 1,          /* may give variables values: call_imports_variables */
  CALL_KIND_CODE_OR_COMMAND = 2,  /* call_is_code_or_command */
  CALL_KIND_MAIL = 4,             /* call_reported_in_loop */
  CALL_KIND_ARGV = 8,             /* a row of call_argv_rows */
  CALL_KIND_IMPORTS_REQUEST = 16, /* import_request_variables */
  CALL_KIND_INCLUDE = 32,         /* include and its relatives: call_report_written_include */
  CALL_KIND_ASKS_SET = 64,        /* isset and empty: call_note_tested_global */
  CALL_KIND_CALLBACK = 128,       /* takes a callback: call_callbacks */
};
/* A direct-mapped cache of decided names: a slot holds the last name that
 * fell on it, so a name is decided again only after another took its slot. */
static struct {
  const char* name;
  unsigned char kinds;
} call_kinds[QZ_CALL_KIND_CACHE_SLOTS];
static unsigned char call_kinds_of(const char* name);
static _qz_token* call_resolved(_qz_token* arg);
/* The registry's answer for an interned name, remembered the same way: its
 * lookup folds letter case over the whole name, and a script calls the same
 * few built-ins over and over. */
static struct {
  const char* name;
  _php_function_map* f;
  bool php_function; /* f is a function PHP has: call_php_builtin_of */
} call_builtins[QZ_CALL_KIND_CACHE_SLOTS];
static _php_function_map* call_builtin_of(char* name);

/* Items array_map mapped in this scan, against QZ_ARRAY_MAP_ITEMS_PER_SCAN. */
static unsigned long call_mapped_items = 0;

void php_call_run_begin() {
  php_extract_called = 0;
  if (php_run_depth() == 1) {
    call_mapped_items = 0;
    call_variables_imported = false;
    call_request_global_checks = 0;
    call_unserialized_request = false;
    call_self_cleaned.clear();
    call_tested_globals.clear();
    call_own_path_made = false;
    call_written.clear();
    for (auto& slot : call_kinds) slot = {nullptr, 0};
    for (auto& slot : call_builtins) slot = {nullptr, nullptr, false};
  }
}

/* Whether a call of name (with first the text of its first argument, or
 * null) may give variables values the script does not assign itself. */
static bool call_imports_variables(const char* name, const char* first) {
  if (call_kinds_of(name) & CALL_KIND_IMPORTS) return true;
  return first && qz_ascii_is(name, "qz_array_item") && std::strcmp(first, "$GLOBALS") == 0;
}

/* The code and command functions whose first argument, a variable the
 * top-level code never assigned, reads as request data. */
static bool call_is_code_or_command(const char* name) {
  return (call_kinds_of(name) & CALL_KIND_CODE_OR_COMMAND) != 0;
}

/* Whether the call being read stands in the script's top-level code outside
 * loop bodies, with nothing met so far that might have given variables
 * values behind the scan's back (an include, extract...): where old PHP's
 * request globals can be told. call_reads_top_level_variable: and arg names
 * a variable ("$name"). */
static bool call_at_top_level() {
  return !call_variables_imported && php_run_depth() == 1 && !php_call_loop_depth;
}

static bool call_reads_top_level_variable(const _qz_token* arg) {
  return call_at_top_level() && arg && arg->type == TOKEN_WORD && arg->name &&
         arg->name[0] == '$' && arg->name[1];
}

/* The conditions of call_is_request_global but the last: arg is a variable
 * of the top-level code outside loops that nothing assigned. */
static bool call_is_unassigned_variable(_qz_token* arg) {
  if (!call_reads_top_level_variable(arg) || arg->value.type != TOKEN_NONE) return false;
  static const char* const predefined[] = {
      "$this", "$GLOBALS", "$argv", "$argc", "$http_response_header", "$php_errormsg"};
  for (const char* p : predefined)
    if (std::strcmp(arg->name, p) == 0) return false;
  _qz_token* entry = php_reference_globals(arg);
  return entry && !php_variable_is_superglobal(entry) && !entry->ref &&
         entry->value.type == TOKEN_NONE && entry->value.assign_time == 0;
}

/* Whether arg, read as the array of an item ("$cmd['c']"), is a variable of
 * the top-level code outside loops that nothing assigned: it holds nothing,
 * or the plain array (no request array's) that reading its items made. */
static bool call_is_unassigned_array(_qz_token* arg) {
  if (!call_reads_top_level_variable(arg) || arg->value.type != TOKEN_NONE ||
      std::strcmp(arg->name, "$GLOBALS") == 0)
    return false;
  _qz_token* entry = php_reference_globals(arg);
  if (!entry || php_variable_is_superglobal(entry) || entry->ref || entry->value.assign_time)
    return false;
  if (entry->value.type == TOKEN_NONE) return true;
  const auto* a = static_cast<const _qz_array*>(entry->value.ptr);
  return entry->value.type == TOKEN_ARRAY && a && !a->item_marker;
}

/* The last condition of call_is_request_global: no variable variable whose
 * name the scan could not know ("$$n = ...") was assigned, under its own
 * written name, where it may have set any variable. A walk of the variable
 * list, at most QZ_MAX_REQUEST_GLOBAL_CHECKS per scan. */
static bool call_no_named_assignment() {
  if (call_request_global_checks >= QZ_MAX_REQUEST_GLOBAL_CHECKS) return false;
  call_request_global_checks++;
  for (const _qz_token* v = php_rt_state.var_list; v; v = v->next) {
    if (v->name && v->name[0] == '$' && v->name[1] == '$' && v->value.assign_time) {
      call_variables_imported = true; /* such an assignment is never undone */
      return false;
    }
  }
  return true;
}

/* Whether arg, the first argument of a code or command function, is a
 * variable the script never assigned, in its top-level code outside loop
 * bodies (where it may be a loop variable over values the scan does not
 * know), with nothing met so far that might have given it a value: as old
 * PHP made request items variables of the script, it holds what the
 * request sent. PHP's own top-level variables are not such. */
static bool call_is_request_global(_qz_token* arg) {
  return call_is_unassigned_variable(arg) && call_no_named_assignment();
}

/* Whether v holds nothing, or the text that stands for a value the scan
 * could not know (qz_invalid_string). */
static bool call_holds_no_text(const _qz_value& v) {
  return v.type == TOKEN_NONE ||
         (v.type == TOKEN_LITERAL && v.ptr && v.ptr == qz_engine_invalid_string_handle);
}

/* Whether arg, the first argument of a code or command function read in the
 * top-level code outside loops, is an item of an array variable that was
 * never assigned where it was read (QZ_VALUE_GLOBAL_ITEM) and still holds no
 * text: old PHP's request globals made request arrays such variables too. */
static bool call_is_request_global_item(const _qz_token* arg) {
  return arg && (arg->value.spare1 & QZ_VALUE_GLOBAL_ITEM) && call_holds_no_text(arg->value) &&
         call_at_top_level() && call_no_named_assignment();
}

void php_call_note_self_clean(_qz_token* var) {
  if (!(qz_engine_options & QZ_OPT_INTERPRETER_REACH) ||
      call_self_cleaned.size() >= QZ_MAX_REQUEST_GLOBAL_CHECKS || !call_is_unassigned_variable(var))
    return;
  if (const _qz_token* entry = php_reference_globals(var)) call_self_cleaned.push_back(entry);
}

/* Whether arg, the first argument of a code or command function, is a
 * variable whose one value came from "$v = clean($v)" while nothing had
 * assigned it (php_call_note_self_clean), read in top-level code outside
 * loop bodies: old PHP's request globals, cleaned the way scripts of its
 * time cleaned them. */
static bool call_is_self_cleaned(_qz_token* arg) {
  if (call_self_cleaned.empty() || !call_reads_top_level_variable(arg)) return false;
  const _qz_token* entry = php_reference_globals(arg);
  return entry && entry->value.assign_time == 1 &&
         std::find(call_self_cleaned.begin(), call_self_cleaned.end(), entry) !=
             call_self_cleaned.end() &&
         call_no_named_assignment();
}

/* isset or empty of variables: each that call_is_unassigned_variable finds
 * never assigned is kept as one the script expects from outside. (The walk
 * for variable variables waits for a command that joins it, so that asking
 * about many variables spends none of that walk's budget.) */
static void call_note_tested_global(const char* name, const std::vector<_qz_token*>& args) {
  if (!(call_kinds_of(name) & CALL_KIND_ASKS_SET)) return;
  for (_qz_token* a : args) {
    if (call_tested_globals.size() >= QZ_MAX_REQUEST_GLOBAL_CHECKS ||
        !call_is_unassigned_variable(a))
      continue;
    const _qz_token* entry = php_reference_globals(a);
    if (entry && std::find(call_tested_globals.begin(), call_tested_globals.end(), entry) ==
                     call_tested_globals.end())
      call_tested_globals.push_back(entry);
  }
}

/* Whether the text of arg, the first argument of a code or command
 * function run in the top-level code outside loops, names a variable of
 * call_tested_globals that still holds nothing ("$cmd 2>&1" where $cmd was
 * never assigned): the script joins into what it runs a value it expected
 * from outside, as old PHP's request globals gave it. */
static bool call_joins_tested_global(_qz_token* arg) {
  if (call_tested_globals.empty() || !call_at_top_level()) return false;
  const char* text = php_value_text(call_resolved(arg)->value);
  if (!text) return false;
  for (const _qz_token* entry : call_tested_globals) {
    if (!entry->name || entry->value.type != TOKEN_NONE || entry->value.assign_time != 0) continue;
    size_t len = std::strlen(entry->name);
    for (const char* at = std::strstr(text, entry->name); at; at = std::strstr(at + 1, entry->name))
      if (!php_lex_is_word_byte(at[len])) return call_no_named_assignment();
  }
  return false;
}

/* Whether arg, the first argument of a code or command function, is a field
 * of the object ("$this->cmd" reads as the word "cmd") that nothing in the
 * scan assigned, read while PHP's own hooks of an unserialized object run
 * (__wakeup, __destruct...) in a scan that unserialized request data: the
 * serialized text sets such fields, so they hold what the request sent. */
static bool call_is_unserialized_field(_qz_token* arg) {
  if (!call_unserialized_request || !php_function_in_unserialize_hook() || !arg ||
      arg->type != TOKEN_WORD || !arg->name || arg->ref || arg->value.type != TOKEN_NONE)
    return false;
  for (const char* c = arg->name; *c; c++)
    if (!php_lex_is_word_byte(*c) || (c == arg->name && *c >= '0' && *c <= '9')) return false;
  const _qz_token* entry = php_lookup_global_variable(arg->name);
  return !entry || (entry->value.type == TOKEN_NONE && entry->value.assign_time == 0);
}

/* ---- Loops (extended reading) ------------------------------------------ */

unsigned long php_call_loop_depth = 0;

php_call_foreach_bodies::~php_call_foreach_bodies() {
  while (!open_.empty()) close_last();
}

void php_call_foreach_bodies::opened() { pending_++; }

void php_call_foreach_bodies::close_last() {
  open_.pop_back();
  if (php_call_loop_depth) php_call_loop_depth--;
}

/* With no body open or about to open nothing is tracked (see): a body's end
 * is found from the brace depth at which it began, whatever the depth was. */
void php_call_foreach_bodies::see_in_body(const _qz_token* tk) {
  if (!tk || !tk->name) return;
  /* A one-statement body ends once its statement, which the ";" before
   * ended, has run. */
  for (; closing_ && !open_.empty(); closing_--) close_last();
  closing_ = 0;
  const bool opens = qz_token_is_sep(tk, qz_engine_lleft_handle);
  for (; pending_; pending_--) {
    kind how = opens ? BRACED : std::strcmp(tk->name, ":") == 0 ? COLON : STATEMENT;
    open_.push_back(body{how, how == BRACED ? depth_ + 1 : depth_});
    php_call_loop_depth++;
  }
  /* Of the other tokens only separators move a body's bounds, and the word
   * that ends a body opened by ":". */
  if (tk->type != TOKEN_SEPARATOR) {
    if (!open_.empty() && open_.back().how == COLON &&
        qz_ascii_fold_equal()(tk->name, "endforeach"))
      close_last();
    return;
  }
  if (opens) {
    depth_++;
  } else if (qz_token_is_sep(tk, qz_engine_lright_handle)) {
    /* A "}" ends the braced body it closes, and any other body that began
     * inside the group it closes. */
    while (!open_.empty() && open_.back().depth >= depth_) close_last();
    if (depth_) depth_--;
  } else if (qz_token_is_sep(tk, qz_engine_quote_handle)) {
    for (size_t i = open_.size();
         i > 0 && open_[i - 1].how == STATEMENT && open_[i - 1].depth == depth_; i--)
      closing_++;
  }
}

bool php_paren_opens_call(const _qz_token* prev) {
  if (!(qz_engine_options & QZ_OPT_INTERPRETER_REACH)) return true;
  if (!prev || prev->type == TOKEN_OPERATOR) return false;
  const char* n = prev->name;
  if (!n) return false;
  if (prev->type == TOKEN_LITERAL) return true;
  /* After ")" and "]" the evaluator calls the value just made itself. */
  if (php_is_char_seperator(n[0]) || n[0] == '^' || n[0] == '~') return false;
  static const char* const expression_keywords[] = {"echo", "print", "return", "and",  "or",
                                                    "xor",  "case",  "else",   "yield"};
  /* Most names are longer than any keyword or start with another letter:
   * settled before any comparison, on the hot path of every "(". */
  size_t len = strnlen(n, 7);
  if (len < 2 || len > 6 || !std::strchr("epraoxcyEPRAOXCY", n[0])) return true;
  for (const char* k : expression_keywords)
    if (qz_ascii_fold_equal()(n, k)) return false;
  return true;
}

/* One bit per php_limit_kind already reported in this scan. */
static unsigned long call_limits_reported;

void php_call_limits_reset() { call_limits_reported = 0; }

void php_call_limit_reached(php_limit_kind limit, unsigned long line) {
  static const char* const texts[PHP_LIMIT_KIND_COUNT] = {
      "nested_runs", "runs_per_scan", "eval_bytes",       "explode_pieces",
      "call_depth",  "string_length", "statement_tokens", "function_walks"};
  qz_scan_note(QZ_SCAN_LIMIT_REACHED);
  if (!(qz_engine_options & QZ_OPT_LIMIT_FINDINGS) || limit >= PHP_LIMIT_KIND_COUNT) return;
  unsigned long bit = 1ul << limit;
  if (call_limits_reported & bit) return;
  call_limits_reported |= bit;
  _fcall_argument arg;
  std::memset(&arg, 0, sizeof arg);
  arg.value = texts[limit];
  char name[] = QZ_LIMIT_MARKER;
  qz_engine_call_fcall_filter(line, 0, name, 0, &arg, 1);
}

/* "$$f" and "$$$f" are calls of "$f": leading characters are dropped while the
 * second one is a dollar. A variable entry keeps its own name (the variable
 * list is keyed by it); only statement tokens and markers are renamed. */
static void call_normalise_name(_qz_token* call) {
  const char* n = call->name;
  if (!n) return;
  while (n[0] && n[1] == '$') n++;
  if (n == call->name) return;
  char* interned = qz_engine_insert_sym(const_cast<char*>(n));
  if (interned && !php_variable_is_entry(call)) call->name = interned;
}

/* A callee's text, except that extended reading reports the text of a value
 * the interpreter could not know under the unknown callee's name, and a
 * text that holds request data anywhere ("as" . $_GET['x']) under the
 * marker of that data, as when the request sent the whole name: the
 * request chooses the function. Text that came out of a decoder keeps its
 * " qz_decoded" after the marker. */
static const char* call_text_name(const char* text) {
  if (!(qz_engine_options & QZ_OPT_INTERPRETER_REACH) || !text) return text;
  if (std::strcmp(text, qz_invalid_string_text()) == 0) return QZ_UNKNOWN_CALLEE;
  const char* marker = php_text_request_marker_in(text);
  if (!marker || std::strcmp(text, marker) == 0) return text;
  /* A method the request picks on an object of the script's is a
   * dispatcher's doing; only a free function so named is chosen. */
  if (text[0] == '-' || std::strstr(text, "::")) return text;
  static const char decoded[] = " " QZ_DECODED_TEXT;
  const char* tail = std::strstr(text, decoded);
  if (!tail) return marker;
  /* Interned by the caller before another name is settled. */
  static std::string named;
  named.assign(marker).append(decoded);
  return named == text ? text : named.c_str();
}

/* The name the call is reported under, or null when it cannot be settled. */
static const char* call_settle_name(_qz_token* call, _qz_token* g, bool* fault) {
  *fault = false;
  if (g->value.type == TOKEN_STRING) {
    if (!g->value.ptr) {
      *fault = true;
      return nullptr;
    }
    return call_text_name(static_cast<_qz_string*>(g->value.ptr)->text);
  }
  if (g->value.type == TOKEN_LITERAL) return call_text_name(static_cast<const char*>(g->value.ptr));
  if (php_extract_called && g->value.type == TOKEN_NONE && g->name && g->name[0] == '$' &&
      !php_lib_lookup_internal_function_by_name(call->name))
    return qz_engine_dangerous_call;
  /* Extended reading: a callee that has no text (a variable never given
   * one, the number a call returned) is reported under one name. */
  if ((qz_engine_options & QZ_OPT_INTERPRETER_REACH) &&
      (!call->name ||
       (call->name[0] == '$' && g->value.type == TOKEN_NONE &&
        !php_text_is_request_marker(call->name)) ||
       g->value.type == TOKEN_INTEGER))
    return QZ_UNKNOWN_CALLEE;
  return call->name;
}

_qz_token* php_call_arg_entry(_qz_token* arg) {
  if ((qz_engine_options & QZ_OPT_INTERPRETER_REACH) && arg && arg->type == TOKEN_LITERAL)
    return arg;
  return php_reference_globals(arg);
}

/* The token whose value an argument of a call stands for: the variable entry
 * named as the argument, else the argument itself. */
static _qz_token* call_resolved(_qz_token* arg) {
  _qz_token* v = php_call_arg_entry(arg);
  return v ? v : arg;
}

/* Fills one reported argument from the value the argument stands for. */
static void call_fill_record(_fcall_argument* rec, _qz_token* arg) {
  _qz_token* v = call_resolved(arg);
  const char* fallback = v->name ? v->name : qz_invalid_string_text();
  switch (v->value.type) {
    case TOKEN_INTEGER:
      php_l64a(v->value.lval, rec->buf);
      rec->value = rec->buf;
      break;
    case TOKEN_STRING:
      rec->value = v->value.ptr ? static_cast<_qz_string*>(v->value.ptr)->text : fallback;
      break;
    case TOKEN_LITERAL:
      rec->value = v->value.ptr ? static_cast<const char*>(v->value.ptr) : fallback;
      break;
    default: rec->value = fallback; break;
  }
  /* Extended reading: text a decoder made is reported with the decoder
   * marker after it, so that rules see its origin while the text itself is
   * walked as it decodes. */
  if ((v->value.spare1 & QZ_VALUE_DECODED) && (qz_engine_options & QZ_OPT_INTERPRETER_REACH) &&
      rec->value && !std::strstr(rec->value, qz_engine_decode_handle)) {
    std::string marked = std::string(rec->value) + " " + qz_engine_decode_handle;
    if (_qz_string* s = qz_string_alloc_n(marked.data(), marked.size())) rec->value = s->text;
  }
}

/* ---- Argument lists (extended reading) --------------------------------- */

/* Functions that start a program from an argument list held in an array,
 * without a shell: the position of that array. Reported as one text, the
 * rules read what the program is handed as they read a command line. */
static const struct {
  const char* name;
  unsigned long position;
} call_argv_rows[] = {
    {"pcntl_exec", 1},
};

/* The items of the argument list v as one text, joined by blanks, in a
 * string of the scan: every item's text (an integer in decimal; an item
 * without text is left out), or the item marker of a request array. Items
 * that would take the text past QZ_MAX_STRING_LENGTH are left out. Null
 * when v is no array or memory runs out. */
static const char* call_argv_text(const _qz_value& v) {
  if (v.type != TOKEN_ARRAY || !v.ptr) return nullptr;
  const _qz_array* arr = static_cast<_qz_array*>(v.ptr);
  if (arr->item_marker) return arr->item_marker;
  std::string out;
  for (const _qz_bucket* b = arr->head; b; b = b->next) {
    const char* text = php_value_text(b->value);
    std::string item = text                             ? std::string(text)
                       : b->value.type == TOKEN_INTEGER ? std::to_string(b->value.lval)
                                                        : std::string();
    if (item.empty()) continue;
    if (out.size() + item.size() + 1 > QZ_MAX_STRING_LENGTH) break;
    if (!out.empty()) out += ' ';
    out += item;
  }
  _qz_string* s = qz_string_alloc_n(out.data(), out.size());
  return s ? s->text : nullptr;
}

/* Reports the argument list of a call of call_argv_rows as its text. */
static void call_fill_argv(const char* name, const std::vector<_qz_token*>& args,
                           _fcall_argument* records) {
  if (!(call_kinds_of(name) & CALL_KIND_ARGV)) return;
  for (const auto& row : call_argv_rows) {
    if (row.position >= args.size() || !qz_ascii_fold_equal()(name, row.name)) continue;
    if (const char* text = call_argv_text(php_variable_value(args[row.position])))
      records[row.position].value = text;
  }
}

/* Whether the argument arg stands for request data: a request array, or a
 * request marker's text. */
static bool call_is_request(_qz_token* arg) {
  _qz_token* v = call_resolved(arg);
  const _qz_value& value = v->ref ? *v->ref : v->value;
  if (value.type == TOKEN_ARRAY && value.ptr)
    return static_cast<_qz_array*>(value.ptr)->item_marker;
  return php_text_is_request_marker(php_value_text(value));
}

/* The decoders whose output carries QZ_VALUE_DECODED. */
static bool call_is_decoder(const char* name) {
  static const char* const decoders[] = {"base64_decode", "gzinflate", "gzuncompress",
                                         "gzdecode",      "str_rot13", "convert_uudecode",
                                         "hex2bin"};
  for (const char* d : decoders)
    if (qz_ascii_fold_equal()(name, d)) return true;
  return false;
}

/* Extended reading: a built-in's text result carries QZ_VALUE_DECODED when
 * the built-in decodes or any argument carried it. */
static void call_mark_decoded(const char* name, const std::vector<_qz_token*>& args,
                              _qz_token* result) {
  if (!result || !(qz_engine_options & QZ_OPT_INTERPRETER_REACH)) return;
  if (result->value.type != TOKEN_STRING && result->value.type != TOKEN_LITERAL) return;
  bool decoded = call_is_decoder(name);
  for (size_t i = 0; i < args.size() && !decoded; i++)
    decoded = (call_resolved(args[i])->value.spare1 & QZ_VALUE_DECODED) != 0;
  if (decoded) result->value.spare1 |= QZ_VALUE_DECODED;
}

/* Extended reading: whether any argument is the script's own path
 * (__FILE__ or __DIR__, which the scan gives no text) or a value made
 * from it: a built-in's result then carries QZ_VALUE_OWN_PATH. */
static bool call_reads_own_path(const std::vector<_qz_token*>& args) {
  for (_qz_token* a : args) {
    if (a->type == TOKEN_WORD && a->value.type == TOKEN_NONE && a->name && a->name[0] == '_' &&
        a->name[1] == '_' &&
        (qz_ascii_fold_equal()(a->name, "__FILE__") || qz_ascii_fold_equal()(a->name, "__DIR__")))
      return true;
    /* Values only carry the mark once a built-in of the scan read the path. */
    if (call_own_path_made && (call_resolved(a)->value.spare1 & QZ_VALUE_OWN_PATH)) return true;
  }
  return false;
}

/* ---- Callbacks (extended reading) ------------------------------------ */

/* How a function that takes a callback hands it its arguments. */
enum call_pass {
  PASS_REST,   /* the arguments after the callback */
  PASS_ITEMS,  /* an item of the array argument `array` */
  PASS_VALUE,  /* the argument `array` itself */
  PASS_NONE,   /* nothing the script shows */
  PASS_COOKIE, /* the session id, which the request's cookie chooses */
};

struct call_callback_row {
  const char* name;
  int callback; /* position of the callback; -1: the last argument */
  call_pass pass;
  int array; /* the argument PASS_ITEMS and PASS_VALUE hand on */
};

static const call_callback_row call_callback_rows[] = {
    {"call_user_func", 0, PASS_REST, 0},
    {"call_user_func_array", 0, PASS_ITEMS, 1},
    {"forward_static_call", 0, PASS_REST, 0},
    {"forward_static_call_array", 0, PASS_ITEMS, 1},
    {"register_shutdown_function", 0, PASS_REST, 0},
    {"register_tick_function", 0, PASS_REST, 0},
    {"array_map", 0, PASS_ITEMS, 1},
    {"array_filter", 1, PASS_ITEMS, 0},
    {"array_walk", 1, PASS_ITEMS, 0},
    {"array_walk_recursive", 1, PASS_ITEMS, 0},
    {"array_reduce", 1, PASS_ITEMS, 0},
    {"usort", 1, PASS_ITEMS, 0},
    {"uasort", 1, PASS_ITEMS, 0},
    {"uksort", 1, PASS_ITEMS, 0},
    {"iterator_apply", 1, PASS_NONE, 0},
    {"preg_replace_callback", 1, PASS_VALUE, 2},
    {"mb_ereg_replace_callback", 1, PASS_VALUE, 2},
    {"ob_start", 0, PASS_NONE, 0},
    {"set_error_handler", 0, PASS_NONE, 0},
    {"set_exception_handler", 0, PASS_NONE, 0},
    {"spl_autoload_register", 0, PASS_NONE, 0},
    {"session_set_save_handler", 2, PASS_COOKIE, 0}, /* its "read" handler */
    {"header_register_callback", 0, PASS_NONE, 0},
    {"array_udiff", -1, PASS_ITEMS, 0},
    {"array_udiff_assoc", -1, PASS_ITEMS, 0},
    {"array_udiff_uassoc", -1, PASS_ITEMS, 0},
    {"array_diff_ukey", -1, PASS_ITEMS, 0},
    {"array_diff_uassoc", -1, PASS_ITEMS, 0},
    {"array_uintersect", -1, PASS_ITEMS, 0},
    {"array_uintersect_assoc", -1, PASS_ITEMS, 0},
    {"array_intersect_ukey", -1, PASS_ITEMS, 0},
    {"array_intersect_uassoc", -1, PASS_ITEMS, 0},
};

/* Callbacks being called inside one another now. */
static unsigned long call_callback_depth = 0;

/* Calls `callee` as the script would through a callback, with the values
 * `pass` as its arguments: the call is made and reported like one written
 * out, on `line`. Returns its result (the scan's), or null when the call
 * could not be made. */
static _qz_token* call_through_callback(const char* callee, const std::vector<_qz_value>& pass,
                                        unsigned long line) {
  char* name = qz_engine_insert_sym(const_cast<char*>(callee));
  _qz_token* call = name ? qz_token_alloc(TOKEN_CALL, TOKEN_NONE, line) : nullptr;
  _qz_token* splitter = call ? qz_token_alloc(TOKEN_ARG_SPLITTER, TOKEN_ARG_SPLITTER, 0) : nullptr;
  if (!splitter) return nullptr;
  call->name = name;
  php_rt_state.arg_stk.push_back(splitter);
  for (const _qz_value& v : pass) {
    _qz_token* arg = qz_token_alloc(TOKEN_WORD, v.type, line);
    if (!arg) continue;
    arg->value = v;
    php_rt_state.arg_stk.push_back(arg);
  }
  /* Counted down on every way out, a throw included. */
  struct depth_guard {
    depth_guard() { call_callback_depth++; }
    ~depth_guard() { call_callback_depth--; }
  } depth;
  return php_call_wrapper(call, nullptr);
}

/* The row of a function that takes a callback, or null; found by name with
 * letter case folded, without a walk of the table on every call. */
static const call_callback_row* call_callback_row_of(const char* name) {
  static const auto index = [] {
    std::unordered_map<const char*, const call_callback_row*, qz_ascii_fold_hash,
                       qz_ascii_fold_equal>
        rows;
    for (const call_callback_row& row : call_callback_rows) rows.emplace(row.name, &row);
    return rows;
  }();
  auto it = index.find(name);
  return it == index.end() ? nullptr : it->second;
}

/* The function a callback value names: its text, or for a pair
 * [object, 'method'] the method "->method", for ['Class', 'method']
 * "Class::method"; for a request array, its item marker. Empty when it
 * names none. */
static std::string call_callback_callee(const _qz_value& v) {
  if (const char* text = php_value_text(v)) return text;
  if (v.type != TOKEN_ARRAY || !v.ptr) return std::string();
  const _qz_array* arr = static_cast<_qz_array*>(v.ptr);
  /* A request array ("usort(...$_GET)"): the request names the function. */
  if (const char* marker = php_array_request_marker(arr)) return marker;
  const _qz_bucket* first = arr->head;
  const _qz_bucket* second = first ? first->next : nullptr;
  const char* method = second && !second->next ? php_value_text(second->value) : nullptr;
  if (!method || !method[0]) return std::string();
  const char* cls = php_value_text(first->value);
  return cls && cls[0] && cls[0] != '$' ? std::string(cls) + "::" + method
                                        : std::string("->") + method;
}

/* filter_var(value, FILTER_CALLBACK, ['options' => callback]): the callback
 * named under "options" (empty when there is none). */
static std::string call_filter_callback(const std::vector<_qz_token*>& args) {
  if (args.size() < 3) return std::string();
  /* The constant is a bare word: its name is its text. */
  const char* filter = php_value_text(php_variable_value(args[1]));
  if (!filter) filter = args[1]->name;
  if (!filter || (std::strcmp(filter, "FILTER_CALLBACK") != 0 && std::strcmp(filter, "1024") != 0))
    return std::string();
  _qz_value options = php_variable_value(args[2]);
  if (options.type != TOKEN_ARRAY || !options.ptr) return std::string();
  for (_qz_bucket* b = static_cast<_qz_array*>(options.ptr)->head; b; b = b->next)
    if (b->key && std::strcmp(b->key, "options") == 0) return call_callback_callee(b->value);
  return std::string();
}

/* array_map(callee, arr) with a callback the scan can follow (a built-in or
 * the script's own function). Over an array the scan knows, of at most
 * QZ_ARRAY_MAP_ITEMS items: a new array of what the callback gives for each
 * item, in order; the first item's call is reported as any callback's, the
 * others are walked quietly. Over a request array, whose items the scan
 * does not know, the callback is called with its item marker, and when
 * what it gives still holds request data (trim, stripslashes...) the result
 * is a request array too. *called tells whether the callback was called;
 * null for any other array, callback or outcome. */
static _qz_token* call_array_map(const std::string& callee, const _qz_value& v, unsigned long line,
                                 bool* called) {
  *called = false;
  if (v.type != TOKEN_ARRAY || !qz_array_is_live(v.ptr)) return nullptr;
  auto* in = static_cast<_qz_array*>(v.ptr);
  char* name = qz_engine_insert_sym(const_cast<char*>(callee.c_str()));
  if (!name || (!call_builtin_of(name) && !php_function_known(name))) return nullptr;
  const bool request = php_array_request_marker(in) != nullptr;
  const unsigned long size = request ? 1 : qz_array_size(in);
  if (size > QZ_ARRAY_MAP_ITEMS || size > QZ_ARRAY_MAP_ITEMS_PER_SCAN - call_mapped_items)
    return nullptr;
  call_mapped_items += size;
  _qz_token* res = qz_token_alloc(TOKEN_WORD, TOKEN_ARRAY, line);
  _qz_array* out = res ? qz_array_alloc() : nullptr;
  if (!out) return nullptr;
  res->value.ptr = out;
  *called = true;
  if (request) {
    _qz_value marker{};
    marker.type = TOKEN_LITERAL;
    marker.ptr = in->item_marker;
    _qz_token* r = call_through_callback(name, {marker}, line);
    if (!r || !php_value_holds_request(r->value)) return nullptr;
    out->item_marker = in->item_marker;
    return res;
  }
  bool first = true;
  /* Counted: a callback may grow the array it is mapping. */
  unsigned long left = size;
  for (_qz_bucket* b = in->head; b && left; b = b->next, left--) {
    if (!first) php_call_quiet++;
    _qz_token* r = call_through_callback(name, {b->value}, line);
    if (!first) php_call_quiet--;
    first = false;
    _qz_value item = r ? r->value : _qz_value{};
    if (!qz_array_push(out, &item)) break;
  }
  return res;
}

/* What the last array_map mapped (call_array_map), for the call to give. */
static _qz_token* call_mapped = nullptr;

/* When `name` takes a callback that names a function (a text, a recorded
 * anonymous function's name, request data), that function is called with
 * what the callback would get. */
static void call_callbacks(const char* name, const std::vector<_qz_token*>& args,
                           unsigned long line) {
  call_mapped = nullptr;
  if (!(qz_engine_options & QZ_OPT_INTERPRETER_REACH) || args.empty() ||
      call_callback_depth >= QZ_MAX_CALLBACK_DEPTH || !(call_kinds_of(name) & CALL_KIND_CALLBACK))
    return;
  if (qz_ascii_fold_equal()(name, "filter_var")) {
    std::string callee = call_filter_callback(args);
    if (!callee.empty()) call_through_callback(callee.c_str(), {php_variable_value(args[0])}, line);
    return;
  }
  const call_callback_row* row = call_callback_row_of(name);
  if (!row) return;
  size_t cb = row->callback < 0 ? args.size() - 1 : static_cast<size_t>(row->callback);
  if (cb >= args.size()) return;
  std::string callee = call_callback_callee(php_variable_value(args[cb]));
  if (callee.empty()) return;
  if (args.size() == 2 && qz_ascii_fold_equal()(name, "array_map")) {
    bool called = false;
    call_mapped = call_array_map(callee, php_variable_value(args[1]), line, &called);
    if (called) return;
  }
  std::vector<_qz_value> pass;
  if (row->pass == PASS_COOKIE) {
    _qz_value id{};
    id.type = TOKEN_LITERAL;
    id.ptr = qz_engine_insert_sym(const_cast<char*>("$_COOKIE_DATA"));
    if (id.ptr) pass.push_back(id);
  } else if (row->pass == PASS_REST) {
    for (size_t i = cb + 1; i < args.size(); i++) pass.push_back(php_variable_value(args[i]));
  } else if (row->pass != PASS_NONE && static_cast<size_t>(row->array) < args.size()) {
    _qz_value v = php_variable_value(args[row->array]), item;
    if (row->pass == PASS_VALUE || !php_value_first_item(v, &item, nullptr)) item = v;
    pass.push_back(item);
  }
  call_through_callback(callee.c_str(), pass, line);
}

/* The result of the last call that nothing else holds, or null. */
static const _qz_token* call_own_result = nullptr;

bool php_call_result_is_own(const _qz_token* r) { return r && r == call_own_result; }

/* Whether a call of name made inside a loop body is reported once more
 * under PHP_CALL_IN_LOOP_MARKER: the functions that send mail. */
static bool call_reported_in_loop(const char* name) {
  return (call_kinds_of(name) & CALL_KIND_MAIL) != 0;
}

/* Registered names that are the engine's own, not functions of PHP: a
 * script may define functions of these names. */
static const char* const call_engine_builtins[] = {"qz_array_item", "qz_var_var", "getconstant",
                                                   "_qz_dump_"};

/* The built-in an interned name (the scan's copy, so one address per
 * text) calls, or null. */
static _php_function_map* call_builtin_of(char* name) {
  auto& slot = call_builtins[qz_sym_cache_slot_of(name)];
  if (slot.name == name) return slot.f;
  slot.name = name;
  slot.f = php_lib_lookup_internal_function_by_name(name);
  /* Methods ("->name") and constructors ("new Name") are no functions. */
  slot.php_function = slot.f && !std::strpbrk(name, "-> ");
  for (const char* own : call_engine_builtins)
    if (slot.php_function && qz_ascii_fold_equal()(name, own)) slot.php_function = false;
  return slot.f;
}

/* Extended reading: the built-in a call of name runs even when the script
 * defines a function of that name, or null. PHP refuses to declare a
 * function a built-in already has, so a script's function of that name is a
 * stand-in declared only where the built-in is missing ("if
 * (!function_exists(...)) { function apache_request_headers() ... }"):
 * where the built-in is, the built-in runs. Methods, constructors and the
 * engine's own names keep the script's definitions. */
static _php_function_map* call_php_builtin_of(char* name) {
  _php_function_map* f = call_builtin_of(name);
  return f && call_builtins[qz_sym_cache_slot_of(name)].php_function ? f : nullptr;
}

static unsigned char call_kinds_of(const char* name) {
  auto& slot = call_kinds[qz_sym_cache_slot_of(name)];
  if (slot.name == name) return slot.kinds;
  slot.name = name;
  unsigned char& kinds = slot.kinds;
  static const struct {
    const char* name;
    unsigned char kinds;
  } rows[] = {
      {"include", CALL_KIND_IMPORTS | CALL_KIND_INCLUDE},
      {"include_once", CALL_KIND_IMPORTS | CALL_KIND_INCLUDE},
      {"require", CALL_KIND_IMPORTS | CALL_KIND_INCLUDE},
      {"require_once", CALL_KIND_IMPORTS | CALL_KIND_INCLUDE},
      {"extract", CALL_KIND_IMPORTS},
      {"parse_str", CALL_KIND_IMPORTS},
      {"mb_parse_str", CALL_KIND_IMPORTS},
      {"import_request_variables", CALL_KIND_IMPORTS | CALL_KIND_IMPORTS_REQUEST},
      {"qz_var_var", CALL_KIND_IMPORTS},
      {"system", CALL_KIND_CODE_OR_COMMAND},
      {"exec", CALL_KIND_CODE_OR_COMMAND},
      {"passthru", CALL_KIND_CODE_OR_COMMAND},
      {"shell_exec", CALL_KIND_CODE_OR_COMMAND},
      {"popen", CALL_KIND_CODE_OR_COMMAND},
      {"proc_open", CALL_KIND_CODE_OR_COMMAND},
      {"pcntl_exec", CALL_KIND_CODE_OR_COMMAND | CALL_KIND_ARGV},
      {"eval", CALL_KIND_CODE_OR_COMMAND},
      {"assert", CALL_KIND_CODE_OR_COMMAND},
      {"mail", CALL_KIND_MAIL},
      {"mb_send_mail", CALL_KIND_MAIL},
      {"imap_mail", CALL_KIND_MAIL},
      {"isset", CALL_KIND_ASKS_SET},
      {"empty", CALL_KIND_ASKS_SET},
  };
  kinds = 0;
  for (const auto& row : rows)
    if (qz_ascii_fold_equal()(name, row.name)) kinds |= row.kinds;
  if (call_callback_row_of(name) || qz_ascii_fold_equal()(name, "filter_var"))
    kinds |= CALL_KIND_CALLBACK;
  return kinds;
}

/* Reports the call of name with its n argument records again, under the
 * marker (PHP_CALL_IN_LOOP_MARKER, PHP_CALL_SPELLED_MARKER) with name as the
 * first argument. The filter takes the marker as writable text: it gets a
 * copy. */
template <size_t N>
static void call_report_again(const char (&marker_text)[N], unsigned long line, const char* name,
                              const _fcall_argument* records, unsigned long n) {
  char marker[N];
  std::memcpy(marker, marker_text, N);
  std::vector<_fcall_argument> again(n + 1);
  std::memset(again.data(), 0, sizeof(_fcall_argument));
  again[0].value = name;
  for (unsigned long i = 0; i < n; i++) again[i + 1] = records[i];
  qz_engine_call_fcall_filter(line, 0, marker, 0, again.data(), n + 1);
}

/* The file written under `path`, made (empty) when `make` and there is room;
 * null otherwise. */
static call_written_file* call_written_at(const char* path, bool make) {
  if (!path || !path[0]) return nullptr;
  for (call_written_file& w : call_written)
    if (w.path == path) return &w;
  if (!make || call_written.size() >= QZ_MAX_WRITTEN_FILES) return nullptr;
  call_written.push_back({path, ""});
  return &call_written.back();
}

/* Adds text to what a written file holds, within QZ_MAX_WRITTEN_FILE_BYTES. */
static void call_written_add(call_written_file* w, const char* text) {
  if (!w || !text) return;
  size_t room = QZ_MAX_WRITTEN_FILE_BYTES - std::min(w->text.size(), QZ_MAX_WRITTEN_FILE_BYTES);
  w->text.append(text, strnlen(text, room));
}

/* Follows what a reported call of name writes into files, from the texts of
 * its argument records: file_put_contents replaces a file's text (adds to
 * it with FILE_APPEND), fopen for writing makes a file ("w" empties it),
 * fwrite and fputs add to the file of the handle fopen gave. */
static void call_note_write(const char* name, const _fcall_argument* records, unsigned long n) {
  /* All four names begin with an "f": most calls are settled by it. */
  if (n < 2 || (name[0] != 'f' && name[0] != 'F') || !records[0].value || !records[1].value) return;
  const char* first = records[0].value;
  if (qz_ascii_fold_equal()(name, "file_put_contents")) {
    const bool append = n >= 3 && records[2].value && std::strstr(records[2].value, "FILE_APPEND");
    call_written_file* w = call_written_at(first, true);
    if (w && !append) w->text.clear();
    call_written_add(w, records[1].value);
  } else if (qz_ascii_fold_equal()(name, "fopen")) {
    const char mode = records[1].value[0];
    if (mode != 'w' && mode != 'a' && mode != 'x' && mode != 'c') return;
    call_written_file* w = call_written_at(first, true);
    if (w && mode == 'w') w->text.clear();
  } else if (qz_ascii_fold_equal()(name, "fwrite") || qz_ascii_fold_equal()(name, "fputs")) {
    static const char handle[] = PHP_CALL_WRITE_HANDLE_PREFIX;
    if (std::strncmp(first, handle, sizeof handle - 1) == 0)
      call_written_add(call_written_at(first + sizeof handle - 1, false), records[1].value);
  }
}

/* Reports an include of a file the script wrote as a call of
 * PHP_CALL_INCLUDES_WRITTEN_MARKER with the file's text and its path. */
static void call_report_written_include(unsigned long line, const char* name,
                                        const _fcall_argument* records, unsigned long n) {
  if (n < 1 || call_written.empty() || !(call_kinds_of(name) & CALL_KIND_INCLUDE)) return;
  const char* path = records[0].value;
  const call_written_file* w = call_written_at(path, false);
  /* "key.txt" names the file written as dirname(__FILE__) . '/key.txt' too,
   * whose folder the scan may not know. */
  for (size_t i = 0; !w && path && !std::strchr(path, '/') && i < call_written.size(); i++) {
    const std::string& p = call_written[i].path;
    const size_t slash = p.rfind('/');
    if (slash != std::string::npos && p.compare(slash + 1, std::string::npos, path) == 0)
      w = &call_written[i];
  }
  if (!w) return;
  _fcall_argument ran[2];
  std::memset(ran, 0, sizeof ran);
  ran[0].value = w->text.c_str();
  ran[1].value = w->path.c_str();
  char marker[] = PHP_CALL_INCLUDES_WRITTEN_MARKER;
  qz_engine_call_fcall_filter(line, 0, marker, 0, ran, 2);
}

/* The values a call spreading arg ("f(...$a)") receives, in source order:
 * the items of a known array, at most QZ_MAX_SPREAD_ARGS; for a request
 * array whose items the scan does not know, QZ_SPREAD_REQUEST_ARGS of its
 * item marker. Empty when arg holds no array (it is then passed as it is). */
static std::vector<_qz_value> call_spread_values(_qz_token* arg) {
  std::vector<_qz_value> out;
  _qz_token* v = call_resolved(arg);
  const _qz_value& value = v->ref ? *v->ref : v->value;
  if (value.type != TOKEN_ARRAY || !value.ptr) return out;
  auto* arr = static_cast<_qz_array*>(value.ptr);
  for (_qz_bucket* b = arr->head; b && out.size() < QZ_MAX_SPREAD_ARGS; b = b->next)
    out.push_back(b->value);
  if (out.empty() && arr->item_marker) {
    _qz_string* marker = qz_string_alloc(arr->item_marker);
    if (!marker) return out;
    _qz_value item{};
    item.type = TOKEN_STRING;
    item.ptr = marker;
    out.assign(QZ_SPREAD_REQUEST_ARGS, item);
  }
  return out;
}

/* Links the items a spread argument t passes (call_spread_values) behind
 * *tail and onto args, last first, and returns true; false, with t's mark
 * cleared and nothing linked, when t passes itself. Out of the argument
 * loop, which most calls run without a spread. */
static __attribute__((noinline)) bool call_take_spread(_qz_token* t, bool reach, _qz_token** head,
                                                       _qz_token** tail,
                                                       std::vector<_qz_token*>* args) {
  t->value.spare2 &= ~QZ_VALUE_SPREAD;
  std::vector<_qz_value> items = reach ? call_spread_values(t) : std::vector<_qz_value>();
  std::vector<_qz_token*> made;
  for (auto it = items.rbegin(); it != items.rend(); ++it) {
    _qz_token* item = qz_token_alloc(TOKEN_WORD, it->type, t->lineno);
    if (!item) break;
    item->value = *it;
    made.push_back(item);
  }
  if (made.empty() || made.size() != items.size()) {
    for (_qz_token* item : made) qz_token_free(item);
    return false;
  }
  for (_qz_token* item : made) {
    qz_token_link(head, tail, item);
    args->push_back(item);
  }
  return true;
}

_qz_token* php_call_wrapper(_qz_token* call, qz_io_handle* io) {
  (void)io;
  call_own_result = nullptr;
  if (!call) {
    qz_report_fault(QZ_FAULT_CALL_NAME_NULL);
    return call_zero(nullptr);
  }
  call_normalise_name(call);
  _qz_token* g = php_reference_globals(call);
  if (!g) g = call;

  bool fault;
  const char* settled = call_settle_name(call, g, &fault);
  /* Extended reading: an unknown callee a built-in made from the script's
   * own path is the one the file's name spells. */
  if (settled && (g->value.spare1 & QZ_VALUE_OWN_PATH) &&
      std::strcmp(settled, QZ_UNKNOWN_CALLEE) == 0)
    settled = QZ_OWN_NAME_CALLEE;
  /* Extended reading: "\\system()" and a text "\\system" call the global
   * function: one leading "\\" is dropped from a name with no other. */
  if (settled && settled[0] == '\\' && settled[1] && !std::strchr(settled + 1, '\\') &&
      (qz_engine_options & QZ_OPT_INTERPRETER_REACH))
    settled++;
  /* A name that cannot be settled, or an empty one, is reported as a fault
   * and the call is not made; its arguments stay where they are. */
  if (fault || !settled || !settled[0]) {
    qz_report_fault(QZ_FAULT_CALL_NAME_NULL);
    return call_zero(call);
  }
  char* name = qz_engine_insert_sym(const_cast<char*>(settled));
  if (!name) {
    qz_report_fault(QZ_FAULT_CALL_NAME_NULL);
    return call_zero(call);
  }
  const bool reach = (qz_engine_options & QZ_OPT_INTERPRETER_REACH) != 0;
  const bool spelled = reach && (g->value.spare1 & QZ_VALUE_SPELLED) &&
                       strnlen(name, PHP_CALL_SPELLED_MIN_LENGTH) == PHP_CALL_SPELLED_MIN_LENGTH;
  const bool extracts = qz_ascii_is(name, "extract") || (reach && qz_ascii_is(name, "parse_str"));
  if (extracts && !reach) php_extract_called = 1;
  /* Extended reading: every request item becomes a variable. */
  if (reach && (call_kinds_of(name) & CALL_KIND_IMPORTS_REQUEST)) php_extract_called = 1;

  /* Arguments come off last first; `args` keeps them in that order (and
   * is turned to source order below) and the same tokens are linked into
   * the list the built-in receives. */
  std::vector<_qz_token*> args;
  args.reserve(QZ_CALL_ARGS_RESERVED);
  _qz_token* head = nullptr;
  _qz_token* tail = nullptr;
  for (;;) {
    _qz_token* t = qz_pop_rt_arg();
    if (!t) {
      if (args.empty()) break;
      return call_zero(call);
    }
    if (t->type == TOKEN_ARG_SPLITTER) {
      qz_token_free(t);
      break;
    }
    if (php_extract_called && t->value.type == TOKEN_NONE) {
      t->value.type = TOKEN_LITERAL;
      t->value.ptr = qz_engine_dangerous_data;
    }
    /* Extended reading: a spread array passes its items, each an argument
     * of its own (taken last first, as the others are). */
    if (__builtin_expect((t->value.spare2 & QZ_VALUE_SPREAD) != 0, 0) &&
        call_take_spread(t, reach, &head, &tail, &args))
      continue; /* t is left to the scan's pool */
    qz_token_link(&head, &tail, t);
    args.push_back(t);
  }
  const unsigned long n = args.size();
  /* Extended reading: the first argument of a code or command function
   * read as request data, a variable set by old PHP's request globals
   * (decided before the call runs, which may assign it). */
  if (reach && n >= 1) call_note_tested_global(name, args);
  const bool request_global =
      reach && n >= 1 && call_is_code_or_command(name) &&
      (call_is_request_global(args.back()) || call_is_request_global_item(args.back()) ||
       call_is_self_cleaned(args.back()) || call_is_unserialized_field(args.back()) ||
       call_joins_tested_global(args.back()));
  if (reach && n >= 1 && (name[0] == 'u' || name[0] == 'U') &&
      qz_ascii_fold_equal()(name, "unserialize") &&
      php_value_holds_request(call_resolved(args.back())->value))
    call_unserialized_request = true;
  if (reach && call_imports_variables(name, n ? args.back()->name : nullptr))
    call_variables_imported = true;
  /* Extended reading: only variables made from request data (extract of a
   * request array, parse_str of request text into the scope) read as it. */
  if (extracts && reach && n >= 1 && (name[0] == 'e' || n == 1) && call_is_request(args.back()))
    php_extract_called = 1;
  /* Extended reading: "${...}" named by request data makes variables the
   * request chooses, as "$$k" in a loop over a request array does; a static
   * property "A::${...}" makes none. */
  if (reach && n == 1 && name[0] == 'q' && !(call->value.spare2 & QZ_VALUE_STATIC_NAME) &&
      qz_ascii_is(name, "qz_var_var") && call_is_request(args.back()))
    php_extract_called = 1;

  _qz_token* result = nullptr;
  _php_function_map* f = nullptr;
  std::reverse(args.begin(), args.end());
  const std::vector<_qz_token*>& in_order = args;
  call_callbacks(name, in_order, call->lineno);
  if (call_mapped) {
    result = call_mapped;
    call_mapped = nullptr;
  } else if (reach && (f = call_php_builtin_of(name))) {
    /* the built-in, not the script's stand-in */
  } else if (!php_function_call(name, in_order, call->lineno, &result)) {
    f = call_builtin_of(name);
    if (!f && reach) php_function_note_early_call(name, in_order, call->lineno);
  }
  bool decoded_text = false; /* the built-in gave text marked as decoded */
  if (f && (f->varargs || n >= f->argc)) {
    /* Code that the built-in evaluates is read as standing on the call's line. */
    unsigned long outer_line = php_call_line;
    php_call_line = call->lineno;
    bool property =
        reach && (call->value.spare2 & QZ_VALUE_STATIC_NAME) && qz_ascii_is(name, "qz_var_var");
    if (property) php_var_var_names_property(true);
    result = php_lib_call_wrapper(f, head);
    if (property) php_var_var_names_property(false);
    php_call_line = outer_line;
    call_mark_decoded(name, in_order, result);
    decoded_text = reach && result && (result->value.spare1 & QZ_VALUE_DECODED);
    if (reach && call_reads_own_path(in_order)) {
      if (!result) result = call_zero(call);
      if (result) result->value.spare1 |= QZ_VALUE_OWN_PATH;
      call_own_path_made = true;
    }
    /* An item of an array variable the top-level code never assigned. */
    if (reach && n == 2 && name == qz_engine_array_item_handle && result &&
        call_holds_no_text(result->value) && call_is_unassigned_array(in_order[0]))
      result->value.spare1 |= QZ_VALUE_GLOBAL_ITEM;
  }

  const bool quiet = php_call_quiet || php_function_quiet();
  if (quiet) {
    /* A repeated walk computes values; its calls were reported already. */
  } else if (n == 0) {
    qz_engine_call_fcall_filter(call->lineno, 0, name, g->value.assign_time, nullptr, 0);
    if (reach && php_call_loop_depth && call_reported_in_loop(name))
      call_report_again(PHP_CALL_IN_LOOP_MARKER, call->lineno, name, nullptr, 0);
    if (spelled) call_report_again(PHP_CALL_SPELLED_MARKER, call->lineno, name, nullptr, 0);
  } else {
    /* Most calls take a few arguments: their records stand here. */
    _fcall_argument small[QZ_CALL_ARGS_RESERVED];
    std::vector<_fcall_argument> many;
    _fcall_argument* records = small;
    if (n > QZ_CALL_ARGS_RESERVED) {
      many.resize(n);
      records = many.data();
    }
    for (unsigned long i = 0; i < n; i++) {
      std::memset(&records[i], 0, sizeof(_fcall_argument));
      call_fill_record(&records[i], in_order[i]);
    }
    if (reach) call_fill_argv(name, in_order, records);
    if (request_global) records[0].value = PHP_CALL_REQUEST_GLOBAL_MARKER;
    qz_engine_call_fcall_filter(call->lineno, 0, name, g->value.assign_time, records, n);
    if (reach && php_call_loop_depth && call_reported_in_loop(name))
      call_report_again(PHP_CALL_IN_LOOP_MARKER, call->lineno, name, records, n);
    if (spelled) call_report_again(PHP_CALL_SPELLED_MARKER, call->lineno, name, records, n);
    if (reach) {
      call_report_written_include(call->lineno, name, records, n);
      call_note_write(name, records, n);
    }
  }
  /* Extended reading: decoded text that reads as code is walked where it
   * is decoded, after the decoder's own call; a walk that only computes
   * values (quiet) leaves it to the sink, which reports its calls. */
  if (decoded_text && !quiet && call_is_decoder(name)) {
    unsigned long outer_line = php_call_line;
    php_call_line = call->lineno;
    php_lib_walk_decoded(result);
    php_call_line = outer_line;
  }
  /* An array literal's items were copied into its array (a pair's bucket
   * joined it): the argument tokens go back at once, so that a literal of
   * many items does not hold a token per item until the scan ends. */
  if (f && f->func == reinterpret_cast<void*>(&php_lib_build_array)) {
    for (_qz_token* t : args) {
      t->next = nullptr; /* the built-in may have linked them anew */
      php_eval_release(t);
    }
    call_own_result = result;
  }
  return result ? result : call_zero(call);
}
