// Cost per operation of the runtime memory at growing sizes: each figure
// ("per_op") should stay flat from 1k to 100k items.

#include "runtime/qz_array.h"
#include "runtime/qz_symtable.h"
#include "runtime/qz_token.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> make_names(size_t n) {
  std::vector<std::string> v;
  v.reserve(n);
  for (size_t i = 0; i < n; i++) v.push_back("$var_" + std::to_string(i * 2654435761u));
  return v;
}

void per_op(benchmark::State& state, double ops) {
  state.counters["per_op"] = benchmark::Counter(
      ops, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Inserts n distinct names into a fresh table, then looks each up.
void BM_SymbolInsertLookup(benchmark::State& state) {
  size_t n = static_cast<size_t>(state.range(0));
  std::vector<std::string> names = make_names(n);
  for (auto _ : state) {
    _qz_sym_table_ex* t = qz_symtable_alloc();
    for (auto& s : names) benchmark::DoNotOptimize(qz_symtable_insert(t, &s[0]));
    for (auto& s : names) benchmark::DoNotOptimize(qz_lookup_sym(t, &s[0]));
    qz_symtable_cleanup(t);
  }
  per_op(state, 2.0 * n);
}

// Pushes n buckets with distinct keys, then looks each key up.
void BM_ArrayPushLookupKey(benchmark::State& state) {
  size_t n = static_cast<size_t>(state.range(0));
  std::vector<std::string> names = make_names(n);
  for (auto _ : state) {
    _qz_array* a = qz_array_alloc();
    for (auto& s : names) {
      _qz_bucket* b = qz_bucket_alloc();
      b->key = &s[0];
      qz_array_push(a, b);
    }
    for (auto& s : names) benchmark::DoNotOptimize(qz_array_item(a, &s[0]));
    qz_array_free_all();
  }
  per_op(state, 2.0 * n);
}

// Pushes n values, then looks each up by number.
void BM_ArrayPushLookupNumber(benchmark::State& state) {
  size_t n = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    _qz_array* a = qz_array_alloc();
    _qz_value v{};
    v.type = TOKEN_INTEGER;
    for (size_t i = 0; i < n; i++) qz_array_push(a, &v);
    for (size_t i = n; i-- > 0;) benchmark::DoNotOptimize(qz_array_item(a, i));
    qz_array_free_all();
  }
  per_op(state, 2.0 * n);
}

// Builds one list of n tokens (appending at the known tail) and releases it.
void BM_TokenListAllocFree(benchmark::State& state) {
  size_t n = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    _qz_token* head = qz_token_alloc(TOKEN_WORD, TOKEN_NONE, 1);
    _qz_token* tail = head;
    for (size_t i = 1; i < n; i++) {
      _qz_token* tk = qz_token_alloc(TOKEN_WORD, TOKEN_NONE, 1);
      qz_token_append(tail, tk);
      tail = tk;
    }
    qz_token_free(head);
  }
  per_op(state, 2.0 * n);
}

// Many short lists alive at once, released in allocation order: exercises
// slot reuse and the release path across many slabs.
void BM_TokenManyListsFree(benchmark::State& state) {
  size_t n = static_cast<size_t>(state.range(0));
  std::vector<_qz_token*> heads(n / 4);
  for (auto _ : state) {
    for (auto& h : heads) {
      h = qz_token_alloc(1ul);
      for (int k = 0; k < 3; k++) qz_token_append_one(h, qz_token_alloc(1ul));
    }
    for (auto* h : heads) qz_token_free(h);
  }
  per_op(state, 2.0 * n);
}

}  // namespace

BENCHMARK(BM_SymbolInsertLookup)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArrayPushLookupKey)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArrayPushLookupNumber)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TokenListAllocFree)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TokenManyListsFree)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMillisecond);
