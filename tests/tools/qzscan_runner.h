#ifndef TESTS_TOOLS_QZSCAN_RUNNER_H
#define TESTS_TOOLS_QZSCAN_RUNNER_H

// Runs the built qzscan with an exact argument vector in a temporary working
// directory, so that paths in its output begin as given and names may hold
// any byte; its standard output and error are read back from files.

#include "behavior/qz_cipher.h"
#include "support/codec.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace qzscan_test {

using json = nlohmann::json;
namespace fs = std::filesystem;

inline const char* const kRules[] = {"define_var(REQ,$_GET_DATA+$_POST_DATA+$_REQUEST_DATA)",
                                     "define_behavior(eval+system,0=REQ,10,runs request input)",
                                     "define_behavior(exec,,3,runs a command)"};

// A shell run on request input: a threat under kRules.
inline const char* const kShell = "<?php\nsystem($_GET['c']);\n";

inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

inline std::string encipher(const char* rule) {
  return std::unique_ptr<char[]>(qz_cipher_rule_encrypt(rule)).get();
}

inline std::string sha256_of(const std::string& path) {
  std::string digest = "<no sha256sum>";
  if (FILE* p = popen(("sha256sum '" + path + "'").c_str(), "r")) {
    char hex[65] = {};
    if (std::fscanf(p, "%64s", hex) == 1) digest = hex;
    pclose(p);
  }
  return digest;
}

// Each file of a JSON report, by its exact path (path_bytes decoded when
// the path is not UTF-8), as "status[ verdict][ known][ cached]"; output
// that is not a report gives one entry holding it.
inline std::multimap<std::string, std::string> report_files(const std::string& out) {
  const json report = json::parse(out, nullptr, false);
  if (report.is_discarded() || !report.contains("files")) return {{"<not a report>", out}};
  std::multimap<std::string, std::string> files;
  for (const json& f : report["files"]) {
    std::string status = f["status"];
    if (f.contains("verdict")) status += " " + f["verdict"].get<std::string>();
    if (f.value("known", false)) status += " known";
    if (f.value("cached", false)) status += " cached";
    files.emplace(
        f.contains("path_bytes") ? codec::unbase64(f["path_bytes"]) : f["path"].get<std::string>(),
        status);
  }
  return files;
}

struct Launch {
  std::vector<std::string> args;      // after --rules RULES
  std::vector<std::string> env = {};  // NAME=value, added to the environment
  std::string stdout_path = "";       // empty: a file the runner reads back
  long max_file_bytes = -1;           // a file size limit, with SIGXFSZ ignored
  std::string stdin_data = "";        // what the run reads on standard input
  bool as_nobody = false;             // drop root's rights first, for permission tests
};

// The user and group that runs qzscan under Launch::as_nobody.
inline const uid_t kNobody = 65534;

struct Ran {
  int status;  // the exit status, or minus the signal
  std::string out, err;
  bool group_ended = true;  // nothing of the process group outlived the wait
};

class QzscanRun : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qzscan_test_XXXXXX";
    tmp = mkdtemp(tmpl);
    root = tmp + "/root";
    rules = tmp + "/rules";
    fs::create_directory(root);
    std::ofstream r(rules);
    for (const char* rule : kRules) r << encipher(rule) << "\n";
  }
  void TearDown() override { fs::remove_all(tmp); }

  // Writes a file under root, making its directories.
  void put(const std::string& name, const std::string& text) {
    fs::create_directories(fs::path(root + "/" + name).parent_path());
    std::ofstream(root + "/" + name, std::ios::binary) << text;
  }

  // Starts qzscan in a process group of its own; the group is its pid.
  pid_t start(const Launch& l) {
    const std::string out = l.stdout_path.empty() ? tmp + "/out" : l.stdout_path;
    const std::string qzscan = QZ_BINARY_DIR "/tools/qzscan/qzscan", err = tmp + "/err";
    const std::string in = tmp + "/in";
    std::ofstream(in, std::ios::binary) << l.stdin_data;
    std::vector<const char*> argv = {qzscan.c_str(), "--rules", rules.c_str()};
    for (const std::string& a : l.args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      setpgid(0, 0);
      if (chdir(root.c_str()) != 0) _exit(127);
      dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
      dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
      dup2(open(in.c_str(), O_RDONLY), STDIN_FILENO);
      if (l.as_nobody && getuid() == 0 &&
          (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0))
        _exit(126);
      for (const std::string& e : l.env) putenv(const_cast<char*>(e.c_str()));
      if (l.max_file_bytes >= 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit lim{static_cast<rlim_t>(l.max_file_bytes), static_cast<rlim_t>(l.max_file_bytes)};
        setrlimit(RLIMIT_FSIZE, &lim);
      }
      execv(argv[0], const_cast<char* const*>(argv.data()));
      _exit(127);
    }
    setpgid(pid, pid);
    return pid;
  }

  Ran finish(pid_t pid) {
    int st = 0;
    waitpid(pid, &st, 0);
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -WTERMSIG(st), slurp(tmp + "/out"),
            slurp(tmp + "/err")};
  }

  Ran run(const Launch& l) { return finish(start(l)); }

  // The arguments split at spaces; leading NAME=value words go to the
  // environment. The run reads input on its standard input.
  Ran run(const std::string& args, const std::string& input = "") {
    Launch l;
    l.stdin_data = input;
    std::istringstream in(args);
    for (std::string a; in >> a;)
      (l.args.empty() && a.find('=') != std::string::npos ? l.env : l.args).push_back(a);
    return run(l);
  }

  // Sends the signal once the run has listed and handed out its files, then
  // reaps what ends of its group; workers orphaned by a kill come back to us.
  Ran stop(const Launch& l, int sig) {
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    pid_t pid = start(l);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    kill(pid, sig);
    Ran r = finish(pid);
    r.group_ended = false;
    for (int i = 0; i < 200 && !r.group_ended; i++) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      while (waitpid(-pid, nullptr, WNOHANG) > 0) {
      }
      r.group_ended = kill(-pid, 0) != 0 && errno == ESRCH;
    }
    kill(-pid, SIGKILL);
    prctl(PR_SET_CHILD_SUBREAPER, 0);
    return r;
  }

  std::string tmp, root, rules;  // root is the working directory
};

}  // namespace qzscan_test

#endif  // TESTS_TOOLS_QZSCAN_RUNNER_H
