// qzscan's verdict cache end to end: hits, misses, what invalidates a
// stored verdict, and databases that must not be trusted.

#include "tools/qzscan_runner.h"

#include "scan_hmac.h"

#include <sqlite3.h>

#include <functional>
#include <map>

using namespace qzscan_test;

namespace {

using Files = std::multimap<std::string, std::string>;

// The files of a report without their " cached" marks, and how many had one.
std::pair<Files, size_t> seen(const Ran& r) {
  Files files = report_files(r.out);
  size_t cached = 0;
  for (auto& [path, status] : files)
    if (ends_with(status, " cached")) cached++, status.resize(status.size() - 7);
  return {files, cached};
}

void sql(const std::string& db_path, const std::string& text) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(db_path.c_str(), &db), SQLITE_OK);
  char* err = nullptr;
  EXPECT_EQ(sqlite3_exec(db, text.c_str(), nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
  sqlite3_free(err);
  sqlite3_close(db);
}

// What qzscan's HMAC must give: RFC 4231's test cases 1, 2, 3, 6 and 7 (keys
// shorter than SHA-256's block, and keys longer than it, which are hashed).
TEST(QzscanCacheHmac, MatchesThePublishedTestVectors) {
  const std::string long_key(131, '\xaa');
  const struct {
    std::string key, data, tag;
  } rows[] = {
      // clang-format off
      {std::string(20, '\x0b'), "Hi There",
       "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
      {"Jefe", "what do ya want for nothing?",
       "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
      {std::string(20, '\xaa'), std::string(50, '\xdd'),
       "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
      {long_key, "Test Using Larger Than Block-Size Key - Hash Key First",
       "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
      {long_key, "This is a test using a larger than block-size key and a larger than block-size "
                 "data. The key needs to be hashed before being used by the HMAC algorithm.",
       "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
      // clang-format on
  };
  for (const auto& r : rows) EXPECT_EQ(hmac_sha256_hex(r.key, r.data), r.tag) << r.data;
}

class QzscanCache : public QzscanRun {
 protected:
  void SetUp() override {
    QzscanRun::SetUp();
    put("site/shell.php", kShell);
    put("site/cmd.php", "<?php exec('ls');\n");
    put("site/clean.php", "<?php echo 1;\n");
    put("site/odd\nname.php", kShell);
    expected = {{"site/clean.php", "scanned clean"},
                {"site/cmd.php", "scanned suspicious"},
                {"site/odd\nname.php", "scanned threat"},
                {"site/shell.php", "scanned threat"}};
  }
  Ran scan(const std::vector<std::string>& env = {}, const std::vector<std::string>& more = {}) {
    std::vector<std::string> args = {"--format", "json", "--cache", "cache.db"};
    args.insert(args.end(), more.begin(), more.end());
    args.push_back("site");
    return run(Launch{args, env});
  }
  Files expected;
};

// Each step runs on the database the steps before it left.
TEST_F(QzscanCache, HitsMissesAndInvalidation) {
  const std::string more_rules = encipher("define_behavior(phpinfo,,2,shows the configuration)");
  const struct {
    const char* what;
    std::function<void()> change;
    std::vector<std::string> env, args;
    size_t cached;
  } steps[] = {
      // clang-format off
      {"a new database", [] {}, {}, {}, 0},
      // Workers that met any file would crash: none is scanned.
      {"all known", [] {}, {"QZSCAN_TEST_CRASH_ON=site"}, {}, 4},
      {"one file changed", [&] { put("site/clean.php", "<?php echo 2;\n"); }, {}, {}, 3},
      {"another engine", [] {}, {"QZSCAN_TEST_ENGINE_VERSION=9.9"}, {}, 0},
      {"the engine again", [] {}, {}, {}, 4},
      {"other options", [] {}, {}, {"--no-extensions"}, 0},
      {"other rules", [&] { std::ofstream(rules, std::ios::app) << more_rules << "\n"; }, {}, {}, 0},
      {"the new rules again", [] {}, {}, {}, 4},
      // clang-format on
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.what);
    s.change();
    Ran r = scan(s.env, s.args);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(seen(r), std::make_pair(expected, s.cached));
    // Files whose outcome came from the cache are not counted as scanned,
    // nor their bytes; their findings are counted.
    const json sum = json::parse(r.out)["summary"];
    EXPECT_EQ(sum.value("cached", 0u), s.cached);
    EXPECT_EQ(sum["scanned"], expected.size() - s.cached);
    EXPECT_EQ(sum["bytes"] == 0, s.cached == expected.size()) << sum;
    EXPECT_EQ(sum["threats"], 2);
    EXPECT_EQ(sum["suspicious"], 1);
  }
  // A cached outcome is reported in full, as when it was scanned.
  const json fresh = json::parse(run("--format json --explain site/shell.php").out)["files"][0];
  json cached = json::parse(scan().out)["files"][3];
  EXPECT_EQ(cached["cached"], true);
  cached.erase("cached");
  EXPECT_EQ(cached, fresh);
}

// A database that cannot be trusted is said once, and the scan goes on
// without it to the same verdicts.
TEST_F(QzscanCache, DatabasesNotToTrustGiveAWarningAndTheRightVerdicts) {
  const std::string db = root + "/cache.db";
  auto fill = [&] { ASSERT_EQ(scan().status, 1); };
  auto damage_pages = [&] {
    fill();
    sql(db, "PRAGMA wal_checkpoint(TRUNCATE)");
    std::fstream f(db, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(4096 + 8);  // the second page, past its header's first bytes
    f << std::string(4096 * 2, '\xA5');
  };
  const struct {
    const char* what;
    std::function<void()> make;
    std::string warning;  // after "qzscan: warning: cache.db: "; empty: none
    size_t cached;
  } rows[] = {
      // clang-format off
      {"not a database", [&] { put("cache.db", "SQLite format 2\nnothing here"); },
       "not a qzscan cache: file is not a database; scanning without the cache\n", 0},
      {"another program's", [&] { sql(db, "CREATE TABLE notes (text TEXT)"); },
       "not a qzscan cache (a database of another program); scanning without the cache\n", 0},
      {"another layout", [&] { fill(); sql(db, "PRAGMA user_version = 77"); },
       "a cache of another qzscan version; scanning without the cache\n", 0},
      {"damaged pages", damage_pages, "cannot read the cache: ", 0},
      // A row changed behind qzscan's back fails its check and is scanned again.
      {"a forged verdict", [&] { fill(); sql(db, "UPDATE verdicts SET outcome = replace(outcome, 'threat', 'clean')"); }, "", 2},
      {"a directory", [&] { fs::create_directory(db); }, "cannot open the cache: ", 0},
      // clang-format on
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    fs::remove_all(db);
    fs::remove(db + "-wal");
    fs::remove(db + "-shm");
    r.make();
    const std::string before = fs::is_regular_file(db) ? slurp(db) : "";
    Ran res = scan();
    EXPECT_EQ(res.status, 1) << res.err;
    EXPECT_EQ(seen(res), std::make_pair(expected, r.cached));
    if (r.warning.empty()) {
      EXPECT_EQ(res.err, "");
    } else {
      EXPECT_EQ(res.err.rfind("qzscan: warning: cache.db: " + r.warning, 0), 0u) << res.err;
      EXPECT_EQ(std::count(res.err.begin(), res.err.end(), '\n'), 1) << res.err;
    }
    // A database that is not ours is left as it was.
    if (r.cached == 0 && !before.empty() && std::string(r.what) != "damaged pages") {
      EXPECT_EQ(slurp(db), before);
    }
  }
}

// The summary line counts as scanned only the files scanned in the run.
TEST_F(QzscanCache, TheSummaryCountsCacheHitsApart) {
  const struct {
    const char* what;
    std::function<void()> change;
    std::string counts, end;  // after "4 files: ", and after the rules' "(sha256 ...)"
  } steps[] = {
      {"a new cache", [] {}, "4 scanned, 0 skipped, 0 errors, 0.0 MB in ", "\n"},
      {"all known", [] {}, "0 scanned, 0 skipped, 0 errors, 0.0 MB in ", "; 4 from the cache\n"},
      {"one changed", [&] { put("site/clean.php", "<?php echo '" + std::string(199000, 'x') + "';\n"); },
       "1 scanned, 0 skipped, 0 errors, 0.2 MB in ", "; 3 from the cache\n"},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.what);
    s.change();
    Ran r = run(Launch{{"--cache", "cache.db", "site"}});
    EXPECT_EQ(r.status, 1) << r.err;
    const std::string summary = r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1);
    EXPECT_EQ(summary.rfind("4 files: " + s.counts, 0), 0u) << summary;
    EXPECT_NE(summary.find("; 2 threats, 1 suspicious; "), std::string::npos) << summary;
    EXPECT_EQ(summary.substr(summary.find(')') + 1), s.end) << summary;
  }
}

}  // namespace
