// Input sources: what the lexer sees from a buffer and from a file.

#include <qzengine/qz_io_handle.h>
#include <qzengine/qzengine.h>

#include "source/qz_source.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<int> read_all(qz_io_handle& h, size_t max = 64) {
  std::vector<int> out;
  for (size_t i = 0; i < max; i++) {
    int c = h._getc();
    out.push_back(c);
    if (c == -1) break;
  }
  return out;
}

FILE* temp_file_with(const std::string& bytes) {
  FILE* f = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::rewind(f);
  return f;
}

TEST(IoHandle, BytesComeBackSignExtendedAndEndIsSticky) {
  struct Row {
    std::string bytes;
    std::vector<int> expected;  // ends with the first -1
  };
  const Row rows[] = {
      {"A\xE4"
       "B",
       {65, -28, 66, -1}},
      {"a\xFF"
       "b",
       {97, -1}},  // 0xFF reads as end of input
      {"", {-1}},
  };
  for (const Row& r : rows) {
    buf_file_handle b(r.bytes.c_str());
    EXPECT_EQ(read_all(b), r.expected) << "buffer " << r.bytes;
    FILE* f = temp_file_with(r.bytes);
    linux_file_handle l(f);
    EXPECT_EQ(read_all(l), r.expected) << "file " << r.bytes;
    l.close();
    EXPECT_EQ(l.stream, nullptr);
  }
  buf_file_handle b("ab"), null_text(nullptr);
  linux_file_handle none(nullptr);
  read_all(b);
  EXPECT_EQ(b._getc(), -1);
  EXPECT_EQ(b.position, 2u) << "reading past the end stays at the end";
  // Sources without text read as end of input.
  for (qz_io_handle* h :
       {static_cast<qz_io_handle*>(&null_text), static_cast<qz_io_handle*>(&none)}) {
    EXPECT_EQ(h->_getc(), -1);
    unsigned long size = 10;
    char out[11] = {};
    EXPECT_FALSE(h->get_str('>', out, &size));
  }
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
}

// With the binary-safe option a 0xFF byte is data and only the source's real
// end ends the input, also when 0xFF is the last byte; a host's own source
// still ends at it.
TEST(IoHandle, BinarySafeReadsTellDataFromTheEnd) {
  struct HostSource : qz_io_handle {
    int _getc() override { return -1; }
  };
  struct Row {
    std::string bytes;
    unsigned long options;
    std::vector<int> expected;
  };
  const Row rows[] = {
      {"a\xFF"
       "b",
       QZ_OPT_BINARY_SAFE,
       {97, 0xFF, 98, -1, -1}},
      {"a\xFF", QZ_OPT_BINARY_SAFE, {97, 0xFF, -1, -1}},
      {"a\xFF"
       "b",
       0,
       {97, -1, 98, -1}},
  };
  auto read = [](qz_io_handle& h, size_t n) {
    std::vector<int> out;
    for (size_t i = 0; i < n; i++) out.push_back(qz_source_getc(&h));
    return out;
  };
  for (const Row& r : rows) {
    qz_engine_set_options(r.options);
    buf_file_handle b(r.bytes.c_str());
    EXPECT_EQ(read(b, r.expected.size()), r.expected) << "buffer, options " << r.options;
    linux_file_handle l(temp_file_with(r.bytes));
    EXPECT_EQ(read(l, r.expected.size()), r.expected) << "file, options " << r.options;
    l.close();
  }
  qz_engine_set_options(QZ_OPT_BINARY_SAFE);
  HostSource host;
  EXPECT_EQ(qz_source_getc(&host), -1);
  buf_file_handle b("<\xFF\xFF>x");
  char out[8];
  unsigned long size = 7;
  EXPECT_TRUE(b.get_str('>', out, &size));
  EXPECT_STREQ(out, "<\xFF\xFF>");
  qz_engine_set_options(0);
}

}  // namespace
