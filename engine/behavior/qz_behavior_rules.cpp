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

const qz_rule_keyword qz_rule_keywords[QZ_RULE_KEYWORD_COUNT] = {
    {QZ_RULE_KEYWORD_PREFIX "var", QZ_RULE_VAR, QZ_RULE_VAR_FIELDS},
    {QZ_RULE_KEYWORD_PREFIX "behavior", QZ_RULE_BEHAVIOR, QZ_RULE_BEHAVIOR_FIELDS},
    {QZ_RULE_KEYWORD_PREFIX "call_list", QZ_RULE_CALL_LIST, QZ_RULE_CALL_LIST_FIELDS},
    {QZ_RULE_KEYWORD_PREFIX "repeat_call", QZ_RULE_REPEAT_CALL, QZ_RULE_REPEAT_CALL_FIELDS},
};

unsigned long qz_behavior_rules_version() { return qz_rules_version; }

const qz_rule_keyword* qz_rule_keyword_of(const char* text) {
  if (text == nullptr) return nullptr;
  for (const qz_rule_keyword& k : qz_rule_keywords)
    if (strncmp(text, k.word, strlen(k.word)) == 0) return &k;
  return nullptr;
}

int64_t qz_rule_number_kept(long value) {
  return static_cast<int64_t>(static_cast<int32_t>(static_cast<uint32_t>(value)));
}

bool qz_rule_constant_item(const char* item, int64_t* arg_index) {
  if (item == nullptr) return false;
  const char* p = item;
  while (*p >= '0' && *p <= '9') ++p;
  if (p == item || *p != QZ_RULE_TEST_SEP || strcmp(p + 1, QZ_RULE_CONSTANT_TEST) != 0)
    return false;
  if (arg_index != nullptr) *arg_index = qz_rule_number_kept(strtol(item, nullptr, 10));
  return true;
}

bool qz_rule_prefix_item(const char* item, int64_t* arg_index, const char** pattern) {
  if (item == nullptr) return false;
  const char* p = item;
  while (*p >= '0' && *p <= '9') ++p;
  if (p == item || *p != QZ_RULE_PREFIX_SEP || p[1] == '\0') return false;
  if (arg_index != nullptr) *arg_index = qz_rule_number_kept(strtol(item, nullptr, 10));
  if (pattern != nullptr) *pattern = p + 1;
  return true;
}

const char* qz_rule_cond_prefix(const _behavior_condition* cond) {
  static const size_t mark = sizeof QZ_RULE_PREFIX_MARK - 1;
  if (cond == nullptr || strncmp(cond->pattern, QZ_RULE_PREFIX_MARK, mark) != 0) return nullptr;
  return cond->pattern + mark;
}

bool qz_rule_cond_is_constant(const _behavior_condition* cond) {
  return cond != nullptr &&
         strncmp(cond->pattern, QZ_RULE_CONSTANT_PATTERN, sizeof cond->pattern) == 0;
}

/* Copies src into a field of `width` bytes, cutting it to width - 1
 * characters. The field is already zero-filled. */
static void qz_rules_copy(char* dst, size_t width, const char* src) {
  size_t n = strnlen(src, width - 1);
  memcpy(dst, src, n);
  dst[n] = '\0';
}

static int64_t qz_rules_number(const char* text) {
  return qz_rule_number_kept(strtol(text, nullptr, 10));
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

/* Ends the field at its first separator and returns the start of the next
 * field, or null when the field has none. */
static char* qz_rules_next_field(char* field) {
  char* comma = strchr(field, QZ_RULE_FIELD_SEP);
  if (comma == nullptr) return nullptr;
  *comma = '\0';
  return comma + 1;
}

/* Cuts a rule text in place into its `count` fields (see qz_rules_open_args
 * and qz_rules_next_field). False when text is null or a bracket or a
 * separator is missing. */
static bool qz_rules_fields(char* text, int count, char** field) {
  if (text == nullptr) return false;
  field[0] = qz_rules_open_args(text);
  if (field[0] == nullptr) return false;
  for (int k = 1; k < count; ++k)
    if ((field[k] = qz_rules_next_field(field[k - 1])) == nullptr) return false;
  return true;
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
  char* f[QZ_RULE_VAR_FIELDS];
  if (!qz_rules_fields(text, QZ_RULE_VAR_FIELDS, f)) return;
  auto* rec = qz_rules_new_record<_behavior_define_var>();
  if (rec == nullptr) return;
  qz_rules_copy(rec->var_name, sizeof rec->var_name, f[0]);
  qz_rules_copy(rec->var_value, sizeof rec->var_value, f[1]);
  qz_rules_append(qz_behavior_vars, rec);
}

void define_behavior(char* text) {
  char* f[QZ_RULE_BEHAVIOR_FIELDS];
  if (!qz_rules_fields(text, QZ_RULE_BEHAVIOR_FIELDS, f)) return;
  char *conditions = f[1], *description = f[3];
  char* exact = qz_rules_next_field(description); /* optional */

  auto* rec = qz_rules_new_record<_behavior_descriptor>();
  if (rec == nullptr) return;
  rec->score = qz_rules_number(f[2]);
  if (exact != nullptr) rec->exact_match = qz_rules_number(exact);
  qz_rules_copy(rec->functions, sizeof rec->functions, f[0]);
  qz_rules_copy(rec->description, sizeof rec->description, description);

  /* A short field with a ":" or "^" ("0:", "0^") is a test cut short, not
   * "no conditions": read as none it would let the rule take every call. */
  if (strlen(conditions) > QZ_RULE_NO_CONDITIONS_MAX ||
      strchr(conditions, QZ_RULE_TEST_SEP) != nullptr ||
      strchr(conditions, QZ_RULE_PREFIX_SEP) != nullptr) {
    char* cursor = conditions;
    char* item;
    while (rec->cond_count < QZ_RULE_MAX_ITEMS &&
           (item = qz_rules_next_item(&cursor, QZ_RULE_ITEM_SEP))) {
      _behavior_condition& cond = rec->conds[rec->cond_count];
      char* eq = strchr(item, QZ_RULE_COND_SEP);
      const char* prefix = nullptr;
      if (eq != nullptr) {
        *eq = '\0';
        cond.arg_index = qz_rules_number(item);
        qz_rules_copy(cond.pattern, sizeof cond.pattern, eq + 1);
      } else if (qz_rule_constant_item(item, &cond.arg_index)) {
        qz_rules_copy(cond.pattern, sizeof cond.pattern, QZ_RULE_CONSTANT_PATTERN);
      } else if (qz_rule_prefix_item(item, &cond.arg_index, &prefix)) {
        std::string marked = std::string(QZ_RULE_PREFIX_MARK) + prefix;
        qz_rules_copy(cond.pattern, sizeof cond.pattern, marked.c_str());
      } else {
        /* Dropping only the item would let the rule match more calls than
         * its author wrote; the whole rule goes instead. */
        free(rec);
        return;
      }
      ++rec->cond_count;
    }
  }
  qz_rules_append(qz_behaviors, rec);
}

void define_call_list(char* text) {
  char* f[QZ_RULE_CALL_LIST_FIELDS];
  if (!qz_rules_fields(text, QZ_RULE_CALL_LIST_FIELDS, f)) return;
  auto* rec = qz_rules_new_record<_behavior_call_list>();
  if (rec == nullptr) return;
  rec->score = qz_rules_number(f[1]);
  char* cursor = f[0];
  char* item;
  while (rec->call_count < QZ_RULE_MAX_ITEMS &&
         (item = qz_rules_next_item(&cursor, QZ_RULE_ITEM_SEP)))
    qz_rules_copy(rec->calls[rec->call_count++], QZ_RULE_NAME_SIZE, item);
  qz_rules_copy(rec->description, sizeof rec->description, f[2]);
  qz_rules_append(qz_behavior_call_lists, rec);
}

void define_repeat_call(char* text) {
  char* f[QZ_RULE_REPEAT_CALL_FIELDS];
  if (!qz_rules_fields(text, QZ_RULE_REPEAT_CALL_FIELDS, f)) return;
  auto* rec = qz_rules_new_record<_behavior_repeat_call>();
  if (rec == nullptr) return;
  rec->min_count = qz_rules_number(f[1]);
  rec->score = qz_rules_number(f[2]);
  qz_rules_copy(rec->function, sizeof rec->function, f[0]);
  qz_rules_copy(rec->description, sizeof rec->description, f[3]);
  qz_rules_append(qz_behavior_repeat_calls, rec);
}

int qz_behavior_define(char* text) {
  unsigned long before = qz_rules_version;
  const qz_rule_keyword* kw = qz_rule_keyword_of(text);
  switch (kw != nullptr ? kw->kind : QZ_RULE_NONE) {
    case QZ_RULE_VAR: define_var(text); break;
    case QZ_RULE_BEHAVIOR: define_behavior(text); break;
    case QZ_RULE_CALL_LIST: define_call_list(text); break;
    case QZ_RULE_REPEAT_CALL: define_repeat_call(text); break;
    case QZ_RULE_NONE: break;
  }
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
