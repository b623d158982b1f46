// The variable list and its lookups, and the radix-64 integer text.

#include "php/php_driver.h"
#include "php/php_eval.h"
#include "php/php_variable.h"
#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "runtime/qz_symtable.h"
#include "support/scan_record.h"

#include <climits>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

using scan_record::var_tok;
using Variables = scan_record::RuntimeTest;

TEST_F(Variables, EmptiedListStartsAFreshIndex) {
  _qz_token* e = php_reference_globals(var_tok("$kept"));
  ASSERT_NE(e, nullptr);
  // The end of a scan empties the list; the next scan reuses token slots.
  php_shutdown();
  qz_engine_release_all_resource();
  php_startup();
  EXPECT_EQ(php_lookup_global_variable(const_cast<char*>("$kept")), nullptr);
  _qz_token* fresh = php_reference_globals(var_tok("$kept"));
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(php_lookup_global_variable(const_cast<char*>("$KEPT")), fresh);

  // A list replaced behind the index's back is indexed anew.
  php_rt_state.var_list = nullptr;
  php_rt_state.var_tail = nullptr;
  EXPECT_EQ(php_lookup_global_variable(const_cast<char*>("$kept")), nullptr);
  _qz_token* only = php_reference_globals(var_tok("$kept"));
  EXPECT_EQ(php_rt_state.var_list, only);
}

TEST_F(Variables, RadixSixtyFourTextMatchesTheSystemRoutine) {
  char mine[QZ_L64A_TEXT_SIZE];
  std::mt19937_64 rng(7);
  std::vector<long> values = {0, 1, 5, 63, 64, 100, 4095, 4096, 0x7FFFFFFF, 0xFFFFFFFFL, -1, -64,
                              LONG_MIN, LONG_MAX, 0x100000001L};
  for (long v = 0; v < 70000; v += 7) values.push_back(v);
  for (int i = 0; i < 2000; i++) values.push_back(static_cast<long>(rng()));
  for (long v : values) {
    long low = static_cast<long>(static_cast<unsigned long>(v) & 0xFFFFFFFFul);
    EXPECT_STREQ(php_l64a(v, mine), l64a(low)) << v;
  }
}

}  // namespace
