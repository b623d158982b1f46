// qzscan and files over --max-filesize: scanned as their first and last
// SIZE bytes, reported as partly scanned, never passed as clean; skipped
// only when asked; no limit at all with 0.

#include "tools/qzscan_runner.h"

using namespace qzscan_test;

namespace {

// The limit most rows run with, in bytes (--max-filesize 4K).
constexpr size_t kLimit = 4096;
const std::string kLimitArg = "--max-filesize 4K ";
// Bytes of one padding line.
constexpr size_t kPadLine = 64;
const std::string kCall = "system($_GET['c']);\n";

// `lines` lines of comment, kPadLine bytes each.
std::string pad(size_t lines) {
  std::string text;
  for (size_t i = 0; i < lines; i++) text += "#" + std::string(kPadLine - 2, 'x') + "\n";
  return text;
}

// `size` bytes: `before`, then one comment line of blank space.
std::string sized(const std::string& before, size_t size) {
  return before + "#" + std::string(size - before.size() - 2, ' ') + "\n";
}

class QzscanSize : public QzscanRun {};

TEST_F(QzscanSize, AFileOverTheLimitIsScannedAtBothEndsAndNeverPassesAsClean) {
  struct Row {
    std::string name, text, args;  // args before the file's path
    int status;
    std::vector<std::string> shown;        // in standard output
    std::vector<std::string> absent = {};  // in neither output
  };
  const std::string mid = "<?php\n" + pad(100) + kCall + pad(100);  // line 102, unseen at 4K
  const std::string partly = "(partly scanned: first and last 4096 bytes of ";
  // clang-format off
  const Row rows[] = {
      {"head.php", kShell + pad(200), kLimitArg, 1, {"head.php: THREAT score=10 line=2 runs request input " + partly + "12826 bytes)\n"}},
      {"tail.php", "<?php\n" + pad(200) + kCall, kLimitArg, 1, {"tail.php: THREAT score=10 line=202 runs request input " + partly}},
      // The tail starts inside a comment, or in the HTML of a template.
      {"comment.php", "<?php\n/*" + std::string(9000, ' ') + "*/\n" + kCall, kLimitArg, 1, {"comment.php: THREAT score=10 line=3 "}},
      {"page.php", "<html>\n" + std::string(9000, '.') + "\n<p>x</p>\n<?php " + kCall + "?>\n", kLimitArg, 1, {"page.php: THREAT score=10 line=4 "}},
      // A file whose tail is shorter than its head; at the limit, the whole file.
      {"short.php", sized("<?php\n", kLimit + 1), kLimitArg, 2, {"short.php: PARTLY SCANNED: larger than the size limit; nothing found in its first 4096 bytes and last 1 byte of 4097 bytes\n"}},
      {"exact.php", sized("<?php\n", kLimit - kCall.size()) + kCall, kLimitArg, 1, {"exact.php: THREAT score=10 line=3 runs request input\n"}, {"partly"}},
      // The middle is not seen: exit 2 says so; 0 is no limit; --skip-large skips.
      {"mid.php", mid, kLimitArg, 2, {"mid.php: PARTLY SCANNED: larger than the size limit; nothing found in its first and last 4096 bytes of 12826 bytes\n", "; 1 partly scanned"}},
      {"mid.php", mid, kLimitArg + "-q", 2, {"mid.php: PARTLY SCANNED: "}, {"partly scanned\n"}},
      {"mid.php", mid, "--max-filesize 0 ", 1, {"mid.php: THREAT score=10 line=102 runs request input\n"}, {"partly"}},
      {"mid.php", mid, kLimitArg + "--skip-large", 0, {"mid.php: SKIPPED: larger than the size limit\n"}, {"partly"}},
      {"mid.php", mid, kLimitArg + "--skip-large --fail-on skip", 1, {"mid.php: SKIPPED: "}},
      // A suspicious file may hide a threat in its middle.
      {"cmd.php", "<?php exec('ls');\n" + pad(200), kLimitArg, 2, {"cmd.php: SUSPICIOUS score=3 line=1 runs a command " + partly}},
      // Head and tail touch: the shell at the head's end is not scanned again.
      {"touch.php", sized("<?php\n", kLimit - kCall.size()) + kCall + pad(10), kLimitArg + "--explain", 1, {"score=10 line=3 ", "first 4096 bytes and last 640 bytes of 4736 bytes)\n    line 3: system($_GET_DATA) -> runs request input [+10]\n1 files"}},
      // Over a chunk of reading, the ring of the tail comes round mid-chunk.
      {"ring.php", "<?php\n" + pad(5000) + kCall + pad(3), "--max-filesize 100000 ", 1, {"ring.php: THREAT score=10 line=5002 ", "first and last 100000 bytes of 320218 bytes"}},
  };
  // clang-format on
  for (const Row& r : rows) {
    put(r.name, r.text);
    Ran res = run(r.args + " " + r.name);
    const std::string what = r.args + r.name + "\n" + res.out + res.err;
    EXPECT_EQ(res.status, r.status) << what;
    for (const std::string& s : r.shown)
      EXPECT_NE(res.out.find(s), std::string::npos) << s << ": " << what;
    for (const std::string& a : r.absent)
      EXPECT_EQ((res.out + res.err).find(a), std::string::npos) << a << ": " << what;
  }
}

// A shell cut by the end of the head is in neither part whole: it is
// reported at most once, and no byte is scanned twice.
TEST_F(QzscanSize, AShellAcrossTheCutIsNotCountedTwice) {
  for (size_t cut = 1; cut < kCall.size(); cut += 4) {
    put("cut.php", sized("<?php\n", kLimit - cut) + kCall + pad(4));
    Ran res = run(kLimitArg + "--format json cut.php");
    const json report = json::parse(res.out, nullptr, false);
    ASSERT_FALSE(report.is_discarded()) << res.out << res.err;
    const json& f = report["files"][0];
    EXPECT_EQ(f["partial"]["head_bytes"], kLimit) << cut;
    EXPECT_EQ(f["partial"]["head_bytes"].get<size_t>() + f["partial"]["tail_bytes"].get<size_t>(),
              f["size"].get<size_t>())
        << cut;
    EXPECT_LE(f["calls"].size(), 1u) << cut << ": " << res.out;
    EXPECT_LE(f["score"], 10) << cut;
  }
}

TEST_F(QzscanSize, ReportsSayWhatWasPartlyScanned) {
  put("big.php", "<?php\n" + pad(200) + kCall);
  put("small.php", kShell);
  Ran res = run(kLimitArg + "--format json big.php small.php");
  EXPECT_EQ(res.status, 1) << res.out << res.err;
  const json report = json::parse(res.out, nullptr, false);
  ASSERT_FALSE(report.is_discarded()) << res.out << res.err;
  EXPECT_EQ(report["version"], 3);
  const json& big = report["files"][0];
  EXPECT_EQ(big["partial"], json::parse(R"({"head_bytes": 4096, "tail_bytes": 4096})"));
  EXPECT_EQ(big["line"], 202);
  EXPECT_EQ(big["calls"][0]["line"], 202);
  // The digest is the whole file's, for the cache, allowlists and quarantine.
  EXPECT_EQ(big["sha256"], sha256_of(root + "/big.php"));
  EXPECT_FALSE(report["files"][1].contains("partial"));
  EXPECT_EQ(report["summary"]["partial"], 1);
  EXPECT_EQ(report["summary"]["scanned"], 2);
  // The schema names the members, and the version it describes.
  const json schema = json::parse(slurp(QZ_SOURCE_DIR "/docs/qzscan-report.schema.json"));
  EXPECT_EQ(schema["properties"]["version"]["enum"], json::array({report["version"]}));
  const json& entry = schema["properties"]["files"]["items"]["properties"];
  for (const auto& [key, value] : big["partial"].items())
    EXPECT_TRUE(entry["partial"]["properties"].contains(key)) << key;
  EXPECT_TRUE(schema["properties"]["summary"]["properties"].contains("partial"));

  Ran sarif = run(kLimitArg + "--format sarif big.php");
  const json notes = json::parse(sarif.out, nullptr,
                                 false)["runs"][0]["invocations"][0]["toolExecutionNotifications"];
  ASSERT_EQ(notes.size(), 1u) << sarif.out;
  EXPECT_EQ(notes[0]["level"], "warning");
  EXPECT_EQ(notes[0]["message"]["text"],
            "big.php: partly scanned: first and last 4096 bytes of 12826 bytes");
}

// Standard input is copied whole and scanned as a file is.
TEST_F(QzscanSize, StandardInputOverTheLimit) {
  struct Row {
    std::string args, input;
    int status;
    std::string shown;
  };
  const Row rows[] = {
      {kLimitArg + "-", "<?php\n" + pad(200) + kCall, 1, "<stdin>: THREAT score=10 line=202 "},
      {kLimitArg + "-", "<?php\n" + pad(200), 2, "<stdin>: PARTLY SCANNED: "},
      {kLimitArg + "--skip-large -", "<?php\n" + pad(200) + kCall, 0, "<stdin>: SKIPPED: "},
      {"--max-filesize 0 -", "<?php\n" + pad(100) + kCall + pad(100), 1,
       "<stdin>: THREAT score=10 line=102 "},
  };
  for (const Row& r : rows) {
    Ran res = run(r.args, r.input);
    EXPECT_EQ(res.status, r.status) << r.args << "\n" << res.out << res.err;
    EXPECT_NE(res.out.find(r.shown), std::string::npos) << r.args << "\n" << res.out << res.err;
  }
}

// A partial outcome holds for one limit: it is not cached, so that a run
// with another limit scans the file again; a large file's digest is taken,
// so that an allowlist lets it through.
TEST_F(QzscanSize, PartialOutcomesAreNotCachedAndLargeFilesCanBeAllowed) {
  put("mid.php", "<?php\n" + pad(100) + kCall + pad(100));
  for (int i = 0; i < 2; i++) {
    Ran res = run(kLimitArg + "--cache cache.db --format json mid.php");
    EXPECT_EQ(report_files(res.out),
              (std::multimap<std::string, std::string>{{"mid.php", "scanned clean"}}))
        << res.out << res.err;
  }
  Ran whole = run("--max-filesize 0 --cache cache.db --format json mid.php");
  EXPECT_EQ(report_files(whole.out),
            (std::multimap<std::string, std::string>{{"mid.php", "scanned threat"}}));

  std::ofstream(root + "/allow.txt") << sha256_of(root + "/mid.php") << "  mid.php\n";
  Ran allowed = run(kLimitArg + "--allowlist allow.txt mid.php");
  EXPECT_EQ(allowed.status, 0) << allowed.out << allowed.err;
  EXPECT_NE(allowed.out.find("; 1 allowed"), std::string::npos) << allowed.out;
  Ran made = run(kLimitArg + "--make-allowlist .");
  EXPECT_NE(made.out.find(sha256_of(root + "/mid.php") + "  ./mid.php\n"), std::string::npos)
      << made.out << made.err;
}

// A file whose size changes while it is read gives no partial verdict. A
// /proc file says it is empty and then reads as more.
TEST_F(QzscanSize, AFileThatGrowsWhileReadIsNoPartialVerdict) {
  struct Row {
    std::string args;
    int status;
    std::string shown;  // in standard output, or on standard error when it starts "qzscan: "
  };
  const Row rows[] = {
      {"--max-filesize 10", 2, "qzscan: /proc/self/status: changed while it was read\n"},
      {"--max-filesize 10 --skip-large", 0,
       "/proc/self/status: SKIPPED: larger than the size limit\n"},
      {"--max-filesize 0", 0, "1 files: 1 scanned, 0 skipped, 0 errors"},
  };
  for (const Row& r : rows) {
    Ran res = run(r.args + " /proc/self/status");
    EXPECT_EQ(res.status, r.status) << r.args << "\n" << res.out << res.err;
    EXPECT_NE((r.shown.rfind("qzscan: ", 0) == 0 ? res.err : res.out).find(r.shown),
              std::string::npos)
        << r.args << "\n"
        << res.out << res.err;
  }
}

}  // namespace
