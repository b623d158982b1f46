#include "behavior/qz_behavior_rules.h"

#include "behavior/qz_cipher.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

/* Module state: rule path, load flag and the tables, engine lifetime. */
char g_szRulePath[QZ_RULE_PATH_SIZE];
int g_RuleLoaded = 0;
std::vector<_behavior_define_var*> qz_behavior_vars;
std::vector<_behavior_descriptor*> qz_behaviors;
std::vector<_behavior_call_list*> qz_behavior_call_lists;
std::vector<_behavior_repeat_call*> qz_behavior_repeat_calls;
std::list<std::string> ignore_calls;
/* Bumped on every change of the tables; see qz_behavior_rules_version. */
static unsigned long qz_rules_version = 0;

/* Names the call check skips; entered at every load, each once. */
static const char* const qz_rules_ignored_names[] = {"str_replace", "header", "base64_decode",
                                                     "foreach"};

unsigned long qz_behavior_rules_version() { return qz_rules_version; }

/* Copies src into a field of `width` bytes, cutting it to width - 1
 * characters. The field is already zero-filled. */
static void qz_rules_copy(char* dst, size_t width, const char* src) {
  size_t n = strnlen(src, width - 1);
  memcpy(dst, src, n);
  dst[n] = '\0';
}

/* A number as strtol (base 10) reads it, reduced to its low 32 bits taken as
 * a signed value: " 7x" is 7, "x" is 0, 4294967295 is -1. */
static int64_t qz_rules_number(const char* text) {
  long v = strtol(text, nullptr, 10);
  return static_cast<int64_t>(static_cast<int32_t>(static_cast<uint32_t>(v)));
}

/* Cuts the text at its last ")" and returns the first character after its
 * first "(", or null when either is missing or the ")" comes first. Nothing
 * after the last ")" is seen by the field search that follows. */
static char* qz_rules_open_args(char* text) {
  char* open = strchr(text, '(');
  char* close = strrchr(text, ')');
  if (open == nullptr || close == nullptr || close < open) return nullptr;
  *close = '\0';
  return open + 1;
}

/* Ends the field at its first comma and returns the start of the next field,
 * or null when the field has no comma. */
static char* qz_rules_next_field(char* field) {
  char* comma = strchr(field, ',');
  if (comma == nullptr) return nullptr;
  *comma = '\0';
  return comma + 1;
}

/* Splits `text` in place at `sep`, skipping empty items; returns the next
 * item or null. `*cursor` starts at the text and is advanced. */
static char* qz_rules_next_item(char** cursor, char sep) {
  char* p = *cursor;
  while (*p == sep) ++p;
  if (*p == '\0') {
    *cursor = p;
    return nullptr;
  }
  char* item = p;
  while (*p != '\0' && *p != sep) ++p;
  if (*p == sep) *p++ = '\0';
  *cursor = p;
  return item;
}

/* Appends a record to its table and bumps the version; on allocation
 * failure the record is freed and the table is left as it was. */
template <typename T>
static void qz_rules_append(std::vector<T*>& table, T* rec) {
  try {
    table.push_back(rec);
  } catch (...) {
    free(rec);
    return;
  }
  ++qz_rules_version;
}

template <typename T>
static T* qz_rules_new_record() {
  T* rec = static_cast<T*>(malloc(sizeof(T)));
  if (rec != nullptr) memset(rec, 0, sizeof(T));
  return rec;
}

void define_var(char* text) {
  if (text == nullptr) return;
  char* name = qz_rules_open_args(text);
  if (name == nullptr) return;
  char* value = qz_rules_next_field(name);
  if (value == nullptr) return;
  auto* rec = qz_rules_new_record<_behavior_define_var>();
  if (rec == nullptr) return;
  qz_rules_copy(rec->var_name, sizeof rec->var_name, name);
  qz_rules_copy(rec->var_value, sizeof rec->var_value, value);
  qz_rules_append(qz_behavior_vars, rec);
}

void define_behavior(char* text) {
  if (text == nullptr) return;
  char* functions = qz_rules_open_args(text);
  if (functions == nullptr) return;
  char* conditions = qz_rules_next_field(functions);
  if (conditions == nullptr) return;
  char* score = qz_rules_next_field(conditions);
  if (score == nullptr) return;
  char* description = qz_rules_next_field(score);
  if (description == nullptr) return;
  char* exact = qz_rules_next_field(description); /* optional */

  auto* rec = qz_rules_new_record<_behavior_descriptor>();
  if (rec == nullptr) return;
  rec->score = qz_rules_number(score);
  if (exact != nullptr) rec->exact_match = qz_rules_number(exact);
  qz_rules_copy(rec->functions, sizeof rec->functions, functions);
  qz_rules_copy(rec->description, sizeof rec->description, description);

  /* Two characters or fewer ("", "0", "ab") stand for "no conditions". */
  if (strlen(conditions) > 2) {
    char* cursor = conditions;
    char* item;
    while (rec->cond_count < QZ_RULE_MAX_ITEMS && (item = qz_rules_next_item(&cursor, '&'))) {
      char* eq = strchr(item, '=');
      if (eq == nullptr) {
        /* Dropping only the item would let the rule match more calls than
         * its author wrote; the whole rule goes instead. */
        free(rec);
        return;
      }
      *eq = '\0';
      _behavior_condition& cond = rec->conds[rec->cond_count++];
      cond.arg_index = qz_rules_number(item);
      qz_rules_copy(cond.pattern, sizeof cond.pattern, eq + 1);
    }
  }
  qz_rules_append(qz_behaviors, rec);
}

void define_call_list(char* text) {
  if (text == nullptr) return;
  char* names = qz_rules_open_args(text);
  if (names == nullptr) return;
  char* score = qz_rules_next_field(names);
  if (score == nullptr) return;
  char* description = qz_rules_next_field(score);
  if (description == nullptr) return;

  auto* rec = qz_rules_new_record<_behavior_call_list>();
  if (rec == nullptr) return;
  rec->score = qz_rules_number(score);
  char* cursor = names;
  char* item;
  while (rec->call_count < QZ_RULE_MAX_ITEMS && (item = qz_rules_next_item(&cursor, '&')))
    qz_rules_copy(rec->calls[rec->call_count++], QZ_RULE_NAME_SIZE, item);
  qz_rules_copy(rec->description, sizeof rec->description, description);
  qz_rules_append(qz_behavior_call_lists, rec);
}

void define_repeat_call(char* text) {
  if (text == nullptr) return;
  char* function = qz_rules_open_args(text);
  if (function == nullptr) return;
  char* min_count = qz_rules_next_field(function);
  if (min_count == nullptr) return;
  char* score = qz_rules_next_field(min_count);
  if (score == nullptr) return;
  char* description = qz_rules_next_field(score);
  if (description == nullptr) return;

  auto* rec = qz_rules_new_record<_behavior_repeat_call>();
  if (rec == nullptr) return;
  rec->score = qz_rules_number(score);
  rec->min_count = qz_rules_number(min_count);
  qz_rules_copy(rec->function, sizeof rec->function, function);
  qz_rules_copy(rec->description, sizeof rec->description, description);
  qz_rules_append(qz_behavior_repeat_calls, rec);
}

int qz_behavior_define(char* text) {
  if (text == nullptr) return 0;
  unsigned long before = qz_rules_version;
  /* Tested in this order, by prefix only: "define_variable(...)" is a
   * define_var rule. */
  if (strncmp(text, "define_var", 10) == 0)
    define_var(text);
  else if (strncmp(text, "define_behavior", 15) == 0)
    define_behavior(text);
  else if (strncmp(text, "define_call_list", 16) == 0)
    define_call_list(text);
  else if (strncmp(text, "define_repeat_call", 18) == 0)
    define_repeat_call(text);
  return qz_rules_version != before ? 1 : 0;
}

int qz_behavior_startup(const char* path) {
  if (path == nullptr) return 0;
  qz_rules_copy(g_szRulePath, sizeof g_szRulePath, path);
  FILE* f = fopen(g_szRulePath, "r");
  if (f == nullptr) return 0;
  fclose(f);
  return 1;
}

int qz_behavior_startup_i() {
  /* Appending a name twice would change nothing but the list's length, which
   * would then grow by four at every file while the rule file is missing. */
  try {
    for (const char* name : qz_rules_ignored_names) {
      bool present = false;
      for (const std::string& have : ignore_calls)
        if (have == name) present = true;
      if (!present) ignore_calls.emplace_back(name);
    }
  } catch (...) {
    /* Out of memory: the rules still load; only the skip list is short. */
  }

  FILE* f = fopen(g_szRulePath, "r");
  if (f == nullptr) return 0;
  char line[QZ_RULE_LINE_BUFFER];
  for (;;) {
    memset(line, 0, sizeof line);
    if (fgets(line, sizeof line, f) == nullptr) break;
    /* strlen, not the bytes read: a zero byte inside the line ends it. */
    size_t n = strlen(line);
    if (n <= 1) continue;
    if (line[n - 2] == '\r')
      line[n - 2] = '\0';
    else if (line[n - 1] == '\n')
      line[n - 1] = '\0';
    char* plain = qz_cipher_rule_decrypt(line);
    if (plain == nullptr) continue;
    qz_behavior_define(plain);
    delete[] plain;
  }
  fclose(f);
  g_RuleLoaded = 1;
  ++qz_rules_version;
  return 1;
}

template <typename T>
static void qz_rules_free_table(std::vector<T*>& table) {
  for (T* rec : table) free(rec);
  table.clear();
}

int qz_behavior_shutdown() {
  qz_rules_free_table(qz_behavior_vars);
  qz_rules_free_table(qz_behaviors);
  qz_rules_free_table(qz_behavior_call_lists);
  qz_rules_free_table(qz_behavior_repeat_calls);
  g_RuleLoaded = 0;
  ++qz_rules_version;
  return 1;
}
