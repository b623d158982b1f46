#include "qzrules_lint.h"

#include "behavior/qz_behavior_rules.h"
#include "behavior/qz_cipher.h"
#include "common/qz_limits.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>

namespace {

/* Longest physical line (with its end) that one read takes. */
constexpr size_t kMaxRead = QZ_RULE_LINE_BUFFER - 1;
/* Characters a text field and a function name keep. */
constexpr size_t kFieldMax = QZ_RULE_FIELD_SIZE - 1;
constexpr size_t kNameMax = QZ_RULE_NAME_SIZE - 1;
/* Characters of a field quoted in a finding; the rest shows as "...". */
constexpr size_t kQuoteMax = 40;
/* Room added at a time when reading a file whose size fstat does not give
 * (a pipe, a file in /proc) or that grows while it is read. */
constexpr size_t kReadChunk = 65536;

/* A rule the engine accepted, with where it came from. */
template <typename T>
struct Placed {
  const T* rec;
  size_t line;
};

std::string lower(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

/* The non-empty items of a list, each passed through keep(). */
template <typename Out, typename Keep>
Out split_list(const std::string& list, char sep, Keep keep) {
  Out out;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(sep, start);
    if (end == std::string::npos) end = list.size();
    if (end > start) out.insert(out.end(), keep(list.substr(start, end - start)));
    start = end + 1;
  }
  return out;
}

std::set<std::string> split_lower(const std::string& list, char sep) {
  return split_list<std::set<std::string>>(list, sep, lower);
}

std::vector<std::string> split_items(const std::string& list, char sep) {
  return split_list<std::vector<std::string>>(list, sep, [](std::string s) { return s; });
}

std::string quoted(const std::string& s) {
  std::string shown = s.size() > kQuoteMax ? s.substr(0, kQuoteMax) + "..." : s;
  return "\"" + shown + "\"";
}

/* Reports a number field that does not read as the plain integer written. */
void check_number(const std::string& field, const char* what, std::vector<std::string>& out) {
  const char* text = field.c_str();
  char* end = nullptr;
  errno = 0;
  long v = strtol(text, &end, 10);
  long kept = static_cast<long>(qz_rule_number_kept(v));
  if (end == text)
    out.push_back(std::string(what) + " " + quoted(field) + " holds no number: it reads as 0");
  else if (*end != '\0')
    out.push_back(std::string(what) + " " + quoted(field) + " reads as " + std::to_string(kept) +
                  ": the text after the digits is ignored");
  else if (errno == ERANGE || kept != v)
    out.push_back(std::string(what) + " " + quoted(field) + " is out of range: it reads as " +
                  std::to_string(kept));
}

void check_cut(const std::string& field, size_t max, const char* what,
               std::vector<std::string>& out) {
  if (field.size() > max)
    out.push_back(std::string(what) + " " + quoted(field) + " is cut at " + std::to_string(max) +
                  " characters");
}

/* The keyword the text begins with; null, after saying so, when none. */
const qz_rule_keyword* find_keyword(const std::string& text, std::vector<std::string>& out) {
  const qz_rule_keyword* kw = qz_rule_keyword_of(text.c_str());
  if (kw == nullptr) {
    std::string words;
    for (const qz_rule_keyword& k : qz_rule_keywords)
      words += (words.empty() ? "" : ", ") + std::string(k.word);
    out.push_back("unknown keyword: the text begins with none of " + words);
  }
  return kw;
}

/* The fields as the loader cuts them: separators from the left, the last
 * field running to the last ")". False, after saying why, when the loader
 * drops the rule for a missing bracket or separator. */
bool cut_fields(const std::string& text, const qz_rule_keyword& kw, std::vector<std::string>& f,
                std::vector<std::string>& out) {
  size_t open = text.find('(');
  size_t close = text.rfind(')');
  if (open == std::string::npos) {
    out.push_back("missing \"(\": the rule is dropped");
    return false;
  }
  if (close == std::string::npos || close < open) {
    out.push_back("missing \")\" after the \"(\": the rule is dropped");
    return false;
  }
  size_t word = strlen(kw.word);
  std::string between = text.substr(word, open - word);
  if (!between.empty())
    out.push_back("text " + quoted(between) + " between the keyword and \"(\" is ignored");
  std::string after = text.substr(close + 1);
  if (after.find_first_not_of(" \t\r") != std::string::npos)
    out.push_back("text " + quoted(after) + " after the last \")\" is ignored");

  std::string args = text.substr(open + 1, close - open - 1);
  size_t start = 0;
  for (int k = 0; k < kw.fields - 1; ++k) {
    size_t comma = args.find(QZ_RULE_FIELD_SEP, start);
    if (comma == std::string::npos) {
      out.push_back("missing comma: " + std::string(kw.word) + " needs " +
                    std::to_string(kw.fields) + " fields, found " + std::to_string(k + 1) +
                    "; the rule is dropped");
      return false;
    }
    f.push_back(args.substr(start, comma - start));
    start = comma + 1;
  }
  f.push_back(args.substr(start));
  return true;
}

void check_more_items(size_t count, const char* what, std::vector<std::string>& out) {
  if (count > QZ_RULE_MAX_ITEMS)
    out.push_back("more than " + std::to_string(QZ_RULE_MAX_ITEMS) + " " + what + " (" +
                  std::to_string(count) + "): the rest are ignored");
}

/* Why the loader drops a condition item that has no "=". */
std::string bad_item_reason(const std::string& item) {
  size_t caret = item.find(QZ_RULE_PREFIX_SEP);
  size_t colon = item.find(QZ_RULE_TEST_SEP);
  if (caret != std::string::npos && caret < colon) {
    std::string pos = item.substr(0, caret);
    if (pos.empty() || pos.find_first_not_of("0123456789") != std::string::npos)
      return "condition " + quoted(item) +
             ": the argument position before \"^\" must be decimal digits; the rule is dropped";
    return "condition " + quoted(item) + ": nothing after \"^\" to begin with; the rule is dropped";
  }
  if (colon == std::string::npos)
    return "condition " + quoted(item) + " has no \"=\": the rule is dropped";
  std::string pos = item.substr(0, colon), test = item.substr(colon + 1);
  if (pos.empty() || pos.find_first_not_of("0123456789") != std::string::npos)
    return "condition " + quoted(item) +
           ": the argument position before \":\" must be decimal digits; the rule is dropped";
  return "condition " + quoted(item) + ": unknown test " + quoted(test) +
         " (the one test is \"" QZ_RULE_CONSTANT_TEST "\"); the rule is dropped";
}

void check_conditions(const std::string& conds, std::vector<std::string>& out) {
  if (conds.size() <= QZ_RULE_NO_CONDITIONS_MAX &&
      conds.find(QZ_RULE_TEST_SEP) == std::string::npos &&
      conds.find(QZ_RULE_PREFIX_SEP) == std::string::npos) {
    if (!conds.empty() && conds.find(QZ_RULE_COND_SEP) != std::string::npos)
      out.push_back("conditions " + quoted(conds) + " have at most " +
                    std::to_string(QZ_RULE_NO_CONDITIONS_MAX) +
                    " characters and are read as no conditions");
    return;
  }
  std::vector<std::string> items = split_items(conds, QZ_RULE_ITEM_SEP);
  check_more_items(items.size(), "conditions", out);
  for (size_t k = 0; k < items.size() && k < QZ_RULE_MAX_ITEMS; ++k) {
    size_t eq = items[k].find(QZ_RULE_COND_SEP);
    if (eq == std::string::npos) {
      const char* prefix = nullptr;
      if (qz_rule_constant_item(items[k].c_str(), nullptr)) {
        check_number(items[k].substr(0, items[k].find(QZ_RULE_TEST_SEP)), "argument position", out);
      } else if (qz_rule_prefix_item(items[k].c_str(), nullptr, &prefix)) {
        check_number(items[k].substr(0, items[k].find(QZ_RULE_PREFIX_SEP)), "argument position",
                     out);
        /* The loader keeps the pattern behind its kind mark, in the same field. */
        check_cut(prefix, kFieldMax - (sizeof QZ_RULE_PREFIX_MARK - 1), "pattern", out);
      } else {
        out.push_back(bad_item_reason(items[k]));
      }
      continue;
    }
    check_number(items[k].substr(0, eq), "argument position", out);
    check_cut(items[k].substr(eq + 1), kFieldMax, "pattern", out);
  }
}

/* The checks of each kind's fields, f holding the kind's field count. */
void check_fields(qz_rule_kind kind, std::vector<std::string>& f, std::vector<std::string>& out) {
  switch (kind) {
    case QZ_RULE_VAR:
      check_cut(f[0], kFieldMax, "variable name", out);
      check_cut(f[1], kFieldMax, "variable value", out);
      break;
    case QZ_RULE_BEHAVIOR: {
      size_t comma = f[3].find(QZ_RULE_FIELD_SEP);
      if (comma != std::string::npos) {
        std::string exact = f[3].substr(comma + 1);
        f[3] = f[3].substr(0, comma);
        check_number(exact, "exact flag", out);
      }
      check_cut(f[0], kFieldMax, "function list", out);
      check_cut(f[3], kFieldMax, "description", out);
      check_number(f[2], "score", out);
      check_conditions(f[1], out);
      break;
    }
    case QZ_RULE_CALL_LIST: {
      std::vector<std::string> items = split_items(f[0], QZ_RULE_ITEM_SEP);
      check_more_items(items.size(), "names", out);
      for (size_t k = 0; k < items.size() && k < QZ_RULE_MAX_ITEMS; ++k)
        check_cut(items[k], kNameMax, "function name", out);
      check_number(f[1], "score", out);
      check_cut(f[2], kFieldMax, "description", out);
      break;
    }
    case QZ_RULE_REPEAT_CALL:
      check_cut(f[0], kNameMax, "function name", out);
      check_number(f[1], "minimum count", out);
      check_number(f[2], "score", out);
      check_cut(f[3], kFieldMax, "description", out);
      break;
    case QZ_RULE_NONE: break;
  }
}

/* The textual checks of one plain rule text. Returns its kind (none when it
 * begins with no keyword) and appends the reasons. */
qz_rule_kind check_text(const std::string& text, std::vector<std::string>& out) {
  const qz_rule_keyword* kw = find_keyword(text, out);
  if (kw == nullptr) return QZ_RULE_NONE;
  std::vector<std::string> f;
  if (cut_fields(text, *kw, f, out)) check_fields(kw->kind, f, out);
  return kw->kind;
}

/* A field that reads like a variable's name: capitals, digits and "_". */
bool looks_like_variable(const std::string& s) {
  if (s.size() < 2 || !(s[0] >= 'A' && s[0] <= 'Z')) return false;
  for (char c : s)
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
  return true;
}

/* An argument condition as rules compare it: position and resolved pattern. */
using Cond = std::pair<int64_t, std::string>;

/* A behaviour rule with its variables resolved, as the shadowing check
 * compares rules. */
struct ResolvedBehavior {
  std::set<std::string> fns;  // lower case
  std::set<Cond> conds;
  bool exact;
};

/* True when every call that rule b matches, rule a (earlier) has matched
 * already: a names every function b names, and each of a's conditions is
 * one of b's, under the same exact flag. */
bool always_matches_first(const ResolvedBehavior& a, const ResolvedBehavior& b) {
  if (b.fns.empty() || !std::includes(a.fns.begin(), a.fns.end(), b.fns.begin(), b.fns.end()))
    return false;
  if (!a.conds.empty() && a.exact != b.exact) return false;
  return std::includes(b.conds.begin(), b.conds.end(), a.conds.begin(), a.conds.end());
}

std::set<std::string> call_names(const _behavior_call_list* l) {
  std::set<std::string> names;
  for (uint64_t k = 0; k < l->call_count; ++k) names.insert(lower(l->calls[k]));
  return names;
}

/* The item of `items` seen least often so far by `seen`; items is not empty. */
template <typename T>
const T& rarest(const std::set<T>& items, const std::map<T, size_t>& seen) {
  const T* best = &*items.begin();
  size_t best_count = SIZE_MAX;
  for (const T& item : items) {
    auto it = seen.find(item);
    size_t count = it == seen.end() ? 0 : it->second;
    if (count < best_count) {
      best = &item;
      best_count = count;
    }
  }
  return *best;
}

/* Earlier rules filed under keys that every later rule they cover shares
 * with them, so that a rule is compared only with rules that can cover it.
 * A rule is filed under one key of its own choosing (the rarest so far),
 * which keeps the lists short. */
template <typename Key>
struct CoverIndex {
  std::map<Key, std::vector<size_t>> filed;  // key -> earlier rules, ascending

  void file(const Key& key, size_t rule) { filed[key].push_back(rule); }

  /* The first rule filed under `key` that is below `best` and passes
   * `covers`, else best. */
  template <typename Covers>
  size_t first(const Key& key, size_t best, Covers covers) const {
    auto it = filed.find(key);
    if (it == filed.end()) return best;
    for (size_t i : it->second) {
      if (i >= best) break;
      if (covers(i)) return i;
    }
    return best;
  }
};

/* For each function name, the earlier repeat-call rules of that name whose
 * minimum count is below every earlier one's: the first rule at or below a
 * count is always among them. */
struct RepeatIndex {
  std::map<std::string, std::vector<std::pair<int64_t, size_t>>> lowest;  // count falls along it

  void add(const std::string& fn, int64_t min_count, size_t rule) {
    auto& v = lowest[fn];
    if (min_count >= 0 && (v.empty() || min_count < v.back().first)) v.push_back({min_count, rule});
  }
  /* The first rule of that name with a count from 0 to `count`; SIZE_MAX
   * when none. */
  size_t first(const std::string& fn, int64_t count) const {
    auto it = lowest.find(fn);
    if (it == lowest.end()) return SIZE_MAX;
    auto hit = std::partition_point(
        it->second.begin(), it->second.end(),
        [count](const std::pair<int64_t, size_t>& e) { return e.first > count; });
    return hit == it->second.end() ? SIZE_MAX : hit->second;
  }
};

/* Calls fn(line, unterminated) for each line of contents cut at LF, as
 * qzrules_split_lines describes; unterminated: the last line, without its
 * LF. The line's text is reused from one call to the next. */
template <class Fn>
void split_each(const std::string& contents, Fn fn) {
  std::string line;
  size_t start = 0;
  while (start < contents.size()) {
    size_t nl = contents.find('\n', start);
    bool last = nl == std::string::npos;
    line.assign(contents, start, (last ? contents.size() : nl) - start);
    fn(line, last);
    if (last) break;
    start = nl + 1;
  }
}

/* One run of the checks: the lines are read and loaded one by one, then the
 * rules the engine accepted are checked against each other. */
struct Lint {
  qzrules_input_form form = qzrules_input_form::enciphered;
  std::vector<qzrules_finding> found;
  std::vector<Placed<_behavior_define_var>> vars;
  std::vector<Placed<_behavior_descriptor>> behaviors;
  std::vector<Placed<_behavior_call_list>> lists;
  std::vector<Placed<_behavior_repeat_call>> repeats;
  std::map<std::string, size_t> var_line;  // lower-cased name -> line of its first definition
  // lower-cased name -> value of its first definition
  std::map<std::string, std::string> var_value;
  std::vector<size_t> dropped;  // lines that are not blank and gave no record
  /* False for a caller that needs only counts and dropped lines: see count.
   * The tables then never hold more than one record, and the check passes
   * below have nothing to look at. */
  bool keep_records = true;
  size_t counted = 0;       // records counted and freed while !keep_records
  size_t counted_vars = 0;  // of those, define_var records

  void add(size_t line, const std::string& reason) { found.push_back({line, reason}); }

  /* A plain line's rule text; false for a comment or blank line. */
  bool plain_text(size_t lineno, std::string& text) {
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (qzrules_is_plain_filler(text)) return false;
    if (text.size() > QZ_RULE_PLAIN_MAX)
      add(lineno, "plain text of " + std::to_string(text.size()) + " characters is over " +
                      std::to_string(QZ_RULE_PLAIN_MAX) +
                      ": its enciphered line is too long to load");
    return true;
  }

  /* An enciphered line's rule text, deciphered as the loader reads it;
   * false, after saying why when it matters, when it yields none.
   * unterminated: the line is the last and has no LF. */
  bool enciphered_text(size_t lineno, bool unterminated, std::string& text) {
    /* The loader reads at most kMaxRead characters at a time, line end
     * included; a longer line falls apart into pieces. */
    if (text.size() + 1 > kMaxRead) {
      add(lineno, "line of " + std::to_string(text.size()) + " characters is longer than the " +
                      std::to_string(kMaxRead - 1) +
                      " a read takes: it is split into pieces that form no rule");
      return false;
    }
    if (!text.empty() && text.back() == '\r') {
      /* The loader drops a CR only in front of an LF. */
      if (unterminated && text.size() > 1) {
        add(lineno, "undecipherable: the last line ends in a CR without an LF");
        return false;
      }
      text.pop_back();
    }
    if (text.empty()) return false;
    if (text.size() == 1) {
      add(lineno, "a line of one character is skipped");
      return false;
    }
    std::unique_ptr<char[]> plain(qz_cipher_rule_decrypt(text.c_str()));
    if (!plain) {
      add(lineno,
          "undecipherable: not an even number of uppercase hexadecimal digits "
          "enciphered under the engine's pass phrase");
      return false;
    }
    text = plain.get();
    return true;
  }

  /* Checks one rule text and hands it to the engine's parser, keeping the
   * record it appends. */
  void load(size_t lineno, const std::string& text) {
    if (!keep_records) return count(text);
    std::vector<std::string> reasons;
    qz_rule_kind kind = check_text(text, reasons);
    for (const std::string& r : reasons) add(lineno, r);
    /* A plain text too long for the loader never reaches the tables. */
    if (kind == QZ_RULE_NONE ||
        (form == qzrules_input_form::plain && text.size() > QZ_RULE_PLAIN_MAX))
      return;

    std::vector<char> buf(text.c_str(), text.c_str() + text.size() + 1);
    if (!qz_behavior_define(buf.data())) {
      bool said = false;
      for (const std::string& r : reasons)
        if (r.find("dropped") != std::string::npos) said = true;
      if (!said) add(lineno, "the loader drops this rule");
      return;
    }
    switch (kind) {
      case QZ_RULE_VAR: vars.push_back({qz_behavior_vars.back(), lineno}); break;
      case QZ_RULE_BEHAVIOR: behaviors.push_back({qz_behaviors.back(), lineno}); break;
      case QZ_RULE_CALL_LIST: lists.push_back({qz_behavior_call_lists.back(), lineno}); break;
      case QZ_RULE_REPEAT_CALL: repeats.push_back({qz_behavior_repeat_calls.back(), lineno}); break;
      case QZ_RULE_NONE: break;
    }
  }

  /* What load does when only the counts matter: no finding is made, and a
   * record the engine makes is counted and freed at once. check_text gives
   * no kind exactly when the text begins with no keyword, so this keeps the
   * same rules as load. */
  void count(std::string text) {
    const qz_rule_keyword* kw = qz_rule_keyword_of(text.c_str());
    if (kw == nullptr || !qz_behavior_define(&text[0])) return;
    counted++;
    if (kw->kind == QZ_RULE_VAR) counted_vars++;
    qz_behavior_shutdown();
  }

  size_t records() const {
    return counted + vars.size() + behaviors.size() + lists.size() + repeats.size();
  }

  /* A line that holds no rule and is not meant to: blank, or a plain comment. */
  bool blank(const std::string& line) const {
    if (form == qzrules_input_form::plain) return qzrules_is_plain_filler(line);
    return line.empty() || line == "\r";
  }

  /* One line as qzrules_split_lines gives it; unterminated: it is the last
   * and has no LF. */
  void read_line(size_t lineno, const std::string& line, bool unterminated) {
    std::string text = line;
    size_t before = records();
    bool have = form == qzrules_input_form::plain ? plain_text(lineno, text)
                                                  : enciphered_text(lineno, unterminated, text);
    if (have) load(lineno, text);
    if (records() == before && !blank(line)) dropped.push_back(lineno);
  }

  void read_lines(const std::vector<std::string>& lines, bool last_has_end) {
    for (size_t i = 0; i < lines.size(); ++i)
      read_line(i + 1, lines[i], i + 1 == lines.size() && !last_has_end);
  }

  /* The lines of the contents one at a time, without a copy of them all. */
  void read_contents(const std::string& contents) {
    size_t lineno = 0;
    split_each(contents, [&](const std::string& line, bool unterminated) {
      read_line(++lineno, line, unterminated);
    });
  }

  /* Variables: the first of a name wins; later ones are dead. */
  void check_vars() {
    for (const auto& v : vars) {
      auto ins = var_line.emplace(lower(v.rec->var_name), v.line);
      if (ins.second) var_value.emplace(lower(v.rec->var_name), v.rec->var_value);
      if (!ins.second)
        add(v.line, "variable " + quoted(v.rec->var_name) + " is already defined on line " +
                        std::to_string(ins.first->second) + ": this definition is never used");
    }
  }

  void check_var_use(const char* field, size_t line) {
    if (looks_like_variable(field) && var_line.count(lower(field)) == 0)
      add(line, quoted(field) + " looks like a variable name, but no define_var defines it");
  }

  void check_score(int64_t score, size_t line, const char* effect) {
    if (score <= 0)
      add(line, "score " + std::to_string(score) + ": a match scores nothing and " + effect);
  }

  /* A field with a variable's name stands for the variable's value, as the
   * engine's matcher reads it. */
  std::string resolve(const char* field) const {
    auto it = var_value.find(lower(field));
    return it == var_value.end() ? field : it->second;
  }

  ResolvedBehavior resolved(const _behavior_descriptor* b) const {
    ResolvedBehavior r{
        split_lower(resolve(b->functions), QZ_RULE_ALT_SEP), {}, b->exact_match != 0};
    for (uint64_t c = 0; c < b->cond_count; ++c) {
      const _behavior_condition& cond = b->conds[c];
      /* As in the matcher, no variable stands in for the constant marker; a
       * begins-with pattern keeps its mark, so that it never equals a
       * contains pattern. */
      if (qz_rule_cond_is_constant(&cond))
        r.conds.insert({cond.arg_index, cond.pattern});
      else if (const char* prefix = qz_rule_cond_prefix(&cond))
        r.conds.insert({cond.arg_index, QZ_RULE_PREFIX_MARK + resolve(prefix)});
      else
        r.conds.insert({cond.arg_index, resolve(cond.pattern)});
    }
    return r;
  }

  /* The checks of one behaviour rule that need no other rule but whether it
   * is an exception: a rule with conditions and score 0 that keeps the calls
   * it matches from a later rule that scores them. */
  void check_behavior_alone(const _behavior_descriptor* b, size_t line, bool names_none,
                            bool exception) {
    if (!exception) check_score(b->score, line, "ends the search for that call");
    check_var_use(b->functions, line);
    for (uint64_t c = 0; c < b->cond_count; ++c) {
      const char* prefix = qz_rule_cond_prefix(&b->conds[c]);
      check_var_use(prefix != nullptr ? prefix : b->conds[c].pattern, line);
      if (b->conds[c].arg_index < 0)
        add(line, "negative argument position " + std::to_string(b->conds[c].arg_index) +
                      ": the rule never matches");
    }
    if (names_none) add(line, "the function list names no function: the rule never matches");
  }

  /* Scores, then shadowing: a rule whose calls an earlier rule always takes.
   * A rule that covers another names all its functions, so it is filed
   * under each of its functions with one of its conditions (or none). */
  void check_behaviors() {
    CoverIndex<std::pair<std::string, std::optional<Cond>>> index;
    std::map<std::string, size_t> fn_seen;  // function -> rules naming it
    std::map<Cond, size_t> cond_seen;       // condition -> rules holding it
    std::vector<ResolvedBehavior> done;
    std::map<std::string, size_t> last_scoring;  // function -> last rule that scores it
    for (size_t j = 0; j < behaviors.size(); ++j) {
      done.push_back(resolved(behaviors[j].rec));
      if (behaviors[j].rec->score > 0)
        for (const std::string& f : done.back().fns) last_scoring[f] = j;
    }
    for (size_t j = 0; j < behaviors.size(); ++j) {
      const ResolvedBehavior& b = done[j];
      bool exception = false;
      if (behaviors[j].rec->score == 0 && !b.conds.empty())
        for (const std::string& f : b.fns) {
          auto it = last_scoring.find(f);
          if (it != last_scoring.end() && it->second > j) exception = true;
        }
      check_behavior_alone(behaviors[j].rec, behaviors[j].line, b.fns.empty(), exception);
      if (b.fns.empty()) continue;
      const std::string& fn = rarest(b.fns, fn_seen);
      auto covers = [&](size_t i) { return always_matches_first(done[i], b); };
      size_t first = index.first({fn, std::nullopt}, j, covers);
      for (const Cond& c : b.conds) first = index.first({fn, c}, first, covers);
      if (first < j)
        add(behaviors[j].line, "never matches: the rule on line " +
                                   std::to_string(behaviors[first].line) +
                                   " always matches these calls first");
      std::optional<Cond> key;
      if (!b.conds.empty()) key = rarest(b.conds, cond_seen);
      for (const Cond& c : b.conds) cond_seen[c]++;
      for (const std::string& f : b.fns) {
        fn_seen[f]++;
        index.file({f, key}, j);
      }
    }
  }

  /* A list that an earlier list's names all belong to never matches; the
   * earlier list is filed under one of its names, or is the first empty one. */
  void check_call_lists() {
    CoverIndex<std::string> index;
    std::map<std::string, size_t> name_seen;  // name -> lists holding it
    std::vector<std::set<std::string>> done;
    size_t first_empty = SIZE_MAX;
    for (size_t j = 0; j < lists.size(); ++j) {
      check_score(lists[j].rec->score, lists[j].line, "ends the file check");
      done.push_back(call_names(lists[j].rec));
      const std::set<std::string>& names = done.back();
      auto covers = [&](size_t i) {
        return std::includes(names.begin(), names.end(), done[i].begin(), done[i].end());
      };
      size_t first = std::min(first_empty, j);
      for (const std::string& n : names) first = index.first(n, first, covers);
      if (first < j)
        add(lists[j].line, "never matches: the call list on line " +
                               std::to_string(lists[first].line) +
                               " matches every such file first");
      if (names.empty())
        first_empty = std::min(first_empty, j);
      else
        index.file(rarest(names, name_seen), j);
      for (const std::string& n : names) name_seen[n]++;
    }
  }

  void check_repeat_calls() {
    const Placed<_behavior_call_list>* catch_all = nullptr;
    for (const auto& l : lists)
      if (l.rec->call_count == 0) {
        catch_all = &l;
        break;
      }
    RepeatIndex index;
    for (size_t j = 0; j < repeats.size(); ++j) {
      const _behavior_repeat_call* r = repeats[j].rec;
      size_t line = repeats[j].line;
      const std::string fn = lower(r->function);
      size_t earlier = index.first(fn, r->min_count);
      index.add(fn, r->min_count, j);
      check_score(r->score, line, "ends the file check");
      if (r->min_count < 0)
        add(line,
            "negative minimum count " + std::to_string(r->min_count) + ": the rule never fires");
      else if (catch_all != nullptr)
        add(line, "never fires: the call list on line " + std::to_string(catch_all->line) +
                      " has no names and matches every file first");
      else if (earlier != SIZE_MAX)
        add(line, "never fires: the rule on line " + std::to_string(repeats[earlier].line) +
                      " fires at the same count or earlier");
    }
  }
};

}  // namespace

bool qzrules_is_plain_filler(const std::string& line) {
  size_t p = line.find_first_not_of(" \t\r\n");
  return p == std::string::npos || line[p] == '#';
}

qzrules_input_form qzrules_guess_form(const std::vector<std::string>& lines) {
  for (const std::string& l : lines) {
    size_t p = l.find_first_not_of(" \t");
    if (p == std::string::npos) continue;
    if (l[p] == '#' || l.compare(p, strlen(QZ_RULE_KEYWORD_PREFIX), QZ_RULE_KEYWORD_PREFIX) == 0)
      return qzrules_input_form::plain;
  }
  return qzrules_input_form::enciphered;
}

std::vector<std::string> qzrules_split_lines(const std::string& contents) {
  std::vector<std::string> lines;
  split_each(contents, [&](const std::string& line, bool) { lines.push_back(line); });
  return lines;
}

bool qzrules_read_file(const std::string& path, std::string& contents, std::string& why) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    why = strerror(errno);
    return false;
  }
  /* Read straight into the string, sized for the whole file plus one byte so
   * that the read which meets the end needs no more room; a file that grows
   * meanwhile gets more room a chunk at a time. */
  struct stat st;
  size_t room = kReadChunk;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
    room = static_cast<size_t>(st.st_size) + 1;
  contents.assign(room, '\0');
  size_t have = 0;
  for (;;) {
    if (have == contents.size()) contents.resize(have + kReadChunk);
    ssize_t n = read(fd, &contents[have], contents.size() - have);
    if (n == 0) break;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      why = strerror(errno);
      close(fd);
      contents.clear();
      return false;
    }
    have += static_cast<size_t>(n);
  }
  close(fd);
  contents.resize(have);
  return true;
}

bool qzrules_encipher_line(const std::string& text, std::string& line, std::string& why) {
  if (text.find('\0') != std::string::npos) {
    why = "a zero byte would end the rule text early";
    return false;
  }
  if (text.size() > QZ_RULE_PLAIN_MAX) {
    why = "rule text of " + std::to_string(text.size()) + " characters is over " +
          std::to_string(QZ_RULE_PLAIN_MAX) + " and could not be loaded";
    return false;
  }
  std::unique_ptr<char[]> hex(qz_cipher_rule_encrypt(text.c_str()));
  if (!hex) {
    why = "cannot be enciphered";
    return false;
  }
  line = hex.get();
  return true;
}

qzrules_load_summary qzrules_check_load(const std::string& contents) {
  qz_behavior_shutdown();
  Lint lint;
  lint.keep_records = false;
  lint.read_contents(contents);
  qzrules_load_summary sum;
  sum.rules = lint.records();
  sum.detecting = sum.rules - lint.counted_vars;
  sum.dropped = std::move(lint.dropped);
  qz_behavior_shutdown();
  return sum;
}

std::vector<qzrules_finding> qzrules_lint(const std::string& contents, qzrules_input_form form) {
  const std::vector<std::string> lines = qzrules_split_lines(contents);
  if (form == qzrules_input_form::automatic) form = qzrules_guess_form(lines);
  qz_behavior_shutdown();
  Lint lint;
  lint.form = form;
  lint.read_lines(lines, !contents.empty() && contents.back() == '\n');
  lint.check_vars();
  lint.check_behaviors();
  lint.check_call_lists();
  lint.check_repeat_calls();
  qz_behavior_shutdown();
  std::stable_sort(
      lint.found.begin(), lint.found.end(),
      [](const qzrules_finding& a, const qzrules_finding& b) { return a.line < b.line; });
  return lint.found;
}
