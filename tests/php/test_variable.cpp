// The variable list's name index across scans.

#include "php/php_driver.h"
#include "php/php_eval.h"
#include "php/php_variable.h"
#include "support/scan_record.h"

namespace {

using scan_record::var_tok;
using Variables = scan_record::RuntimeTest;

TEST_F(Variables, EmptiedListStartsAFreshIndex) {
  ASSERT_NE(php_reference_globals(var_tok("$kept")), nullptr);
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

}  // namespace
