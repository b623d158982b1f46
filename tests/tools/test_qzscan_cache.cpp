// qzscan's verdict cache end to end: hits, misses, what invalidates a
// stored verdict, and databases that must not be trusted.

#include "tools/qzscan_runner.h"

#include "scan_build_id.h"
#include "scan_hmac.h"

#include <dlfcn.h>
#include <link.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <qzengine/version.h>

#include <cstdio>
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

// The first column of the first row the query gives, or "<none>".
std::string query(const std::string& db_path, const std::string& text) {
  sqlite3* db = nullptr;
  sqlite3_stmt* st = nullptr;
  std::string value = "<none>";
  if (sqlite3_open(db_path.c_str(), &db) == SQLITE_OK &&
      sqlite3_prepare_v2(db, text.c_str(), -1, &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0))
    value = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  sqlite3_finalize(st);
  sqlite3_close(db);
  return value;
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
    // Whatever the umask, the folder of the cache is writable by its owner
    // only, as qzscan requires.
    fs::permissions(root, fs::perms(0755));
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
      {"a directory", [&] { fs::create_directory(db); }, "not a regular file; scanning without the cache\n", 0},
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

// What a refused cache must leave as it was: each entry of the folders it
// is in, by name, with its type, owner, mode and contents.
std::map<std::string, std::string> snapshot(const std::string& root) {
  std::map<std::string, std::string> entries;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string path = e.path().string();
    if (path.find("/site") != std::string::npos) continue;
    struct stat st;
    lstat(path.c_str(), &st);
    entries[path] = std::to_string(st.st_mode) + " " + std::to_string(st.st_uid) + " " +
                    (S_ISREG(st.st_mode) ? slurp(path) : "");
  }
  return entries;
}

// The user the refusal tests hand files to.
const uid_t kOtherUser = kNobody;

class QzscanCacheTrust : public QzscanCache {
 protected:
  struct Refusal {
    const char* what;
    std::string cache;  // the --cache path
    std::function<void()> make;
    std::string warning;  // after "qzscan: warning: CACHE: "
  };

  // Fills the cache at this path, from a run that trusts it.
  void fill(const std::string& cache) {
    Ran r = run(Launch{{"--format", "json", "--cache", cache, "site"}});
    ASSERT_EQ(r.status, 1) << r.err;
    ASSERT_EQ(r.err, "");
  }

  // Each cache is refused with one warning, the files are scanned to the
  // right verdicts, and what the cache's folder holds stays as it was.
  void expect_refused(const std::vector<Refusal>& rows) {
    for (const Refusal& r : rows) {
      SCOPED_TRACE(r.what);
      for (const char* leftover : {"cache.db", "cache.db-wal", "cache.db-shm", "cache.db-journal",
                                   "cache.db.key", "real.db", "d"})
        fs::remove_all(root + "/" + leftover);
      r.make();
      const auto before = snapshot(root);
      Ran res = run(Launch{{"--format", "json", "--cache", r.cache, "site"}});
      EXPECT_EQ(res.status, 1) << res.err;
      EXPECT_EQ(seen(res), std::make_pair(expected, size_t{0}));
      EXPECT_EQ(res.err, "qzscan: warning: " + r.cache + ": " + r.warning +
                             "; scanning without the cache\n");
      EXPECT_EQ(snapshot(root), before);
    }
  }
};

TEST_F(QzscanCacheTrust, FilesOthersCouldChangeAreRefused) {
  auto chmod = [&](const std::string& name, int mode) {
    fs::permissions(root + "/" + name, fs::perms(mode));
  };
  auto dir = [&](int mode) {
    return [&, mode] {
      fs::create_directory(root + "/d");
      chmod("d", mode);
    };
  };
  expect_refused({
      // clang-format off
      {"writable by all", "cache.db", [&] { fill("cache.db"); chmod("cache.db", 0666); },
       "writable by group and others"},
      {"writable by the group", "cache.db", [&] { fill("cache.db"); chmod("cache.db", 0620); },
       "writable by group"},
      {"a folder all may write", "d/cache.db", dir(0777), "its folder d is writable by group and others"},
      {"a sticky folder", "d/cache.db", dir(01777), "its folder d is writable by group and others"},
      {"a folder the group may write", "d/cache.db", dir(0775), "its folder d is writable by group"},
      {"a link to a cache", "cache.db",
       [&] { fill("real.db"); fs::create_symlink("real.db", root + "/cache.db"); },
       "a symbolic link"},
      {"a link to nothing", "cache.db", [&] { fs::create_symlink("real.db", root + "/cache.db"); },
       "a symbolic link"},
      {"a fifo", "cache.db", [&] { mkfifo((root + "/cache.db").c_str(), 0600); }, "not a regular file"},
      {"a log all may write", "cache.db", [&] { fill("cache.db"); put("cache.db-wal", ""); chmod("cache.db-wal", 0666); },
       "cache.db-wal is writable by group and others"},
      {"a linked shared-memory file", "cache.db",
       [&] { fill("cache.db"); fs::create_symlink("/dev/null", root + "/cache.db-shm"); },
       "cache.db-shm is a symbolic link"},
      {"a journal others may write", "cache.db", [&] { put("cache.db-journal", ""); chmod("cache.db-journal", 0602); },
       "cache.db-journal is writable by others"},
      {"a key others may read", "cache.db", [&] { fill("cache.db"); chmod("cache.db.key", 0604); },
       "the key file cache.db.key is readable by others"},
      {"a key the group may use", "cache.db", [&] { fill("cache.db"); chmod("cache.db.key", 0660); },
       "the key file cache.db.key is readable and writable by group"},
      {"a linked key", "cache.db",
       [&] { fill("real.db"); fs::create_symlink("real.db.key", root + "/cache.db.key"); },
       "the key file cache.db.key is a symbolic link"},
      {"a short key", "cache.db", [&] { fill("cache.db"); put("cache.db.key", "short"); chmod("cache.db.key", 0600); },
       "the key file cache.db.key does not hold a key of 32 bytes"},
      // clang-format on
  });
}

TEST_F(QzscanCacheTrust, FilesOfOtherUsersAreRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to give files to another user";
  auto give = [&](const std::string& name) {
    ASSERT_EQ(lchown((root + "/" + name).c_str(), kOtherUser, kOtherUser), 0) << name;
  };
  const std::string other =
      "owned by uid " + std::to_string(kOtherUser) + ", not by the user running qzscan";
  expect_refused({
      // clang-format off
      {"another user's cache", "cache.db", [&] { fill("cache.db"); give("cache.db"); }, other},
      {"another user's folder", "d/cache.db", [&] { fs::create_directory(root + "/d"); give("d"); },
       "its folder d is " + other + " or root"},
      {"a planted log", "cache.db", [&] { fill("cache.db"); put("cache.db-wal", ""); give("cache.db-wal"); },
       "cache.db-wal is " + other},
      {"another user's key", "cache.db", [&] { fill("cache.db"); give("cache.db.key"); },
       "the key file cache.db.key is " + other},
      // clang-format on
  });
}

// The files qzscan makes are its user's alone, whatever the umask; a run
// that trusts them uses them.
TEST_F(QzscanCache, NewFilesArePrivate) {
  const mode_t old_mask = umask(0);
  Ran first = scan();
  umask(old_mask);
  EXPECT_EQ(first.status, 1) << first.err;
  // SQLite may have removed its own files by the end of the run.
  for (const std::string name : {"cache.db", "cache.db.key", "cache.db-wal", "cache.db-shm"}) {
    struct stat st;
    const bool there = lstat((root + "/" + name).c_str(), &st) == 0;
    EXPECT_TRUE(there || name.find('-') != std::string::npos) << name;
    if (there) {
      EXPECT_EQ(st.st_mode & 07777, 0600u) << name;
    }
  }
  EXPECT_EQ(fs::file_size(root + "/cache.db.key"), 32u);
  Ran second = scan();
  EXPECT_EQ(second.err, "");
  EXPECT_EQ(seen(second), std::make_pair(expected, expected.size()));
}

// The build ID readelf shows for the file at `path`, or "" when it has none.
std::string readelf_build_id(const std::string& path) {
  std::string out, id;
  if (FILE* p = popen(("readelf -n '" + path + "' 2>/dev/null").c_str(), "r")) {
    char buf[512];
    while (fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  const size_t at = out.find("Build ID: ");
  if (at == std::string::npos) return "";
  for (size_t i = at + 10; i < out.size() && std::isxdigit(static_cast<unsigned char>(out[i])); i++)
    id += out[i];
  return id;
}

// The reader gives the linker's own note, of the library asked.
TEST(QzscanBuildId, IsTheNoteOfTheLibraryAsked) {
  Dl_info libc{};
  ASSERT_NE(dladdr(reinterpret_cast<void*>(&dl_iterate_phdr), &libc), 0);
  const std::string libc_id = readelf_build_id(libc.dli_fname);
  ASSERT_FALSE(libc_id.empty()) << libc.dli_fname;
  EXPECT_EQ(library_build_id("libc.so"), libc_id);
  const std::string cxx_id = library_build_id("libstdc++.so");
  EXPECT_FALSE(cxx_id.empty());
  EXPECT_NE(cxx_id, libc_id);
  EXPECT_EQ(library_build_id("libnothing-of-the-kind.so"), "");
  EXPECT_EQ(library_build_id(""), "");
}

// Two builds of one version find different things: the stored verdicts name
// the build of the engine that made them, so a rebuilt library scans again.
TEST_F(QzscanCache, VerdictsAreKeyedToTheEngineBuild) {
  Ran r = scan();
  EXPECT_EQ(r.status, 1) << r.err;
  const std::string engine = query(root + "/cache.db", "SELECT engine FROM verdicts LIMIT 1");
  const std::string library = readelf_build_id(QZ_BINARY_DIR "/engine/libqzengine.so");
  ASSERT_FALSE(library.empty());
  EXPECT_NE(engine.find("engine " QZ_ENGINE_VERSION_STRING " (build " + library + ")"),
            std::string::npos)
      << engine;
}

// A row qzscan did not write under this cache's key, or one moved to other
// key columns, fails its check: the file is scanned and the row replaced. A
// row written with the key is taken, which shows the forged rows are made
// as qzscan makes them.
TEST_F(QzscanCache, ForgedRowsAreScannedAgainAndReplaced) {
  const std::string db = root + "/cache.db", shell = sha256_of(root + "/site/shell.php");
  const std::string real_rules = sha256_of(rules), other_rules = tmp + "/other.rules";
  std::ofstream(other_rules) << encipher("define_behavior(exec,,3,runs a command)") << "\n";
  // The text qzscan's checksum covers: each key column and the outcome,
  // each after its length.
  auto signed_text = [](const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& p : parts) text += std::to_string(p.size()) + ":" + p;
    return text;
  };
  auto row = [&](const std::string& column) {
    return query(db, "SELECT " + column + " FROM verdicts WHERE file_sha256 = '" + shell +
                         "' AND rules_sha256 = '" + real_rules + "'");
  };
  // The shell's row made to say clean, with the checksum this gives of the
  // new outcome and of the text qzscan's checksum covers.
  using Checksum = std::function<std::string(const std::string&, const std::string&)>;
  auto forge = [&](const Checksum& checksum) {
    return [&, checksum] {
      ASSERT_EQ(scan().status, 1);
      json outcome = json::parse(row("outcome"));
      outcome["verdict"] = "clean";
      outcome["score"] = 0;
      outcome["descriptions"] = json::array();
      outcome["calls"] = json::array();
      std::string text = outcome.dump();
      const std::string covered =
          signed_text({shell, real_rules, query(db, "SELECT engine FROM verdicts LIMIT 1"),
                       query(db, "SELECT options FROM verdicts LIMIT 1"), text});
      const std::string check = checksum(text, covered);
      for (size_t at = text.find('\''); at != std::string::npos; at = text.find('\'', at + 2))
        text.insert(at, 1, '\'');
      sql(db, "UPDATE verdicts SET outcome = '" + text + "', checksum = '" + check +
                  "' WHERE file_sha256 = '" + shell + "'");
    };
  };
  const std::string key_path = root + "/cache.db.key";
  const struct {
    const char* what;
    std::function<void()> make;
    bool taken;     // the forged row is used
    size_t cached;  // otherwise, the outcomes still taken from the cache
  } rows[] = {
      // clang-format off
      {"a plain SHA-256, as rows were", forge([&](const std::string& text, const std::string&) {
         std::ofstream(tmp + "/outcome", std::ios::binary) << text;
         return sha256_of(tmp + "/outcome"); }), false, 2},
      {"an HMAC under another key", forge([&](const std::string&, const std::string& covered) {
         return hmac_sha256_hex(std::string(32, 'k'), covered); }), false, 2},
      {"an HMAC under the cache's key", forge([&](const std::string&, const std::string& covered) {
         return hmac_sha256_hex(slurp(key_path), covered); }), true, 0},
      // Every row fails under a new key, as those of earlier versions do.
      {"a key made anew", [&] { ASSERT_EQ(scan().status, 1); fs::remove(key_path); }, false, 0},
      // Verdicts stored for rules that find no shell, moved to the real rules.
      {"rows moved to other rules", [&] {
         fs::copy_file(other_rules, rules, fs::copy_options::overwrite_existing);
         ASSERT_EQ(scan().status, 0);
         sql(db, "UPDATE verdicts SET rules_sha256 = '" + real_rules + "'");
         ASSERT_EQ(row("json_extract(outcome, '$.verdict')"), "clean");
         fs::copy_file(tmp + "/real.rules", rules, fs::copy_options::overwrite_existing); }, false, 0},
      // clang-format on
  };
  fs::copy_file(rules, tmp + "/real.rules");
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    for (const char* leftover : {"cache.db", "cache.db-wal", "cache.db-shm", "cache.db.key"})
      fs::remove(root + "/" + leftover);
    r.make();
    Ran res = scan();
    EXPECT_EQ(res.err, "");
    const Files files = seen(res).first;
    ASSERT_EQ(files.count("site/shell.php"), 1u) << res.out;
    if (r.taken) {
      EXPECT_EQ(res.status, 0) << res.err;
      EXPECT_EQ(files.find("site/shell.php")->second, "scanned clean");
      continue;
    }
    EXPECT_EQ(res.status, 1) << res.err;
    EXPECT_EQ(files.find("site/shell.php")->second, "scanned threat");
    EXPECT_EQ(json::parse(res.out)["summary"].value("cached", 0u), r.cached);
    // The row now holds the verdict just found, and holds good.
    EXPECT_EQ(row("json_extract(outcome, '$.verdict')"), "threat");
    EXPECT_EQ(seen(scan()), std::make_pair(expected, expected.size()));
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
      {"one changed",
       [&] { put("site/clean.php", "<?php echo '" + std::string(199000, 'x') + "';\n"); },
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
