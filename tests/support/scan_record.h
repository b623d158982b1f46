// Shared by the interpreter tests: records what a host sees of one scan, the
// fixtures that start the engine and the runtime, and hand-made tokens.

#ifndef TESTS_QZ_SPEC_SCAN_RECORD_H
#define TESTS_QZ_SPEC_SCAN_RECORD_H

#include <qzengine/qzengine.h>

#include "php/php_driver.h"
#include "runtime/qz_string.h"
#include "runtime/qz_symtable.h"
#include "runtime/qz_token.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

namespace scan_record {

struct Seen {
  // Calls as "name(arg|arg)"; calls and faults in order as
  // "line:name:assign(arg|arg)" and "!file:line:message"; dump rows as
  // "name=text"; the name whose call raises the interrupt.
  std::vector<std::string> calls, events, dump;
  std::string stop_at;

  // The first events, each cut short, for a readable failure message.
  std::string joined() const {
    std::string out;
    for (size_t i = 0; i < events.size() && i < 12; i++)
      out += "  " + events[i].substr(0, 160) + "\n";
    if (events.size() > 12) out += "  ... " + std::to_string(events.size()) + " in all\n";
    return out;
  }
};

inline Seen* sink = nullptr;  // the scan being recorded

inline unsigned char on_call(unsigned long line, unsigned long reserved, char* name,
                             unsigned long assign, _fcall_argument* args, unsigned long n) {
  std::string list;
  for (unsigned long i = 0; i < n; i++)
    list += (i ? "|" : "") + std::string(args[i].value ? args[i].value : "<null>");
  std::string flags;
  if (reserved != 0) flags += "<reserved!=0>";
  if ((n == 0) != (args == nullptr)) flags += "<args-pointer-mismatch>";
  Seen* s = sink;
  s->calls.push_back(std::string(name) + "(" + list + ")");
  s->events.push_back(std::to_string(line) + ":" + name + ":" + std::to_string(assign) + "(" +
                      list + ")" + flags);
  if (!s->stop_at.empty() && s->stop_at == name) qz_engine_interupt();
  return 0;
}

// Runs body (the engine already started) with every recorder installed and
// the given option flags; afterwards the handlers are removed and the
// options are 0 again.
template <class Body>
Seen record(Body body, unsigned long options = 0, const std::string& stop_at = "") {
  Seen seen;
  seen.stop_at = stop_at;
  sink = &seen;
  qz_engine_set_options(options);
  qz_engine_set_fcall_filter(on_call);
  qz_engine_set_exception_handler([](char* file, int line, char* message) {
    sink->events.push_back("!" + std::string(file) + ":" + std::to_string(line) + ":" + message);
  });
  qz_engine_set_var_dump_handler(
      [](char* name, char* text) { sink->dump.push_back(std::string(name) + "=" + text); });
  body();
  qz_engine_set_fcall_filter(nullptr);
  qz_engine_set_exception_handler(nullptr);
  qz_engine_set_var_dump_handler(nullptr);
  qz_engine_set_options(0);
  sink = nullptr;
  return seen;
}

inline Seen run(const std::string& script, unsigned long options = 0,
                const std::string& stop_at = "") {
  return record([&] { qz_engine_scan_buff(script.c_str()); }, options, stop_at);
}

inline std::string repeat(const std::string& unit, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; i++) s += unit;
  return s;
}

// Compresses text with zlib in the given framing (window bits as inflate
// takes them: -15 raw, 15 zlib, 31 gzip).
inline std::string deflate_with(const std::string& text, int window_bits) {
  z_stream zs{};
  deflateInit2(&zs, 9, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&zs, text.size()), '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  zs.avail_in = static_cast<uInt>(text.size());
  zs.next_out = reinterpret_cast<Bytef*>(&out[0]);
  zs.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

// Tokens made by hand for the tests that drive the interpreter's parts
// directly; they come from the scan's pool and its symbol table.
inline char* sym(std::string s) { return qz_engine_insert_sym(&s[0]); }
// A literal whose name and value are the interned text.
inline _qz_token* lit_tok(const std::string& text) {
  _qz_token* t = qz_token_alloc(TOKEN_LITERAL, TOKEN_LITERAL, 1);
  t->value.ptr = t->name = sym(text);
  return t;
}
inline _qz_token* int_tok(long v) {
  _qz_token* t = qz_token_alloc(TOKEN_INTEGER, TOKEN_INTEGER, 1);
  t->value.lval = v;
  return t;
}
// A variable with no value yet.
inline _qz_token* var_tok(const std::string& name) {
  _qz_token* t = qz_token_alloc(TOKEN_WORD, TOKEN_NONE, 3);
  t->name = sym(name);
  return t;
}
// A runtime string of exactly the given bytes.
inline _qz_token* str_tok(const std::string& bytes, unsigned long line = 3) {
  _qz_token* t = qz_token_alloc(TOKEN_WORD, TOKEN_STRING, line);
  t->value.ptr = qz_string_alloc_n(bytes.data(), bytes.size());
  return t;
}

// The bytes of a runtime string value; "<no string>" for any other value.
inline std::string text_of(_qz_token* t) {
  if (!t || t->value.type != TOKEN_STRING || !t->value.ptr) return "<no string>";
  auto* s = static_cast<_qz_string*>(t->value.ptr);
  return std::string(s->text, s->length);
}

// Links the tokens into a list in the given order; returns its head.
inline _qz_token* linked(const std::vector<_qz_token*>& tokens) {
  for (size_t i = 0; i < tokens.size(); i++) {
    tokens[i]->prev = i ? tokens[i - 1] : nullptr;
    tokens[i]->next = i + 1 < tokens.size() ? tokens[i + 1] : nullptr;
  }
  return tokens.empty() ? nullptr : tokens[0];
}

// The engine started for each test; scans start their own runtime.
class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override { qz_engine_startup(); }
  void TearDown() override {
    qz_engine_set_options(0);
    qz_engine_shutdown();
  }
};

// The engine and one scan's runtime started, for tests that drive the
// interpreter's parts directly.
class RuntimeTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    php_startup();
  }
  void TearDown() override {
    php_shutdown();
    qz_engine_release_all_resource();
    EngineTest::TearDown();
  }
};

}  // namespace scan_record

#endif
