#include "qzrules_lint.h"

#include "behavior/qz_behavior_match.h"
#include "behavior/qz_behavior_rules.h"
#include "behavior/qz_cipher.h"
#include "common/qz_limits.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>

namespace {

/* Longest plain text whose enciphered line, with an LF, fits one read. */
constexpr size_t kMaxPlain = (QZ_RULE_LINE_BUFFER - 2) / 2;
/* Longest physical line (with its end) that one read takes. */
constexpr size_t kMaxRead = QZ_RULE_LINE_BUFFER - 1;
constexpr size_t kFieldMax = QZ_RULE_FIELD_SIZE - 1;
constexpr size_t kNameMax = QZ_RULE_NAME_SIZE - 1;

enum class Kind { none, var, behavior, call_list, repeat_call };

struct Keyword {
  const char* word;
  Kind kind;
  int fields; /* fields before the last ")": commas needed + 1 */
};
/* In the order the loader tests them. */
const Keyword kKeywords[] = {
    {"define_var", Kind::var, 2},
    {"define_behavior", Kind::behavior, 4},
    {"define_call_list", Kind::call_list, 3},
    {"define_repeat_call", Kind::repeat_call, 4},
};

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

std::set<std::string> split_lower(const std::string& list, char sep) {
  std::set<std::string> out;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(sep, start);
    if (end == std::string::npos) end = list.size();
    if (end > start) out.insert(lower(list.substr(start, end - start)));
    start = end + 1;
  }
  return out;
}

std::vector<std::string> split_items(const std::string& list, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(sep, start);
    if (end == std::string::npos) end = list.size();
    if (end > start) out.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

std::string quoted(const std::string& s) {
  std::string shown = s.size() > 40 ? s.substr(0, 40) + "..." : s;
  return "\"" + shown + "\"";
}

/* Reports a number field that does not read as the plain integer written. */
void check_number(const std::string& field, const char* what, std::vector<std::string>& out) {
  const char* text = field.c_str();
  char* end = nullptr;
  errno = 0;
  long v = strtol(text, &end, 10);
  long kept = static_cast<int32_t>(static_cast<uint32_t>(v));
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

/* The textual checks of one plain rule text. Returns its kind (none when it
 * begins with no keyword) and appends the reasons. */
Kind check_text(const std::string& text, std::vector<std::string>& out) {
  const Keyword* kw = nullptr;
  for (const Keyword& k : kKeywords)
    if (text.compare(0, strlen(k.word), k.word) == 0) {
      kw = &k;
      break;
    }
  if (kw == nullptr) {
    out.push_back("unknown keyword: the text begins with none of define_var, define_behavior, "
                  "define_call_list, define_repeat_call");
    return Kind::none;
  }
  size_t open = text.find('(');
  size_t close = text.rfind(')');
  if (open == std::string::npos) {
    out.push_back("missing \"(\": the rule is dropped");
    return kw->kind;
  }
  if (close == std::string::npos || close < open) {
    out.push_back("missing \")\" after the \"(\": the rule is dropped");
    return kw->kind;
  }
  std::string between = text.substr(strlen(kw->word), open - strlen(kw->word));
  if (!between.empty())
    out.push_back("text " + quoted(between) + " between the keyword and \"(\" is ignored");
  std::string after = text.substr(close + 1);
  if (after.find_first_not_of(" \t\r") != std::string::npos)
    out.push_back("text " + quoted(after) + " after the last \")\" is ignored");

  /* Fields as the loader cuts them: commas from the left, the last field
   * running to the last ")". define_behavior has an optional fifth field. */
  std::string args = text.substr(open + 1, close - open - 1);
  std::vector<std::string> f;
  size_t start = 0;
  for (int k = 0; k < kw->fields - 1; ++k) {
    size_t comma = args.find(',', start);
    if (comma == std::string::npos) {
      out.push_back("missing comma: " + std::string(kw->word) + " needs " +
                    std::to_string(kw->fields) + " fields, found " + std::to_string(k + 1) +
                    "; the rule is dropped");
      return kw->kind;
    }
    f.push_back(args.substr(start, comma - start));
    start = comma + 1;
  }
  f.push_back(args.substr(start));

  switch (kw->kind) {
    case Kind::var:
      check_cut(f[0], kFieldMax, "variable name", out);
      check_cut(f[1], kFieldMax, "variable value", out);
      break;
    case Kind::behavior: {
      size_t comma = f[3].find(',');
      if (comma != std::string::npos) {
        std::string exact = f[3].substr(comma + 1);
        f[3] = f[3].substr(0, comma);
        check_number(exact, "exact flag", out);
      }
      check_cut(f[0], kFieldMax, "function list", out);
      check_cut(f[3], kFieldMax, "description", out);
      check_number(f[2], "score", out);
      if (f[1].size() > 2) {
        std::vector<std::string> items = split_items(f[1], '&');
        if (items.size() > QZ_RULE_MAX_ITEMS)
          out.push_back("more than " + std::to_string(QZ_RULE_MAX_ITEMS) + " conditions (" +
                        std::to_string(items.size()) + "): the rest are ignored");
        for (size_t k = 0; k < items.size() && k < QZ_RULE_MAX_ITEMS; ++k) {
          size_t eq = items[k].find('=');
          if (eq == std::string::npos) {
            out.push_back("condition " + quoted(items[k]) + " has no \"=\": the rule is dropped");
            continue;
          }
          check_number(items[k].substr(0, eq), "argument position", out);
          check_cut(items[k].substr(eq + 1), kFieldMax, "pattern", out);
        }
      } else if (!f[1].empty() && f[1].find('=') != std::string::npos) {
        out.push_back("conditions " + quoted(f[1]) +
                      " have at most 2 characters and are read as no conditions");
      }
      break;
    }
    case Kind::call_list: {
      std::vector<std::string> items = split_items(f[0], '&');
      if (items.size() > QZ_RULE_MAX_ITEMS)
        out.push_back("more than " + std::to_string(QZ_RULE_MAX_ITEMS) + " names (" +
                      std::to_string(items.size()) + "): the rest are ignored");
      for (size_t k = 0; k < items.size() && k < QZ_RULE_MAX_ITEMS; ++k)
        check_cut(items[k], kNameMax, "function name", out);
      check_number(f[1], "score", out);
      check_cut(f[2], kFieldMax, "description", out);
      break;
    }
    case Kind::repeat_call:
      check_cut(f[0], kNameMax, "function name", out);
      check_number(f[1], "minimum count", out);
      check_number(f[2], "score", out);
      check_cut(f[3], kFieldMax, "description", out);
      break;
    case Kind::none:
      break;
  }
  return kw->kind;
}

/* A field that reads like a variable's name: capitals, digits and "_". */
bool looks_like_variable(const std::string& s) {
  if (s.size() < 2 || !(s[0] >= 'A' && s[0] <= 'Z')) return false;
  for (char c : s)
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
  return true;
}

}  // namespace

bool qzrules_is_plain_filler(const std::string& line) {
  size_t p = line.find_first_not_of(" \t\r\n");
  return p == std::string::npos || line[p] == '#';
}

qzrules_input_form qzrules_guess_form(const std::vector<std::string>& lines) {
  for (const std::string& l : lines) {
    size_t p = l.find_first_not_of(" \t");
    if (p == std::string::npos) continue;
    if (l[p] == '#' || l.compare(p, 7, "define_") == 0) return qzrules_input_form::plain;
  }
  return qzrules_input_form::enciphered;
}

std::vector<std::string> qzrules_split_lines(const std::string& contents) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < contents.size()) {
    size_t nl = contents.find('\n', start);
    if (nl == std::string::npos) {
      lines.push_back(contents.substr(start));
      break;
    }
    lines.push_back(contents.substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

std::vector<qzrules_finding> qzrules_lint(const std::string& contents, qzrules_input_form form) {
  const std::vector<std::string> lines = qzrules_split_lines(contents);
  const bool last_has_end = !contents.empty() && contents.back() == '\n';
  if (form == qzrules_input_form::automatic) form = qzrules_guess_form(lines);
  std::vector<qzrules_finding> found;
  auto add = [&](size_t line, const std::string& reason) { found.push_back({line, reason}); };

  qz_behavior_shutdown();
  std::vector<Placed<_behavior_define_var>> vars;
  std::vector<Placed<_behavior_descriptor>> behaviors;
  std::vector<Placed<_behavior_call_list>> lists;
  std::vector<Placed<_behavior_repeat_call>> repeats;

  for (size_t i = 0; i < lines.size(); ++i) {
    size_t lineno = i + 1;
    std::string text = lines[i];
    if (form == qzrules_input_form::plain) {
      if (!text.empty() && text.back() == '\r') text.pop_back();
      if (qzrules_is_plain_filler(text)) continue;
      if (text.size() > kMaxPlain)
        add(lineno, "plain text of " + std::to_string(text.size()) + " characters is over " +
                        std::to_string(kMaxPlain) + ": its enciphered line is too long to load");
    } else {
      /* The loader reads at most kMaxRead characters at a time, line end
       * included; a longer line falls apart into pieces. */
      if (text.size() + 1 > kMaxRead) {
        add(lineno, "line of " + std::to_string(text.size()) + " characters is longer than the " +
                        std::to_string(kMaxRead - 1) +
                        " a read takes: it is split into pieces that form no rule");
        continue;
      }
      if (!text.empty() && text.back() == '\r') {
        /* The loader drops a CR only in front of an LF. */
        if (i + 1 == lines.size() && !last_has_end && text.size() > 1) {
          add(lineno, "undecipherable: the last line ends in a CR without an LF");
          continue;
        }
        text.pop_back();
      }
      if (text.empty()) continue;
      if (text.size() == 1) {
        add(lineno, "a line of one character is skipped");
        continue;
      }
      std::unique_ptr<char[]> plain(qz_cipher_rule_decrypt(text.c_str()));
      if (!plain) {
        add(lineno, "undecipherable: not an even number of uppercase hexadecimal digits "
                    "enciphered under the engine's pass phrase");
        continue;
      }
      text = plain.get();
    }

    std::vector<std::string> reasons;
    Kind kind = check_text(text, reasons);
    for (const std::string& r : reasons) add(lineno, r);
    /* A plain text too long for the loader never reaches the tables. */
    if (kind == Kind::none || (form == qzrules_input_form::plain && text.size() > kMaxPlain))
      continue;

    std::vector<char> buf(text.begin(), text.end());
    buf.push_back('\0');
    if (!qz_behavior_define(buf.data())) {
      bool said = false;
      for (const std::string& r : reasons)
        if (r.find("dropped") != std::string::npos) said = true;
      if (!said) add(lineno, "the loader drops this rule");
      continue;
    }
    switch (kind) {
      case Kind::var: vars.push_back({qz_behavior_vars.back(), lineno}); break;
      case Kind::behavior: behaviors.push_back({qz_behaviors.back(), lineno}); break;
      case Kind::call_list: lists.push_back({qz_behavior_call_lists.back(), lineno}); break;
      case Kind::repeat_call: repeats.push_back({qz_behavior_repeat_calls.back(), lineno}); break;
      case Kind::none: break;
    }
  }

  /* Variables: the first of a name wins; later ones are dead. */
  std::map<std::string, size_t> var_line;
  for (const auto& v : vars) {
    auto ins = var_line.emplace(lower(v.rec->var_name), v.line);
    if (!ins.second)
      add(v.line, "variable " + quoted(v.rec->var_name) + " is already defined on line " +
                      std::to_string(ins.first->second) + ": this definition is never used");
  }
  auto resolve = [&](const char* field) -> std::string {
    return qz_behavior_reference_var(const_cast<char*>(field));
  };
  auto check_var_use = [&](const char* field, size_t line) {
    if (looks_like_variable(field) && var_line.count(lower(field)) == 0)
      add(line, quoted(field) + " looks like a variable name, but no define_var defines it");
  };

  /* Scores, then shadowing: a rule whose calls an earlier rule always takes. */
  for (size_t j = 0; j < behaviors.size(); ++j) {
    const _behavior_descriptor* b = behaviors[j].rec;
    size_t line = behaviors[j].line;
    if (b->score <= 0)
      add(line, "score " + std::to_string(b->score) +
                    ": a match scores nothing and ends the search for that call");
    check_var_use(b->functions, line);
    for (uint64_t c = 0; c < b->cond_count; ++c) {
      check_var_use(b->conds[c].pattern, line);
      if (b->conds[c].arg_index < 0)
        add(line, "negative argument position " + std::to_string(b->conds[c].arg_index) +
                      ": the rule never matches");
    }
    std::set<std::string> fns = split_lower(resolve(b->functions), '+');
    if (fns.empty()) add(line, "the function list names no function: the rule never matches");
    for (size_t i = 0; i < j; ++i) {
      const _behavior_descriptor* a = behaviors[i].rec;
      std::set<std::string> earlier = split_lower(resolve(a->functions), '+');
      if (fns.empty() || !std::includes(earlier.begin(), earlier.end(), fns.begin(), fns.end()))
        continue;
      bool implied = true;
      for (uint64_t ca = 0; ca < a->cond_count && implied; ++ca) {
        if ((a->exact_match != 0) != (b->exact_match != 0)) {
          implied = false;
          break;
        }
        bool same = false;
        for (uint64_t cb = 0; cb < b->cond_count && !same; ++cb)
          same = a->conds[ca].arg_index == b->conds[cb].arg_index &&
                 resolve(a->conds[ca].pattern) == resolve(b->conds[cb].pattern);
        implied = same;
      }
      if (implied) {
        add(line, "never matches: the rule on line " + std::to_string(behaviors[i].line) +
                      " always matches these calls first");
        break;
      }
    }
  }
  for (size_t j = 0; j < lists.size(); ++j) {
    const _behavior_call_list* l = lists[j].rec;
    if (l->score <= 0)
      add(lists[j].line, "score " + std::to_string(l->score) +
                             ": a match scores nothing and ends the file check");
    std::set<std::string> names;
    for (uint64_t k = 0; k < l->call_count; ++k) names.insert(lower(l->calls[k]));
    for (size_t i = 0; i < j; ++i) {
      std::set<std::string> earlier;
      for (uint64_t k = 0; k < lists[i].rec->call_count; ++k)
        earlier.insert(lower(lists[i].rec->calls[k]));
      if (std::includes(names.begin(), names.end(), earlier.begin(), earlier.end())) {
        add(lists[j].line, "never matches: the call list on line " +
                               std::to_string(lists[i].line) + " matches every such file first");
        break;
      }
    }
  }
  const Placed<_behavior_call_list>* catch_all = nullptr;
  for (const auto& l : lists)
    if (l.rec->call_count == 0) {
      catch_all = &l;
      break;
    }
  for (size_t j = 0; j < repeats.size(); ++j) {
    const _behavior_repeat_call* r = repeats[j].rec;
    size_t line = repeats[j].line;
    if (r->score <= 0)
      add(line, "score " + std::to_string(r->score) +
                    ": a match scores nothing and ends the file check");
    if (r->min_count < 0) {
      add(line, "negative minimum count " + std::to_string(r->min_count) + ": the rule never fires");
      continue;
    }
    if (catch_all != nullptr) {
      add(line, "never fires: the call list on line " + std::to_string(catch_all->line) +
                    " has no names and matches every file first");
      continue;
    }
    for (size_t i = 0; i < j; ++i) {
      const _behavior_repeat_call* e = repeats[i].rec;
      if (e->min_count >= 0 && e->min_count <= r->min_count &&
          lower(e->function) == lower(r->function)) {
        add(line, "never fires: the rule on line " + std::to_string(repeats[i].line) +
                      " fires at the same count or earlier");
        break;
      }
    }
  }

  qz_behavior_shutdown();
  std::stable_sort(found.begin(), found.end(),
                   [](const qzrules_finding& a, const qzrules_finding& b) { return a.line < b.line; });
  return found;
}
