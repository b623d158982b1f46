#include "behavior/qz_behavior_match.h"

#include "behavior/qz_behavior_rules.h"
#include "common/qz_ascii.h"
#include "common/qz_host.h"
#include "common/qz_limits.h"

#include <strings.h>
#include <cstring>
#include <unordered_map>
#include <vector>

/* Calls counted in the current file; see the header. */
std::map<std::string, unsigned long> call_history;

namespace {

/* How a condition tests its argument. */
enum qz_match_kind {
  QZ_MATCH_CONTAINS, /* holds one alternative (equals one, under the exact flag) */
  QZ_MATCH_BEGINS,   /* begins with one alternative, whatever the exact flag */
  QZ_MATCH_CONSTANT  /* is a text the script fixed (alternatives then empty) */
};

/* A condition with its pattern resolved to its alternatives. */
struct qz_match_cond {
  int64_t arg_index;
  std::vector<std::string> alternatives;
  qz_match_kind kind;
};

/* A behaviour rule ready for matching; rec points into qz_behaviors. The
 * fields a try reads are copied here so that a miss never touches the
 * (large) record. */
struct qz_match_rule {
  const _behavior_descriptor* rec;
  uint64_t cond_count;
  bool exact;
  int64_t score;
  std::vector<qz_match_cond> conds;
};

/* The compiled form of the rule tables. Rebuilt when the tables' version or
 * sizes differ from those it was built from. */
struct qz_match_index {
  bool built = false;
  unsigned long version = 0;
  size_t var_count = 0;
  size_t rule_count = 0;
  std::vector<qz_match_rule> rules;
  /* Lower-cased function name -> positions in `rules`, in file order. */
  std::unordered_map<std::string, std::vector<size_t>> by_function;
};

/* Module state: the compiled rules, engine lifetime. */
qz_match_index g_match_index;

}  // namespace

/* What every text the engine makes up for a value begins with. */
static const char qz_match_engine_marker[] = "qz_";

/* ASCII lower case, the folding strcasecmp applies in the C locale. */
static void qz_match_lower(const char* text, std::string& out) {
  out.clear();
  for (const char* p = text; *p != '\0'; ++p) out.push_back(qz_ascii_lower(*p));
}

/* Splits an alternative list at "+", skipping empty alternatives. */
static std::vector<std::string> qz_match_split(const char* list) {
  std::vector<std::string> out;
  const char* p = list;
  while (*p != '\0') {
    const char* end = strchr(p, '+');
    size_t n = end != nullptr ? static_cast<size_t>(end - p) : strlen(p);
    if (n > 0) out.emplace_back(p, n);
    p += n;
    if (*p == '+') ++p;
  }
  return out;
}

char* qz_behavior_reference_var(char* text) {
  if (text == nullptr) return nullptr;
  for (_behavior_define_var* var : qz_behavior_vars)
    if (strcasecmp(var->var_name, text) == 0) return var->var_value;
  return text;
}

static void qz_match_rebuild() {
  qz_match_index& ix = g_match_index;
  ix.rules.clear();
  ix.by_function.clear();

  /* First variable of a name (ignoring case) wins, as in a linear lookup. */
  std::unordered_map<std::string, const char*> vars;
  std::string key;
  for (_behavior_define_var* var : qz_behavior_vars) {
    qz_match_lower(var->var_name, key);
    vars.emplace(key, var->var_value);
  }
  auto resolve = [&](const char* field) -> const char* {
    std::string k;
    qz_match_lower(field, k);
    auto it = vars.find(k);
    return it != vars.end() ? it->second : field;
  };

  ix.rules.reserve(qz_behaviors.size());
  for (_behavior_descriptor* rec : qz_behaviors) {
    qz_match_rule rule;
    rule.rec = rec;
    rule.cond_count = rec->cond_count;
    rule.exact = rec->exact_match != 0;
    rule.score = rec->score;
    uint64_t n = rec->cond_count <= QZ_RULE_ITEM_SLOTS ? rec->cond_count : QZ_RULE_ITEM_SLOTS;
    for (uint64_t c = 0; c < n; ++c) {
      /* The constant marker is tested before variables are looked up, so that
       * no define_var can stand in for it. */
      const _behavior_condition& cond = rec->conds[c];
      if (qz_rule_cond_is_constant(&cond))
        rule.conds.push_back({cond.arg_index, {}, QZ_MATCH_CONSTANT});
      else if (const char* prefix = qz_rule_cond_prefix(&cond))
        rule.conds.push_back({cond.arg_index, qz_match_split(resolve(prefix)), QZ_MATCH_BEGINS});
      else
        rule.conds.push_back(
            {cond.arg_index, qz_match_split(resolve(cond.pattern)), QZ_MATCH_CONTAINS});
    }
    size_t pos = ix.rules.size();
    ix.rules.push_back(std::move(rule));
    for (const std::string& fn : qz_match_split(resolve(rec->functions))) {
      qz_match_lower(fn.c_str(), key);
      std::vector<size_t>& list = ix.by_function[key];
      if (list.empty() || list.back() != pos) list.push_back(pos);
    }
  }
  ix.version = qz_behavior_rules_version();
  ix.var_count = qz_behavior_vars.size();
  ix.rule_count = qz_behaviors.size();
  ix.built = true;
}

static const qz_match_index& qz_match_current_index() {
  qz_match_index& ix = g_match_index;
  if (!ix.built || ix.version != qz_behavior_rules_version() ||
      ix.var_count != qz_behavior_vars.size() || ix.rule_count != qz_behaviors.size())
    qz_match_rebuild();
  return ix;
}

static bool qz_match_alternatives(const std::vector<std::string>& alts, const char* subject,
                                  bool exact) {
  for (const std::string& alt : alts) {
    if (exact ? strcasecmp(alt.c_str(), subject) == 0 : strstr(subject, alt.c_str()) != nullptr)
      return true;
  }
  return false;
}

static bool qz_match_begins(const std::vector<std::string>& alts, const char* subject) {
  for (const std::string& alt : alts)
    if (strncmp(subject, alt.c_str(), alt.size()) == 0) return true;
  return false;
}

/* The constant test of an argument text: not empty, no "$" (request markers
 * such as $_GET_DATA and variables left unresolved both carry one), none of
 * the engine's markers (qz_decoded, qz_unknown_callee, qz_closure_N) and not
 * the invalid-string text (a value the interpreter could not build). */
static bool qz_match_constant(const char* subject) {
  return subject[0] != '\0' && strchr(subject, '$') == nullptr &&
         strstr(subject, qz_match_engine_marker) == nullptr &&
         strcmp(subject, qz_invalid_string_text()) != 0;
}

bool qz_behavior_data_match(char* list, char* subject, bool exact) {
  if (list == nullptr || subject == nullptr) return false;
  char copy[QZ_RULE_FIELD_SIZE];
  size_t n = strnlen(list, sizeof copy - 1);
  memcpy(copy, list, n);
  copy[n] = '\0';
  return qz_match_alternatives(qz_match_split(copy), subject, exact);
}

namespace {

/* Writes "name(arg,arg)" into the caller's detail buffer without ever
 * passing its QZ_RULE_DETAIL_BUFFER bytes: the text is cut so that the
 * closing ")" and the terminator always fit. A null buffer writes nothing. */
struct qz_match_detail {
  char* buf;
  size_t len = 0;
  static constexpr size_t body_max = QZ_RULE_DETAIL_BUFFER - 2;

  explicit qz_match_detail(char* b) : buf(b) {}

  void append(const char* text, size_t max_chars) {
    if (buf == nullptr) return;
    size_t n = strnlen(text, max_chars);
    if (n > body_max - len) n = body_max - len;
    memcpy(buf + len, text, n);
    len += n;
    buf[len] = '\0';
  }
  void start(const char* func_name) {
    len = 0;
    append(func_name, body_max);
    append("(", 1);
  }
  void close() {
    if (buf == nullptr) return;
    buf[len] = ')';
    buf[len + 1] = '\0';
  }
};

}  // namespace

static unsigned long qz_match_score(int64_t score) {
  return score > 0 ? static_cast<unsigned long>(score) : 0;
}

static void qz_match_copy_desc(char* desc, const char* text) {
  if (desc == nullptr) return;
  size_t n = strnlen(text, QZ_RULE_DESC_BUFFER - 1);
  memcpy(desc, text, n);
  desc[n] = '\0';
}

static unsigned long qz_match_check_call(char* func_name, _fcall_argument* args,
                                         unsigned long arg_count, char* desc, char* detail) {
  for (const std::string& ignored : ignore_calls)
    if (ignored == func_name) return 0;
  ++call_history[func_name];

  if (args == nullptr) arg_count = 0;
  const qz_match_index& ix = qz_match_current_index();
  static std::string key;
  qz_match_lower(func_name, key);
  auto hit = ix.by_function.find(key);
  if (hit == ix.by_function.end()) return 0;

  qz_match_detail out(detail);
  for (size_t pos : hit->second) {
    const qz_match_rule& rule = ix.rules[pos];
    out.start(func_name);
    if (rule.cond_count > arg_count) {
      out.close();
      continue;
    }
    bool exact = rule.exact;
    bool ok = true;
    bool first = true;
    for (const qz_match_cond& cond : rule.conds) {
      if (cond.arg_index < 0 || static_cast<uint64_t>(cond.arg_index) >= arg_count) {
        ok = false;
        break;
      }
      const char* subject = args[cond.arg_index].value;
      bool held = false;
      if (subject != nullptr) {
        switch (cond.kind) {
          case QZ_MATCH_CONTAINS:
            held = qz_match_alternatives(cond.alternatives, subject, exact);
            break;
          case QZ_MATCH_BEGINS: held = qz_match_begins(cond.alternatives, subject); break;
          case QZ_MATCH_CONSTANT: held = qz_match_constant(subject); break;
        }
      }
      if (!held) {
        ok = false;
        break;
      }
      if (!first) out.append(",", 1);
      out.append(subject, QZ_RULE_DETAIL_ARG_MAX);
      first = false;
    }
    out.close();
    if (!ok) continue;
    qz_match_copy_desc(desc, rule.rec->description);
    return qz_match_score(rule.score);
  }
  return 0;
}

unsigned long qz_behavior_check(unsigned long line_no, unsigned long reserved, char* func_name,
                                unsigned long assign_times, _fcall_argument* args,
                                unsigned long arg_count, char* desc, char* detail) {
  (void)line_no;
  (void)reserved;
  (void)assign_times;
  if (func_name == nullptr || func_name[0] == '\0') return 0;
  /* The caller is the interpreter's walk: running out of memory here scores
   * the call 0 instead of unwinding through the scan. */
  try {
    return qz_match_check_call(func_name, args, arg_count, desc, detail);
  } catch (...) {
    /* The call went unscored: the scan's verdict may be short of it. */
    g_match_index.built = false;
    qz_scan_note(QZ_SCAN_OUT_OF_MEMORY);
    return 0;
  }
}

static unsigned long qz_match_check_history(char* desc) {
  /* Names compare ignoring case; entries that differ only in case stay
   * separate, so a repeated-call rule sees the largest of their counts. */
  std::unordered_map<std::string, unsigned long> seen;
  std::string key;
  for (const auto& entry : call_history) {
    qz_match_lower(entry.first.c_str(), key);
    unsigned long& count = seen[key];
    if (entry.second > count) count = entry.second;
  }

  for (_behavior_call_list* list : qz_behavior_call_lists) {
    bool all = true;
    uint64_t n = list->call_count <= QZ_RULE_ITEM_SLOTS ? list->call_count : QZ_RULE_ITEM_SLOTS;
    for (uint64_t k = 0; k < n && all; ++k) {
      qz_match_lower(list->calls[k], key);
      all = seen.count(key) != 0;
    }
    if (all) {
      qz_match_copy_desc(desc, list->description);
      return qz_match_score(list->score);
    }
  }

  for (_behavior_repeat_call* rule : qz_behavior_repeat_calls) {
    if (rule->min_count < 0) continue;
    qz_match_lower(rule->function, key);
    auto it = seen.find(key);
    if (it != seen.end() && it->second >= static_cast<uint64_t>(rule->min_count)) {
      qz_match_copy_desc(desc, rule->description);
      return qz_match_score(rule->score);
    }
  }
  return 0;
}

unsigned long qz_behavior_check_file(char* desc) {
  if (call_history.empty()) return 0;
  try {
    return qz_match_check_history(desc);
  } catch (...) {
    qz_scan_note(QZ_SCAN_OUT_OF_MEMORY);
    return 0;
  }
}

void qz_behavior_file_begin() {
  if (g_RuleLoaded == 0) qz_behavior_startup_i();
  call_history.clear();
}

void qz_behavior_file_end() { call_history.clear(); }
