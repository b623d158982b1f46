// Rows of text read twice, with QZ_OPT_INTERPRETER_REACH and without it, and
// the loop that checks both readings. The lexer, interpreter and built-in
// tests share it, each with its own way of reading a text.

#ifndef TESTS_SUPPORT_REACH_ROWS_H
#define TESTS_SUPPORT_REACH_ROWS_H

#include <qzengine/qzengine.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace reach_rows {

struct Row {
  const char* what;
  std::string text;
  std::vector<std::string> on, off;  // what the reading gives with the flag, and without
};

// read(text, options) reads one row's text under the options given and
// returns what it saw. Each row is read with the flag first, then without
// it; both readings add the extra options.
template <class Read>
void check(const std::vector<Row>& rows, Read read, unsigned long more = 0) {
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.what) + "\n" + row.text.substr(0, 200));
    EXPECT_EQ(read(row.text, QZ_OPT_INTERPRETER_REACH | more), row.on) << "with the flag";
    EXPECT_EQ(read(row.text, more), row.off) << "without the flag";
  }
}

}  // namespace reach_rows

#endif
