// Allowlists, baselines and the parent's hashing of selected files.

// SHA-256 through OpenSSL's own routines rather than EVP, whose first use
// costs millions of instructions of provider set-up; they are deprecated in
// OpenSSL 3, hence the define before any OpenSSL header.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "scan_allow.h"
#include "scan_hmac.h"

#include <openssl/sha.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <thread>

using json = nlohmann::json;

namespace {

// Hex digits in a SHA-256 digest.
const size_t kDigestHexDigits = 64;
// Bytes read at a time while hashing.
const size_t kHashChunk = 65536;
// How the parent opens a file to hash it: never blocking on a FIFO, never
// leaking the descriptor into a worker.
const int kHashOpenFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
// The report a baseline must be: its schema name.
const char* const kReportSchema = "qzscan-report";

bool is_digest(const std::string& s) {
  if (s.size() != kDigestHexDigits) return false;
  for (char c : s)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Opens and hashes one file as a worker would open it, noting the device
// and inode it read; false, with *why set, when it is not a regular file,
// is over the size limit under skip_large, or cannot be read.
bool hash_one(FileResult& f, const DigestOptions& opt, std::string* hex, std::string* why) {
  const bool follow =
      opt.follow_symlinks || (opt.named_paths && opt.named_paths->count(f.path) != 0);
  int fd = open(f.path.c_str(), kHashOpenFlags | (follow ? 0 : O_NOFOLLOW));
  if (fd < 0) {
    *why = std::strerror(errno);
    return false;
  }
  struct stat st;
  bool ok = fstat(fd, &st) == 0;
  if (!ok)
    *why = std::strerror(errno);
  else if (!S_ISREG(st.st_mode))
    *why = "not a regular file", ok = false;
  else if (opt.skip_large && static_cast<uint64_t>(st.st_size) > opt.max_filesize)
    *why = "larger than the size limit", ok = false;
  if (ok && !sha256_stream(fd, -1, hex)) {
    *why = std::string("read error: ") + std::strerror(errno);
    ok = false;
  }
  if (ok) {
    f.dev = static_cast<uint64_t>(st.st_dev);
    f.ino = static_cast<uint64_t>(st.st_ino);
  }
  close(fd);
  return ok;
}

}  // namespace

bool sha256_stream(int from, int copy_to, std::string* hex) {
  SHA256_CTX ctx;
  SHA256_Init(&ctx);
  std::unique_ptr<char[]> buf(new char[kHashChunk]);
  for (;;) {
    ssize_t n = read(from, buf.get(), kHashChunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    SHA256_Update(&ctx, buf.get(), static_cast<size_t>(n));
    if (copy_to >= 0 && !write_all(copy_to, buf.get(), static_cast<size_t>(n))) return false;
  }
  unsigned char md[SHA256_DIGEST_LENGTH];
  SHA256_Final(md, &ctx);
  *hex = digest_hex(md, sizeof md);
  return true;
}

bool load_allowlist(const std::string& path, DigestSet* digests, std::string* why) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *why = path + ": " + std::strerror(errno);
    return false;
  }
  std::string line;
  for (size_t n = 1; std::getline(in, line); n++) {
    size_t start = line.find_first_not_of(" \t\r");
    if (start == std::string::npos || line[start] == '#') continue;
    size_t end = line.find_first_of(" \t\r", start);
    std::string digest = line.substr(start, end == std::string::npos ? end : end - start);
    if (!is_digest(digest)) {
      *why = path + ":" + std::to_string(n) +
             ": expected a SHA-256 digest (64 hex digits), optionally followed by a path";
      return false;
    }
    digests->insert(lower(digest));
  }
  if (in.bad()) {
    *why = path + ": read error";
    return false;
  }
  return true;
}

bool load_baseline(const std::string& path, FindingSet* findings, std::string* why) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *why = path + ": " + std::strerror(errno);
    return false;
  }
  const json report = json::parse(in, nullptr, false);
  if (report.is_discarded() || !report.is_object() || report.value("schema", "") != kReportSchema ||
      !report.contains("files") || !report["files"].is_array()) {
    *why = path + ": expected a JSON report written by qzscan --format json";
    return false;
  }
  for (const json& f : report["files"]) {
    if (!f.is_object() || f.value("status", "") != "scanned") continue;
    const std::string verdict = f.value("verdict", "clean");
    if (verdict == "clean") continue;
    findings->insert({json_text(f, "path"), f.value("sha256", "")});
  }
  return true;
}

void hash_files(std::vector<FileResult>& files, const DigestOptions& opt) {
  std::atomic<size_t> next{0};
  auto work = [&](bool caller) {
    for (size_t i; (i = next++) < files.size();) {
      if (caller && opt.on_progress) opt.on_progress(i);
      FileResult& f = files[i];
      if (f.settled()) continue;
      std::string hex, why;
      if (hash_one(f, opt, &hex, &why))
        f.sha256 = hex;
      else if (opt.record_errors)
        f.error = why;
    }
  };
  std::vector<std::thread> threads;
  for (unsigned t = 1; t < opt.threads; t++) threads.emplace_back(work, false);
  work(true);
  for (std::thread& t : threads) t.join();
}

void write_allowlist(ReportOutput& out, const std::vector<FileResult>& files,
                     const std::string& title) {
  char when[64];
  const time_t now = time(nullptr);
  std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S%z", std::localtime(&now));
  out.write("# qzscan allowlist of " + escape_text(title) + ", made " + when + "\n");
  for (const FileResult& f : files)
    if (!f.sha256.empty() && f.error.empty() && f.skipped.empty())
      out.write(f.sha256 + "  " + escape_text(f.path) + "\n");
}
