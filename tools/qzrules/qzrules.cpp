/*
 * qzrules: the rule writer's tool. Enciphers plain rule files into the form
 * the engine loads and back, checks a rule file for lines the loader would
 * skip, cut or never use, and prints the tables the engine builds as JSON.
 *
 * Exit status: 0 done and clean, 1 problems found (lint findings, lines that
 * could not be converted), 2 usage or I/O error.
 */

#include "behavior/qz_behavior_rules.h"
#include "behavior/qz_cipher.h"
#include "qzrules_lint.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>

namespace {

constexpr int kExitClean = 0;
constexpr int kExitProblems = 1;
constexpr int kExitError = 2;

void problem(const std::string& where, const std::string& reason) {
  std::cerr << "qzrules: " << where << ": " << reason << "\n";
}

/* Reads a file, or says why it cannot be read. */
bool read_file(const std::string& path, std::string& out) {
  std::string why;
  if (qzrules_read_file(path, out, why)) return true;
  problem(path, why);
  return false;
}

/* Writes text to path, or to standard output when path is empty. */
bool write_output(const std::string& path, const std::string& text) {
  if (path.empty()) {
    std::cout << text;
    std::cout.flush();
    return static_cast<bool>(std::cout);
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out << text;
  out.close();
  return static_cast<bool>(out);
}

std::string strip_cr(std::string line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

/* What a line converter did with one line. */
enum class LineResult { Kept, Skipped, LeftOut };

/* Reads in_path, turns each line with convert(line, where, &text) and writes
 * the kept lines' texts to out_path. A converter names the problem of a line
 * it leaves out. Exit status: error when the files cannot be read or written,
 * problems when a line was left out, clean otherwise. */
template <class Convert>
int convert_file(const std::string& in_path, const std::string& out_path, Convert convert) {
  std::string contents;
  if (!read_file(in_path, contents)) return kExitError;
  std::string out;
  int status = kExitClean;
  std::vector<std::string> lines = qzrules_split_lines(contents);
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string text;
    LineResult r = convert(strip_cr(lines[i]), in_path + ":" + std::to_string(i + 1), &text);
    if (r == LineResult::LeftOut) status = kExitProblems;
    if (r == LineResult::Kept) out += text + "\n";
  }
  if (!write_output(out_path, out)) {
    problem(out_path.empty() ? "stdout" : out_path, "cannot write");
    return kExitError;
  }
  return status;
}

int cmd_encrypt(const std::string& in_path, const std::string& out_path) {
  return convert_file(
      in_path, out_path, [](const std::string& line, const std::string& where, std::string* text) {
        if (qzrules_is_plain_filler(line)) return LineResult::Skipped;
        if (line.find('\0') != std::string::npos) {
          problem(where, "a zero byte would end the rule text early; line left out");
          return LineResult::LeftOut;
        }
        if (line.size() > QZ_RULE_PLAIN_MAX) {
          problem(where, "rule text of " + std::to_string(line.size()) + " characters is over " +
                             std::to_string(QZ_RULE_PLAIN_MAX) +
                             " and could not be loaded; line left out");
          return LineResult::LeftOut;
        }
        std::unique_ptr<char[]> hex(qz_cipher_rule_encrypt(line.c_str()));
        if (!hex) {
          problem(where, "cannot be enciphered");
          return LineResult::LeftOut;
        }
        *text = hex.get();
        return LineResult::Kept;
      });
}

int cmd_decrypt(const std::string& in_path, const std::string& out_path) {
  return convert_file(in_path, out_path,
                      [](const std::string& line, const std::string& where, std::string* text) {
                        if (line.empty()) return LineResult::Skipped;
                        std::unique_ptr<char[]> plain(qz_cipher_rule_decrypt(line.c_str()));
                        if (!plain) {
                          problem(where, "undecipherable; line left out");
                          return LineResult::LeftOut;
                        }
                        *text = plain.get();
                        return LineResult::Kept;
                      });
}

int cmd_lint(const std::string& in_path, qzrules_input_form form) {
  std::string contents;
  if (!read_file(in_path, contents)) return kExitError;
  std::vector<qzrules_finding> found = qzrules_lint(contents, form);
  for (const qzrules_finding& f : found)
    std::cout << in_path << ":" << f.line << ": " << f.reason << "\n";
  return found.empty() ? kExitClean : kExitProblems;
}

nlohmann::ordered_json dump_tables() {
  using json = nlohmann::ordered_json;
  json vars = json::array();
  for (const _behavior_define_var* v : qz_behavior_vars)
    vars.push_back({{"name", v->var_name}, {"value", v->var_value}});
  json behaviors = json::array();
  for (const _behavior_descriptor* b : qz_behaviors) {
    json conds = json::array();
    for (uint64_t k = 0; k < b->cond_count && k < QZ_RULE_ITEM_SLOTS; ++k) {
      const _behavior_condition& c = b->conds[k];
      if (qz_rule_cond_is_constant(&c))
        conds.push_back({{"arg_index", c.arg_index}, {"constant", true}});
      else
        conds.push_back({{"arg_index", c.arg_index}, {"pattern", c.pattern}});
    }
    behaviors.push_back({{"functions", b->functions},
                         {"conditions", conds},
                         {"score", b->score},
                         {"description", b->description},
                         {"exact_match", b->exact_match}});
  }
  json lists = json::array();
  for (const _behavior_call_list* l : qz_behavior_call_lists) {
    json calls = json::array();
    for (uint64_t k = 0; k < l->call_count && k < QZ_RULE_ITEM_SLOTS; ++k)
      calls.push_back(l->calls[k]);
    lists.push_back({{"calls", calls}, {"score", l->score}, {"description", l->description}});
  }
  json repeats = json::array();
  for (const _behavior_repeat_call* r : qz_behavior_repeat_calls)
    repeats.push_back({{"function", r->function},
                       {"min_count", r->min_count},
                       {"score", r->score},
                       {"description", r->description}});
  return {
      {"vars", vars}, {"behaviors", behaviors}, {"call_lists", lists}, {"repeat_calls", repeats}};
}

int cmd_dump(const std::string& in_path, const std::string& out_path) {
  std::string contents;
  if (!read_file(in_path, contents)) return kExitError;
  if (!qz_behavior_startup(in_path.c_str()) || !qz_behavior_startup_i()) {
    problem(in_path, "cannot read");
    return kExitError;
  }
  /* Rule texts are bytes; invalid UTF-8 is shown with replacement marks. */
  std::string text =
      dump_tables().dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  qz_behavior_shutdown();
  if (!write_output(out_path, text + "\n")) {
    problem(out_path.empty() ? "stdout" : out_path, "cannot write");
    return kExitError;
  }
  return kExitClean;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"qzrules: encipher, decipher, check and inspect behaviour rule files"};
  app.require_subcommand(1);

  std::string in_path, out_path;
  CLI::App* enc = app.add_subcommand("encrypt",
                                     "Encipher a plain rule file (one rule per line; "
                                     "# comments and blank lines are skipped)");
  enc->add_option("PLAIN", in_path, "plain rule file")->required();
  enc->add_option("-o,--output", out_path, "output file (default: standard output)");

  CLI::App* dec = app.add_subcommand("decrypt", "Decipher a rule file into plain rule texts");
  dec->add_option("RULES", in_path, "enciphered rule file")->required();
  dec->add_option("-o,--output", out_path, "output file (default: standard output)");

  bool force_plain = false, force_enciphered = false;
  CLI::App* lint = app.add_subcommand(
      "lint", "List every line the engine would skip, cut or never use, with the reason");
  lint->add_option("FILE", in_path, "rule file, enciphered or plain")->required();
  auto* plain_flag = lint->add_flag("--plain", force_plain, "read FILE as plain rule texts");
  lint->add_flag("--enciphered", force_enciphered, "read FILE as an enciphered rule file")
      ->excludes(plain_flag);

  CLI::App* dump = app.add_subcommand("dump", "Print the rule tables the engine loads, as JSON");
  dump->add_option("RULES", in_path, "enciphered rule file")->required();
  dump->add_option("-o,--output", out_path, "output file (default: standard output)");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kExitError;
  }

  if (enc->parsed()) return cmd_encrypt(in_path, out_path);
  if (dec->parsed()) return cmd_decrypt(in_path, out_path);
  if (lint->parsed()) {
    qzrules_input_form form = force_plain        ? qzrules_input_form::plain
                              : force_enciphered ? qzrules_input_form::enciphered
                                                 : qzrules_input_form::automatic;
    return cmd_lint(in_path, form);
  }
  if (dump->parsed()) return cmd_dump(in_path, out_path);
  return kExitError;
}
