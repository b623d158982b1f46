// qzscan --watch end to end: files written, moved in and made in new
// directories while the watch runs are each reported, through both kernel
// interfaces, with the selection, cache and quarantine of a normal run.

#include "tools/qzscan_runner.h"

#include <sys/stat.h>

#include <cstdio>
#include <set>
#include <thread>

using namespace qzscan_test;

namespace {

// The longest wait for a watch to report what a test expects: far beyond
// what a sound run needs for ten thousand files on a loaded machine.
constexpr int kWatchWaitSeconds = 300;
// How often the output files are read again while waiting.
constexpr auto kRereadInterval = std::chrono::milliseconds(20);

// Writes the file whole; a write that fails fails the test, so that a file
// the test never made is not taken for one the watch missed.
void write_file(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary);
  f << text;
  f.close();
  EXPECT_TRUE(f) << "cannot write " << path;
}

class QzscanWatch : public QzscanRun {
 protected:
  // Starts `qzscan --watch` on root with the arguments and waits until it
  // says it watches. False when it ended or never said so.
  bool start_watch(std::vector<std::string> args, std::vector<std::string> env = {}) {
    Launch l;
    l.args = {"--watch", "--format", "json", "-j", "2"};
    l.args.insert(l.args.end(), args.begin(), args.end());
    l.args.push_back(".");
    l.env = std::move(env);
    // Output of an earlier run must not pass for this one's.
    fs::remove(tmp + "/out");
    fs::remove(tmp + "/err");
    ended = false;
    pid = start(l);
    return wait_until(
        [&] { return slurp(tmp + "/err").find("watching 1 directory") != std::string::npos; });
  }

  // Waits until `ready` holds (it rereads what it needs); false when the run
  // ended first or the wait ran out.
  template <typename Ready>
  bool wait_until(Ready ready) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(kWatchWaitSeconds);
    while (!ready()) {
      if (waitpid(pid, &early_status, WNOHANG) == pid) {
        ended = true;
        return ready();
      }
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(kRereadInterval);
    }
    return true;
  }

  // Each JSON line of the output, by path; the last line of a path wins.
  std::map<std::string, json> lines() const {
    std::map<std::string, json> by_path;
    std::istringstream in(slurp(tmp + "/out"));
    for (std::string line; std::getline(in, line);) {
      json j = json::parse(line, nullptr, false);
      if (!j.is_discarded() && j.contains("path")) by_path[j["path"]] = j;
    }
    return by_path;
  }

  // Waits until every path has a line.
  bool wait_for_paths(const std::vector<std::string>& paths) {
    return wait_until([&] {
      const auto got = lines();
      for (const std::string& p : paths)
        if (!got.count(p)) return false;
      return true;
    });
  }

  Ran stop_watch(int sig = SIGTERM) {
    if (!ended) kill(pid, sig);
    Ran r = ended ? Ran{WIFEXITED(early_status) ? WEXITSTATUS(early_status) : -1,
                        slurp(tmp + "/out"), slurp(tmp + "/err")}
                  : finish(pid);
    pid = -1;
    return r;
  }

  void TearDown() override {
    if (pid > 0) {
      kill(pid, SIGKILL);
      finish(pid);
    }
    QzscanRun::TearDown();
  }

  pid_t pid = -1;
  bool ended = false;
  int early_status = 0;
};

// Backends by name; fanotify needs CAP_SYS_ADMIN and is skipped without it.
class QzscanWatchBackend : public QzscanWatch, public ::testing::WithParamInterface<const char*> {
 protected:
  bool start_backend(std::vector<std::string> args = {}, std::vector<std::string> env = {}) {
    args.insert(args.begin(), {"--watch-backend", GetParam()});
    return start_watch(args, env);
  }
  bool unavailable() const {
    return std::string(GetParam()) == "fanotify" &&
           slurp(tmp + "/err").find("cannot") != std::string::npos;
  }
};

// Ten thousand files: written into the tree, written into directories made
// while the watch runs (some filled before the watch on them can exist),
// and moved in from outside. Every one is reported, the threats as threats.
TEST_P(QzscanWatchBackend, StormOfFilesIsReportedWhole) {
  if (!start_backend()) {
    if (unavailable()) GTEST_SKIP() << slurp(tmp + "/err");
    FAIL() << slurp(tmp + "/err");
  }
  const std::string outside = tmp + "/outside";
  fs::create_directories(outside);
  std::vector<std::string> expected;
  std::set<std::string> threats;
  constexpr int kFiles = 10000, kPerDir = 50;
  for (int i = 0; i < kFiles; i++) {
    const std::string name = "f" + std::to_string(i) + ".php";
    const std::string text =
        i % 997 == 0 ? std::string(kShell) : "<?php echo " + std::to_string(i) + ";\n";
    std::string rel;
    switch (i % 3) {
      case 0:  // straight into the tree
        rel = "./" + name;
        write_file(root + "/" + name, text);
        break;
      case 1: {  // a new directory every kPerDir files, two levels deep
        const std::string dir = "d" + std::to_string(i / kPerDir) + "/sub";
        fs::create_directories(root + "/" + dir);
        rel = "./" + dir + "/" + name;
        write_file(root + "/" + dir + "/" + name, text);
        break;
      }
      default:  // written elsewhere, then moved in
        rel = "./" + name;
        write_file(outside + "/" + name, text);
        fs::rename(outside + "/" + name, root + "/" + name);
    }
    expected.push_back(rel);
    if (i % 997 == 0) threats.insert(rel);
  }
  const bool all = wait_for_paths(expected);
  Ran r = stop_watch();
  EXPECT_TRUE(all) << r.err.substr(0, 2000);
  const auto got = lines();
  size_t missing = 0;
  for (const std::string& p : expected) {
    auto it = got.find(p);
    if (it == got.end()) {
      if (missing++ < 5) ADD_FAILURE() << "not reported: " << p;
      continue;
    }
    EXPECT_EQ(it->second.value("verdict", ""), threats.count(p) ? "threat" : "clean")
        << it->second.dump();
  }
  EXPECT_EQ(missing, 0u);
  EXPECT_EQ(r.status, 0) << r.err.substr(0, 2000);
}

// Names that change: a file renamed inside the tree is reported at its new
// name, a directory moved in brings its files (found by a walk, or, through
// fanotify, by the close of a file that is under the tree when it is read), and a file written in a
// directory renamed inside the tree is reported under the new name only.
TEST_P(QzscanWatchBackend, RenamesAreFollowed) {
  fs::create_directories(root + "/old");
  if (!start_backend()) {
    if (unavailable()) GTEST_SKIP() << slurp(tmp + "/err");
    FAIL() << slurp(tmp + "/err");
  }
  write_file(tmp + "/a.php", "<?php echo 1;\n");
  fs::rename(tmp + "/a.php", root + "/first.php");
  ASSERT_TRUE(wait_for_paths({"./first.php"})) << slurp(tmp + "/err");
  fs::rename(root + "/first.php", root + "/second.php");
  fs::create_directories(tmp + "/incoming/deep");
  write_file(tmp + "/incoming/deep/shell.php", kShell);
  fs::rename(tmp + "/incoming", root + "/incoming");
  fs::rename(root + "/old", root + "/new");
  write_file(root + "/new/later.php", "<?php echo 2;\n");
  const bool all = wait_for_paths({"./second.php", "./incoming/deep/shell.php", "./new/later.php"});
  Ran r = stop_watch();
  ASSERT_TRUE(all) << r.out << r.err;
  const auto got = lines();
  EXPECT_EQ(got.at("./second.php").value("event", ""), "moved");
  EXPECT_EQ(got.at("./incoming/deep/shell.php").value("verdict", ""), "threat");
  EXPECT_EQ(got.count("./old/later.php"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Backends, QzscanWatchBackend, ::testing::Values("inotify", "fanotify"));

// What a normal run would not scan is not scanned when written either: each
// row is a file written while the watch runs, and whether it is reported.
// A last file written after all of them marks that their events were read.
TEST_F(QzscanWatch, SelectionAsInANormalRun) {
  struct Row {
    const char* name;
    bool reported;
  };
  const Row rows[] = {
      {"page.php", true},    {"theme.PHTML", true},     {"notes.txt", false},
      {"skipme.php", false}, {"vendor/lib.php", false}, {"lib/vendor.inc", true},
      {"big.php", true},
  };
  fs::create_directories(root + "/vendor");
  fs::create_directories(root + "/lib");
  ASSERT_TRUE(start_watch(
      {"--exclude", "skip*", "--exclude", "vendor", "--max-filesize", "1K", "--skip-large"}))
      << slurp(tmp + "/err");
  for (const Row& row : rows)
    write_file(
        root + "/" + row.name,
        std::string(kShell) + (std::string(row.name) == "big.php" ? std::string(4096, ' ') : ""));
  // Written and deleted at once: either reported or gone, never an error.
  write_file(root + "/brief.php", kShell);
  fs::remove(root + "/brief.php");
  write_file(root + "/zz_last.php", "<?php\n");
  const bool last = wait_for_paths({"./zz_last.php"});
  Ran r = stop_watch();
  ASSERT_TRUE(last) << r.out << r.err;
  const auto got = lines();
  for (const Row& row : rows) {
    const std::string p = std::string("./") + row.name;
    EXPECT_EQ(got.count(p) != 0, row.reported) << p;
    if (got.count(p)) {
      EXPECT_EQ(got.at(p).value("status", ""),
                row.name == std::string("big.php") ? "skipped" : "scanned")
          << p;
    }
  }
  EXPECT_EQ(r.err.find("brief.php"), std::string::npos) << r.err;
}

// A queue far smaller than the storm: the overflow is said and the
// directories are walked again, so that no file is missing.
TEST_F(QzscanWatch, FullQueueIsSaidAndRescanned) {
  // A queue of two: one read of the kernel's events brings more than that
  // at once, however fast the workers drain them.
  ASSERT_TRUE(start_watch({"--watch-backend", "inotify"}, {"QZSCAN_TEST_WATCH_QUEUE=2"}))
      << slurp(tmp + "/err");
  std::vector<std::string> expected;
  for (int d = 0; d < 10; d++) {
    fs::create_directories(root + "/d" + std::to_string(d));
    for (int i = 0; i < 100; i++) {
      const std::string rel = "d" + std::to_string(d) + "/f" + std::to_string(i) + ".php";
      write_file(root + "/" + rel, "<?php echo 1;\n");
      expected.push_back("./" + rel);
    }
  }
  const bool all = wait_for_paths(expected);
  Ran r = stop_watch();
  EXPECT_TRUE(all) << r.err;
  EXPECT_NE(r.err.find("more than 2 files are pending"), std::string::npos) << r.err;
}

// A threat written into the tree is moved out at once; with the quarantine
// inside the watched tree and every file selected, the item moved in is
// not taken for a new file.
TEST_F(QzscanWatch, ThreatsAreQuarantinedOnce) {
  const std::string q = root + "/quarantine";
  ASSERT_TRUE(start_watch({"--all-files", "--quarantine", q})) << slurp(tmp + "/err");
  write_file(root + "/upload.php", kShell);
  ASSERT_TRUE(wait_for_paths({"./upload.php"})) << slurp(tmp + "/err");
  write_file(root + "/zz_last.txt", "plain");
  const bool last = wait_for_paths({"./zz_last.txt"});
  Ran r = stop_watch();
  ASSERT_TRUE(last) << r.err;
  const auto got = lines();
  EXPECT_TRUE(got.at("./upload.php").contains("quarantine")) << got.at("./upload.php").dump();
  EXPECT_FALSE(fs::exists(root + "/upload.php"));
  EXPECT_EQ(quarantine_items(q).size(), 1u);
  for (const auto& [path, line] : got)
    EXPECT_EQ(path.find("quarantine"), std::string::npos) << path;
}

// The cache outlives the watch: a file written again with the same bytes
// after a restart comes from the cache, a changed one is scanned.
TEST_F(QzscanWatch, CacheHoldsAcrossRestarts) {
  const std::vector<std::string> args = {"--cache", tmp + "/verdicts.db"};
  ASSERT_TRUE(start_watch(args)) << slurp(tmp + "/err");
  write_file(root + "/same.php", kShell);
  write_file(root + "/changed.php", "<?php echo 1;\n");
  ASSERT_TRUE(wait_for_paths({"./same.php", "./changed.php"})) << slurp(tmp + "/err");
  Ran first = stop_watch();
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(lines().at("./same.php").value("cached", false), false);

  ASSERT_TRUE(start_watch(args)) << slurp(tmp + "/err");
  write_file(root + "/same.php", kShell);
  write_file(root + "/changed.php", "<?php echo 2;\n");
  const bool both = wait_for_paths({"./same.php", "./changed.php"});
  Ran second = stop_watch();
  ASSERT_TRUE(both) << second.err;
  const auto got = lines();
  EXPECT_EQ(got.at("./same.php").value("cached", false), true);
  EXPECT_EQ(got.at("./same.php").value("verdict", ""), "threat");
  EXPECT_EQ(got.at("./changed.php").value("cached", false), false);
}

// A stop signal right after a burst: every file written before it is
// reported or named as not scanned, never forgotten.
TEST_F(QzscanWatch, StopAccountsForPendingFiles) {
  ASSERT_TRUE(start_watch({"--watch-backend", "inotify"})) << slurp(tmp + "/err");
  std::vector<std::string> written;
  for (int i = 0; i < 300; i++) {
    write_file(root + "/s" + std::to_string(i) + ".php", "<?php echo 1;\n");
    written.push_back("./s" + std::to_string(i) + ".php");
  }
  Ran r = stop_watch(SIGINT);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("stopped by"), std::string::npos) << r.err;
  const auto got = lines();
  for (const std::string& p : written)
    EXPECT_TRUE(got.count(p) || r.err.find(p + ": not scanned") != std::string::npos) << p;
}

// Text output shows a finding as a normal run does, and nothing for a clean
// file.
TEST_F(QzscanWatch, TextShowsFindingsOnly) {
  Launch l;
  l.args = {"--watch", "-j", "1", "."};
  pid = start(l);
  ASSERT_TRUE(
      wait_until([&] { return slurp(tmp + "/err").find("watching") != std::string::npos; }));
  write_file(root + "/clean.php", "<?php echo 1;\n");
  write_file(root + "/shell.php", kShell);
  ASSERT_TRUE(wait_until([&] {
    return slurp(tmp + "/out").find("shell.php") != std::string::npos;
  })) << slurp(tmp + "/err");
  Ran r = stop_watch();
  EXPECT_NE(r.out.find("./shell.php: THREAT"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("clean.php"), std::string::npos) << r.out;
}

// Runs that cannot watch end at once with status 2 and say why: each row is
// the arguments after --watch, the environment, and what the error names.
TEST_F(QzscanWatch, CannotWatch) {
  fs::create_directories(root + "/a/b/c");
  write_file(root + "/file.php", "<?php\n");
  struct Row {
    std::vector<std::string> args, env;
    const char* says;
  } rows[] = {
      {{"file.php"}, {}, "not a directory"},
      {{"missing"}, {}, "No such file or directory"},
      {{"--format", "sarif", "."}, {}, "expected --format text or json"},
      {{"--watch-backend", "inotify", "."},
       {"QZSCAN_TEST_MAX_WATCHES=2"},
       "fs.inotify.max_user_watches"},
  };
  for (const Row& row : rows) {
    Launch l;
    l.args = {"--watch"};
    l.args.insert(l.args.end(), row.args.begin(), row.args.end());
    l.env = row.env;
    Ran r = run(l);
    EXPECT_EQ(r.status, 2) << row.says << r.err;
    EXPECT_NE(r.err.find(row.says), std::string::npos) << r.err;
  }
}

// The watch limit met by a directory made later: said with the sysctl, and
// the files already in it are still scanned.
TEST_F(QzscanWatch, WatchLimitLaterIsSaid) {
  ASSERT_TRUE(start_watch({"--watch-backend", "inotify"}, {"QZSCAN_TEST_MAX_WATCHES=1"}))
      << slurp(tmp + "/err");
  fs::create_directories(tmp + "/made/inner");
  write_file(tmp + "/made/inner/x.php", kShell);
  fs::rename(tmp + "/made", root + "/made");
  const bool found = wait_for_paths({"./made/inner/x.php"});
  Ran r = stop_watch();
  EXPECT_TRUE(found) << r.err;
  EXPECT_NE(r.err.find("./made: cannot watch: the inotify watch limit is reached "
                       "(fs.inotify.max_user_watches"),
            std::string::npos)
      << r.err;
}

}  // namespace
