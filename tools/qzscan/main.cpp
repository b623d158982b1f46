// qzscan: scans PHP files and directories for web shells and other malicious
// scripts with the qz-engine behaviour rules.

#include "qzrules_lint.h"
#include "scan_allow.h"
#include "scan_build_id.h"
#include "scan_cache.h"
#include "scan_client.h"
#include "scan_daemon.h"
#include "scan_files.h"
#include "scan_lists.h"
#include "scan_quarantine.h"
#include "scan_report.h"
#include "scan_test_hooks.h"
#include "scan_watch.h"
#include "scan_worker.h"

#include <qzengine/version.h>

#include <CLI/CLI.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#ifndef QZSCAN_VERSION
#define QZSCAN_VERSION "0"
#endif
#ifndef QZSCAN_INSTALLED_RULES
#define QZSCAN_INSTALLED_RULES ""
#endif
#ifndef QZSCAN_BUILD_DIR
#define QZSCAN_BUILD_DIR ""
#endif
#ifndef QZSCAN_BUILD_RULES
#define QZSCAN_BUILD_RULES ""
#endif

namespace {

// The end of --help: exit statuses and examples.
const char* const kHelpFooter =
    "Exit status: 0 nothing found; 1 a threat was found (or, with --fail-on, a suspicious or\n"
    "skipped file); 2 a file could not be scanned or quarantined, a file over --max-filesize\n"
    "was partly scanned and no threat found in it, the rule file, an allowlist or the baseline\n"
    "is unusable, the report could not be written, or a usage error; 128+N when stopped by\n"
    "signal N (130 for Ctrl-C). --watch exits 0 when stopped by a signal, 2 when it cannot\n"
    "watch.\n"
    "\n"
    "Examples:\n"
    "  qzscan /var/www\n"
    "      scan a tree: one line per finding, then a summary\n"
    "  find /var/www -type f -newer stamp -print0 | qzscan --files-from - -0\n"
    "      scan the files changed since stamp, whatever their names\n"
    "  qzscan --format json -o report.json --explain -j 4 /srv/site\n"
    "      write a JSON report with the calls behind each finding\n";

// Exit statuses (documented in the README).
constexpr int kExitClean = 0;     // nothing that fails the run was found
constexpr int kExitFindings = 1;  // a threat, or a suspicious file under --fail-on suspicious
constexpr int kExitError = 2;     // usage error, or a file or the report could not be handled
// A run stopped by a signal exits, as shells report such a death, with 128
// plus the signal's number: 130 for SIGINT, 143 for SIGTERM, 129 for SIGHUP.
constexpr int kExitSignalBase = 128;
// Line numbers named in the warning about dropped rule lines; the rest are
// counted.
constexpr size_t kDroppedLinesShown = 10;
// Most worker processes: beyond this they only add memory and start-up cost.
constexpr unsigned kMaxJobs = 256;
// Longest --timeout, one day: a file that needs longer is hanging.
constexpr unsigned kMaxTimeoutSeconds = 86400;
// Bytes for the path of our own executable (PATH_MAX on Linux).
constexpr size_t kExePathBuffer = 4096;
// Returns to the start of the terminal line and clears it, so that the
// progress line is redrawn in place and other messages do not run into it.
const char* const kClearLine = "\r\033[K";
// Shortest interval between two refreshes of the progress line.
const auto kProgressInterval = std::chrono::milliseconds(100);
// Bytes for the text of the progress line.
constexpr size_t kProgressLineBuffer = 160;

std::string exe_dir() {
  char buf[kExePathBuffer];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  buf[n] = 0;
  std::string p(buf);
  return p.substr(0, p.find_last_of('/'));
}

bool readable(const std::string& p) { return !p.empty() && access(p.c_str(), R_OK) == 0; }

// The same directory, by device and inode, whatever the path says.
bool same_dir(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// The default rules: the build tree's for the binary built there, else the
// installed ones, else those beside a tree installed under another prefix.
std::string default_rules() {
  std::string dir = exe_dir();
  if (*QZSCAN_BUILD_DIR && same_dir(dir, QZSCAN_BUILD_DIR)) return QZSCAN_BUILD_RULES;
  if (readable(QZSCAN_INSTALLED_RULES)) return QZSCAN_INSTALLED_RULES;
  std::string relocated = dir + "/../share/qzengine/default.rules";
  return readable(relocated) ? relocated : QZSCAN_INSTALLED_RULES;
}

// The line numbers of dropped rule lines, the first few of them.
std::string line_list(const std::vector<size_t>& lines) {
  std::string r;
  for (size_t i = 0; i < lines.size() && i < kDroppedLinesShown; i++)
    r += (i ? ", " : "") + std::to_string(lines[i]);
  if (lines.size() > kDroppedLinesShown)
    r += " and " + std::to_string(lines.size() - kDroppedLinesShown) + " more";
  return r;
}

// Reads and loads the rule file as the engine will, to name it and count its
// rules. False, with *why set, when it cannot be read.
bool load_rules(const std::string& path, RuleFileInfo* info, qzrules_load_summary* sum,
                std::string* why) {
  info->path = path;
  struct stat st;
  std::string contents;
  if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    *why = "not a regular file";
    return false;
  }
  if (!qzrules_read_file(path, contents, *why)) return false;
  *sum = qzrules_check_load(contents);
  info->sha256 = sha256_hex(contents);
  info->rules = sum->rules;
  return true;
}

// Checks the rule file once, before any worker starts: a run without a rule
// that can score would call every file clean. False, after saying why, when
// the file cannot be read or has no such rule, or, when strict, when the
// engine drops any of its lines; dropped lines are otherwise a warning.
bool check_rules(const std::string& path, bool strict, RuleFileInfo* info) {
  qzrules_load_summary sum;
  std::string why;
  if (!load_rules(path, info, &sum, &why)) {
    std::fprintf(stderr, "qzscan: %s: cannot read the rule file: %s\n", path.c_str(), why.c_str());
    return false;
  }
  if (sum.detecting == 0) {
    std::fprintf(stderr,
                 "qzscan: %s: no usable rules (%lu loaded, none that scores); a plain rule file "
                 "must first be enciphered with `qzrules encrypt`\n",
                 path.c_str(), sum.rules);
    return false;
  }
  if (sum.dropped.empty()) return true;
  const char* lines = sum.dropped.size() == 1 ? "line" : "lines";
  std::fprintf(stderr, "qzscan: %s: %s%zu %s cannot be deciphered or parsed: %s %s%s\n",
               path.c_str(), strict ? "" : "warning: ", sum.dropped.size(), lines, lines,
               line_list(sum.dropped).c_str(), strict ? " (--strict-rules)" : "");
  return !strict;
}

// What --version prints: the version, and the rule file a run would use.
std::string version_text(const std::string& rules) {
  RuleFileInfo info;
  qzrules_load_summary sum;
  std::string why, text = std::string("qzscan ") + QZSCAN_VERSION + "\nrules: " + rules;
  if (!load_rules(rules, &info, &sum, &why)) return text + ": " + why;
  return text + "\nsha256: " + info.sha256 + "\nrules loaded: " + std::to_string(info.rules);
}

// The progress line on a terminal's standard error. It is redrawn at most
// every kProgressInterval, and cleared only when something else is about to
// be printed on the same terminal, so that it does not flicker.
struct Progress {
  bool enabled = false;
  // The report goes to the terminal that shows the progress line.
  bool shares_terminal = false;
  bool drawn = false;
  uint64_t total_files = 0, total_bytes = 0, files = 0, bytes = 0, findings = 0;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now(), last;

  // Takes the totals from the files that are to be scanned: not those whose
  // outcome the cache gave.
  void count(const std::vector<FileResult>& all) {
    for (const FileResult& f : all)
      if (f.skipped.empty() && f.error.empty() && !f.allowed && !f.cached) {
        total_files++;
        total_bytes += f.size;
      }
  }
  // A finding from the cache is a finding; its file was not scanned.
  void advance(const FileResult& f) {
    if (!f.scanned) return;
    if (f.verdict != Verdict::Clean) findings++;
    if (f.cached) return;
    files++;
    bytes += f.size;
  }
  bool due(bool force) {
    auto now = std::chrono::steady_clock::now();
    if (!enabled || (!force && now - last < kProgressInterval)) return false;
    last = now;
    return true;
  }
  void draw(const std::string& text) {
    std::fprintf(stderr, "%s%s", kClearLine, text.c_str());
    std::fflush(stderr);
    drawn = true;
  }
  // While the selected files are hashed, before any scan.
  void hashing(size_t done, size_t total) {
    if (!due(false)) return;
    draw("hashing: " + std::to_string(done) + "/" + std::to_string(total) + " files");
  }
  // While the paths are walked, before any scan.
  void walk(uint64_t dirs, uint64_t listed) {
    if (!due(false)) return;
    draw("walking: " + std::to_string(dirs) + " directories, " + std::to_string(listed) +
         " files listed");
  }
  void update(bool force = false) {
    if (!due(force)) return;
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char text[kProgressLineBuffer];
    std::snprintf(text, sizeof text, "%llu/%llu files, %.1f/%.1f MB, %.1f MB/s, %llu findings",
                  static_cast<unsigned long long>(files),
                  static_cast<unsigned long long>(total_files), bytes / kBytesPerMB,
                  total_bytes / kBytesPerMB, secs > 0 ? bytes / kBytesPerMB / secs : 0.0,
                  static_cast<unsigned long long>(findings));
    draw(text);
  }
  // Before a message on standard error, or report text on the same terminal.
  void clear(bool for_report = false) {
    if (!drawn || (for_report && !shares_terminal)) return;
    std::fputs(kClearLine, stderr);
    drawn = false;
  }
  // After such a message: the line comes back at once rather than at the
  // next file done.
  void restore() {
    if (enabled && !drawn) update(true);
  }
};

// The command line, with its defaults.
struct CliOptions {
  std::vector<std::string> paths, excludes;
  std::string files_from, newer_than;
  std::vector<std::string> allowlists;
  std::string make_allowlist, baseline, cache, quarantine, restore;
  bool only_new = false, restore_setid = false;
  bool nul_list = false, one_file_system = false;
  std::string rules, ext_list, format = "text", output, fail_on = "threat";
  std::string max_size = std::to_string(kDefaultMaxFilesizeMiB) + "M";
  bool all_files = false, follow = false, quiet = false, explain = false, no_ext = false;
  bool skip_large = false;
  bool print0 = false, no_summary = false, ext_given = false;
  std::string color = "auto";
  bool strict_rules = false;
  bool watch = false;
  std::string watch_backend = "auto";
  std::string worker_memory = std::to_string(kDefaultWorkerMemoryMiB) + "M";
  unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
  unsigned timeout = kDefaultTimeoutSeconds;
  bool daemon = false, fallback = false;
  std::string socket = kDefaultSocketPath, socket_mode = kDefaultSocketMode;
  std::string socket_group, user, daemon_socket;
};

std::string join_commas(const std::vector<std::string>& items) {
  std::string r;
  for (const std::string& i : items) r += (r.empty() ? "" : ",") + i;
  return r;
}

void add_options(CLI::App& app, CliOptions& o) {
  app.add_option("PATH", o.paths,
                 "Files and directories to scan (directories recursively); - scans standard "
                 "input, named <stdin> in reports")
      ->type_name("");
  app.add_option("--files-from", o.files_from,
                 "Also scan the paths listed in FILE, one per line (- for standard input)")
      ->type_name("FILE");
  app.add_flag("-0,--null", o.nul_list,
               "The --files-from list is separated by NUL bytes, as find -print0 writes it");
  app.add_option("--newer-than", o.newer_than,
                 "Only files modified within DURATION (90s, 30m, 12h, 2d, 1w) or since DATE "
                 "(2026-12-01, 2026-12-01T08:30)")
      ->type_name("DURATION|DATE");
  app.add_flag("--one-file-system", o.one_file_system,
               "Do not descend into directories on other file systems");
  app.add_option("--allowlist", o.allowlists,
                 "Files whose SHA-256 is listed in FILE are reported as allowed, not scanned "
                 "(repeatable)")
      ->allow_extra_args(false)
      ->type_name("FILE");
  app.add_option("--make-allowlist", o.make_allowlist,
                 "Print an allowlist of the files under DIR (and any PATH), then exit")
      ->type_name("DIR");
  CLI::Option* baseline =
      app.add_option("--baseline", o.baseline,
                     "With --only-new: an earlier JSON report whose findings are not reported "
                     "again")
          ->type_name("REPORT");
  app.add_flag("--only-new", o.only_new,
               "Report only findings not in the --baseline report (same path and digest)")
      ->needs(baseline);
  baseline->needs("--only-new");
  app.add_option("--cache", o.cache,
                 "Keep verdicts in the SQLite database FILE, keyed by the file's SHA-256, the "
                 "rules, the engine and the options; a file already there is not scanned again "
                 "(only when no other user can change FILE, its folder or its key FILE.key)")
      ->type_name("FILE");
  app.add_option("--quarantine", o.quarantine,
                 "Move each threat into DIR with a manifest of where it was (never a suspicious "
                 "file; nothing is deleted or overwritten); DIR, made with mode 0700 when "
                 "missing, must be the running user's and writable by nobody else, and so must "
                 "the folders above it (root's will do, or sticky), else the run is refused")
      ->type_name("DIR");
  CLI::Option* restore =
      app.add_option("--restore", o.restore,
                     "Put the files quarantined in DIR back as they were (the items named by the "
                     "PATH arguments, or all), then exit. DIR must pass the --quarantine checks; "
                     "an item whose path now holds a file or passes through a symbolic link "
                     "stays in DIR")
          ->type_name("DIR");
  app.add_flag("--restore-setid", o.restore_setid,
               "With --restore: give restored files back their set-user-id and set-group-id "
               "bits (left off by default)")
      ->needs(restore);
  app.add_option("--rules", o.rules, "Rule file (default: the rules installed with qzscan)")
      ->type_name("FILE");
  app.add_flag("--strict-rules", o.strict_rules,
               "Stop when the engine would drop a line of the rule file (else a warning)");
  app.add_option(
         "--ext", o.ext_list,
         "Comma-separated extensions to scan (default: " + join_commas(default_extensions()) + ")")
      ->type_name("LIST");
  app.add_flag("--all-files", o.all_files, "Scan every file whatever its extension");
  app.add_option("--exclude", o.excludes, "Skip paths matching this glob (repeatable)")
      ->allow_extra_args(false)
      ->type_name("GLOB");
  app.add_option("--max-filesize", o.max_size,
                 "Scan only the first and last SIZE bytes of larger files, e.g. 512K, 16M; 0 for "
                 "no limit (default " +
                     o.max_size + ")")
      ->type_name("SIZE");
  app.add_flag("--skip-large", o.skip_large,
               "Skip files larger than --max-filesize instead, without reading them");
  app.add_flag("--follow-symlinks", o.follow,
               "Follow symbolic links (loops are detected; each directory and file is met once)");
  app.add_option(
         "-j,--jobs", o.jobs,
         "Worker processes, 1 to " + std::to_string(kMaxJobs) + " (default: number of cores)")
      ->type_name("N")
      ->check(CLI::Range(1u, kMaxJobs).description(""));
  app.add_option("--timeout", o.timeout,
                 "Seconds allowed per file before its worker is replaced (default " +
                     std::to_string(o.timeout) + ", at most " + std::to_string(kMaxTimeoutSeconds) +
                     ")")
      ->type_name("SECONDS")
      ->check(CLI::Range(1u, kMaxTimeoutSeconds).description(""));
  app.add_option("--worker-memory", o.worker_memory,
                 "Address space each worker may use, e.g. 512M, 2G; 0 for no limit (default " +
                     o.worker_memory + ")")
      ->type_name("SIZE");
  CLI::Option* format =
      app.add_option("--format", o.format,
                     "Output format: text (paths and texts from files escaped: \\\\, \\n, \\t, "
                     "\\r, \\xHH for other control characters, invisible characters and "
                     "bytes outside UTF-8), json or sarif")
          ->type_name("FORMAT")
          ->check(CLI::IsMember({"text", "json", "sarif"}).description(""));
  app.add_flag("--print0", o.print0,
               "Print only the path of each file with a finding, as it is, followed by a NUL "
               "byte")
      ->excludes(format);
  app.add_option("-o,--output", o.output, "Write the report to FILE instead of standard output")
      ->type_name("FILE");
  app.add_flag("--no-summary", o.no_summary, "Leave out the summary line of text output");
  app.add_option("--color", o.color,
                 "Colour the verdicts of text output: auto (when the report goes to a terminal "
                 "and NO_COLOR is not set; the default), always or never")
      ->type_name("WHEN")
      ->check(CLI::IsMember({"auto", "always", "never"}).description(""));
  app.add_flag("-q,--quiet", o.quiet,
               "Print findings, partly scanned and skipped files only: no progress or summary "
               "(errors still go to standard error)");
  app.add_flag("--explain", o.explain, "Show, for each finding, the scored calls that led to it");
  app.add_option("--fail-on", o.fail_on,
                 "Exit 1 on: threat (default: a threat was found), suspicious (a threat or a "
                 "suspicious file) or skip (a threat or a file skipped by --skip-large)")
      ->type_name("WHAT")
      ->check(CLI::IsMember({"threat", "suspicious", "skip"}).description(""));
  CLI::Option* watch =
      app.add_flag("--watch", o.watch,
                   "Watch the PATH directories instead: scan each selected file when it is "
                   "closed after writing or moved in, until SIGINT or SIGTERM; results as "
                   "text or, with --format json, one JSON object per line and file")
          ->excludes("--files-from", "--make-allowlist", "--restore", "--output", "--print0");
  app.add_option("--watch-backend", o.watch_backend,
                 "With --watch: auto (fanotify when allowed, which needs CAP_SYS_ADMIN, else "
                 "inotify; the default), fanotify or inotify")
      ->type_name("WHICH")
      ->check(CLI::IsMember({"auto", "fanotify", "inotify"}).description(""))
      ->needs(watch);
  app.add_flag("--no-extensions", o.no_ext,
               "Scan exactly as the baseline engine: no extended PHP tags, no full decoding,\n"
               "0xFF ends the input, no limit findings, no memory bounds, no extended reading of\n"
               "the interpreter");
  CLI::Option* daemon =
      app.add_flag("--daemon", o.daemon,
                   "Serve scan requests on a Unix socket instead of scanning PATHs: one request "
                   "per line (SCAN PATH, SCANFD with a passed descriptor, PING, VERSION, RELOAD), "
                   "one JSON line per reply; the rules are loaded once and -j workers kept");
  app.add_option("--socket", o.socket,
                 "With --daemon: the socket to listen on (default " + o.socket +
                     "); a socket passed by systemd (LISTEN_FDS) is taken instead")
      ->type_name("PATH")
      ->needs(daemon);
  app.add_option(
         "--socket-mode", o.socket_mode,
         "With --daemon: the socket's permissions, in octal (default " + o.socket_mode + ")")
      ->type_name("MODE")
      ->needs(daemon);
  app.add_option("--socket-group", o.socket_group, "With --daemon: the group that owns the socket")
      ->type_name("GROUP")
      ->needs(daemon);
  app.add_option("--user", o.user,
                 "With --daemon: run as this user once the socket is bound (the rules are read "
                 "before; RELOAD reads them as the user)")
      ->type_name("NAME")
      ->needs(daemon);
  CLI::Option* client =
      app.add_option("--daemon-socket", o.daemon_socket,
                     "Have the daemon listening on PATH scan the files (passed as descriptors, "
                     "or as paths when they cannot be opened here) under its rules and limits; "
                     "the report and exit status are those of a local scan (not with --cache)")
          ->type_name("PATH")
          ->excludes(daemon)
          // The cache keys verdicts by this run's options, not the daemon's.
          ->excludes("--cache");
  app.add_flag("--fallback", o.fallback,
               "With --daemon-socket: scan locally when the daemon cannot be reached (else exit "
               "2)")
      ->needs(client);
}

// "php,.PHTML,,inc" -> php, phtml, inc: lower case, without dots or empty items.
std::vector<std::string> parse_extension_list(const std::string& list) {
  std::vector<std::string> exts;
  for (size_t pos = 0; pos <= list.size();) {
    size_t end = list.find(',', pos);
    if (end == std::string::npos) end = list.size();
    std::string e = list.substr(pos, end - pos);
    if (!e.empty() && e[0] == '.') e.erase(0, 1);
    for (char& c : e) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!e.empty()) exts.push_back(e);
    pos = end + 1;
  }
  return exts;
}

// What a size option says of a value that is no size.
std::string size_expected(const std::string& text) {
  return "expected a size in bytes, or with a K, M or G suffix (512K, 16M, 1G), not \"" +
         escape_text(text) + "\"";
}

// False, after saying why, when --newer-than, the size limit or --ext does
// not parse.
bool make_selection(const CliOptions& o, SelectOptions* sel) {
  sel->all_files = o.all_files;
  sel->one_file_system = o.one_file_system;
  std::string why;
  if (!o.newer_than.empty() &&
      !parse_newer_than(o.newer_than, time(nullptr), &sel->newer_than, &why)) {
    std::fprintf(stderr, "qzscan: --newer-than: %s\n", why.c_str());
    return false;
  }
  sel->excludes = o.excludes;
  sel->follow_symlinks = o.follow;
  if (!parse_size(o.max_size, &sel->max_filesize)) {
    std::fprintf(stderr, "qzscan: --max-filesize: %s\n", size_expected(o.max_size).c_str());
    return false;
  }
  if (sel->max_filesize == 0) sel->max_filesize = kNoSizeLimit;
  sel->skip_large = o.skip_large;
  sel->extensions = o.ext_given ? parse_extension_list(o.ext_list) : default_extensions();
  if (sel->extensions.empty() && !o.all_files) {
    std::fprintf(stderr,
                 "qzscan: --ext: expected a comma-separated list of extensions, such as php,inc "
                 "(or --all-files), not \"%s\"\n",
                 escape_text(o.ext_list).c_str());
    return false;
  }
  return true;
}

// False, after saying why, when the memory limit does not parse.
bool make_worker_options(const CliOptions& o, const SelectOptions& sel,
                         const std::vector<std::string>& paths, WorkerOptions* w) {
  w->rules_path = o.rules.empty() ? default_rules() : o.rules;
  w->jobs = o.jobs;
  w->timeout_seconds = o.timeout;
  w->extensions = !o.no_ext;
  w->follow_symlinks = o.follow;
  w->named_paths.insert(paths.begin(), paths.end());
  w->max_filesize = sel.max_filesize;
  w->skip_large = sel.skip_large;
  if (!parse_size(o.worker_memory, &w->memory_limit)) {
    std::fprintf(stderr, "qzscan: --worker-memory: %s\n", size_expected(o.worker_memory).c_str());
    return false;
  }
  return true;
}

// The paths to walk: the PATH arguments, with standard input's copy in place
// of "-", then the paths of the --files-from list. False, after saying why,
// when standard input is asked for twice, a list cannot be read, or nothing
// at all was named.
bool gather_paths(const CliOptions& o, const SelectOptions& sel, StdinCopy* copy,
                  std::vector<std::string>* paths) {
  const size_t stdin_uses =
      static_cast<size_t>(std::count(o.paths.begin(), o.paths.end(), kStdinArgument)) +
      (o.files_from == kStdinArgument ? 1 : 0);
  std::string why;
  if (stdin_uses > 1) {
    std::fprintf(stderr,
                 "qzscan: standard input can be read once: expected - as one PATH or as the "
                 "--files-from file, not both\n");
    return false;
  }
  if (o.nul_list && o.files_from.empty()) {
    std::fprintf(stderr, "qzscan: -0: expected with --files-from FILE, whose list it splits\n");
    return false;
  }
  if (!o.make_allowlist.empty()) paths->push_back(o.make_allowlist);
  if (o.paths.empty() && o.files_from.empty() && paths->empty()) {
    std::fprintf(stderr,
                 "qzscan: nothing to scan: expected a PATH, --files-from FILE, or - for standard "
                 "input (see --help)\n");
    return false;
  }
  for (const std::string& p : o.paths) {
    if (p != kStdinArgument) {
      paths->push_back(p);
      continue;
    }
    // Copied whole, to be partly scanned as a file is, unless it is to be
    // skipped: then what passes the limit tells that it does.
    bool too_large = false;
    if (!copy->take(sel.skip_large ? sel.max_filesize : kNoSizeLimit, &too_large, &why)) {
      std::fprintf(stderr, "qzscan: %s\n", escape_text(why).c_str());
      return false;
    }
    paths->push_back(copy->path());
  }
  if (!o.files_from.empty() && !read_path_list(o.files_from, o.nul_list, paths, &why)) {
    std::fprintf(stderr, "qzscan: --files-from: %s\n", escape_text(why).c_str());
    return false;
  }
  return true;
}

// What is known of files before the scan.
struct Known {
  DigestSet allowed;    // digests of --allowlist files
  FindingSet baseline;  // findings of the --baseline report
};

// False, after saying why, when an allowlist or the baseline cannot be read.
bool load_known(const CliOptions& o, Known* known) {
  std::string why;
  for (const std::string& a : o.allowlists)
    if (!load_allowlist(a, &known->allowed, &why)) {
      std::fprintf(stderr, "qzscan: --allowlist: %s\n", escape_text(why).c_str());
      return false;
    }
  if (!o.baseline.empty() && !load_baseline(o.baseline, &known->baseline, &why)) {
    std::fprintf(stderr, "qzscan: --baseline: %s\n", escape_text(why).c_str());
    return false;
  }
  return true;
}

DigestOptions digest_options(const WorkerOptions& w) {
  DigestOptions d;
  d.threads = w.jobs;
  d.follow_symlinks = w.follow_symlinks;
  d.named_paths = &w.named_paths;
  d.max_filesize = w.max_filesize;
  d.skip_large = w.skip_large;
  return d;
}

// Hashes the selected files, when an allowlist or the cache needs their
// digests, and settles those on the allowlist, then those with a verdict in
// the cache.
void settle_known(std::vector<FileResult>& files, const WorkerOptions& w, const Known& known,
                  VerdictCache& cache, Progress& progress) {
  const bool lookups = cache.active() && cache.has_verdicts_for_key();
  if (known.allowed.empty() && !lookups) return;
  DigestOptions d = digest_options(w);
  d.on_progress = [&](size_t done) { progress.hashing(done, files.size()); };
  hash_files(files, d);
  progress.clear();
  for (FileResult& f : files) {
    if (f.settled() || f.sha256.empty()) continue;
    if (known.allowed.count(f.sha256)) {
      f.allowed = true;
      continue;
    }
    ScanOutcome stored;
    if (lookups && cache.lookup(f.sha256, &stored)) {
      static_cast<ScanOutcome&>(f) = stored;
      f.scanned = f.cached = true;
    }
  }
}

// The scan options that can change a verdict, as the cache keys them.
const char* const kCacheOptionsExtended = "extensions";
const char* const kCacheOptionsBaseline = "no-extensions";

// Opens the --cache database for this run's rules, engine and options; a
// database that cannot be used is said and the run goes on without it.
void open_cache(const CliOptions& o, const RunInfo& run, VerdictCache* cache) {
  if (o.cache.empty()) return;
  CacheKey key;
  key.rules_sha256 = run.rules.sha256;
  // Builds of one version differ in what they find: the library's build ID
  // is part of the key, so that a rebuilt engine never meets the verdicts of
  // the one before.
  const std::string engine_build = library_build_id("libqzengine.so");
  key.engine = std::string("engine ") + qz_engine_version_string() +
               (engine_build.empty() ? "" : " (build " + engine_build + ")") + ", qzscan " +
               QZSCAN_VERSION;
  if (const char* v = test_engine_version()) key.engine = v;
  // The engine options the workers set, as well as their name: a qzscan
  // that turns on another one scans again.
  char bits[32];
  std::snprintf(bits, sizeof bits, " 0x%lx", worker_engine_options(!o.no_ext));
  key.options = std::string(o.no_ext ? kCacheOptionsBaseline : kCacheOptionsExtended) + bits;
  std::string warning;
  if (!cache->open(o.cache, key, &warning))
    std::fprintf(stderr, "qzscan: warning: %s\n", escape_text(warning).c_str());
}

void say_cache_warning(VerdictCache& cache) {
  const std::string w = cache.take_warning();
  if (!w.empty()) std::fprintf(stderr, "qzscan: warning: %s\n", escape_text(w).c_str());
}

// --make-allowlist: hashes the selected files and writes their digests.
// Exit status 2 when a file could not be hashed or the list not written.
int make_allowlist(const CliOptions& o, const SelectOptions& sel,
                   const std::vector<std::string>& paths, const WorkerOptions& w,
                   ReportOutput& out) {
  std::vector<FileResult> files = select_files(paths, sel);
  DigestOptions d = digest_options(w);
  d.record_errors = true;
  hash_files(files, d);
  int status = kExitClean;
  for (const FileResult& f : files)
    if (!f.error.empty()) {
      std::fprintf(stderr, "qzscan: %s: %s\n", escape_text(f.path).c_str(),
                   escape_text(f.error).c_str());
      status = kExitError;
    }
  write_allowlist(out, files, o.make_allowlist);
  std::string why;
  if (!out.finish(&why)) {
    std::fprintf(stderr, "qzscan: %s\n", why.c_str());
    return kExitError;
  }
  return status;
}

// Shows each file as soon as it is done: its error on standard error and,
// in text formats, its result in the report.
struct ResultWriter {
  std::vector<FileResult>& files;
  const std::string& stdin_path;  // the copy of standard input, or empty
  Format fmt;
  ReportOutput& out;
  TextStyle style;
  Progress& progress;
  const FindingSet* baseline;  // findings not to report again, or null
  VerdictCache& cache;         // where new verdicts are stored, when active
  Quarantine& quarantine;      // where threats go, when active

  void operator()(size_t i) const {
    FileResult& f = files[i];
    if (!stdin_path.empty() && f.path == stdin_path) f.path = kStdinName;
    if (baseline && f.scanned && f.verdict != Verdict::Clean)
      f.known = baseline->count({f.path, f.sha256}) != 0;
    if (!f.error.empty()) {
      progress.clear();
      std::fprintf(stderr, "qzscan: %s: %s\n", escape_text(f.path).c_str(),
                   escape_text(f.error).c_str());
    }
    // A partial outcome holds only for this run's size limit.
    if (f.scanned && !f.cached && !f.partial()) cache.store(f);
    if (quarantine.active() && f.scanned && f.verdict == Verdict::Threat && !f.known &&
        (stdin_path.empty() || f.path != kStdinName) &&
        !quarantine.move(f, &f.quarantine_id, &f.quarantine_error)) {
      f.quarantine_id.clear();
      progress.clear();
      std::fprintf(stderr, "qzscan: %s: not quarantined: %s\n", escape_text(f.path).c_str(),
                   escape_text(f.quarantine_error).c_str());
    }
    progress.advance(f);
    TextStyle shown = style;
    shown.quiet = style.quiet && f.skipped.empty();
    std::string text = f.known ? "" : result_text(fmt, f, shown);
    if (fmt == Format::Text && !f.quarantine_id.empty())
      text += "    quarantined: " + escape_text(quarantine.dir() + "/" + f.quarantine_id) + "\n";
    if (!text.empty()) {
      progress.clear(true);
      out.write(text);
      out.flush();
    }
    progress.restore();
    progress.update();
  }
};

TextStyle text_style(const CliOptions& o) {
  TextStyle style;
  style.explain = o.explain;
  style.quiet = o.quiet;
  const char* no_color = std::getenv("NO_COLOR");
  style.color = o.color == "always" || (o.color == "auto" && o.output.empty() &&
                                        isatty(STDOUT_FILENO) && !(no_color && *no_color));
  return style;
}

Summary summarize(const std::vector<FileResult>& files,
                  std::chrono::steady_clock::time_point start) {
  Summary sum;
  for (const FileResult& f : files) {
    sum.files++;
    if (!f.error.empty()) {
      sum.errors++;
    } else if (!f.skipped.empty()) {
      sum.skipped++;
    } else if (f.allowed) {
      sum.allowed++;
    } else {
      // Only files scanned in this run count as scanned, and their bytes.
      if (f.cached) {
        sum.cached++;
      } else {
        sum.scanned++;
        sum.bytes += f.size;
      }
      sum.partial += f.partial();
      sum.partial_no_threat += f.partial() && f.verdict != Verdict::Threat;
      sum.quarantined += !f.quarantine_id.empty();
      sum.not_quarantined += !f.quarantine_error.empty();
      if (f.known)
        sum.known++;
      else if (f.verdict == Verdict::Threat)
        sum.threats++;
      else if (f.verdict == Verdict::Suspicious)
        sum.suspicious++;
    }
  }
  sum.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return sum;
}

// Writes what comes at the end of the report and puts a report file in
// place; false, after saying why, when any part of the report could not be
// written.
bool finish_report(ReportOutput& out, const CliOptions& o, Format fmt,
                   const std::vector<FileResult>& files, const Summary& sum, const RunInfo& run) {
  write_report_end(out, fmt, files, sum, run, o.quiet || o.no_summary, QZSCAN_VERSION);
  std::string why;
  if (out.finish(&why)) return true;
  std::fprintf(stderr, "qzscan: %s\n", why.c_str());
  return false;
}

// --daemon: serves until stopped; exit status 2 when it cannot start.
int serve(const CliOptions& o) {
  if (!o.paths.empty() || !o.files_from.empty()) {
    std::fprintf(stderr, "qzscan: --daemon: expected no PATH or --files-from, only options\n");
    return kExitError;
  }
  SelectOptions sel;
  DaemonOptions d;
  RuleFileInfo rules;
  if (!make_selection(o, &sel) || !make_worker_options(o, sel, {}, &d.workers) ||
      !check_rules(d.workers.rules_path, o.strict_rules, &rules))
    return kExitError;
  d.strict_rules = o.strict_rules;
  d.socket_path = o.socket;
  d.socket_mode = o.socket_mode;
  d.socket_group = o.socket_group;
  d.user = o.user;
  d.version = QZSCAN_VERSION;
  return run_daemon(d);
}

// --daemon-socket: true when the daemon answers, with the rules it uses in
// *rules; else false, after a warning under --fallback (the run scans
// locally), or an error.
bool reach_daemon(const CliOptions& o, DaemonClient* daemon, RuleFileInfo* rules, bool* failed) {
  std::string why;
  if (o.daemon_socket.empty()) return false;
  if (daemon->connect(o.daemon_socket, rules, &why)) return true;
  std::fprintf(stderr, "qzscan: --daemon-socket: %s%s\n", escape_text(why).c_str(),
               o.fallback ? "; scanning here instead (--fallback)" : "");
  *failed = !o.fallback;
  return false;
}

Format chosen_format(const CliOptions& o) {
  return o.print0              ? Format::Print0
         : o.format == "json"  ? Format::Json
         : o.format == "sarif" ? Format::Sarif
                               : Format::Text;
}

// --watch: the PATH arguments are the trees; each file is settled, stored,
// quarantined and shown as in a normal run, without progress or summary.
int watch(const CliOptions& o, const SelectOptions& sel, const WorkerOptions& wopt,
          const RunInfo& run, const Known& known, Quarantine& quarantine, ReportOutput& out) {
  const Format fmt = chosen_format(o);
  if (fmt == Format::Sarif) {
    std::fprintf(stderr, "qzscan: --watch: expected --format text or json, not sarif\n");
    return kExitError;
  }
  VerdictCache cache;
  open_cache(o, run, &cache);
  Progress progress;
  WatchOptions w;
  w.dirs = o.paths;
  w.backend = o.watch_backend == "fanotify"  ? WatchBackend::Fanotify
              : o.watch_backend == "inotify" ? WatchBackend::Inotify
                                             : WatchBackend::Auto;
  w.select = sel;
  w.workers = wopt;
  w.format = fmt;
  w.out = &out;
  if (quarantine.active()) w.quarantine_dir = quarantine.dir();
  WatchHooks hooks;
  hooks.settle = [&](std::vector<FileResult>& files) {
    settle_known(files, wopt, known, cache, progress);
  };
  const std::string no_stdin;
  const TextStyle style = text_style(o);
  hooks.on_done = [&](std::vector<FileResult>& files, size_t i) {
    ResultWriter{
        files, no_stdin,  fmt, out, style, progress, o.only_new ? &known.baseline : nullptr,
        cache, quarantine}(i);
  };
  hooks.after_batch = [&] {
    cache.flush();
    say_cache_warning(cache);
  };
  const bool ok = watch_dirs(w, hooks);
  std::string why;
  if (!out.finish(&why)) {
    std::fprintf(stderr, "qzscan: %s\n", why.c_str());
    return kExitError;
  }
  return ok ? kExitClean : kExitError;
}

int exit_status(const Summary& sum, const std::string& fail_on) {
  if (sum.errors || sum.not_quarantined || sum.partial_no_threat) return kExitError;
  if (sum.threats || (fail_on == "suspicious" && sum.suspicious) ||
      (fail_on == "skip" && sum.skipped))
    return kExitFindings;
  return kExitClean;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"qzscan: find PHP web shells and other malicious scripts by what they do"};
  CliOptions o;
  add_options(app, o);
  // Defined after --rules, whose value it then sees.
  app.set_version_flag("--version",
                       [&o] { return version_text(o.rules.empty() ? default_rules() : o.rules); });
  app.footer(kHelpFooter);
  app.failure_message([](const CLI::App*, const CLI::Error& e) {
    return std::string("qzscan: ") + e.what() + "\nRun with --help for more information.\n";
  });
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? kExitClean : kExitError;
  }
  o.ext_given = app.count("--ext") > 0;
  if (!o.restore.empty())
    return restore_items(o.restore, o.paths, o.restore_setid) ? kExitError : kExitClean;
  if (o.daemon) return serve(o);

  SelectOptions sel;
  if (!make_selection(o, &sel)) return kExitError;
  ReportOutput out;
  std::string why;
  if (!out.open(o.output, &why)) {
    std::fprintf(stderr, "qzscan: %s\n", why.c_str());
    return kExitError;
  }
  StdinCopy stdin_copy;
  std::vector<std::string> paths;
  if (!gather_paths(o, sel, &stdin_copy, &paths)) return kExitError;
  WorkerOptions wopt;
  RunInfo run;
  if (!make_worker_options(o, sel, paths, &wopt)) return kExitError;
  if (!o.make_allowlist.empty()) return make_allowlist(o, sel, paths, wopt, out);
  DaemonClient daemon;
  bool unreachable = false;
  const bool use_daemon = reach_daemon(o, &daemon, &run.rules, &unreachable);
  if (unreachable) return kExitError;
  Known known;
  if (!load_known(o, &known) ||
      (!use_daemon && !check_rules(wopt.rules_path, o.strict_rules, &run.rules)))
    return kExitError;

  Quarantine quarantine;
  if (!o.quarantine.empty()) {
    if (!quarantine.open(o.quarantine, &why)) {
      std::fprintf(stderr, "qzscan: --quarantine: %s\n", escape_text(why).c_str());
      return kExitError;
    }
    uint64_t dev = 0, ino = 0;
    if (quarantine.identity(&dev, &ino)) sel.pass_over_dirs.insert({dev, ino});
  }
  if (o.watch) return watch(o, sel, wopt, run, known, quarantine, out);

  auto start = std::chrono::steady_clock::now();
  Progress progress;
  progress.enabled = !o.quiet && isatty(STDERR_FILENO);
  progress.shares_terminal = o.output.empty() && isatty(STDOUT_FILENO);
  sel.on_walk = [&progress](uint64_t dirs, uint64_t listed) { progress.walk(dirs, listed); };
  std::vector<FileResult> files = select_files(paths, sel);
  progress.clear();
  if (files.empty())
    std::fprintf(stderr,
                 "qzscan: no file selected (check the paths, --ext, --exclude and "
                 "--newer-than)\n");
  VerdictCache cache;
  open_cache(o, run, &cache);
  settle_known(files, wopt, known, cache, progress);
  say_cache_warning(cache);
  progress.count(files);
  Format fmt = chosen_format(o);
  // A text report shows no digest: the workers hash only for what uses one.
  wopt.digest = (fmt != Format::Text && fmt != Format::Print0) || cache.active() || o.only_new ||
                !o.quarantine.empty();
  const ResultWriter writer{files,
                            stdin_copy.path(),
                            fmt,
                            out,
                            text_style(o),
                            progress,
                            o.only_new ? &known.baseline : nullptr,
                            cache,
                            quarantine};
  WorkerRun workers =
      use_daemon ? daemon.scan(files, wopt, writer) : scan_in_workers(files, wopt, writer);
  progress.clear();
  if (!workers.started) {
    std::fprintf(stderr, "qzscan: %s\n", workers.why.c_str());
    return kExitError;
  }

  cache.flush();
  say_cache_warning(cache);
  Summary sum = summarize(files, start);
  run.interrupted = workers.stop_signal != 0;
  if (!finish_report(out, o, fmt, files, sum, run)) return kExitError;
  if (run.interrupted) return kExitSignalBase + workers.stop_signal;
  return exit_status(sum, o.fail_on);
}
