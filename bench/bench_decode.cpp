// Decoder throughput (bytes of input per second) and the scan of a layered
// obfuscated shell with full decoding on.

#include "builtins/qz_transform.h"
#include "common/qz_host.h"
#include "runtime/qz_string.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <string>

namespace {

const size_t kTenMiB = 10u << 20;

struct Engine {
  Engine() { qz_engine_startup(); }
  ~Engine() { qz_engine_shutdown(); }
};

_qz_token* string_token(const std::string& s) {
  _qz_token* t = qz_token_alloc(TOKEN_WORD, TOKEN_STRING, 1);
  t->value.ptr = qz_string_alloc_n(s.data(), s.size());
  return t;
}

_qz_token* literal_token(const char* s) {
  _qz_token* t = qz_token_alloc(TOKEN_LITERAL, TOKEN_LITERAL, 1);
  t->value.ptr = const_cast<char*>(s);
  return t;
}

// Text shaped like script source, so compressors and searches see realistic data.
std::string source_like(size_t n) {
  static const char* line = "$a = $_POST['cmd']; if ($a) { echo htmlspecialchars($a); }\n";
  std::string s;
  s.reserve(n + 64);
  while (s.size() < n) s += line;
  s.resize(n);
  return s;
}

std::string deflate_raw(const std::string& text) {
  z_stream zs{};
  deflateInit2(&zs, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&zs, text.size()), '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  zs.avail_in = static_cast<uInt>(text.size());
  zs.next_out = reinterpret_cast<Bytef*>(&out[0]);
  zs.avail_out = static_cast<uInt>(out.size());
  deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

std::string base64_of(const std::string& text) {
  Engine engine;
  _qz_token* enc = qz_engine_b64encode(string_token(text));
  auto* s = static_cast<_qz_string*>(enc->value.ptr);
  std::string out(s->text, s->length);
  qz_engine_release_all_resource();
  return out;
}

// Runs fn over a token made from input once per iteration; reports input bytes.
template <class Fn>
void run_transform(benchmark::State& state, const std::string& input, unsigned long options,
                   Fn fn) {
  Engine engine;
  qz_engine_set_options(options);
  for (auto _ : state) {
    _qz_token* res = fn(string_token(input));
    benchmark::DoNotOptimize(res);
    qz_engine_release_all_resource();
  }
  qz_engine_set_options(0);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(input.size()));
}

void BM_Base64Decode(benchmark::State& state) {
  std::string input = base64_of(source_like(kTenMiB * 3 / 4));
  run_transform(state, input, QZ_OPT_FULL_DECODE, qz_engine_b64decode);
}
BENCHMARK(BM_Base64Decode)->Unit(benchmark::kMillisecond);

void BM_Base64Encode(benchmark::State& state) {
  run_transform(state, source_like(kTenMiB), 0, qz_engine_b64encode);
}
BENCHMARK(BM_Base64Encode)->Unit(benchmark::kMillisecond);

void BM_UrlDecode(benchmark::State& state) {
  std::string input;
  while (input.size() < kTenMiB) input += "%73%79%73%74%65%6d+cmd%3D";
  run_transform(state, input, 0, qz_engine_urldecode);
}
BENCHMARK(BM_UrlDecode)->Unit(benchmark::kMillisecond);

void BM_StrReplace(benchmark::State& state) {
  std::string input = source_like(kTenMiB);
  run_transform(state, input, 0, [](_qz_token* subject) {
    return qz_engine_str_replace(subject, literal_token("$_POST"), literal_token("$_GET"));
  });
}
BENCHMARK(BM_StrReplace)->Unit(benchmark::kMillisecond);

void BM_Rot13Full(benchmark::State& state) {
  run_transform(state, source_like(kTenMiB), QZ_OPT_FULL_DECODE, qz_engine_str_rot13);
}
BENCHMARK(BM_Rot13Full)->Unit(benchmark::kMillisecond);

// Bytes processed here are the inflated output, the work the decoder does.
void BM_Inflate(benchmark::State& state) {
  std::string plain = source_like(kTenMiB);
  std::string packed = deflate_raw(plain);
  Engine engine;
  qz_engine_set_options(QZ_OPT_FULL_DECODE);
  for (auto _ : state) {
    _qz_token* res = qz_engine_gzinflate(string_token(packed));
    benchmark::DoNotOptimize(res);
    qz_engine_release_all_resource();
  }
  qz_engine_set_options(0);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(plain.size()));
}
BENCHMARK(BM_Inflate)->Unit(benchmark::kMillisecond);

// A shell hidden behind gzinflate, base64, str_rot13 and strrev, with some
// ordinary code around it: one whole scan per iteration.
void BM_ObfuscatedShellScan(benchmark::State& state) {
  std::string inner = "$c = $_POST['c']; if ($c) { system($c); } echo 'ok';";
  std::string hidden = base64_of(deflate_raw(inner));
  std::string rotated;
  for (char c : hidden) {
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>('a' + (c - 'a' + 13) % 26);
    else if (c >= 'A' && c <= 'Z')
      c = static_cast<char>('A' + (c - 'A' + 13) % 26);
    rotated += c;
  }
  std::string reversed(rotated.rbegin(), rotated.rend());
  std::string script = "<?php\n";
  for (int i = 0; i < 50; i++)
    script += "$v" + std::to_string(i) + " = htmlspecialchars($_GET['p']);\n";
  script += "$x = strrev('" + reversed + "');\n";
  script += "eval(gzinflate(base64_decode(str_rot13($x))));\n";
  Engine engine;
  qz_engine_set_options(QZ_OPT_FULL_DECODE);
  for (auto _ : state) qz_engine_scan_buff(script.c_str());
  qz_engine_set_options(0);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(script.size()));
}
BENCHMARK(BM_ObfuscatedShellScan)->Unit(benchmark::kMicrosecond);

}  // namespace
