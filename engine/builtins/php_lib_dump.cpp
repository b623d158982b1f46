/*
 * The variable dump: hands the name and a short value text of every tracked
 * variable to the host's var-dump handler, one call per variable, in the
 * order the variables were first met. A diagnostic aid; it changes nothing.
 */

#include "builtins/php_lib_dump.h"

#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "php/php_variable.h"

#include <string>

/* The value text of a variable entry; false when the entry is not reported
 * (a STRING or LITERAL without text). */
static bool php_dump_value_text(const _qz_token* var, std::string* out) {
  const _qz_value& v = var->value;
  switch (v.type) {
    case TOKEN_INTEGER: {
      char digits[QZ_L64A_TEXT_SIZE];
      *out = php_l64a(v.lval, digits);
      return true;
    }
    case TOKEN_STRING:
      if (!v.ptr) return false;
      *out = static_cast<const _qz_string*>(v.ptr)->text;
      return true;
    case TOKEN_LITERAL:
      if (!v.ptr) return false;
      *out = static_cast<const char*>(v.ptr);
      return true;
    case TOKEN_ARRAY: *out = "[array]"; return true;
    default: *out = "[other]"; return true;
  }
}

/* Reports every WORD entry of the variable list that has a name. The handler
 * receives copies owned by the dump, valid only during its call. Returns
 * null. */
_qz_token* php_lib_dump_variales() {
  std::string name, text;
  for (_qz_token* var = php_variable_first(); var; var = var->next) {
    if (!var->name || var->type != TOKEN_WORD) continue;
    if (!php_dump_value_text(var, &text)) continue;
    name = var->name;
    qz_call_vardump(&name[0], &text[0]);
  }
  return nullptr;
}
