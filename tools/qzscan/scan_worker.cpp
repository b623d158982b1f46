// Worker processes for qzscan: each runs its own engine and scans the files
// the parent hands it, one at a time. Frames both ways are a 4-byte length
// and that many bytes: a request (how to open, then the path) towards the
// worker over a socket, which can carry a descriptor to scan beside the
// frame, and a JSON result back over a pipe. The pool of workers outlives
// one batch of files when its owner (the daemon) keeps it.

// Digests use OpenSSL's SHA-256 routines themselves, the code its EVP
// interface runs for SHA-256, without the provider set-up EVP does on first
// use: millions of instructions, a good part of a one-file run. They are
// deprecated in OpenSSL 3, hence the define before any OpenSSL header.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "scan_worker.h"
#include "scan_hmac.h"
#include "scan_test_hooks.h"

#include <qzengine/qzwrapper.h>

#include <openssl/sha.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iterator>
#include <new>
#include <set>

using json = nlohmann::json;

// Sanitizer builds reserve terabytes of address space for their shadow
// memory, which an address-space limit would forbid: they run without one.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define QZSCAN_SHADOW_MEMORY 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QZSCAN_SHADOW_MEMORY 1
#endif

// The engine survives a refused allocation and goes on with less, so a scan
// that ran out of memory could end "clean". With glibc a program may replace
// malloc: every allocation of a worker passes through the functions below,
// which note a refusal for the scan that met it. Without them (sanitizer
// builds bring their own allocator) workers get no memory limit.
#if defined(__GLIBC__) && !defined(QZSCAN_SHADOW_MEMORY)
#define QZSCAN_WATCH_ALLOCATIONS 1
#endif

namespace {

// Set when an allocation was refused since the flag was last cleared.
volatile sig_atomic_t g_allocation_refused = 0;

#ifdef QZSCAN_WATCH_ALLOCATIONS
constexpr bool kCanLimitMemory = true;
#else
constexpr bool kCanLimitMemory = false;
#endif

}  // namespace

#ifdef QZSCAN_WATCH_ALLOCATIONS
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* old, size_t size);

void* malloc(size_t size) noexcept {
  void* p = __libc_malloc(size);
  if (!p) g_allocation_refused = 1;
  return p;
}

void* calloc(size_t count, size_t size) noexcept {
  void* p = __libc_calloc(count, size);
  if (!p && count && size) g_allocation_refused = 1;
  return p;
}

// realloc(p, 0) frees p and returns null, which is no refusal.
void* realloc(void* old, size_t size) noexcept {
  void* p = __libc_realloc(old, size);
  if (!p && size) g_allocation_refused = 1;
  return p;
}
}
#endif

unsigned long worker_engine_options(bool extensions) {
  return extensions ? QZ_OPT_EXTENDED_TAGS | QZ_OPT_FULL_DECODE | QZ_OPT_BINARY_SAFE |
                          QZ_OPT_LIMIT_FINDINGS | QZ_OPT_MEMORY_BUDGET | QZ_OPT_INTERPRETER_REACH
                    : 0;
}

namespace {

// Characters of one argument text kept in a scored-call record.
const size_t kArgTextMax = 120;
// Decoder calls remembered per file for explaining evaluated code.
const size_t kDecoderMemory = 64;
// Decoder calls attached to one scored call.
const size_t kDecodersPerCall = 8;
// How often the parent wakes up to check timeouts, in milliseconds.
const int kPollMillis = 100;
// Exit statuses of a worker that stops on its own; apart from 0 and from what
// a crash gives, so that the parent can name the cause.
const int kWorkerExitNoRules = 3;
const int kWorkerExitOrphan = 4;  // its parent was gone before it could be bound to it
// Bytes read at a time while reading a file in.
const size_t kReadChunk = 65536;
// Put before the tail of a file scanned in part, which usually starts
// inside PHP code, so that the engine reads it as code; a tail that opens
// PHP itself before it closes any gets as many spaces instead. No newline:
// the tail's lines keep their numbers.
const char kTailPrefix[] = "<?php ";
const size_t kTailPrefixSize = sizeof kTailPrefix - 1;
// What tells that a tail starts outside PHP: an opening tag (in lower case;
// matched in any case) before any closing one.
const char* const kOpenTags[] = {"<?php", "<?="};
const char* const kCloseTag = "?>";
// Why a file over the size limit gets no partial verdict: its head and
// tail may not be of one version of it.
const char* const kChangedWhileRead = "changed while it was read";
// Separates the rule descriptions the engine collects for a file.
const std::string kDescriptionSeparator = "  ";
// Members of a worker's result besides the outcome: a failure instead of an
// outcome, a reason to skip the file, the file's size when opened, the
// device and inode of the descriptor it read, and a worker's notice that it
// exits after this result.
const char* const kResultError = "error";
const char* const kResultSkipped = "skipped";
const char* const kResultSize = "size";
const char* const kResultDev = "dev";
const char* const kResultIno = "ino";
const char* const kResultRetire = "retire";
// The first byte of a request: whether the worker may open the file through
// a final symbolic link, or scans the descriptor passed with the frame
// instead. The path (for a passed descriptor, the name it is known by)
// follows.
const char kOpenFollow = 'F', kOpenNoFollow = 'N', kOpenPassed = 'D';
// How a worker opens a file: never blocking on a FIFO or a device, never
// leaking the descriptor.
const int kOpenFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
// The result a worker sends when it ran out of memory: written as it is,
// since building a result may need memory the worker no longer has.
const char kOutOfMemoryResult[] =
    "{\"error\":\"out of memory: an allocation failed during the scan (see --worker-memory)\","
    "\"retire\":true}";

bool read_all(int fd, void* data, size_t n) {
  char* p = static_cast<char*>(data);
  while (n) {
    ssize_t r = read(fd, p, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

// The length and the bytes in one write where the pipe takes them whole, as
// it does a request or a small result: one system call less per frame.
bool write_frame(int fd, const char* data, size_t size) {
  uint32_t n = static_cast<uint32_t>(size);
  struct iovec parts[2] = {{&n, sizeof n}, {const_cast<char*>(data), size}};
  ssize_t w;
  do w = writev(fd, parts, 2);
  while (w < 0 && errno == EINTR);
  if (w < 0) return false;
  size_t done = static_cast<size_t>(w);
  if (done < sizeof n)
    return write_all(fd, reinterpret_cast<char*>(&n) + done, sizeof n - done) &&
           write_all(fd, data, size);
  return write_all(fd, data + (done - sizeof n), size - (done - sizeof n));
}

bool write_frame(int fd, const std::string& s) { return write_frame(fd, s.data(), s.size()); }

bool read_frame(int fd, std::string* s) {
  uint32_t n = 0;
  if (!read_all(fd, &n, sizeof n)) return false;
  s->resize(n);
  return n == 0 || read_all(fd, &(*s)[0], n);
}

// A request frame over the worker's socket, with `passed` (when not -1)
// sent beside its first byte.
bool send_frame(int fd, const std::string& s, int passed) {
  if (passed < 0) return write_frame(fd, s);
  uint32_t n = static_cast<uint32_t>(s.size());
  ssize_t w = send_with_descriptor(fd, &n, sizeof n, passed);
  if (w < 0) return false;
  const size_t done = static_cast<size_t>(w);
  return write_all(fd, reinterpret_cast<char*>(&n) + done, sizeof n - done) &&
         write_all(fd, s.data(), s.size());
}

// Reads a request frame, taking the descriptor that came with it (else -1)
// into *passed; the caller owns it. Descriptors beyond the first are closed.
bool receive_frame(int fd, std::string* s, int* passed) {
  *passed = -1;
  uint32_t n = 0;
  std::vector<int> fds;
  ssize_t r;
  do r = receive_with_descriptors(fd, &n, sizeof n, 0, &fds);
  while (r < 0 && errno == EINTR);
  for (int got : fds) {
    if (*passed < 0)
      *passed = got;
    else
      close(got);
  }
  if (r <= 0) return false;
  const size_t done = static_cast<size_t>(r);
  if (!read_all(fd, reinterpret_cast<char*>(&n) + done, sizeof n - done)) return false;
  s->resize(n);
  return n == 0 || read_all(fd, &(*s)[0], n);
}

// ---- inside a worker ----

struct Decoder {
  unsigned long depth;
  std::string text;
};

std::vector<ScoredCall> g_calls;
unsigned long g_calls_dropped = 0;  // scored calls beyond kMaxCallsKept
std::deque<Decoder> g_decoders;
// Added to every line the engine reports for the part being scanned: the
// newlines of the file before that part (0 for a whole file or its head).
uint64_t g_line_offset = 0;

// The decoders, sorted for a binary search.
const char* const kDecoderNames[] = {"base64_decode",   "chr",         "convert_uudecode",
                                     "create_function", "gzdecode",    "gzinflate",
                                     "gzuncompress",    "hex2bin",     "pack",
                                     "rawurldecode",    "str_replace", "str_rot13",
                                     "strrev",          "strtr",       "urldecode"};
// Room for the longest decoder name and its terminator; a longer name is
// none of them.
const size_t kDecoderNameRoom = 20;

// Whether name, in any letter case, is one of the decoders. Called for every
// reported call, so it compares in place without building a string.
bool is_decoder(const char* name) {
  if (!name) return false;
  char low[kDecoderNameRoom];
  size_t n = 0;
  for (; name[n]; n++) {
    if (n + 1 >= sizeof low) return false;
    // ASCII folding in place: the locale's tolower is a call per byte.
    const char c = name[n];
    low[n] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  low[n] = '\0';
  return std::binary_search(std::begin(kDecoderNames), std::end(kDecoderNames), low,
                            [](const char* a, const char* b) { return std::strcmp(a, b) < 0; });
}

// Wraps the adapter's own filter: the adapter scores the call exactly as it
// would for any host, and the difference of its sums tells which calls scored.
unsigned char explain_filter(unsigned long line, unsigned long reserved, char* name,
                             unsigned long assign, _fcall_argument* args, unsigned long n) {
  unsigned long depth = qz_engine_eval_depth();
  if (is_decoder(name)) {
    g_decoders.push_back({depth, std::string(name) + "@" + std::to_string(line + g_line_offset)});
    if (g_decoders.size() > kDecoderMemory) g_decoders.pop_front();
  }
  unsigned long before = g_current_file_score + g_current_file_suspicious_score;
  unsigned long definite_before = g_current_file_score;
  unsigned char r = qz_engine_wrapper_fcall_filter(line, reserved, name, assign, args, n);
  unsigned long after = g_current_file_score + g_current_file_suspicious_score;
  if (after > before && g_calls.size() >= kMaxCallsKept) {
    g_calls_dropped++;
  } else if (after > before) {
    ScoredCall c;
    c.line = line + g_line_offset;
    c.name = name ? name : "";
    for (unsigned long i = 0; i < n; i++) {
      std::string a = args[i].value ? args[i].value : "";
      if (a.size() > kArgTextMax) a = a.substr(0, kArgTextMax) + "...";
      c.args.push_back(a);
    }
    unsigned long score = 0;
    c.description = qz_engine_wrapper_last_match(&score);
    c.score = after - before;
    c.definite = g_current_file_score > definite_before;
    c.depth = depth;
    // The latest decoders, outermost first: arguments run before the call
    // that takes them, so within a depth the later call is the outer one.
    std::vector<const Decoder*> chain;
    if (depth > 0)
      for (auto it = g_decoders.rbegin();
           it != g_decoders.rend() && chain.size() < kDecodersPerCall; ++it)
        if (it->depth < depth) chain.push_back(&*it);
    std::stable_sort(chain.begin(), chain.end(),
                     [](const Decoder* a, const Decoder* b) { return a->depth < b->depth; });
    for (const Decoder* d : chain) c.decoders.push_back(d->text);
    g_calls.push_back(std::move(c));
  }
  return r;
}

class Handler : public threat::threat_handler {
 public:
  int on_threat(threat::threat_info*, int) override {
    called = true;
    return 0;
  }
  bool called = false;
};

// A file as a worker read it once: the digest of every byte read and the
// parts of it kept for scanning.
struct FileParts {
  uint64_t size = 0;  // bytes read
  std::string sha256;
  std::string head;  // the first bytes, at most the size limit
  // The last bytes read (at most the size limit, none of them in the head)
  // as the engine is to read them (see shape_tail); empty when the head
  // holds every byte kept.
  std::string tail;
  uint64_t tail_bytes = 0;            // bytes of the file in `tail`
  uint64_t tail_newlines_before = 0;  // newlines in the file before them
};

// Makes room in s for `size` bytes without reserving more than `cap`,
// which the string's own doubling could.
void reserve_within(std::string& s, size_t size, size_t cap) {
  if (size > s.capacity()) s.reserve(std::min(cap, std::max(size, 2 * s.capacity())));
}

// Whether text, from `from` on, opens PHP before it closes it, as a tail cut
// from inside a template's HTML does.
bool opens_php_first(const std::string& text, size_t from) {
  const auto same = [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; };
  size_t open = std::string::npos;
  for (const char* tag : kOpenTags) {
    auto at = std::search(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(), tag,
                          tag + std::strlen(tag), same);
    if (at != text.end()) open = std::min(open, static_cast<size_t>(at - text.begin()));
  }
  return open != std::string::npos && open < text.find(kCloseTag, from);
}

// Makes the tail (kTailPrefixSize bytes of room, then the file's bytes) a
// script the engine reads from its start: kTailPrefix in the room, unless
// the tail opens PHP itself. `before` is the file's byte before the tail:
// when the cut fell inside a line of PHP, a ";" ends that line's fragment,
// which would otherwise swallow the statement after it. No newline is
// added; the string has room for the ";".
void shape_tail(std::string* tail, char before) {
  if (opens_php_first(*tail, kTailPrefixSize)) {
    std::fill(tail->begin(), tail->begin() + kTailPrefixSize, ' ');
    return;
  }
  std::copy(kTailPrefix, kTailPrefix + kTailPrefixSize, tail->begin());
  const size_t newline = tail->find('\n', kTailPrefixSize);
  if (before != '\n' && newline != std::string::npos) tail->insert(newline, 1, ';');
}

// Reads the descriptor to its end, or until `stop` bytes were read, in
// chunks: every byte is hashed (with `digest`; else p->sha256 stays empty),
// the first `limit` are kept as the head, and
// the bytes after them pass through a ring that keeps the last
// min(limit, expected - limit) of them and the byte before those, `expected`
// being the size when opened. Memory stays within the head, the ring and one
// chunk whatever the file holds. False, with *why set, on a read error.
bool read_parts(int fd, uint64_t expected, uint64_t limit, uint64_t stop, bool digest, FileParts* p,
                std::string* why) {
  SHA256_CTX ctx;
  SHA256_Init(&ctx);
  const size_t head_cap = static_cast<size_t>(limit);
  p->head.reserve(static_cast<size_t>(std::min(expected, limit)));
  const size_t kept = expected > limit ? static_cast<size_t>(std::min(limit, expected - limit)) : 0;
  // The ring starts on the room's last byte, which holds the byte before
  // the tail once the ring has come round.
  const size_t ring = kept ? kept + 1 : 0;
  if (ring) {
    p->tail.reserve(kTailPrefixSize + kept + 1);
    p->tail.resize(kTailPrefixSize + kept);
  }
  char* const ring_start = ring ? &p->tail[kTailPrefixSize - 1] : nullptr;
  size_t at = 0;           // where the next byte goes in the ring
  uint64_t past_head = 0;  // bytes read after the head
  uint64_t newlines = 0;   // among them
  char buf[kReadChunk];
  while (p->size < stop) {
    // By offset, not through the descriptor's position: a passed descriptor
    // shares its position with the sender, who may read or seek meanwhile.
    ssize_t n = pread(fd, buf, static_cast<size_t>(std::min<uint64_t>(sizeof buf, stop - p->size)),
                      static_cast<off_t>(p->size));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *why = std::string("read error: ") + std::strerror(errno);
      return false;
    }
    if (n == 0) break;
    const char* data = buf;
    size_t len = static_cast<size_t>(n);
    if (digest) SHA256_Update(&ctx, data, len);
    p->size += len;
    if (p->head.size() < head_cap) {
      const size_t take = std::min(len, head_cap - p->head.size());
      reserve_within(p->head, p->head.size() + take, head_cap);
      p->head.append(data, take);
      data += take;
      len -= take;
    }
    past_head += len;
    newlines += static_cast<uint64_t>(std::count(data, data + len, '\n'));
    if (!ring || !len) continue;
    if (len >= ring) {
      std::memcpy(ring_start, data + (len - ring), ring);
      at = 0;
    } else {
      const size_t first = std::min(len, ring - at);
      std::memcpy(ring_start + at, data, first);
      std::memcpy(ring_start, data + first, len - first);
      at = (at + len) % ring;
    }
  }
  unsigned char md[SHA256_DIGEST_LENGTH];
  SHA256_Final(md, &ctx);
  if (digest) p->sha256 = digest_hex(md, sizeof md);
  p->tail_bytes = std::min<uint64_t>(past_head, kept);
  if (!p->tail_bytes) {
    p->tail.clear();
    return true;
  }
  char before;
  if (past_head >= ring) {
    // The ring's oldest byte, the one before the tail, is at `at`.
    std::rotate(ring_start, ring_start + at, ring_start + ring);
    before = ring_start[0];
  } else {
    // The ring has not come round: the tail follows the head.
    std::memmove(ring_start + 1, ring_start, static_cast<size_t>(past_head));
    p->tail.resize(kTailPrefixSize + static_cast<size_t>(past_head));
    before = p->head.back();
  }
  p->tail_newlines_before =
      static_cast<uint64_t>(std::count(p->head.begin(), p->head.end(), '\n')) + newlines -
      static_cast<uint64_t>(std::count(p->tail.begin() + kTailPrefixSize, p->tail.end(), '\n'));
  shape_tail(&p->tail, before);
  return true;
}

// The rule descriptions of the file just scanned, in the order they scored.
std::vector<std::string> file_descriptions() {
  std::vector<std::string> descs;
  std::string d = file_desc;
  for (size_t pos = 0; pos < d.size();) {
    size_t end = d.find(kDescriptionSeparator, pos);
    if (end == std::string::npos) end = d.size();
    if (end > pos) descs.push_back(d.substr(pos, end - pos));
    pos = end + kDescriptionSeparator.size();
  }
  return descs;
}

json error_result(const std::string& why) { return json{{kResultError, why}}; }

std::string dump(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

// A file opened for scanning: its descriptor, then the bytes being scanned,
// and a stream over those bytes that the engine reads.
struct OpenFile {
  int fd = -1;
  std::string bytes;
  FILE* stream = nullptr;
  void close_stream() {
    if (stream) std::fclose(stream);
    stream = nullptr;
  }
  ~OpenFile() {
    close_stream();
    if (fd >= 0) close(fd);
  }
};

// Why the scan just run did not read or walk all of its file, or null. A
// limit on nesting or work is no such reason: the engine reports it as a
// call that rules score.
const char* incomplete_scan(const OpenFile& f) {
  unsigned long status = qz_engine_scan_status();
  if ((f.stream && std::ferror(f.stream)) || (status & QZ_SCAN_INPUT_UNREADABLE))
    return "read error while scanning";
  if (status & QZ_SCAN_OUT_OF_MEMORY) return "out of memory: an allocation failed during the scan";
  if (status & QZ_SCAN_MEMORY_BUDGET)
    return "out of memory: the scan passed its memory budget and ended early";
  return nullptr;
}

// Scans the stream from its start; false, with *why set, when the scan fell
// short of the whole file without finding a threat in what it saw.
bool scan_stream(OpenFile& f, ScanOutcome* r, std::string* why) {
  g_calls.clear();
  g_calls_dropped = 0;
  g_decoders.clear();
  threat::threat_info info{};
  Handler handler;
  linux_file_handle source(f.stream);
  int threat = qz_engine_wrapper_scan_source(&info, &source, &handler);
  f.stream = source.stream;
  if (const char* incomplete = threat ? nullptr : incomplete_scan(f)) {
    *why = incomplete;
    return false;
  }
  r->verdict = threat ? Verdict::Threat : handler.called ? Verdict::Suspicious : Verdict::Clean;
  r->score = g_current_file_score;
  r->suspicious_score = g_current_file_suspicious_score;
  r->line = threat ? info.line + g_line_offset : 0;
  r->descriptions = file_descriptions();
  r->calls = std::move(g_calls);
  r->calls_dropped = g_calls_dropped;
  return true;
}

// Scans `bytes` as one script whose lines are those of the file after
// `line_offset` newlines; f owns them, and the stream over them, until the
// next scan or its end. False, with *why set, as scan_stream.
bool scan_bytes(OpenFile& f, std::string bytes, uint64_t line_offset, ScanOutcome* r,
                std::string* why) {
  f.close_stream();
  f.bytes = std::move(bytes);
  // A stream over memory, which the engine sizes by its end as it would a
  // file; an empty file's stream stands on a byte it never reads.
  static char empty[1];
  f.stream = fmemopen(f.bytes.empty() ? empty : &f.bytes[0], f.bytes.size(), "rb");
  if (!f.stream) {
    *why = std::strerror(errno);
    return false;
  }
  g_line_offset = line_offset;
  const bool ok = scan_stream(f, r, why);
  g_line_offset = 0;
  return ok;
}

// Adds the outcome of a later part of the file to what its earlier parts
// gave: the worse verdict, the scores summed (a definite score is above the
// threat threshold by itself, so the sum makes no threat of two non-threats),
// the deciding line of the first part that found the threat, and the
// descriptions (each once) and calls in file order, within kMaxCallsKept.
void add_part(ScanOutcome* into, ScanOutcome&& part) {
  if (into->verdict != Verdict::Threat && part.verdict == Verdict::Threat) into->line = part.line;
  into->verdict = std::max(into->verdict, part.verdict);
  into->score += part.score;
  into->suspicious_score += part.suspicious_score;
  for (std::string& d : part.descriptions)
    if (std::find(into->descriptions.begin(), into->descriptions.end(), d) ==
        into->descriptions.end())
      into->descriptions.push_back(std::move(d));
  for (ScoredCall& c : part.calls) {
    if (into->calls.size() < kMaxCallsKept)
      into->calls.push_back(std::move(c));
    else
      into->calls_dropped++;
  }
  into->calls_dropped += part.calls_dropped;
}

// Reads the open file once, hashing every byte, then scans what it kept:
// what is hashed is what is scanned, whatever happens to the file
// meanwhile. A file over the size limit (`size` being its size when opened)
// is scanned as its head and its tail, unless opt.skip_large skips it.
json hash_and_scan(OpenFile& f, uint64_t size, const WorkerOptions& opt) {
  const uint64_t limit = opt.max_filesize;
  // One byte past what may be kept tells a file that grew while read.
  const uint64_t keep = opt.skip_large || size <= limit ? limit : size;
  const uint64_t stop = keep < UINT64_MAX ? keep + 1 : keep;
  FileParts parts;
  std::string why;
  if (!read_parts(f.fd, size, limit, stop, opt.digest, &parts, &why)) return error_result(why);
  if (parts.size > limit && opt.skip_large)
    return json{{kResultSkipped, kLargerThanLimit}, {kResultSize, parts.size}};
  // A head and tail of different versions of the file would be scanned as
  // one file: not a verdict to give.
  if (parts.size > limit && parts.size != size) return error_result(kChangedWhileRead);
  ScanOutcome r;
  r.sha256 = parts.sha256;
  if (parts.size <= limit) {
    if (!scan_bytes(f, std::move(parts.head), 0, &r, &why)) return error_result(why);
  } else {
    r.head_bytes = parts.head.size();
    r.tail_bytes = parts.tail_bytes;
    ScanOutcome tail;
    std::string tail_why;
    const bool head_ok = scan_bytes(f, std::move(parts.head), 0, &r, &why);
    const bool tail_ok =
        scan_bytes(f, std::move(parts.tail), parts.tail_newlines_before, &tail, &tail_why);
    add_part(&r, std::move(tail));
    // A threat seen in one part stands even when the other fell short.
    if (!head_ok && r.verdict != Verdict::Threat) return error_result(why);
    if (!tail_ok && r.verdict != Verdict::Threat) return error_result(tail_why);
  }
  json j = r;
  j[kResultSize] = parts.size;
  return j;
}

// Opens the file once and checks what it is, then hashes and scans it from
// that descriptor: what is hashed, scanned and reported is one file,
// whatever happens to its path meanwhile.
// A descriptor passed in (passed >= 0, which f then owns) is scanned from
// its start instead of opening the path.
json scan_one(const std::string& path, bool follow, int passed, const WorkerOptions& opt) {
  test_hooks(path);
  OpenFile f;
  f.fd = passed >= 0 ? passed : open(path.c_str(), kOpenFlags | (follow ? 0 : O_NOFOLLOW));
  if (f.fd < 0)
    return error_result(errno == ELOOP && !follow ? "a symbolic link, not followed"
                                                  : std::strerror(errno));
  struct stat st;
  if (fstat(f.fd, &st) != 0) return error_result(std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return error_result(kNotRegularFile);
  uint64_t size = static_cast<uint64_t>(st.st_size);
  if (size > opt.max_filesize && opt.skip_large)
    return json{{kResultSkipped, kLargerThanLimit}, {kResultSize, size}};
  json result = hash_and_scan(f, size, opt);
  result[kResultDev] = static_cast<uint64_t>(st.st_dev);
  result[kResultIno] = static_cast<uint64_t>(st.st_ino);
  return result;
}

// Ties the worker to its parent: it is killed when the parent dies, and
// exits at once if the parent died before that took hold.
void bind_to_parent(pid_t parent) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(kWorkerExitOrphan);
}

// Interrupts from the terminal reach the whole process group: the parent
// handles them and stops the workers itself.
void worker_signals() {
  signal(SIGINT, SIG_IGN);
  signal(SIGHUP, SIG_IGN);
  signal(SIGTERM, SIG_DFL);
  // A parent waiting in ppoll holds its stop signals blocked.
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}

void limit_memory(uint64_t bytes) {
  if (bytes == 0 || !kCanLimitMemory) return;
  struct rlimit lim = {bytes, bytes};
  setrlimit(RLIMIT_AS, &lim);
}

// Request frames: how to open, then the path.
std::string request(const PoolJob& job) {
  return (job.fd >= 0 ? kOpenPassed : job.follow ? kOpenFollow : kOpenNoFollow) + job.path;
}

[[noreturn]] void worker_main(int in_fd, int out_fd, const WorkerOptions& opt, pid_t parent) {
  bind_to_parent(parent);
  worker_signals();
  limit_memory(opt.memory_limit);
  if (!qz_engine_wrapper_init(opt.rules_path.c_str())) _exit(kWorkerExitNoRules);
  if (opt.extensions) qz_engine_set_options(worker_engine_options(true));
  qz_engine_set_fcall_filter(explain_filter);
  std::string req;
  int passed = -1;
  while (receive_frame(in_fd, &req, &passed) && !req.empty()) {
    std::string result;
    g_allocation_refused = 0;
    if (req[0] != kOpenPassed && passed >= 0) close(passed);
    if (req[0] == kOpenPassed && passed < 0) {
      write_frame(out_fd, dump(error_result("no descriptor came with the request")));
      continue;
    }
    try {
      result = dump(
          scan_one(req.substr(1), req[0] == kOpenFollow, req[0] == kOpenPassed ? passed : -1, opt));
    } catch (const std::bad_alloc&) {
      g_allocation_refused = 1;
    } catch (const std::exception& e) {
      result = dump(error_result(std::string("engine failure: ") + e.what()));
    }
    if (g_allocation_refused) {
      // The verdict may rest on a partial scan and the engine's state is not
      // to be trusted any more: report and go.
      write_frame(out_fd, kOutOfMemoryResult, sizeof kOutOfMemoryResult - 1);
      _exit(0);
    }
    if (!write_frame(out_fd, result)) break;
    test_hook_result_sent(req.substr(1));
  }
  qz_engine_wrapper_uninit();
  _exit(0);
}

// ---- in the parent ----

// The signal that asks the run to stop, set by its handler; 0 until then.
volatile sig_atomic_t g_stop_signal = 0;
void on_stop_signal(int sig) { g_stop_signal = sig; }

}  // namespace

const int kStopSignals[kStopSignalCount] = {SIGINT, SIGTERM, SIGHUP};

StopSignalScope::StopSignalScope(void (*handler)(int)) {
  struct sigaction sa = {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  for (size_t i = 0; i < kStopSignalCount; i++) sigaction(kStopSignals[i], &sa, &before_[i]);
}

StopSignalScope::~StopSignalScope() {
  for (size_t i = 0; i < kStopSignalCount; i++) sigaction(kStopSignals[i], &before_[i], nullptr);
}

// One worker process of a pool, and its job while it has one.
struct Worker {
  pid_t pid = -1;
  int to_fd = -1;
  int from_fd = -1;
  bool busy = false;
  PoolJob job;              // the job being scanned, while busy
  unsigned generation = 0;  // of the rules it loaded
  std::chrono::steady_clock::time_point started;
};

namespace {

// Descriptors of the parent that no worker may keep: the ends of every
// worker's channels, and whatever the owner of the pool registered (its
// sockets). A worker closes them all at start: holding another worker's
// request channel open would keep that worker from ever seeing the end of
// its input, and a client's socket held by a worker would outlive its close.
std::set<int> g_parent_fds;

}  // namespace

std::mutex& fork_guard() {
  static std::mutex m;
  return m;
}

namespace {

bool spawn(Worker* w, const WorkerOptions& opt) {
  int down[2], up[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, down) != 0) return false;
  if (pipe(up) != 0) {
    close(down[0]);
    close(down[1]);
    return false;
  }
  std::fflush(nullptr);
  pid_t parent = getpid();
  std::unique_lock<std::mutex> quiet(fork_guard());
  pid_t pid = fork();
  if (pid < 0) {
    close(down[0]);
    close(down[1]);
    close(up[0]);
    close(up[1]);
    return false;
  }
  if (pid == 0) {
    close(down[1]);
    close(up[0]);
    for (int fd : g_parent_fds) close(fd);
    worker_main(down[0], up[1], opt, parent);
  }
  quiet.unlock();
  close(down[0]);
  close(up[1]);
  g_parent_fds.insert(down[1]);
  g_parent_fds.insert(up[0]);
  w->pid = pid;
  w->to_fd = down[1];
  w->from_fd = up[0];
  w->busy = false;
  return true;
}

std::string reap(Worker* w) {
  close(w->to_fd);
  close(w->from_fd);
  g_parent_fds.erase(w->to_fd);
  g_parent_fds.erase(w->from_fd);
  int status = 0;
  while (waitpid(w->pid, &status, 0) < 0 && errno == EINTR) {
  }
  w->pid = -1;
  if (WIFSIGNALED(status))
    return "worker crashed (signal " + std::to_string(WTERMSIG(status)) + ")";
  if (WIFEXITED(status) && WEXITSTATUS(status) == kWorkerExitNoRules)
    return "worker could not load the rules";
  return "worker exited unexpectedly";
}

std::string cannot_start() { return std::string("cannot start a worker: ") + std::strerror(errno); }

// Hands the files out to the pool and collects the results. A file is done
// once it has a result or an error; on_done sees the files in order, each
// as soon as it and every file before it are done.
struct Scheduler {
  std::vector<FileResult>& files;
  const WorkerOptions& opt;
  const std::function<void(size_t)>& on_done;
  WorkerPool pool;
  std::vector<bool> done;
  size_t queued = 0;    // files handed to the pool
  size_t next_out = 0;  // first file not yet passed to on_done

  bool follow(const std::string& path) const {
    return opt.follow_symlinks || opt.named_paths.count(path) != 0;
  }

  // Queues every file still to scan and reports those already settled.
  void queue_files() {
    done.assign(files.size(), false);
    for (size_t i = 0; i < files.size(); i++) {
      if (files[i].settled()) {
        done[i] = true;
        continue;
      }
      PoolJob job;
      job.tag = i;
      job.path = files[i].path;
      job.follow = follow(job.path);
      pool.submit(std::move(job));
      queued++;
    }
    emit();
  }

  // No more workers than files; none at all when there is nothing to scan.
  bool start_workers(std::string* why) {
    if (!queued) return true;
    return pool.start(std::max(1u, std::min<unsigned>(opt.jobs, static_cast<unsigned>(queued))),
                      why);
  }

  void emit() {
    while (next_out < files.size() && done[next_out]) on_done(next_out++);
  }

  void take(PoolResult&& r) {
    apply_pool_result(files[r.tag], r);
    done[r.tag] = true;
  }

  // After a stop signal: no worker is left behind, the files finished so far
  // are passed on, and the others leave the list.
  void stop() {
    pool.kill_all();
    for (size_t i = next_out; i < files.size(); i++)
      if (done[i]) on_done(i);
    size_t kept = 0;
    for (size_t i = 0; i < files.size(); i++) {
      if (!done[i]) continue;
      if (kept != i) files[kept] = std::move(files[i]);
      kept++;
    }
    files.resize(kept);
  }

  void run() {
    const auto took = [this](PoolResult&& r) { take(std::move(r)); };
    while (pool.load() && !g_stop_signal) {
      pool.hand_out(took);
      std::vector<pollfd> fds;
      pool.add_poll_fds(&fds);
      if (fds.empty()) continue;
      poll(fds.data(), fds.size(), kPollMillis);
      if (g_stop_signal) break;
      pool.service(fds, took);
      emit();
    }
    if (g_stop_signal) return stop();
    pool.kill_all();
    emit();
  }
};

}  // namespace

// The pool's workers, the jobs waiting for one, and the rules that workers
// started from now on load.
struct WorkerPool::State {
  WorkerOptions opt;
  std::vector<Worker> workers;
  std::deque<PoolJob> queue;
  unsigned generation = 0;  // bumped by use_rules
  size_t busy = 0;
};

WorkerPool::WorkerPool(const WorkerOptions& opt) : s_(new State) { s_->opt = opt; }

WorkerPool::~WorkerPool() {
  kill_all();
  for (PoolJob& j : s_->queue)
    if (j.fd >= 0) close(j.fd);
}

bool WorkerPool::start(unsigned n, std::string* why) {
  signal(SIGPIPE, SIG_IGN);
  s_->workers.resize(n);
  for (Worker& w : s_->workers)
    if (w.pid < 0 && !spawn_current(&w)) {
      *why = cannot_start();
      return false;
    }
  return true;
}

bool WorkerPool::spawn_current(Worker* w) {
  if (!spawn(w, s_->opt)) return false;
  w->generation = s_->generation;
  return true;
}

void WorkerPool::submit(PoolJob job) { s_->queue.push_back(std::move(job)); }

size_t WorkerPool::load() const { return s_->queue.size() + s_->busy; }

size_t WorkerPool::size() const { return s_->workers.size(); }

void WorkerPool::add_poll_fds(std::vector<pollfd>* fds) const {
  for (const Worker& w : s_->workers)
    if (w.busy) fds->push_back({w.from_fd, POLLIN, 0});
}

// Settles the worker's job with an error and leaves the worker idle.
static void fail_job(Worker& w, size_t* busy, const std::string& error,
                     const std::function<void(PoolResult&&)>& done) {
  PoolResult r;
  r.tag = w.job.tag;
  r.error = error;
  w.busy = false;
  (*busy)--;
  done(std::move(r));
}

void WorkerPool::hand_out(const std::function<void(PoolResult&&)>& done) {
  for (Worker& w : s_->workers) {
    if (w.busy || s_->queue.empty()) continue;
    PoolJob job = std::move(s_->queue.front());
    s_->queue.pop_front();
    if (w.pid < 0 && !spawn_current(&w)) {
      PoolResult r;
      r.tag = job.tag;
      r.error = cannot_start();
      if (job.fd >= 0) close(job.fd);
      done(std::move(r));
      continue;
    }
    w.job = std::move(job);
    w.busy = true;
    w.started = std::chrono::steady_clock::now();
    s_->busy++;
    const bool sent = send_frame(w.to_fd, request(w.job), w.job.fd);
    // The worker holds its own copy of a passed descriptor now.
    if (w.job.fd >= 0) close(w.job.fd);
    w.job.fd = -1;
    if (!sent) fail_job(w, &s_->busy, reap(&w), done);
  }
}

void WorkerPool::service(const std::vector<pollfd>& fds,
                         const std::function<void(PoolResult&&)>& done) {
  const auto now = std::chrono::steady_clock::now();
  for (Worker& w : s_->workers) {
    if (!w.busy) continue;
    const pollfd* pf = nullptr;
    for (const pollfd& p : fds)
      if (p.fd == w.from_fd) pf = &p;
    if (pf && (pf->revents & (POLLIN | POLLHUP | POLLERR))) {
      std::string frame;
      if (!read_frame(w.from_fd, &frame)) {
        fail_job(w, &s_->busy, reap(&w), done);
        continue;
      }
      PoolResult r;
      r.tag = w.job.tag;
      r.result = std::move(frame);
      w.busy = false;
      s_->busy--;
      const json parsed = json::parse(r.result, nullptr, false);
      const bool retire = (!parsed.is_discarded() && parsed.value(kResultRetire, false)) ||
                          w.generation != s_->generation;
      if (retire) reap(&w);
      done(std::move(r));
    } else if (now - w.started > std::chrono::seconds(s_->opt.timeout_seconds)) {
      kill(w.pid, SIGKILL);
      reap(&w);
      fail_job(w, &s_->busy,
               "timed out after " + std::to_string(s_->opt.timeout_seconds) + " seconds", done);
    }
  }
}

void WorkerPool::use_rules(const std::string& path) {
  s_->opt.rules_path = path;
  s_->generation++;
  // Idle workers are replaced at once; busy ones after their current job.
  for (Worker& w : s_->workers)
    if (!w.busy && w.pid >= 0) {
      reap(&w);
      spawn_current(&w);
    }
}

void WorkerPool::kill_all() {
  for (Worker& w : s_->workers)
    if (w.pid >= 0) {
      if (w.busy) kill(w.pid, SIGKILL);
      reap(&w);
      if (w.busy) s_->busy--;
      w.busy = false;
    }
}

void keep_from_workers(int fd) { g_parent_fds.insert(fd); }

// A message of the one part `part` with the control area `control` (size
// bytes, aligned for a cmsghdr), for sendmsg and recvmsg.
static struct msghdr one_part_message(struct iovec* part, char* control, size_t size) {
  struct msghdr msg = {};
  msg.msg_iov = part;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = size;
  return msg;
}

ssize_t send_with_descriptor(int sock, const void* data, size_t size, int fd) {
  struct iovec part = {const_cast<void*>(data), size};
  union {
    char buf[CMSG_SPACE(sizeof(int))];
    struct cmsghdr align;
  } control = {};
  struct msghdr msg = one_part_message(&part, control.buf, sizeof control.buf);
  struct cmsghdr* c = CMSG_FIRSTHDR(&msg);
  c->cmsg_level = SOL_SOCKET;
  c->cmsg_type = SCM_RIGHTS;
  c->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(c), &fd, sizeof fd);
  ssize_t w;
  do w = sendmsg(sock, &msg, MSG_NOSIGNAL);
  while (w < 0 && errno == EINTR);
  return w;
}

ssize_t receive_with_descriptors(int sock, void* data, size_t size, int flags,
                                 std::vector<int>* fds) {
  struct iovec part = {data, size};
  union {
    char buf[CMSG_SPACE(kMaxPassedPerRead * sizeof(int))];
    struct cmsghdr align;
  } control = {};
  struct msghdr msg = one_part_message(&part, control.buf, sizeof control.buf);
  const ssize_t r = recvmsg(sock, &msg, flags | MSG_CMSG_CLOEXEC);
  if (r < 0) return r;
  for (struct cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
    const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (size_t i = 0; i < count; i++) {
      int got;
      std::memcpy(&got, CMSG_DATA(c) + i * sizeof(int), sizeof got);
      fds->push_back(got);
    }
  }
  return r;
}

void release_from_workers(int fd) { g_parent_fds.erase(fd); }

void apply_pool_result(FileResult& f, const PoolResult& pr) {
  if (!pr.error.empty()) {
    f.error = pr.error;
    return;
  }
  const json r = json::parse(pr.result, nullptr, false);
  if (r.is_discarded() || !r.is_object()) {
    f.error = "worker sent an unreadable result";
    return;
  }
  f.size = r.value(kResultSize, f.size);
  f.dev = r.value(kResultDev, uint64_t{0});
  f.ino = r.value(kResultIno, uint64_t{0});
  if (r.contains(kResultError)) {
    f.error = r[kResultError].get<std::string>();
  } else if (r.contains(kResultSkipped)) {
    f.skipped = r[kResultSkipped].get<std::string>();
  } else {
    f.scanned = true;
    from_json(r, static_cast<ScanOutcome&>(f));
  }
}

// Through the low-level calls rather than the one-shot SHA256(), which in
// OpenSSL 3 goes through EVP and sets up its providers on first use.
std::string sha256_hex(const std::string& bytes) {
  SHA256_CTX ctx;
  SHA256_Init(&ctx);
  SHA256_Update(&ctx, bytes.data(), bytes.size());
  unsigned char md[SHA256_DIGEST_LENGTH];
  SHA256_Final(md, &ctx);
  return digest_hex(md, sizeof md);
}

WorkerRun scan_in_workers(std::vector<FileResult>& files, const WorkerOptions& opt,
                          const std::function<void(size_t)>& on_done) {
  WorkerRun run;
  signal(SIGPIPE, SIG_IGN);
  g_stop_signal = 0;
  {
    StopSignalScope stop_signals(on_stop_signal);
    Scheduler s{files, opt, on_done, WorkerPool(opt), {}, 0, 0};
    s.queue_files();
    if (!s.start_workers(&run.why)) return run;
    run.started = true;
    s.run();
  }
  // Read once the caller's handlers are back: a signal that came after the
  // last file but before they were is not lost to both (a watch would wait
  // on for ever).
  run.stop_signal = g_stop_signal;
  return run;
}
