// qzscan's quarantine end to end: threats moved out with what it takes to
// put them back exactly, and every case in which a file must stay where it
// is.

#include "tools/qzscan_runner.h"

#include <sys/stat.h>

#include <map>

using namespace qzscan_test;

namespace {

// What a restore must bring back of a file.
struct Meta {
  std::string content;
  mode_t mode;
  uid_t uid;
  gid_t gid;
  timespec mtime;
  bool operator==(const Meta& o) const {
    return content == o.content && mode == o.mode && uid == o.uid && gid == o.gid &&
           mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec;
  }
};

std::ostream& operator<<(std::ostream& os, const Meta& m) {
  return os << std::oct << m.mode << std::dec << " " << m.uid << ":" << m.gid << " "
            << m.mtime.tv_sec << "." << m.mtime.tv_nsec << " " << m.content.size() << " bytes";
}

bool meta_of(const std::string& path, Meta* m) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return false;
  *m = {slurp(path), st.st_mode & 07777, st.st_uid, st.st_gid, st.st_mtim};
  return true;
}

class QzscanQuarantine : public QzscanRun {
 protected:
  // A threat with its own mode, owner and times (owner only as root).
  void threat(const std::string& name, mode_t mode, long mtime_ns) {
    put(name, std::string(kShell) + "// " + name + "\n");
    const std::string p = root + "/" + name;
    chmod(p.c_str(), mode);
    if (getuid() == 0) {
      EXPECT_EQ(lchown(p.c_str(), 1234, 5678), 0);
    }
    struct timespec t[2] = {{1600000000, 1}, {1500000000, mtime_ns}};
    EXPECT_EQ(utimensat(AT_FDCWD, p.c_str(), t, AT_SYMLINK_NOFOLLOW), 0);
  }
};

// Threats with odd names leave, suspicious and clean files stay, and a
// restore puts each back with its content, mode, owner and times, on the
// same file system and across file systems.
TEST_F(QzscanQuarantine, ThreatsLeaveAndComeBackExactly) {
  const std::vector<std::string> threats = {"www/a b.php", "www/new\nline.php", "www/bad\xff.php",
                                            "www/deep/-dash.php", "www/deep/setgid.php"};
  std::vector<std::string> quarantines = {"q"};
  struct stat a, b;
  char tmpl[] = "/dev/shm/qzscan_q_XXXXXX";
  if (stat("/dev/shm", &b) == 0 && stat(tmp.c_str(), &a) == 0 && a.st_dev != b.st_dev)
    quarantines.push_back(std::string(mkdtemp(tmpl)) + "/q");
  for (const std::string& q : quarantines) {
    SCOPED_TRACE(q);
    fs::remove_all(root + "/www");
    for (size_t i = 0; i < threats.size(); i++)
      threat(threats[i], i == 4 ? 02750 : 0640 + i, static_cast<long>(i) * 111111111);
    put("www/cmd.php", "<?php exec('ls');\n");
    put("www/clean.php", "<?php echo 1;\n");
    std::map<std::string, Meta> before;
    for (const std::string& t : threats) ASSERT_TRUE(meta_of(root + "/" + t, &before[t]));

    Ran scan = run(Launch{{"--format", "json", "--quarantine", q, "www"}});
    EXPECT_EQ(scan.status, 1) << scan.err;
    const json report = json::parse(scan.out);
    EXPECT_EQ(report["summary"]["quarantined"], threats.size());
    for (const json& f : report["files"])
      EXPECT_EQ(f.contains("quarantine"), f["verdict"] == "threat") << f.dump();
    for (const std::string& t : threats) EXPECT_FALSE(fs::exists(root + "/" + t)) << t;
    EXPECT_TRUE(fs::exists(root + "/www/cmd.php"));
    EXPECT_TRUE(fs::exists(root + "/www/clean.php"));
    const std::string qdir = q[0] == '/' ? q : root + "/" + q;
    ASSERT_EQ(quarantine_items(qdir).size(), threats.size());

    // A second scan finds nothing left to move, and skips the quarantine.
    Ran again = run(Launch{{"--all-files", "--quarantine", q, "www", q}});
    EXPECT_EQ(again.status, 0) << again.out << again.err;

    Ran back = run(Launch{{"--restore", q}});
    EXPECT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(std::count(back.out.begin(), back.out.end(), '\n'),
              static_cast<long>(threats.size()));
    for (const std::string& t : threats) {
      Meta now{};
      ASSERT_TRUE(meta_of(root + "/" + t, &now)) << t;
      EXPECT_EQ(now, before[t]) << t;
    }
    // Restored items keep their manifests, and restore no more.
    for (const std::string& id : quarantine_items(qdir))
      EXPECT_TRUE(fs::exists(qdir + "/" + id + "/restored.json")) << id;
    Ran twice = run(Launch{{"--restore", q, quarantine_items(qdir)[0]}});
    EXPECT_EQ(twice.status, 2);
    EXPECT_NE(twice.err.find(": already restored\n"), std::string::npos) << twice.err;
  }
  if (quarantines.size() > 1) fs::remove_all(fs::path(quarantines[1]).parent_path());
}

// A restore never replaces a file that took the original path.
TEST_F(QzscanQuarantine, RestoreNeverOverwrites) {
  threat("www/one.php", 0644, 5);
  threat("www/two.php", 0644, 6);
  ASSERT_EQ(run("--quarantine q www").status, 1);
  put("www/one.php", "<?php echo 'the new site';\n");
  Ran res = run("--restore q");
  EXPECT_EQ(res.status, 2);
  EXPECT_NE(res.err.find("www/one.php: something is at the original path; it is not replaced\n"),
            std::string::npos)
      << res.err;
  EXPECT_EQ(slurp(root + "/www/one.php"), "<?php echo 'the new site';\n");
  EXPECT_NE(slurp(root + "/www/two.php").find("two.php"), std::string::npos);
  Ran bad = run("--restore q ../etc nonexistent");
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("q/../etc: not a quarantine item id\n"), std::string::npos) << bad.err;
  EXPECT_NE(bad.err.find("q/nonexistent: no such item\n"), std::string::npos) << bad.err;
}

// A threat that cannot be moved stays where it is, is reported, and makes
// the exit status 2; the other threats still move.
TEST_F(QzscanQuarantine, AFileThatCannotMoveStaysAndIsReported) {
  threat("www/ro/locked.php", 0644, 1);
  threat("www/free.php", 0644, 2);
  fs::create_directory(root + "/q");
  // As root, the run drops to nobody so that a read-only folder binds it.
  for (const std::string& p : {tmp, root, root + "/www", root + "/www/ro", root + "/q"})
    if (getuid() == 0) {
      ASSERT_EQ(chown(p.c_str(), kNobody, kNobody), 0);
    }
  chmod(tmp.c_str(), 0755);
  chmod(rules.c_str(), 0644);
  chmod((root + "/www/ro").c_str(), 0555);
  Launch l{{"--quarantine", "q", "www"}};
  l.as_nobody = true;
  Ran res = run(l);
  chmod((root + "/www/ro").c_str(), 0755);
  EXPECT_EQ(res.status, 2) << res.out << res.err;
  EXPECT_EQ(res.err,
            "qzscan: www/ro/locked.php: not quarantined: cannot move it: Permission denied\n");
  EXPECT_TRUE(fs::exists(root + "/www/ro/locked.php"));
  EXPECT_FALSE(fs::exists(root + "/www/free.php"));
  EXPECT_EQ(quarantine_items(root + "/q").size(), 1u);
  EXPECT_NE(res.out.find("; 1 quarantined; 1 not quarantined\n"), std::string::npos) << res.out;
}

// A threat that changed between its scan and the move is not moved: what
// is there now was never scanned.
TEST_F(QzscanQuarantine, AFileChangedAfterItsScanIsNotMoved) {
  put("www/a_held.php", "<?php echo 1;\n");
  threat("www/b_shell.php", 0644, 3);
  Events events;
  Launch l{{"--format", "json", "-j", "2", "--quarantine", "q", "www"},
           {"QZSCAN_TEST_HOLD_ON=a_held"}};
  l.events = &events;
  pid_t pid = start(l);
  // The shell is scanned at once; its result is taken in order, after the
  // held file's, so that it is edited between its scan and the move.
  EXPECT_TRUE(events.wait("done www/b_shell.php")) << events.log();
  std::ofstream(root + "/www/b_shell.php", std::ios::app) << "// edited by the site owner\n";
  events.release();
  Ran res = finish(pid);
  EXPECT_EQ(res.status, 2) << res.err;
  EXPECT_EQ(res.err, "qzscan: www/b_shell.php: not quarantined: changed since it was scanned\n");
  EXPECT_NE(slurp(root + "/www/b_shell.php").find("edited by the site owner"), std::string::npos);
  EXPECT_TRUE(quarantine_items(root + "/q").empty());
  const json f = json::parse(res.out)["files"][1];
  EXPECT_EQ(f["quarantine"]["error"], "changed since it was scanned");
}

}  // namespace
