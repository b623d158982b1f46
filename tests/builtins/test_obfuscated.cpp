// Obfuscated shells written by the team from common hiding techniques. Each
// must end in its inner dangerous call being reported with tainted input.

#include "support/codec.h"
#include "support/scan_record.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using codec::base64;
using scan_record::deflate_with;
using scan_record::run;
using Trace = scan_record::Seen;

std::string rot13(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>('a' + (c - 'a' + 13) % 26);
    if (c >= 'A' && c <= 'Z') c = static_cast<char>('A' + (c - 'A' + 13) % 26);
  }
  return s;
}

std::string reversed(std::string s) {
  std::reverse(s.begin(), s.end());
  return s;
}

struct Shell {
  const char* what;
  std::string script;
  std::string inner;  // the call that must be reported
};

// A sample shell under tests/data/shells names its inner call on its first
// line, in a comment: "// expect: name(args)".
Shell sample(const char* name) {
  std::ifstream in(std::string(QZ_SOURCE_DIR) + "/tests/data/shells/" + name);
  std::stringstream body;
  body << in.rdbuf();
  const std::string text = body.str(), marker = "// expect: ";
  const size_t at = text.find(marker),
               from = at == std::string::npos ? text.size() : at + marker.size();
  return {name, text, text.substr(from, text.find('\n', from) - from)};
}

std::vector<Shell> shells() {
  // Payloads carried raw inside a quoted literal use no quotes of their own.
  const std::string payload = "system($_POST[c]);";
  const std::string inner = "system($_POST_DATA)";
  return {
      {"base64 of strrev",
       "<?php $x = strrev('" + reversed(base64(payload)) + "'); eval(base64_decode($x));", inner},
      {"urlencoded", "<?php eval(urldecode('%73%79%73%74%65%6d($_COOKIE[%27k%27]);'));",
       "system($_COOKIE_DATA)"},
      {"create_function",
       "<?php $f = create_function('', base64_decode('" + base64("system($_REQUEST['x']);") +
           "')); $f();",
       "system($_REQUEST_DATA)"},
      {"replace-built name", "<?php $f = str_replace('#', '', 'a#s#s#e#r#t'); $f($_POST['c']);",
       "assert($_POST_DATA)"},
      {"chr-built name", "<?php $f = chr(101).chr(120).chr(101).chr(99); $f($_GET['c']);",
       "exec($_GET_DATA)"},
      {"nested layers",
       "<?php eval(base64_decode('" +
           base64("eval(str_rot13(\"" + rot13("eval(strrev('" + reversed(payload) + "'));") +
                  "\"));") +
           "'));",
       inner},
      {"gzinflate of strrev of base64",
       "<?php eval(gzinflate(base64_decode(strrev('" +
           reversed(base64(deflate_with(payload, -15))) + "'))));",
       inner},
      sample("layered_base64.php"),
      sample("rot13_strrev.php"),
      sample("split_name.php"),
  };
}

using ObfuscatedShell = scan_record::EngineTest;

TEST_F(ObfuscatedShell, InnerCallIsReportedWithItsTaint) {
  for (const auto& shell : shells()) {
    SCOPED_TRACE(shell.what);
    Trace t = run(shell.script, QZ_OPT_FULL_DECODE);
    EXPECT_NE(std::find(t.calls.begin(), t.calls.end(), shell.inner), t.calls.end())
        << shell.script << "\n"
        << t.joined();
  }
}

}  // namespace
