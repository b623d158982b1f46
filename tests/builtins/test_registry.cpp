// The built-in registry: the first registration wins, the per-scan rebuild,
// the dispatch that hands built-ins their arguments, and arrays built from
// values and pairs.

#include "builtins/php_lib_builtin.h"
#include "builtins/php_lib_registry.h"
#include "common/qz_host.h"
#include "php/php_driver.h"
#include "php/php_value.h"
#include "php/php_variable.h"
#include "runtime/qz_array.h"
#include "runtime/qz_symtable.h"
#include "support/scan_record.h"

#include <string>
#include <vector>

namespace {

using scan_record::int_tok;
using scan_record::lit_tok;
using scan_record::var_tok;

// Handlers that record what they were given.
std::vector<_qz_token*> received;
int calls_made;
_qz_token* take0() {
  calls_made++;
  return nullptr;
}
_qz_token* take2(_qz_token* a, _qz_token* b) {
  calls_made++;
  received = {a, b};
  return a;
}
_qz_token* take_list(_qz_token* first) {
  calls_made++;
  for (_qz_token* t = first; t; t = t->next) received.push_back(t);
  return first;
}

class Registry : public scan_record::RuntimeTest {
 protected:
  static _php_function_map* find(const char* name) {
    return php_lib_lookup_internal_function_by_name(const_cast<char*>(name));
  }
  // Arguments as the call wrapper builds them: last argument first.
  static _qz_token* last_first(const std::vector<_qz_token*>& in_source_order) {
    return scan_record::linked({in_source_order.rbegin(), in_source_order.rend()});
  }
  static std::vector<_qz_token*> ints(int n) {
    std::vector<_qz_token*> v;
    for (int i = 0; i < n; i++) v.push_back(int_tok(i));
    return v;
  }
};

// A registration made during one scan is gone in the next; a second
// registration of a name never replaces the first.
TEST_F(Registry, EachScanStartsWithTheBuiltInTable) {
  const unsigned long built = qz_php_internal_function_map.count;
  _php_function_map* strlen_entry = find("STRLEN");
  php_lib_append_internal_function("strlen", reinterpret_cast<void*>(take0), 0, 0);
  php_lib_append_internal_function("brand_new", reinterpret_cast<void*>(take0), 0, 0);
  EXPECT_EQ(find("strlen"), strlen_entry);
  ASSERT_NE(find("BRAND_NEW"), nullptr);
  php_shutdown();
  qz_engine_release_all_resource();
  php_startup();
  EXPECT_EQ(qz_php_internal_function_map.count, built);
  EXPECT_EQ(find("brand_new"), nullptr);
  EXPECT_NE(find("strlen"), nullptr);
}

// The rows a scan starts with are made once and reused: registrations made
// before startup still come first, and after the engine restarts the rows
// carry the new engine table's names.
TEST_F(Registry, StartingRowsAreReusedOnlyWhereTheyStillHold) {
  const unsigned long built = qz_php_internal_function_map.count;
  void* handler = reinterpret_cast<void*>(take0);
  php_shutdown();
  qz_engine_release_all_resource();
  php_lib_append_internal_function("strlen", handler, 0, 0);
  php_startup();
  EXPECT_EQ(qz_php_internal_function_map.count, built + 1);
  ASSERT_NE(find("strlen"), nullptr);
  EXPECT_EQ(find("strlen")->func, handler) << "a registration before startup comes first";
  EXPECT_NE(find("eval"), nullptr);

  php_shutdown();
  qz_engine_release_all_resource();
  qz_engine_shutdown();
  qz_engine_startup();
  php_startup();
  std::string name = "strlen";
  ASSERT_NE(find("STRLEN"), nullptr);
  EXPECT_NE(find("STRLEN")->func, handler);
  EXPECT_EQ(find("STRLEN")->name, qz_engine_insert_isym(&name[0]));
  EXPECT_EQ(qz_php_internal_function_map.count, built);
}

TEST_F(Registry, DispatchByArity) {
  php_lib_append_internal_function("t0", reinterpret_cast<void*>(take0), 0, 0);
  php_lib_append_internal_function("t2", reinterpret_cast<void*>(take2), 2, 0);
  php_lib_append_internal_function("t11", reinterpret_cast<void*>(take2), 11, 0);
  php_lib_append_internal_function("tv", reinterpret_cast<void*>(take_list), 0, 1);
  std::vector<_qz_token*> a = ints(3);
  const struct {
    const char* what;
    const char* fn;
    std::vector<_qz_token*> args, received;
    int calls;
  } rows[] = {
      {"fixed arity takes the first arguments", "t2", a, {a[0], a[1]}, 1},
      {"none taken", "t0", a, {}, 1},
      {"fewer arguments than taken: not run", "t2", {a[0]}, {}, 0},
      {"more than a fixed-arity built-in can take: not run", "t11", ints(11), {}, 0},
      {"variadic gets all in source order", "tv", a, a, 1},
      {"variadic without arguments", "tv", {}, {}, 1},
  };
  for (const auto& r : rows) {
    calls_made = 0;
    received.clear();
    php_lib_call_wrapper(find(r.fn), last_first(r.args));
    EXPECT_EQ(calls_made, r.calls) << r.what;
    EXPECT_EQ(received, r.received) << r.what;
  }
  // A named argument is handed over as its variable entry.
  _qz_token* named = var_tok("$named");
  php_lib_call_wrapper(find("t2"), last_first({named, a[1]}));
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0], php_lookup_global_variable(const_cast<char*>("$named")));
  EXPECT_NE(received[0], named);
}

TEST_F(Registry, ArraysFromValuesAndPairs) {
  _qz_token* pair = php_lib_build_bucket(lit_tok("k"), int_tok(3));
  ASSERT_NE(pair, nullptr);
  ASSERT_EQ(pair->type, TOKEN_PAIR);
  auto* bucket = static_cast<_qz_bucket*>(pair->value.ptr);
  EXPECT_STREQ(bucket->key, "k");
  // The same pair twice in one list: the second joins as a copy, so the
  // buckets never form a loop.
  _qz_token* again = qz_token_clone(pair);
  _qz_token* r = php_lib_build_array(scan_record::linked({int_tok(1), pair, again, lit_tok("z")}));
  ASSERT_NE(r, nullptr);
  auto* arr = static_cast<_qz_array*>(r->value.ptr);
  ASSERT_EQ(qz_array_size(arr), 4u);
  std::vector<unsigned long> indexes;
  for (_qz_bucket* b = arr->head; b; b = b->next) indexes.push_back(b->index);
  EXPECT_EQ(indexes, (std::vector<unsigned long>{0, 1, 2, 3}));
  EXPECT_EQ(arr->head->next, bucket);
  EXPECT_NE(arr->head->next->next, bucket);
  EXPECT_STREQ(arr->head->next->next->key, "k");

  _qz_token* empty = php_lib_build_array(nullptr);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->lineno, 0u);
  EXPECT_EQ(qz_array_size(static_cast<_qz_array*>(empty->value.ptr)), 0u);
}

}  // namespace
