// Input sources: what the lexer sees from a buffer and from a file.

#include <qzengine/qz_io_handle.h>
#include <qzengine/qzengine.h>

#include "source/qz_source.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

FILE* temp_file_with(const std::string& bytes) {
  FILE* f = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::rewind(f);
  return f;
}

// A host's own source, which holds no text.
struct HostSource : qz_io_handle {
  int _getc() override { return -1; }
};

// A class derived from one of the library's sources, read through its own
// _getc, which turns lower-case letters into capitals.
template <class Base>
struct Upper : Base {
  using Base::Base;
  int _getc() override {
    int c = Base::_getc();
    return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
  }
};

// Reads as the lexer does, from a buffer, a file and classes derived from
// them: bytes come back sign-extended and the end stays ended. With the
// binary-safe option a 0xFF byte is data and only the source's real end ends
// the input, also when 0xFF is the last byte; without it 0xFF reads as an
// end. A derived source is read through its own _getc, and its 0xFF bytes are
// data as those of the class it derives from. A host's own source and a
// source without text end at once.
TEST(IoHandle, ReadsTellDataFromTheEnd) {
  const unsigned long BS = QZ_OPT_BINARY_SAFE;
  // clang-format off
  const struct {
    std::string bytes;
    unsigned long options;
    std::vector<int> expected;  // from a buffer or a file; a derived one reads capitals
  } rows[] = {
      {"A\xE4z", 0, {65, -28, 122, -1, -1}},
      {"A\xE4z", BS, {65, -28, 122, -1, -1}},
      {"", 0, {-1, -1}},
      {"a\xFFz", BS, {97, 0xFF, 122, -1, -1}},
      {"a\xFF", BS, {97, 0xFF, -1, -1}},
      {"a\xFF", 0, {97, -1, -1}},
      {"a\xFFz", 0, {97, -1, 122, -1}},
  };
  // clang-format on
  auto read = [](qz_io_handle& h, size_t n) {
    std::vector<int> out;
    for (size_t i = 0; i < n; i++) out.push_back(qz_source_getc(&h));
    return out;
  };
  for (const auto& r : rows) {
    SCOPED_TRACE("options " + std::to_string(r.options));
    qz_engine_set_options(r.options);
    std::vector<int> upper = r.expected;
    for (int& c : upper) c = c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
    buf_file_handle b(r.bytes.c_str());
    EXPECT_EQ(read(b, r.expected.size()), r.expected) << "buffer";
    EXPECT_EQ(b.position, r.bytes.size()) << "reading past the end stays at the end";
    Upper<buf_file_handle> ub(r.bytes.c_str());
    EXPECT_EQ(read(ub, r.expected.size()), upper) << "derived buffer";
    linux_file_handle l(temp_file_with(r.bytes));
    Upper<linux_file_handle> ul(temp_file_with(r.bytes));
    EXPECT_EQ(read(l, r.expected.size()), r.expected) << "file";
    EXPECT_EQ(read(ul, r.expected.size()), upper) << "derived file";
    l.close();
    ul.close();
    EXPECT_EQ(l.stream, nullptr);
  }
  HostSource host;
  buf_file_handle null_text(nullptr);
  linux_file_handle none(nullptr);
  for (unsigned long options : {0ul, BS}) {
    qz_engine_set_options(options);
    EXPECT_EQ(read(host, 2), (std::vector<int>{-1, -1}));
    EXPECT_EQ(read(null_text, 2), (std::vector<int>{-1, -1}));
    EXPECT_EQ(read(none, 2), (std::vector<int>{-1, -1}));
  }
  qz_engine_set_options(0);
}

TEST(IoHandle, GetStrReadsUpToTheDelimiter) {
  // Reads into a 99-byte room.
  struct Row {
    std::string text;
    bool ok;
    std::string stored;
    int next;  // the following _getc
  };
  const std::string seventeen(17, 'x');
  const Row rows[] = {
      {seventeen + ">rest", true, seventeen + ">", 'r'},
      {std::string(150, 'y'), false, std::string(99, 'y'), 'y'},  // 100th consumed, 101st next
      {"abc", false, "abc", -1},                                  // end of input
      {"ab\xFF>", false, "ab", '>'},  // the 0xFF byte itself is consumed
  };
  for (const Row& r : rows) {
    for (int kind = 0; kind < 2; kind++) {
      FILE* f = kind ? temp_file_with(r.text) : nullptr;
      buf_file_handle b(r.text.c_str());
      linux_file_handle l(f);
      qz_io_handle& h = kind ? static_cast<qz_io_handle&>(l) : b;
      char out[100];
      std::memset(out, 'Z', sizeof out);
      unsigned long size = 99;
      EXPECT_EQ(h.get_str('>', out, &size), r.ok) << r.text.substr(0, 20) << " kind " << kind;
      out[99] = 0;
      EXPECT_EQ(std::string(out), r.stored);
      EXPECT_EQ(size, 99u);
      EXPECT_EQ(h._getc(), r.next);
      l.close();
    }
  }
  // Sources without text, and 0xFF as data under the binary-safe option.
  buf_file_handle null_text(nullptr);
  unsigned long size = 7;
  char out[8];
  EXPECT_FALSE(null_text.get_str('>', out, &size));
  qz_engine_set_options(QZ_OPT_BINARY_SAFE);
  buf_file_handle b("<\xFF\xFF>x");
  EXPECT_TRUE(b.get_str('>', out, &size));
  EXPECT_STREQ(out, "<\xFF\xFF>");
  qz_engine_set_options(0);
}

// Stepping back: a file and a buffer holding the same bytes give the same
// reads for any run of reads and steps back, past the stream's buffer
// boundaries, several steps in a row and at and after the end, with and
// without the binary-safe option.
TEST(IoHandle, FileStepsBackAsABufferDoes) {
  std::string bytes;
  for (int i = 0; i < 10000; i++) bytes += static_cast<char>('!' + (i * 7) % 90);
  // One row per run: reads before each burst of steps back, the steps.
  const struct {
    int reads;
    int steps;
  } rows[] = {{1, 1}, {4095, 1}, {1, 2}, {3, 3}, {4200, 5}, {7, 1}, {1800, 4}, {40, 2}, {9000, 1}};
  for (unsigned long options : {0ul, static_cast<unsigned long>(QZ_OPT_BINARY_SAFE)}) {
    qz_engine_set_options(options);
    buf_file_handle b(bytes.c_str());
    linux_file_handle l(temp_file_with(bytes));
    for (const auto& r : rows) {
      for (int i = 0; i < r.reads; i++)
        ASSERT_EQ(qz_source_getc(&l), qz_source_getc(&b)) << "read at " << b.position;
      for (int i = 0; i < r.steps; i++) {
        l._ungetc();
        b._ungetc();
      }
      ASSERT_EQ(std::ftell(l.stream), static_cast<long>(b.position)) << "options " << options;
    }
    l.close();
  }
  qz_engine_set_options(0);
}

// A 0xFF byte is data only for the library's own sources, also when sources
// of other kinds are read one after another from the same address.
TEST(IoHandle, EachSourceKindAtOneAddressTellsDataFromTheEnd) {
  qz_engine_set_options(QZ_OPT_BINARY_SAFE);
  alignas(linux_file_handle) unsigned char room[sizeof(linux_file_handle) + 64];
  const std::string text = "\xFFz";
  for (int round = 0; round < 2; round++) {
    auto* b = new (room) buf_file_handle(text.c_str());
    EXPECT_EQ(qz_source_getc(b), 0xFF);
    b->~buf_file_handle();
    auto* h = new (room) HostSource();
    EXPECT_EQ(qz_source_getc(h), QZ_SOURCE_END);
    h->~HostSource();
    auto* l = new (room) linux_file_handle(temp_file_with(text));
    EXPECT_EQ(qz_source_getc(l), 0xFF);
    l->close();
    l->~linux_file_handle();
  }
  qz_engine_set_options(0);
}

}  // namespace
