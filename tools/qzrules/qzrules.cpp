/*
 * qzrules: the rule writer's tool. Enciphers plain rule files into the form
 * the engine loads and back, checks a rule file for lines the loader would
 * skip, cut or never use, prints the tables the engine builds as JSON, and
 * measures a rule file on known malicious and benign scripts.
 *
 * Exit status: 0 done and clean, 1 problems found (lint findings, lines that
 * could not be converted, test thresholds not met), 2 usage or I/O error.
 */

#include "behavior/qz_behavior_rules.h"
#include "behavior/qz_cipher.h"
#include "qzrules_lint.h"
#include "qzrules_test.h"

#include <qzengine/version.h>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

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
  return convert_file(in_path, out_path,
                      [](const std::string& line, const std::string& where, std::string* text) {
                        if (qzrules_is_plain_filler(line)) return LineResult::Skipped;
                        std::string why;
                        if (qzrules_encipher_line(line, *text, why)) return LineResult::Kept;
                        problem(where, why + "; line left out");
                        return LineResult::LeftOut;
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
      else if (const char* prefix = qz_rule_cond_prefix(&c))
        conds.push_back({{"arg_index", c.arg_index}, {"begins", prefix}});
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

/* Most qzscan worker processes `test` asks for: qzscan's own bound. */
constexpr unsigned kMaxJobs = 256;
/* Bytes for the path of our own executable (PATH_MAX on Linux). */
constexpr size_t kExePathBuffer = 4096;

std::string exe_dir() {
  char buf[kExePathBuffer];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  buf[n] = 0;
  std::string p(buf);
  return p.substr(0, p.find_last_of('/'));
}

bool same_dir(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

/* The qzscan that `test` runs: the build tree's for the binary built there,
 * else the one installed beside this binary, else the first in PATH. */
std::string default_qzscan() {
  const std::string dir = exe_dir();
  if (*QZRULES_BUILD_DIR && same_dir(dir, QZRULES_BUILD_DIR)) return QZRULES_BUILD_QZSCAN;
  const std::string beside = dir + "/qzscan";
  return access(beside.c_str(), X_OK) == 0 ? beside : "qzscan";
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"qzrules: encipher, decipher, check and inspect behaviour rule files"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("qzrules ") + qz_engine_version_string());

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

  qzrules_test_options topt;
  CLI::App* test = app.add_subcommand(
      "test", "Scan known malicious and benign directories with the rules and report the rates");
  test->add_option("RULES", topt.rules, "rule file, enciphered or plain")->required();
  test->add_option("--malicious", topt.malicious, "directories of malicious scripts");
  test->add_option("--benign", topt.benign, "directories of benign scripts");
  auto pct = CLI::Range(0.0, 100.0);
  double min_detection = 0, min_threat = 0, max_fp = 0;
  auto* min_det_opt = test->add_option("--min-detection", min_detection,
                                       "fail unless this percentage of malicious files is flagged")
                          ->check(pct);
  auto* min_threat_opt =
      test->add_option("--min-threat", min_threat,
                       "fail unless this percentage of malicious files is a threat")
          ->check(pct);
  auto* max_fp_opt = test->add_option("--max-fp", max_fp,
                                      "fail when more than this percentage of benign files is "
                                      "flagged")
                         ->check(pct);
  test->add_flag("--json", topt.json, "print one JSON document instead of the tables");
  test->add_flag("--no-extensions", topt.no_extensions,
                 "scan as qzscan --no-extensions does (the baseline engine)");
  test->add_option("-j,--jobs", topt.jobs, "qzscan's worker processes (default: qzscan's)")
      ->check(CLI::Range(1u, kMaxJobs));
  test->add_option("--qzscan", topt.qzscan, "the qzscan binary to run");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
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
  if (test->parsed()) {
    if (topt.malicious.empty() && topt.benign.empty()) {
      std::cerr << "qzrules: test: give --malicious or --benign directories, or both\n";
      return kExitError;
    }
    if ((*min_det_opt || *min_threat_opt) && topt.malicious.empty()) {
      std::cerr << "qzrules: test: --min-detection and --min-threat need --malicious\n";
      return kExitError;
    }
    if (*max_fp_opt && topt.benign.empty()) {
      std::cerr << "qzrules: test: --max-fp needs --benign\n";
      return kExitError;
    }
    if (*min_det_opt) topt.min_detection = min_detection;
    if (*min_threat_opt) topt.min_threat = min_threat;
    if (*max_fp_opt) topt.max_fp = max_fp;
    if (topt.qzscan.empty()) topt.qzscan = default_qzscan();
    return qzrules_test(topt);
  }
  return kExitError;
}
