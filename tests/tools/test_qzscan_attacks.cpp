// Quarantine and restore run as root over a tree that an unprivileged user
// owns and changes while qzscan works. Each test plays that user: a helper
// process with the user's ids repeats its attack for as long as qzscan runs,
// for a bounded number of rounds. The attack must fail every time, and the
// quarantined file must be in place or in the quarantine afterwards.

#include "tools/qzscan_runner.h"

#include <poll.h>
#include <pwd.h>
#include <sched.h>
#include <sys/stat.h>

#include <functional>

using namespace qzscan_test;

namespace {

// Rounds of each race: enough that an unguarded window is hit (the faults
// these tests stand for were won on the first try), few enough to stay
// quick.
const int kRaceRounds = 20;
// Attack steps one helper makes at most, so that it ends even if it is
// never told to stop.
const long kMaxAttackSteps = 2000000;
// The first user id tried for the attacker; the first id from there that no
// account has is taken.
const uid_t kFirstAttackerUid = 47000;
const uid_t kAttackerUidsTried = 1000;
// Mode bits of a set-user-id executable, as a user might leave a shell.
const mode_t kSetUidMode = 04755;

uid_t unused_uid() {
  for (uid_t u = kFirstAttackerUid; u < kFirstAttackerUid + kAttackerUidsTried; u++)
    if (!getpwuid(u)) return u;
  return 0;
}

mode_t mode_of(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

uid_t owner_of(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? st.st_uid : static_cast<uid_t>(-1);
}

// A helper process running `step` again and again with the attacker's ids
// until the test stops it.
class Attacker {
 public:
  Attacker(uid_t uid, const std::function<void()>& step) {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[1]);
      if (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0) _exit(126);
      pollfd stop = {fds[0], POLLIN, 0};
      long steps = 0;
      do step();
      while (++steps < kMaxAttackSteps && poll(&stop, 1, 0) == 0);
      _exit(0);
    }
    close(fds[0]);
    stop_fd_ = fds[1];
  }
  // The step runs at least once, so that a test may also use the helper for
  // one step. Stops the helper and waits for it; its exit status, 126 when it could
  // not take the attacker's ids.
  int stop() {
    if (stop_fd_ >= 0) close(stop_fd_);
    stop_fd_ = -1;
    int st = 0;
    if (pid_ > 0) waitpid(pid_, &st, 0);
    pid_ = -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  ~Attacker() { stop(); }

 private:
  pid_t pid_ = -1;
  int stop_fd_ = -1;
};

class QzscanAttacks : public QzscanRun {
 protected:
  void SetUp() override {
    QzscanRun::SetUp();
    if (getuid() != 0) GTEST_SKIP() << "the attacks need root, to play root and another user";
    user = unused_uid();
    ASSERT_NE(user, 0u) << "no unused user id";
    // The attacker walks into the test's folder, which only root may change.
    chmod(tmp.c_str(), 0755);
    site = root + "/home/u/www";
    other = root + "/home/v/www";
    fs::create_directories(site);
    fs::create_directories(other);
    for (const std::string& p : {root + "/home/u", site})
      ASSERT_EQ(chown(p.c_str(), user, user), 0);
    secret = root + "/secret";
    std::ofstream(secret) << "root's own\n";
    chmod(secret.c_str(), 0600);
  }

  // The site as its owner left it: one shell and nothing else.
  void fresh_site() {
    fs::remove_all(site);
    fs::remove_all(site + ".real");
    fs::create_directory(site);
    ASSERT_EQ(chown(site.c_str(), user, user), 0);
    plant_shell();
  }

  // A shell of the attacker's in the site.
  void plant_shell() {
    const std::string p = site + "/shell.php";
    std::ofstream(p) << kShell;
    ASSERT_EQ(chown(p.c_str(), user, user), 0);
    chmod(p.c_str(), 0644);
  }

  // Items still waiting in the quarantine: a manifest and a file.
  size_t waiting(const std::string& q) {
    size_t n = 0;
    for (const std::string& id : quarantine_items(q))
      n += fs::exists(q + "/" + id + "/manifest.json") && fs::exists(q + "/" + id + "/file");
    return n;
  }

  // Files under `dir` (not through links) that hold the shell.
  size_t shells_in(const std::string& dir) {
    size_t n = 0;
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(dir, ec))) return 0;
    for (const auto& e : fs::recursive_directory_iterator(dir, ec))
      n += e.is_regular_file() && !e.is_symlink() && slurp(e.path()) == kShell;
    return n;
  }

  // The secret file is as it was: root's, mode 0600, same content.
  void expect_secret_untouched() {
    EXPECT_EQ(mode_of(secret) & 07777, 0600u);
    EXPECT_EQ(owner_of(secret), 0u);
    EXPECT_EQ(slurp(secret), "root's own\n");
  }

  // A manifest as qzscan writes it, for `file_bytes` at `path`.
  json manifest(const std::string& path, const std::string& digest, unsigned mode = 0644) {
    return {{"path", path},
            {"uid", 0},
            {"gid", 0},
            {"mode", mode},
            {"atime", {{"sec", 1600000000}, {"nsec", 0}}},
            {"mtime", {{"sec", 1600000000}, {"nsec", 0}}},
            {"size", 0},
            {"sha256", digest},
            {"verdict", "threat"},
            {"score", 10}};
  }

  // An item made by hand: its file holds `bytes`, its manifest `m`.
  void make_item(const std::string& q, const std::string& id, const json& m,
                 const std::string& bytes) {
    fs::create_directories(q + "/" + id);
    chmod((q + "/" + id).c_str(), 0700);
    std::ofstream(q + "/" + id + "/file", std::ios::binary) << bytes;
    std::ofstream(q + "/" + id + "/manifest.json") << m.dump();
  }

  uid_t user = 0;
  std::string site, other, secret;
};

// A quarantine folder is used only when qzscan made it or it is the running
// user's and nobody else can write to it or to a folder above it; anything
// else refuses the run before any file moves, and a restore from it is
// refused whole, even of an item the other user made to give himself a
// set-user-id root shell.
TEST_F(QzscanAttacks, AnUntrustedQuarantineFolderIsRefused) {
  struct Row {
    std::string name, q;
    std::function<void(const std::string& q)> setup;
    std::string refusal;  // empty: used
  };
  const std::string uid = std::to_string(user);
  const std::vector<Row> rows = {
      {"made by qzscan", "q1", [](const std::string&) {}, ""},
      {"made by the user", "q2",
       [&](const std::string& q) {
         fs::create_directory(q);
         ASSERT_EQ(chown(q.c_str(), user, user), 0);
       },
       "q2 is owned by uid " + uid + ", not by the user running qzscan (uid 0)"},
      {"root's, writable by all", "q3",
       [](const std::string& q) {
         fs::create_directory(q);
         chmod(q.c_str(), 0777);
       },
       "q3 is writable by its group or by others"},
      {"root's, writable by its group", "q4",
       [](const std::string& q) {
         fs::create_directory(q);
         chmod(q.c_str(), 0770);
       },
       "q4 is writable by its group or by others"},
      {"in a folder of the user's", "home/u/q5", [](const std::string&) {},
       "/home/u is owned by uid " + uid + ", neither root nor the user running qzscan"},
      {"a link to a good folder", "q6",
       [&](const std::string& q) {
         fs::create_directory(root + "/good");
         chmod((root + "/good").c_str(), 0700);
         fs::create_directory_symlink(root + "/good", q);
       },
       "q6: a symbolic link; name the folder it points to"},
      {"in a sticky folder for all", "tmpdir/q7",
       [&](const std::string&) {
         fs::create_directory(root + "/tmpdir");
         chmod((root + "/tmpdir").c_str(), 01777);
       },
       ""},
      {"in a folder for all, not sticky", "open/q8",
       [&](const std::string&) {
         fs::create_directory(root + "/open");
         chmod((root + "/open").c_str(), 0777);
       },
       "/open is writable by its group or by others"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    plant_shell();
    const std::string q = root + "/" + r.q;
    r.setup(q);
    Ran scan = run(Launch{{"--quarantine", q, site}});
    if (r.refusal.empty()) {
      EXPECT_EQ(scan.status, 1) << scan.err;
      EXPECT_FALSE(fs::exists(site + "/shell.php"));
      EXPECT_EQ(run(Launch{{"--restore", q}}).status, 0);
      EXPECT_EQ(shells_in(site), 1u);
      continue;
    }
    EXPECT_EQ(scan.status, 2);
    EXPECT_NE(scan.err.find("qzscan: --quarantine: "), std::string::npos) << scan.err;
    EXPECT_NE(scan.err.find(r.refusal), std::string::npos) << scan.err;
    EXPECT_EQ(scan.out, "");
    EXPECT_EQ(shells_in(site), 1u);
    // What the other user left there is never restored.
    const std::string evil = root + "/evil";
    const std::string sh = slurp("/bin/sh");
    make_item(q, "planted", manifest(evil, sha256_of("/bin/sh"), kSetUidMode), sh);
    Ran back = run(Launch{{"--restore", q}});
    EXPECT_EQ(back.status, 2);
    EXPECT_NE(back.err.find("; nothing restored\n"), std::string::npos) << back.err;
    EXPECT_FALSE(fs::exists(evil));
    fs::remove(site + "/shell.php");
  }
}

// Even in a trusted folder a manifest is data: only an absolute path in
// normal form, with every member in the form qzscan writes, is restored to;
// any other item stays as it is.
TEST_F(QzscanAttacks, AMalformedManifestIsNotRestored) {
  const std::string q = root + "/q";
  ASSERT_EQ(run(Launch{{"--quarantine", q, root + "/home/v"}}).status, 0);
  const std::string bytes = "<?php echo 1;\n";
  std::ofstream(tmp + "/bytes") << bytes;
  const std::string digest = sha256_of(tmp + "/bytes");
  const std::string target = other + "/x.php";
  struct Row {
    std::string name;
    json manifest;
    std::string why;
  };
  json string_mode = manifest(target, digest), bad_nsec = manifest(target, digest);
  string_mode["mode"] = "0644";
  bad_nsec["mtime"]["nsec"] = 1000000000;
  const char* const kNotNormal = "the manifest's path is not an absolute path in normal form";
  const std::vector<Row> rows = {
      {"relative", manifest("home/v/www/x.php", digest), kNotNormal},
      {"dot dot", manifest(other + "/../../v/www/x.php", digest), kNotNormal},
      {"dot", manifest(other + "/./x.php", digest), kNotNormal},
      {"double slash", manifest(root + "//home/v/www/x.php", digest), kNotNormal},
      {"trailing slash", manifest(target + "/", digest), kNotNormal},
      {"the root", manifest("/", digest), kNotNormal},
      {"no digest form", manifest(target, "abc"), "the manifest's digest is not a SHA-256"},
      {"a mode as text", string_mode, "the manifest cannot be read"},
      {"nanoseconds past a second", bad_nsec, "the manifest cannot be read"},
      {"another file's digest", manifest(target, std::string(64, 'a')),
       "the quarantined file no longer has the digest of its manifest"},
  };
  for (size_t i = 0; i < rows.size(); i++) {
    SCOPED_TRACE(rows[i].name);
    const std::string id = "item" + std::to_string(i);
    make_item(q, id, rows[i].manifest, bytes);
    Ran back = run(Launch{{"--restore", q, id}});
    EXPECT_EQ(back.status, 2);
    EXPECT_NE(back.err.find(rows[i].why + "\n"), std::string::npos) << back.err;
    EXPECT_TRUE(fs::exists(q + "/" + id + "/manifest.json"));
    EXPECT_EQ(slurp(q + "/" + id + "/file"), bytes);
    EXPECT_FALSE(fs::exists(target));
  }
  // The same item with a sound manifest comes back.
  make_item(q, "good", manifest(target, digest), bytes);
  Ran good = run(Launch{{"--restore", q, "good"}});
  EXPECT_EQ(good.status, 0) << good.err;
  EXPECT_EQ(slurp(target), bytes);
}

// The user replaces his site folder with a link to another site's folder,
// before the restore and while it runs: the restore never follows it, and
// the shell is in the user's own folder or still in the quarantine.
TEST_F(QzscanAttacks, ARestoreNeverFollowsALinkInThePath) {
  const std::string q = root + "/q", moved = site + ".real";
  // Before the restore: refused, the item stays.
  plant_shell();
  ASSERT_EQ(run(Launch{{"--quarantine", q, site}}).status, 1);
  Attacker swap(user, [&] {
    if (rename(site.c_str(), moved.c_str()) == 0) symlink(other.c_str(), site.c_str());
  });
  swap.stop();
  ASSERT_TRUE(fs::is_symlink(site));
  Ran refused = run(Launch{{"--restore", q}});
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("/home/u/www is a symbolic link now; it is not followed\n"),
            std::string::npos)
      << refused.err;
  EXPECT_EQ(waiting(q), 1u);
  EXPECT_EQ(shells_in(other), 0u);
  fs::remove(site);
  fs::rename(moved, site);
  ASSERT_EQ(run(Launch{{"--restore", q}}).status, 0);

  // While it runs.
  int restored = 0;
  for (int round = 0; round < kRaceRounds; round++) {
    SCOPED_TRACE(round);
    fresh_site();
    const std::string qr = q + std::to_string(round);
    ASSERT_EQ(run(Launch{{"--quarantine", qr, site}}).status, 1);
    Attacker flip(user, [&] {
      if (rename(site.c_str(), moved.c_str()) != 0) return;
      symlink(other.c_str(), site.c_str());
      sched_yield();
      unlink(site.c_str());
      rename(moved.c_str(), site.c_str());
    });
    Ran back = run(Launch{{"--restore", qr}});
    EXPECT_EQ(flip.stop(), 0);
    restored += back.status == 0;
    EXPECT_EQ(shells_in(other), 0u) << back.err;
    if (fs::is_symlink(site)) fs::remove(site);
    if (fs::exists(moved)) fs::rename(moved, site);
    EXPECT_EQ(shells_in(site) + waiting(qr), 1u) << back.err;
  }
  RecordProperty("restored_while_racing", restored);
}

// Between the restore's creating the file and setting its owner and mode,
// the user swaps the new file for a link to a file of root's: the owner and
// mode go to the restored file alone, and root's file keeps its mode 0600.
TEST_F(QzscanAttacks, ARestoreSetsOwnerAndModeOnItsOwnFile) {
  const std::string q = root + "/q", path = site + "/shell.php";
  for (int round = 0; round < kRaceRounds; round++) {
    SCOPED_TRACE(round);
    fresh_site();
    const std::string qr = q + std::to_string(round);
    ASSERT_EQ(run(Launch{{"--quarantine", qr, site}}).status, 1);
    long moved = 0;
    Attacker swap(user, [&] {
      const std::string aside = path + ".moved" + std::to_string(moved);
      if (rename(path.c_str(), aside.c_str()) != 0) return;
      moved++;
      symlink(secret.c_str(), path.c_str());
      sched_yield();
      unlink(path.c_str());
    });
    Ran back = run(Launch{{"--restore", qr}});
    EXPECT_EQ(swap.stop(), 0);
    expect_secret_untouched();
    EXPECT_EQ(shells_in(site) + waiting(qr), 1u) << back.err;
    for (const auto& e : fs::directory_iterator(site))
      if (!e.is_symlink() && slurp(e.path()) == kShell) {
        EXPECT_EQ(owner_of(e.path()), user);
        EXPECT_EQ(mode_of(e.path()) & 07777, 0644u);
      }
  }
}

// While qzscan quarantines the shell, the user swaps it for a link to a
// file of root's and back: what moves is only ever the file scanned.
TEST_F(QzscanAttacks, AQuarantineMovesOnlyTheFileScanned) {
  const std::string q = root + "/q", path = site + "/shell.php", aside = site + "/shell.bak";
  for (int round = 0; round < kRaceRounds; round++) {
    SCOPED_TRACE(round);
    fresh_site();
    const std::string qr = q + std::to_string(round);
    Attacker swap(user, [&] {
      if (rename(path.c_str(), aside.c_str()) != 0) return;
      symlink(secret.c_str(), path.c_str());
      sched_yield();
      unlink(path.c_str());
      rename(aside.c_str(), path.c_str());
    });
    Ran scan = run(Launch{{"--quarantine", qr, site}});
    EXPECT_EQ(swap.stop(), 0);
    EXPECT_TRUE(scan.status == 0 || scan.status == 1 || scan.status == 2) << scan.err;
    expect_secret_untouched();
    for (const std::string& id : quarantine_items(qr))
      if (fs::exists(qr + "/" + id + "/file")) {
        EXPECT_EQ(slurp(qr + "/" + id + "/file"), kShell);
      }
    EXPECT_EQ(shells_in(site) + waiting(qr), 1u) << scan.err;
  }
}

// Set-user-id and set-group-id bits come back only when asked for.
TEST_F(QzscanAttacks, SetIdBitsComeBackOnlyWhenAsked) {
  const std::string q = root + "/q", path = site + "/shell.php";
  struct Row {
    std::vector<std::string> restore;
    mode_t mode;
    const char* warning;
  };
  const std::vector<Row> rows = {
      {{"--restore", q},
       0755,
       "shell.php: restored with mode 0755, without the set-id bits of 6755 (see "
       "--restore-setid)\n"},
      {{"--restore", q, "--restore-setid"}, 06755, ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.mode);
    fresh_site();
    chmod(path.c_str(), 06755);
    ASSERT_EQ(run(Launch{{"--quarantine", q, site}}).status, 1);
    Ran back = run(Launch{r.restore});
    EXPECT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(mode_of(path) & 07777, r.mode);
    EXPECT_EQ(owner_of(path), user);
    if (*r.warning) {
      EXPECT_TRUE(ends_with(back.err, r.warning)) << back.err;
    } else {
      EXPECT_EQ(back.err, "");
    }
  }
}

}  // namespace
