/* Behaviour-rule scoring speed: a whole file's worth of reported calls scored
 * against a large rule set, and the load of an enciphered rule file. The
 * cost of scoring should grow with calls plus rules, not calls times rules. */

#include "behavior/qz_behavior_match.h"
#include "behavior/qz_behavior_rules.h"
#include "behavior/qz_cipher.h"

#include <benchmark/benchmark.h>

#include <unistd.h>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

/* Functions named by the rules: one per five rules, as in a real file where
 * a larger rule set also covers more functions. */
int function_count(int rules) { return rules / 5 > 0 ? rules / 5 : 1; }

/* A rule set of `rules` rules in the shape of a real file: variables for the
 * request markers, behaviour rules with and without conditions, call lists
 * and repeated-call rules. */
std::vector<std::string> make_rules(int rules) {
  std::vector<std::string> out;
  out.push_back("define_var(REQ,$_GET_DATA+$_POST_DATA+$_COOKIE_DATA)");
  for (int i = 0; static_cast<int>(out.size()) < rules; ++i) {
    std::string fn = "func" + std::to_string(i % function_count(rules));
    switch (i % 8) {
      case 0:
        out.push_back("define_behavior(" + fn + "+alt" + std::to_string(i) + ",0=REQ,9,d)");
        break;
      case 1:
        out.push_back("define_behavior(" + fn + ",1=marker" + std::to_string(i) + "&0=x,6,d)");
        break;
      case 2:
        out.push_back("define_behavior(" + fn + ",0=exact" + std::to_string(i) + ",5,d,1)");
        break;
      case 3:
        out.push_back("define_call_list(" + fn + "&other" + std::to_string(i) + ",5,d)");
        break;
      case 4: out.push_back("define_repeat_call(other" + std::to_string(i) + ",5,3,d)"); break;
      default: out.push_back("define_behavior(name" + std::to_string(i) + ",,2,d)"); break;
    }
  }
  return out;
}

void load_rules(const std::vector<std::string>& plains) {
  qz_behavior_shutdown();
  for (const std::string& p : plains) {
    std::vector<char> buf(p.begin(), p.end());
    buf.push_back('\0');
    qz_behavior_define(buf.data());
  }
}

/* Calls of a script: mostly functions that rules name, with plain and
 * request-marked arguments, some that no rule names. */
struct Calls {
  std::vector<std::string> names;
  std::vector<std::string> arg0;
  std::vector<std::string> arg1;
};

Calls make_calls(int n, int rules) {
  Calls c;
  for (int i = 0; i < n; ++i) {
    c.names.push_back(i % 5 == 4 ? "unnamed" + std::to_string(i % 997)
                                 : "func" + std::to_string((i * 7) % function_count(rules)));
    c.arg0.push_back(i % 3 == 0 ? "prefix $_POST_DATA" : "plain text " + std::to_string(i));
    c.arg1.push_back("second argument");
  }
  return c;
}

void BM_ScoreFile(benchmark::State& state) {
  load_rules(make_rules(static_cast<int>(state.range(0))));
  Calls calls = make_calls(static_cast<int>(state.range(1)), static_cast<int>(state.range(0)));
  std::vector<std::vector<char>> names;
  for (const std::string& n : calls.names) {
    names.emplace_back(n.begin(), n.end());
    names.back().push_back('\0');
  }
  char desc[QZ_RULE_DESC_BUFFER];
  char detail[QZ_RULE_DETAIL_BUFFER];
  for (auto _ : state) {
    call_history.clear();
    unsigned long total = 0;
    _fcall_argument args[2] = {};
    for (size_t i = 0; i < names.size(); ++i) {
      args[0].value = calls.arg0[i].c_str();
      args[1].value = calls.arg1[i].c_str();
      total += qz_behavior_check(1, 0, names[i].data(), 0, args, 2, desc, detail);
    }
    total += qz_behavior_check_file(desc);
    benchmark::DoNotOptimize(total);
  }
  state.SetItemsProcessed(state.iterations() * state.range(1));
  qz_behavior_shutdown();
  call_history.clear();
}
BENCHMARK(BM_ScoreFile)
    ->Args({500, 100000})
    ->Args({2000, 100000})
    ->Args({8000, 100000})
    ->Args({2000, 10000})
    ->Unit(benchmark::kMillisecond);

void BM_LoadRuleFile(benchmark::State& state) {
  std::vector<std::string> plains = make_rules(static_cast<int>(state.range(0)));
  char path[] = "/tmp/qz_bench_rules_XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) {
    state.SkipWithError("no temporary file");
    return;
  }
  FILE* f = fdopen(fd, "w");
  for (const std::string& p : plains) {
    std::unique_ptr<char[]> hex(qz_cipher_rule_encrypt(p.c_str()));
    fprintf(f, "%s\n", hex.get());
  }
  fclose(f);
  qz_behavior_startup(path);
  char name[] = "func1";
  for (auto _ : state) {
    qz_behavior_shutdown();
    qz_behavior_startup_i();
    /* The first call after a load builds the function index. */
    benchmark::DoNotOptimize(qz_behavior_check(1, 0, name, 0, nullptr, 0, nullptr, nullptr));
  }
  qz_behavior_shutdown();
  call_history.clear();
  unlink(path);
}
BENCHMARK(BM_LoadRuleFile)->Arg(2000)->Unit(benchmark::kMillisecond);

}  // namespace
