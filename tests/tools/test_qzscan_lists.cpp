// qzscan's inputs beside PATH: lists of paths (as find writes them), the
// content of standard input, --newer-than and --one-file-system.

#include "tools/qzscan_runner.h"

#include <sys/stat.h>
#include <sys/time.h>

#include <set>

using namespace qzscan_test;

namespace {

// The exact paths of the files in a JSON report, a threat's followed by " T".
std::multiset<std::string> report_paths(const std::string& out) {
  std::multiset<std::string> paths;
  for (const auto& [path, status] : report_files(out))
    paths.insert(path + (ends_with(status, " threat") ? " T" : ""));
  return paths;
}

class QzscanLists : public QzscanRun {
 protected:
  void SetUp() override {
    QzscanRun::SetUp();
    for (const std::string& n : kOdd) put("www/" + n, kShell);
    put("www/clean.php", "<?php echo 1;\n");
  }
  // Names a newline-separated list cannot hold, and some it can.
  const std::vector<std::string> kOdd = {"with space.php", "new\nline.php", "bad\xff.php",
                                         "-dash.php", "tab\t.php"};
};

TEST_F(QzscanLists, ListsOfPathsReachTheScanByteForByte) {
  std::string nul_list, line_list;
  std::multiset<std::string> all, lines;
  for (const std::string& n : kOdd) {
    nul_list += "www/" + n + std::string(1, '\0');
    all.insert("www/" + n + " T");
    if (n.find('\n') == std::string::npos) {
      line_list += "www/" + n + "\n";
      lines.insert("www/" + n + " T");
    }
  }
  put("nul.list", nul_list);
  put("line.list", "\n" + line_list + "\n");
  std::multiset<std::string> lines_after_clean = lines;
  lines_after_clean.insert("www/clean.php");
  // clang-format off
  const struct {
    Launch launch;  // after --format json
    int status;
    std::multiset<std::string> paths;  // " T" after a threat's path
  } rows[] = {
      {{{"--files-from", "nul.list", "-0"}}, 1, all},
      {{{"--files-from", "-", "--null"}, {}, "", -1, nul_list}, 1, all},
      {{{"--files-from", "line.list"}}, 1, lines},
      // The PATH arguments come first, then the list.
      {{{"www/clean.php", "--files-from", "line.list"}}, 1, lines_after_clean},
      // "-" scans the content of standard input, named <stdin>.
      {{{"-", "www/clean.php"}, {}, "", -1, kShell}, 1, {"<stdin> T", "www/clean.php"}},
      {{{"-"}, {}, "", -1, "<?php echo 1;\n"}, 0, {"<stdin>"}},
      // An empty list selects nothing, which is said, and is no error.
      {{{"--files-from", "-", "-0"}, {}, "", -1, ""}, 0, {}},
  };
  // clang-format on
  for (const auto& r : rows) {
    SCOPED_TRACE(r.launch.args[0] + " " + r.launch.args.back());
    Launch l = r.launch;
    l.args.insert(l.args.begin(), {"--format", "json"});
    Ran res = run(l);
    EXPECT_EQ(res.status, r.status) << res.err;
    EXPECT_EQ(report_paths(res.out), r.paths) << res.out;
  }
}

// Files older than --newer-than are passed over, walked or listed.
TEST_F(QzscanLists, NewerThanKeepsRecentlyModifiedFiles) {
  put("age/old.php", kShell);
  put("age/new.php", kShell);
  const time_t now = time(nullptr), three_days = 3 * 86400;
  struct timeval old_times[2] = {{now - three_days, 0}, {now - three_days, 0}};
  ASSERT_EQ(utimes((root + "/age/old.php").c_str(), old_times), 0);
  char date[32];
  const time_t two_days_ago = now - 2 * 86400;
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M", std::localtime(&two_days_ago));
  const struct {
    std::vector<std::string> args;
    std::multiset<std::string> paths;
  } rows[] = {
      {{"age"}, {"age/new.php T", "age/old.php T"}},
      {{"--newer-than", "2d", "age"}, {"age/new.php T"}},
      {{"--newer-than", "1d23h", "age/old.php", "age/new.php"}, {"age/new.php T"}},
      {{"--newer-than", date, "age"}, {"age/new.php T"}},
      {{"--newer-than", "4d", "age"}, {"age/new.php T", "age/old.php T"}},
  };
  for (const auto& r : rows) {
    std::vector<std::string> args = {"--format", "json"};
    args.insert(args.end(), r.args.begin(), r.args.end());
    Ran res = run(Launch{args});
    EXPECT_EQ(report_paths(res.out), r.paths) << r.args[0] << " " << res.err;
  }
}

// A directory on another file system is walked only without
// --one-file-system (reached here through a followed link to shared memory).
TEST_F(QzscanLists, OneFileSystemStaysOnThePathsDevice) {
  struct stat a, b;
  if (stat("/dev/shm", &b) != 0 || stat(root.c_str(), &a) != 0 || a.st_dev == b.st_dev)
    GTEST_SKIP() << "no second file system at /dev/shm";
  char tmpl[] = "/dev/shm/qzscan_test_XXXXXX";
  const std::string other = mkdtemp(tmpl);
  std::ofstream(other + "/far.php") << kShell;
  ASSERT_EQ(symlink(other.c_str(), (root + "/www/far").c_str()), 0);
  Ran all = run("--format json --follow-symlinks www");
  Ran one = run("--format json --follow-symlinks --one-file-system www");
  fs::remove_all(other);
  EXPECT_EQ(report_paths(all.out).count("www/far/far.php T"), 1u) << all.out;
  EXPECT_EQ(report_paths(one.out).count("www/far/far.php T"), 0u) << one.out;
  EXPECT_EQ(report_paths(one.out).size(), kOdd.size() + 1);
}

}  // namespace
