// Extended reading, end to end: each script is scanned with the flag and
// without it, and both traces (line, name, assignment count, argument texts)
// are exact. Without the flag every row reads as the baseline always has.

#include <qzengine/qzwrapper.h>

#include "support/codec.h"
#include "support/reach_rows.h"
#include "support/scan_record.h"

#include "common/qz_limits.h"
#include "php/php_eval.h"
#include "php/php_variable.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

using scan_record::run;
using scan_record::Seen;
using Reach = scan_record::EngineTest;

// How often the scan reported the call: a whole call, or a name and "(" for
// every call of that name.
long count(const Seen& seen, const std::string& call) {
  return std::count_if(seen.calls.begin(), seen.calls.end(), [&](const std::string& made) {
    return call.back() == '(' ? made.compare(0, call.size(), call) == 0 : made == call;
  });
}

// Each row's events with the flag and without it; no scan leaves a run open.
void check(const std::vector<reach_rows::Row>& rows) {
  reach_rows::check(rows, [](const std::string& script, unsigned long options) {
    std::vector<std::string> events = run(script, options).events;
    EXPECT_EQ(php_run_depth(), 0u);
    return events;
  });
}

TEST_F(Reach, GroupingParenthesesAreNotCalls) {
  // clang-format off
  check({
      {"a grouped request value taints its variable", "<?php $c = ($_GET['c']); exec($c);",
       {"1:qz_array_item:0($_GET|c)", "1:exec:0($_GET_DATA)"},
       {"1:qz_array_item:0($_GET|c)", "1:=:0($_GET_DATA)", "1:exec:0($c)"}},
      {"groups inside arguments and arithmetic", "<?php f(($x . 'y'), (1 + 2) * 3);",
       {"1:f:0($xy|7)"}, {"1:(:0($xy)", "1:,:0(1)"}},
      {"a grouped name is still called through its variable",
       "<?php $y = (('sys') . 'tem'); $y(1);", {"1:system:1(/)"}, {"1:(:0(sys)", "1:$y:0(/)"}},
      {"keywords that take an expression", "<?php echo ('hi'); return (g(1));",
       {"1:g:0(/)"}, {"1:echo:0(hi)", "1:g:0(/)", "1:return:0()"}},
  });
  // clang-format on
}

TEST_F(Reach, RequestTaintSurvivesReassignmentCopiesAndLoops) {
  // clang-format off
  check({
      {"a request array reassigned stays one", "<?php $_POST = clean($_POST); system($_POST['a']);",
       {"1:clean:0($_POST)", "1:qz_array_item:0($_POST|a)", "1:system:0($_POST_DATA)"},
       {"1:clean:0($_POST)", "1:qz_array_item:0($_POST|a)", "1:system:0(qz_invalid_string)"}},
      {"a copy taken before keeps it too", "<?php $p = $_COOKIE; $_COOKIE = 1; system($p['c'], $_COOKIE['d']);",
       {"1:qz_array_item:0($p|c)", "1:qz_array_item:0($_COOKIE|d)", "1:system:0($_COOKIE_DATA|$_COOKIE_DATA)"},
       {"1:qz_array_item:0($p|c)", "1:qz_array_item:0($_COOKIE|d)", "1:system:0($_COOKIE_DATA|qz_invalid_string)"}},
      {"variables named by request keys read as request data",
       "<?php foreach ($_REQUEST as $k => $v) { $$k = $v; } system($cmd);",
       {"1:system:0($_POST_DATA)"},
       {"1:foreach:0($_REQUEST|as|qz_invalid_string)", "1:system:0($cmd)"}},
      {"variables named through ${...} by request data read as request data",
       "<?php foreach ($_POST as $k => $v) { ${$k} = $v; } system($cmd);",
       {"1:qz_var_var:0($_POST_DATA)", "1:system:0($_POST_DATA)"},
       {"1:foreach:0($_POST|as|qz_invalid_string)", "1:qz_var_var:0($k)", "1:system:0($cmd)"}},
      {"a superglobal named through ${...} by an unknown text reads as the request's; a class's static property does not",
       "<?php ${'_' . $m}['f'](${'_' . $m}['a']); $k = $_GET['k']; system(${'_' . $k}['c'], ${'_' . 'u'}); "
       "f(self::${'_' . $m});",
       {"1:qz_var_var:0(_$m)", "1:qz_array_item:0($_REQUEST|f)", "1:qz_var_var:0(_$m)", "1:qz_array_item:0($_REQUEST|a)",
        "1:$_REQUEST_DATA:0($_REQUEST_DATA)", "1:qz_array_item:0($_GET|k)", "1:qz_var_var:0(_$_GET_DATA)",
        "1:qz_array_item:0($_REQUEST|c)", "1:qz_var_var:0(_u)", "1:system:0($_REQUEST_DATA|$_u)",
        "1:qz_var_var:0(_$m)", "1:f:0($_$m)"},
       {"1:qz_var_var:0(_$m)", "1:qz_array_item:0($_$m|f)", "1:qz_var_var:0(_$m)", "1:qz_array_item:0($_$m|a)",
        "0:qz_invalid_string:0(qz_invalid_string)", "1:qz_array_item:0($_GET|k)", "1:qz_var_var:0(_$_GET_DATA)",
        "1:qz_array_item:0($_$_GET_DATA|c)", "1:qz_var_var:0(_u)", "1:system:0(qz_invalid_string|$_u)",
        "1:qz_var_var:0(_$m)", "1:f:0(self|$_$m)"}},
      {"static properties named by request keys make no variables",
       "<?php foreach ($_POST as $k => $v) { A::${$k} = $v; B::$$k = $v; } system($cmd);",
       {"1:qz_var_var:0($_POST_DATA)", "1:system:0($cmd)"},
       {"1:foreach:0($_POST|as|qz_invalid_string)", "1:qz_var_var:0($k)", "1:system:0($cmd)"}},
      {"a variable named through ${...} by a fixed text is only that variable", "<?php $n = 'title'; ${$n} = 'x'; system($cmd);",
       {"1:qz_var_var:0(title)", "1:system:0($cmd)"},
       {"1:qz_var_var:0(title)", "1:system:0($cmd)"}},
      {"a loop over a known array binds its first item; by reference too",
       "<?php foreach (array('x' => 'ev') as $key => $val) { f($key, $val); } foreach ($_GET as &$g) { passthru($g); }",
       {"1:array:0(qz_invalid_string)", "1:f:0(x|ev)", "1:passthru:0($_GET_DATA)"},
       {"1:array:0(qz_invalid_string)", "1:foreach:0(qz_invalid_string|as|qz_invalid_string)", "1:f:0($key|$val)",
        "1:foreach:0($_GET|as|$g)", "1:passthru:0($g)"}},
      {"list() and [...] take an array apart by position or key; a request text whole",
       "<?php list($x, $y) = array($_GET['a'], 'b'); eval($x); [$p, , $q] = ['s', 'u', $_POST['c']]; system($q); "
       "['k' => $m, 'n' => $o] = ['n' => 'v', 'k' => $_COOKIE['z']]; g($m, $o, $y, $p); "
       "list($f, list($n)) = $_GET['w']; $f($n); list($r) = 'plain'; h($r);",
       {"1:qz_array_item:0($_GET|a)", "1:array:0($_GET_DATA|b)", "1:eval:0($_GET_DATA)",
        "1:qz_array_item:0($_POST|c)", "1:array:0(s|u|$_POST_DATA)", "1:system:0($_POST_DATA)",
        "1:qz_array_item:0($_COOKIE|z)", "1:array:0(qz_invalid_string|qz_invalid_string)",
        "1:g:0($_COOKIE_DATA|v|b|s)", "1:qz_array_item:0($_GET|w)", "1:$_GET_DATA:1($n)", "1:h:0($r)"},
       {"1:list:0($x|$y)", "1:qz_array_item:0($_GET|a)", "1:array:0($_GET_DATA|b)", "1:eval:0($x)",
        "1:system:0($q)", "1:g:0($m|$o|$y|$p)", "1:list:0($n)", "1:list:0($f|)", "1:qz_array_item:0($_GET|w)",
        "1:$f:0($n)", "1:list:0($r)", "1:h:0($r)"}},
      {"request data through json_decode, array_values and key",
       "<?php $p = json_decode($_GET['p'], true); system($p['c']); $a = array_values($_SERVER); exec($a[6]); "
       "$f = key($_POST); $f(1); g(json_decode('{}'), key($arr));",
       {"1:qz_array_item:0($_GET|p)", "1:json_decode:0($_GET_DATA|/)", "1:qz_array_item:0($p|c)", "1:system:0($_GET_DATA)",
        "1:array_values:0($_SERVER)", "1:qz_array_item:0($a|4)", "1:exec:0($_SERVER_DATA)", "1:key:0($_POST)",
        "1:$_POST_DATA:1(/)", "1:json_decode:0({})", "1:key:0($arr)", "1:g:0(|)"},
       {"1:qz_array_item:0($_GET|p)", "1:json_decode:0($_GET_DATA|/)", "1:qz_array_item:0($p|c)",
        "1:system:0(qz_invalid_string)", "1:array_values:0($_SERVER)", "1:qz_array_item:0($a|4)",
        "1:exec:0(qz_invalid_string)", "1:key:0($_POST)", "1:$f:1(/)", "1:json_decode:0({})", "1:key:0($arr)",
        "1:g:0(|)"}},
      {"only request data extracted or parsed into the scope reads as it",
       "<?php extract(parse_url($p)); system($a); extract($_REQUEST); system($b);",
       {"1:parse_url:0($p)", "1:extract:0()", "1:system:0($a)", "1:extract:0($_REQUEST)", "1:system:0($_POST_DATA)"},
       {"1:parse_url:0($p)", "1:extract:0()", "1:system:0($_POST_DATA)", "1:extract:0($_REQUEST)",
        "1:system:0($_POST_DATA)"}},
      {"parse_str of the query string", "<?php parse_str($_SERVER['QUERY_STRING']); system($c);",
       {"1:qz_array_item:0($_SERVER|QUERY_STRING)", "1:parse_str:0($_SERVER_DATA_HTTP)", "1:system:0($_POST_DATA)"},
       {"1:qz_array_item:0($_SERVER|QUERY_STRING)", "1:parse_str:0($_SERVER_DATA)", "1:system:0($c)"}},
      {"$GLOBALS holds the request arrays", "<?php system($GLOBALS['_GET']['c']); $g = $GLOBALS; exec($g['_COOKIE']['k']);",
       {"1:qz_array_item:0($GLOBALS|_GET)", "1:qz_array_item:0(qz_invalid_string|c)", "1:system:0($_GET_DATA)",
        "1:qz_array_item:0($g|_COOKIE)", "1:qz_array_item:0(qz_invalid_string|k)", "1:exec:0($_COOKIE_DATA)"},
       {"1:qz_array_item:0($GLOBALS|_GET)", "1:qz_array_item:0(qz_invalid_string|c)", "1:system:0(qz_invalid_string)",
        "1:qz_array_item:0($g|_COOKIE)", "1:qz_array_item:0(qz_invalid_string|k)", "1:exec:0(qz_invalid_string)"}},
      {"variables in an array literal stand for their values; a loop over it binds them",
       "<?php $id = $_GET['id']; foreach (array($id) as $v) { $s .= $v; } ob_start($s);",
       {"1:qz_array_item:0($_GET|id)", "1:array:0($_GET_DATA)", "1:$_GET_DATA:0()", "1:ob_start:0($_GET_DATA)"},
       {"1:qz_array_item:0($_GET|id)", "1:array:0($_GET_DATA)", "1:foreach:0(qz_invalid_string|as|$v)", "1:ob_start:0($s$v)"}},
      {"a loop that joins texts walks every item, quietly after the first; other loops bind the first",
       "<?php foreach (array('sys', 'tem') as $p) { $f .= $p; } $f($_GET['c']); "
       "foreach (array('k' => 'ex', 'l' => 'ec') as $i => $q) $g .= $q . $i; h($g); "
       "foreach (array('a', 'b') as $v) { note($v); }",
       {"1:array:0(sys|tem)", "1:qz_array_item:0($_GET|c)", "1:system:2($_GET_DATA)", "1:array:0(qz_invalid_string|qz_invalid_string)",
        "1:h:0(exkecl)", "1:array:0(a|b)", "1:note:0(a)"},
       {"1:array:0(sys|tem)", "1:foreach:0(qz_invalid_string|as|$p)", "1:qz_array_item:0($_GET|c)", "1:$f$p:1($_GET_DATA)",
        "1:array:0(qz_invalid_string|qz_invalid_string)", "1:foreach:0(qz_invalid_string|as|qz_invalid_string)", "1:h:0($g$q$i)",
        "1:array:0(a|b)", "1:foreach:0(qz_invalid_string|as|$v)", "1:note:0($v)"}},
      {"a joining loop runs past the baseline's bound, and stops after its own",
       "<?php foreach (str_split('" + std::string(QZ_REACH_LOOP_MAX + 20, 'z') + "') as $c) { $s .= $c; } f($s);",
       {"1:str_split:0(" + std::string(QZ_REACH_LOOP_MAX + 20, 'z') + ")",
        "1:f:0(" + std::string(QZ_REACH_LOOP_MAX, 'z') + ")"},
       {"1:str_split:0(" + std::string(QZ_REACH_LOOP_MAX + 20, 'z') + ")", "1:foreach:0(|as|$c)", "1:f:0($s$c)"}},
      {"a for loop that joins with \".=\" runs to its own bound; other loops stop at the baseline's",
       "<?php for ($i = 0; $i < 120; $i++) { $s .= 'z'; } for ($i = 0; $i < 120; $i++) { $t = $t . 'y'; } f($s, $t);",
       {"1:f:0(" + std::string(120, 'z') + "|" + std::string(QZ_FOR_LOOP_MAX, 'y') + ")"},
       {"1:for:0()", "1:for:0()", "1:f:0($sz|$ty)"}},
      {"calls in a for loop's first and last parts are calls, and their names stay function names",
       "<?php for ($i = 0, $n = count($_GET['a']); $i < $n; $i = next($x)) { f($i); } g(count($y));",
       {"1:qz_array_item:0($_GET|a)", "1:count:0($_GET_DATA)", "1:f:0()", "1:next:0($x)", "1:count:0($y)", "1:g:0()"},
       {"1:qz_array_item:0($_GET|a)", "1:count:0($_GET_DATA)", "1:for:0(|)", "1:next:0($x)", "1:f:0()", "1:count:0($y)",
        "1:g:0()"}},
      {"an array assigned or passed by value is a copy; by reference it is shared",
       "<?php $a = array('x' => 'one'); $b = $a; $b['x'] = 'two'; f($a['x'], $b['x']);\n"
       "$n = array('s' => array('t' => 'deep')); $m = $n; $m['s']['t'] = 'new'; f($n['s']['t'], $m['s']['t']);\n"
       "function g($p) { $p['x'] = 'changed'; } $q = array('x' => 'kept'); g($q); f($q['x']);\n"
       "$r = array('x' => 'one'); $s = &$r; $s['x'] = 'shared'; f($r['x']);\n"
       "$c = $_POST; $c['k'] = 'mine'; f($_POST['k'], $c['k']);",
       {"1:array:0(qz_invalid_string)", "1:qz_array_item:0($b|x)", "1:qz_array_item:0($a|x)",
        "1:qz_array_item:0($b|x)", "1:f:0(one|two)", "2:array:0(qz_invalid_string)", "2:array:0(qz_invalid_string)",
        "2:qz_array_item:0($m|s)", "2:qz_array_item:0(qz_invalid_string|t)", "2:qz_array_item:0($n|s)",
        "2:qz_array_item:0(qz_invalid_string|t)", "2:qz_array_item:0($m|s)", "2:qz_array_item:0(qz_invalid_string|t)",
        "2:f:0(deep|new)", "3:array:0(qz_invalid_string)", "3:qz_array_item:0($p|x)", "3:g:0($q)",
        "3:qz_array_item:0($q|x)", "3:f:0(kept)", "4:array:0(qz_invalid_string)", "4:qz_array_item:0($s|x)",
        "4:qz_array_item:0($r|x)", "4:f:0(shared)", "5:qz_array_item:0($c|k)", "5:qz_array_item:0($_POST|k)",
        "5:qz_array_item:0($c|k)", "5:f:0($_POST_DATA|mine)"},
       {"1:array:0(qz_invalid_string)", "1:qz_array_item:0($b|x)", "1:qz_array_item:0($a|x)",
        "1:qz_array_item:0($b|x)", "1:f:0(two|two)", "2:array:0(qz_invalid_string)", "2:array:0(qz_invalid_string)",
        "2:qz_array_item:0($m|s)", "2:qz_array_item:0(qz_invalid_string|t)", "2:qz_array_item:0($n|s)",
        "2:qz_array_item:0(qz_invalid_string|t)", "2:qz_array_item:0($m|s)", "2:qz_array_item:0(qz_invalid_string|t)",
        "2:f:0(new|new)", "3:g:0($p)", "3:qz_array_item:0($p|x)", "3:array:0(qz_invalid_string)", "3:g:0($q)",
        "3:qz_array_item:0($q|x)", "3:f:0(kept)", "4:array:0(qz_invalid_string)", "4:qz_array_item:0($s|x)",
        "4:qz_array_item:0($r|x)", "4:f:0(shared)", "5:qz_array_item:0($c|k)", "5:qz_array_item:0($_POST|k)",
        "5:qz_array_item:0($c|k)", "5:f:0(mine|mine)"}},
      {"text built onto a variable never assigned starts empty",
       "<?php $n = $n . 'sys'; $n = $n . 'tem'; $n($_POST['a']); $m .= 'exec'; $m($_POST['b']); $k = 'x'; $k = $k . 'y'; f($k);",
       {"1:qz_array_item:0($_POST|a)", "1:system:2($_POST_DATA)", "1:qz_array_item:0($_POST|b)", "1:exec:1($_POST_DATA)", "1:f:0(xy)"},
       {"1:qz_array_item:0($_POST|a)", "1:$nsystem:2($_POST_DATA)", "1:qz_array_item:0($_POST|b)", "1:$mexec:1($_POST_DATA)",
        "1:f:0(xy)"}},
      {"\"$a[] = v\" appends at the next index",
       "<?php $a[] = 'md5'; $a[] = 'sys' . 'tem'; $a[1]($_GET['c']); f($a[0]);",
       {"1:qz_array_item:0($a|)", "1:qz_array_item:0($a|/)", "1:qz_array_item:0($a|/)", "1:qz_array_item:0($_GET|c)",
        "1:system:0($_GET_DATA)", "1:qz_array_item:0($a|)", "1:f:0(md5)"},
       {"1:qz_array_item:0($a|)", "1:qz_array_item:0($a|)", "1:qz_array_item:0($a|/)", "1:qz_array_item:0($_GET|c)",
        "0:qz_invalid_string:0($_GET_DATA)", "1:qz_array_item:0($a|)", "1:f:0(system)"}},
      {"a default filled in a branch leaves request data standing; other branches assign",
       "<?php if (isset($_GET['d'])) { $d = $_GET['d']; } else { $d = ''; } system($d); "
       "$u = $_POST['u']; if (empty($u)) { $u = 'id'; } exec($u); "
       "$t = $_POST['t']; if (trim($t) !== '') { $t = 'x'; } f($t); $k = 'a'; if ($y) { $k = 'b'; } f($k);",
       {"1:qz_array_item:0($_GET|d)", "1:isset:0($_GET_DATA)", "1:if:0()", "1:qz_array_item:0($_GET|d)",
        "1:system:0($_GET_DATA)", "1:qz_array_item:0($_POST|u)", "1:empty:0($_POST_DATA)", "1:if:0()",
        "1:exec:0($_POST_DATA)", "1:qz_array_item:0($_POST|t)", "1:trim:0($_POST_DATA)", "1:if:0(/)",
        "1:f:0(x)", "1:if:0($y)", "1:f:0(b)"},
       {"1:qz_array_item:0($_GET|d)", "1:isset:0($_GET_DATA)", "1:if:0()", "1:qz_array_item:0($_GET|d)",
        "1:system:0()", "1:qz_array_item:0($_POST|u)", "1:empty:0($_POST_DATA)", "1:if:0()", "1:exec:0(id)",
        "1:qz_array_item:0($_POST|t)", "1:trim:0($_POST_DATA)", "1:if:0()", "1:f:0(x)", "1:if:0($y)", "1:f:0(b)"}},
      {"an upload list indexed by number stays upload data, as other request texts do",
       "<?php for ($i = 0; $i < 1; $i++) { move_uploaded_file($_FILES['u']['tmp_name'][$i], 'up/' . $_FILES['u']['name'][$i]); } "
       "$s = 'abc'; f($_SERVER['HTTP_X'][0], $s[1], $_GET['q'][2]);",
       {"1:qz_array_item:0($_FILES|u)", "1:qz_array_item:0($_FILES_DATA|tmp_name)", "1:qz_array_item:0($_FILES_DATA_DATA|)",
        "1:qz_array_item:0($_FILES|u)", "1:qz_array_item:0($_FILES_DATA|name)", "1:qz_array_item:0($_FILES_DATA_DATA|)",
        "1:move_uploaded_file:0($_FILES_DATA_DATA|up/$_FILES_DATA_DATA)", "1:qz_array_item:0($_SERVER|HTTP_X)",
        "1:qz_array_item:0($_SERVER_DATA_HTTP|)", "1:qz_array_item:0(abc|/)", "1:qz_array_item:0($_GET|q)",
        "1:qz_array_item:0($_GET_DATA|0)", "1:f:0($_SERVER_DATA_HTTP|b|$_GET_DATA)"},
       {"1:for:0()", "1:qz_array_item:0($_FILES|u)", "1:qz_array_item:0($_FILES_DATA|tmp_name)",
        "1:qz_array_item:0($_FILES_DATA_DATA|/)", "1:qz_array_item:0($_FILES|u)", "1:qz_array_item:0($_FILES_DATA|name)",
        "1:qz_array_item:0($_FILES_DATA_DATA|/)", "1:move_uploaded_file:0(_|up/_)", "1:qz_array_item:0($_SERVER|HTTP_X)",
        "1:qz_array_item:0($_SERVER_DATA|)", "1:qz_array_item:0(abc|/)", "1:qz_array_item:0($_GET|q)",
        "1:qz_array_item:0($_GET_DATA|0)", "1:f:0($_SERVER_DATA|b|$_GET_DATA)"}},
      {"an item of request data is request data",
       "<?php $x = $_GET['a']; f($x['b'], $x[0], $x['b']['c']); "
       "foreach ($_FILES['p']['error'] as $k => $e) { copy($_FILES['p']['tmp_name'][$k], $_FILES['p']['name'][$k]); }",
       {"1:qz_array_item:0($_GET|a)", "1:qz_array_item:0($_GET_DATA|b)", "1:qz_array_item:0($_GET_DATA|)",
        "1:qz_array_item:0($_GET_DATA|b)", "1:qz_array_item:0($_GET_DATA|c)", "1:f:0($_GET_DATA|$_GET_DATA|$_GET_DATA)",
        "1:qz_array_item:0($_FILES|p)", "1:qz_array_item:0($_FILES_DATA|error)", "1:qz_array_item:0($_FILES|p)",
        "1:qz_array_item:0($_FILES_DATA|tmp_name)", "1:qz_array_item:0($_FILES_DATA_DATA|$k)",
        "1:qz_array_item:0($_FILES|p)", "1:qz_array_item:0($_FILES_DATA|name)",
        "1:qz_array_item:0($_FILES_DATA_DATA|$k)", "1:copy:0($_FILES_DATA_DATA|$_FILES_DATA_DATA)"},
       {"1:qz_array_item:0($_GET|a)", "1:qz_array_item:0($x|b)", "1:qz_array_item:0($x|)", "1:qz_array_item:0($x|b)",
        "1:qz_array_item:0(qz_invalid_string|c)", "1:f:0(qz_invalid_string|qz_invalid_string|qz_invalid_string)",
        "1:qz_array_item:0($_FILES|p)", "1:qz_array_item:0($_FILES_DATA|error)",
        "1:foreach:0($_FILES_DATA_DATA|as|qz_invalid_string)", "1:qz_array_item:0($_FILES|p)",
        "1:qz_array_item:0($_FILES_DATA|tmp_name)", "1:qz_array_item:0(qz_invalid_string|$k)",
        "1:qz_array_item:0($_FILES|p)", "1:qz_array_item:0($_FILES_DATA|name)",
        "1:qz_array_item:0(qz_invalid_string|$k)", "1:copy:0(qz_invalid_string|qz_invalid_string)"}},
      {"the old long names", "<?php system($HTTP_GET_VARS['c'], $HTTP_POST_FILES['f']);",
       {"1:qz_array_item:0($HTTP_GET_VARS|c)", "1:qz_array_item:0($HTTP_POST_FILES|f)", "1:system:0($_GET_DATA|$_FILES_DATA)"},
       {"1:qz_array_item:0($HTTP_GET_VARS|c)", "1:qz_array_item:0($HTTP_POST_FILES|f)",
        "1:system:0(qz_invalid_string|qz_invalid_string)"}},
  });
  // clang-format on
}

TEST_F(Reach, FunctionBodiesAreWalkedWithTheirArguments) {
  // clang-format off
  check({
      {"a definition is no call; a call walks the body with its argument",
       "<?php function run($x) { system($x); } run($_REQUEST['e']);",
       {"1:qz_array_item:0($_REQUEST|e)", "1:system:0($_REQUEST_DATA)", "1:run:0($_REQUEST_DATA)"},
       {"1:run:0($x)", "1:system:0($x)", "1:qz_array_item:0($_REQUEST|e)", "1:run:0($_REQUEST_DATA)"}},
      {"a script's stand-in for a built-in gives way to the built-in; its own names stay the script's",
       "<?php if (!function_exists('hex2bin')) { function hex2bin($h) { return strrev($h); } } f(hex2bin('6c73')); "
       "function getconstant($x) { return 'mine'; } g(getconstant(1));",
       {"1:function_exists:0(hex2bin)", "1:if:0()", "1:hex2bin:0(6c73)", "1:f:0(ls qz_decoded)", "1:getconstant:0(/)",
        "1:g:0(mine)", "1:strrev:0($h)"},
       {"1:function_exists:0(hex2bin)", "1:if:0()", "1:hex2bin:0($h)", "1:strrev:0($h)", "1:hex2bin:0(6c73)", "1:f:0()",
        "1:getconstant:0($x)", "1:getconstant:0(/)", "1:g:0(/)"}},
      {"defaults fill missing arguments; the first return flows back",
       "<?php function d($a, $b = 'ls') { passthru($b); return $a . 'x'; } f(d('sys'));",
       {"1:passthru:0(ls)", "1:d:0(sys)", "1:f:0(sysx)"},
       {"1:d:0($a|ls)", "1:passthru:0(ls)", "1:d:0(sys)", "1:f:0()"}},
      {"arguments are read before parameters are bound", "<?php function f($a, $b) { g($a, $b); } $a = 'A'; $b = 'B'; f($b, $a);",
       {"1:g:0(B|A)", "1:f:0(B|A)"}, {"1:f:0($a|$b)", "1:g:0($a|$b)", "1:f:0(B|A)"}},
      {"parameters are local", "<?php $q = 'Q'; function h($q) { return $q; } f(h('in'), $q);",
       {"1:h:0(in)", "1:f:0(in|Q)"}, {"1:h:0(Q)", "1:h:0(in)", "1:f:0(|Q)"}},
      {"recursion is not walked again", "<?php function r($n) { return r($n); } r(1);",
       {"1:r:0(/)", "1:r:0(/)"}, {"1:r:0($n)", "1:r:0($n)", "1:r:0(/)"}},
      {"a function never called is walked once at the end",
       "<?php function unused($p) { exec($p, $_POST['z']); } g(1);",
       {"1:g:0(/)", "1:qz_array_item:0($_POST|z)", "1:exec:0($p|$_POST_DATA)"},
       {"1:unused:0($p)", "1:qz_array_item:0($_POST|z)", "1:exec:0($p|$_POST_DATA)", "1:g:0(/)"}},
      {"a function of the top level is defined before the first statement runs (its name in any "
       "letter case), so a call above its definition walks it",
       "<?php\nRun($_GET['c'], 5);\nrun('x', 1);\nfunction run($x, $n) { system($x); }\nfunction idle($y) { exec($y); }\n",
       {"2:qz_array_item:0($_GET|c)", "4:system:0($_GET_DATA)", "2:Run:0($_GET_DATA|3)", "4:system:0(x)",
        "3:run:0(x|/)", "5:exec:0($y)"},
       {"2:qz_array_item:0($_GET|c)", "2:Run:0($_GET_DATA|3)", "3:run:0(x|/)", "4:run:0($x|$n)", "4:system:0($x)",
        "5:idle:0($y)", "5:exec:0($y)"}},
      {"the value of a call above the definition is the function's",
       "<?php\n$f = g();\n$f($_POST['a']);\nfunction g() { return 'sys' . 'tem'; }\n",
       {"2:g:0()", "3:qz_array_item:0($_POST|a)", "3:system:1($_POST_DATA)"},
       {"2:g:0()", "3:qz_array_item:0($_POST|a)", "3:$f:1($_POST_DATA)", "4:g:0()"}},
      {"a function defined inside a block, or a method, is defined only where the code reaches it",
       "<?php\n$f = g(); $h = m();\nif (1) { function g() { return 'system'; } }\n"
       "class C { function m() { return 'exec'; } }\n$f($_POST['a']); $h($_POST['b']);\n",
       {"2:g:0()", "2:m:0()", "3:if:0(/)", "5:qz_array_item:0($_POST|a)", "5:qz_unknown_callee:1($_POST_DATA)",
        "5:qz_array_item:0($_POST|b)", "5:qz_unknown_callee:1($_POST_DATA)"},
       {"2:g:0()", "2:m:0()", "3:if:0(/)", "3:g:0()", "4:m:0()", "5:qz_array_item:0($_POST|a)",
        "5:$f:1($_POST_DATA)", "5:qz_array_item:0($_POST|b)", "5:$h:1($_POST_DATA)"}},
      {"definitions written in comments and strings define nothing",
       "<?php\n/* function h() { return 'system'; } */\n$s = 'function h() {}';\nk(h());\n"
       "function later() { return 1; }\nlater();\n",
       {"4:h:0()", "4:k:0()", "6:later:0()"},
       {"4:h:0()", "4:k:0()", "5:later:0()", "6:later:0()"}},
      {"functions never called on one line are walked in the order they are defined, whatever "
       "order their names were first met in",
       "<?php echo $zz . 'second'; function first() { exec(1); } function second() { system(2); }",
       {"1:exec:0(/)", "1:system:0(0)"},
       {"1:first:0()", "1:exec:0(/)", "1:second:0()", "1:system:0(0)"}},
      {"a definition inside evaluated code", "<?php eval('function e1($a) { system($a); }'); e1($_GET['x']);",
       {"1:eval:0(function e1($a) { system($a); })", "1:qz_array_item:0($_GET|x)", "1:system:0($_GET_DATA)", "1:e1:0($_GET_DATA)"},
       {"1:e1:0($a)", "1:system:0($a)", "1:eval:0(function e1($a) { system($a); })", "1:qz_array_item:0($_GET|x)",
        "1:e1:0($_GET_DATA)"}},
      {"a by-reference parameter writes back to a plain variable only (the call shows the value it ended with)",
       "<?php function t(&$v) { $v = $v . 't'; } $a = 'asser'; t($a); $a($_GET['c']); t($_GET['d']); f($_GET['d']);",
       {"1:t:0(assert)", "1:qz_array_item:0($_GET|c)", "1:assert:2($_GET_DATA)", "1:qz_array_item:0($_GET|d)",
        "1:t:0($_GET_DATA)", "1:qz_array_item:0($_GET|d)", "1:f:0($_GET_DATA)"},
       {"1:t:0($v)", "1:t:0(asser)", "1:qz_array_item:0($_GET|c)", "1:asser:1($_GET_DATA)", "1:qz_array_item:0($_GET|d)",
        "1:t:0($_GET_DATA)", "1:qz_array_item:0($_GET|d)", "1:f:0($_GET_DATA)"}},
      {"calls inside a body keep their own lines; a second call with arguments of the same kinds "
       "is walked for its value only",
       "<?php\nfunction w($x) {\n  k($x);\n  return $x;\n}\nw(1);\nf(w('sys'));\nw($_GET['a']);\n",
       {"3:k:0(/)", "6:w:0(/)", "7:w:0(sys)", "7:f:0(sys)", "8:qz_array_item:0($_GET|a)", "3:k:0($_GET_DATA)",
        "8:w:0($_GET_DATA)"},
       {"2:w:0($x)", "3:k:0($x)", "6:w:0(/)", "7:w:0(sys)", "7:f:0()", "8:qz_array_item:0($_GET|a)",
        "8:w:0($_GET_DATA)"}},
  });
  // clang-format on
}

TEST_F(Reach, CodeThatDoesNotLookLikeCalls) {
  // clang-format off
  check({
      {"an anonymous function reads as its own name and runs when called",
       "<?php $g = function($q) use ($z) { passthru($q); }; $g($_COOKIE['z']); $h = function() { exec('ls'); };",
       {"1:qz_array_item:0($_COOKIE|z)", "1:passthru:0($_COOKIE_DATA)", "1:qz_closure_1:1($_COOKIE_DATA)", "1:exec:0(ls)"},
       {"1:function:0($q)", "1:use:0($z)", "1:passthru:0($q)", "1:qz_array_item:0($_COOKIE|z)", "1:$g:0($_COOKIE_DATA)",
        "1:function:0()", "1:exec:0(ls)"}},
      {"callbacks are called with what they would get",
       "<?php ob_start('assert'); array_map('system', $_POST); call_user_func($_GET['f'], $_GET['a']);",
       {"1:assert:0()", "1:ob_start:0(assert)", "1:system:0($_POST_DATA)", "1:array_map:0(system|$_POST)",
        "1:qz_array_item:0($_GET|f)", "1:qz_array_item:0($_GET|a)", "1:$_GET_DATA:0($_GET_DATA)",
        "1:call_user_func:0($_GET_DATA|$_GET_DATA)"},
       {"1:ob_start:0(assert)", "1:array_map:0(system|$_POST)", "1:qz_array_item:0($_GET|f)",
        "1:qz_array_item:0($_GET|a)", "1:call_user_func:0($_GET_DATA|$_GET_DATA)"}},
      {"array_map gives what its callback makes of each item; of a request array, a request array when the callback keeps the data",
       "<?php $n = implode('', array_map('chr', array(115, 121, 115))); function d($c) { return strrev($c); } "
       "$m = array_map('d', array('ab', 'cd')); $t = array_map('trim', $_POST); $i = array_map('intval', $_GET); "
       "f($n, $m[1], $t['x'], $i['y']);",
       {"1:array:0(n/|t/|n/)", "1:chr:0(n/)", "1:array_map:0(chr|qz_invalid_string)", "1:implode:0(|qz_invalid_string)",
        "1:array:0(ab|cd)", "1:strrev:0(ab)", "1:d:0(ab)", "1:array_map:0(d|qz_invalid_string)",
        "1:trim:0($_POST_DATA)", "1:array_map:0(trim|$_POST)", "1:intval:0($_GET_DATA)", "1:array_map:0(intval|$_GET)",
        "1:qz_array_item:0($m|/)", "1:qz_array_item:0($t|x)", "1:qz_array_item:0($i|y)",
        "1:f:0(sys|dc|$_POST_DATA|qz_invalid_string)"},
       {"1:array:0(n/|t/|n/)", "1:array_map:0(chr|qz_invalid_string)", "1:implode:0(|)", "1:d:0($c)", "1:strrev:0($c)",
        "1:array:0(ab|cd)", "1:array_map:0(d|qz_invalid_string)", "1:array_map:0(trim|$_POST)",
        "1:array_map:0(intval|$_GET)", "1:qz_array_item:0($m|/)", "1:qz_array_item:0($t|x)", "1:qz_array_item:0($i|y)",
        "1:f:0(|qz_invalid_string|qz_invalid_string|qz_invalid_string)"}},
      {"a session read handler gets the id the request's cookie chose",
       "<?php $h = 'assert'; session_set_save_handler('o', 'c', $h, 'w', 'd', 'g');",
       {"1:assert:0($_COOKIE_DATA)", "1:session_set_save_handler:0(o|c|assert|w|d|g)"},
       {"1:session_set_save_handler:0(o|c|assert|w|d|g)"}},
      {"a closure handed to a callback", "<?php preg_replace_callback('/x/', function($m) { exec($m); }, $_REQUEST['s']);",
       {"1:qz_array_item:0($_REQUEST|s)", "1:exec:0($_REQUEST_DATA)", "1:qz_closure_1:0($_REQUEST_DATA)",
        "1:preg_replace_callback:0(/x/|qz_closure_1|$_REQUEST_DATA)"},
       {"1:function:0($m)", "1:exec:0($m)", "1:preg_replace_callback:0(/x/||)", "1:qz_array_item:0($_REQUEST|s)"}},
      {"includes without parentheses are calls",
       "<?php include $_GET['p']; require_once 'http://x.test/a.txt'; include('a.php');",
       {"1:qz_array_item:0($_GET|p)", "1:include:0($_GET_DATA)", "1:require_once:0(http://x.test/a.txt)", "1:include:0(a.php)"},
       {"1:qz_array_item:0($_GET|p)", "1:include:0(a.php)"}},
      {"a quoted text is itself, whatever a constant or property of that name holds",
       "<?php define('c', 'zzz'); $o->k = 'q'; f('c', 'k', c); $a = array('k' => 'v'); g($a['k']); h(${'k'});",
       {"1:define:0(c|zzz)", "1:f:0(c|k|zzz)", "1:array:0(qz_invalid_string)", "1:qz_array_item:0($a|k)",
        "1:g:0(v)", "1:qz_var_var:0(k)", "1:h:0($k)"},
       {"1:define:0(zzz|zzz)", "1:f:0(zzz|q|zzz)", "1:array:0(qz_invalid_string)", "1:qz_array_item:0($a|q)",
        "1:g:0(qz_invalid_string)", "1:qz_var_var:0(q)", "1:h:0($q)"}},
      {"an include inside a statement takes the rest of it; the keyword keeps its name",
       "<?php $c = require 'config.php'; return include 'data://text/plain,' . $t; include('b.php');",
       {"1:require:0(config.php)", "1:include:0(data://text/plain,$t)", "1:include:0(b.php)"},
       {"1:include:0(b.php)"}},
      {"a character of a value the scan does not know is not known; past the end is empty",
       "<?php $f = array(); $f['a'][5]($_GET['c']); $s = 'abc'; g($s[1], $s[9]); h($s[-1], $s{-3}, $s[-4]);",
       {"1:array:0()", "1:qz_array_item:0($f|a)", "1:qz_array_item:0(qz_invalid_string|3)", "1:qz_array_item:0($_GET|c)",
        "1:" QZ_UNKNOWN_CALLEE ":0($_GET_DATA)", "1:qz_array_item:0(abc|/)", "1:qz_array_item:0(abc|7)", "1:g:0(b|)",
        "1:qz_array_item:0(abc|zzzzz1)", "1:qz_array_item:0(abc|xzzzz1)", "1:qz_array_item:0(abc|wzzzz1)",
        "1:h:0(c|a|)"},
       {"1:array:0()", "1:qz_array_item:0($f|a)", "1:qz_array_item:0(qz_invalid_string|3)", "1:qz_array_item:0($_GET|c)",
        "0:v:0($_GET_DATA)", "1:qz_array_item:0(abc|/)", "1:qz_array_item:0(abc|7)", "1:g:0(b| )",
        "1:qz_array_item:0(zzzzz1)", "1:qz_array_item:0(xzzzz1)", "1:qz_array_item:0(wzzzz1)", "1:h:0(||)"}},
      {"callees without text: one name, and the real line",
       "<?php $_GET['a']($_POST['b']); $f($x); f(1)(2);",
       {"1:qz_array_item:0($_GET|a)", "1:qz_array_item:0($_POST|b)", "1:$_GET_DATA:0($_POST_DATA)",
        "1:" QZ_UNKNOWN_CALLEE ":0($x)", "1:f:0(/)", "1:" QZ_UNKNOWN_CALLEE ":0(0)"},
       {"1:qz_array_item:0($_GET|a)", "1:qz_array_item:0($_POST|b)", "0:$_GET_DATA:0($_POST_DATA)", "1:$f:0($x)",
        "1:):0(0)", "1:f:0(/|)"}},
      {"a callee made from the script's own path is the one its file name spells; its text, or an "
       "argument made from the path, is not",
       "<?php $f = basename(__FILE__, '.php'); $f($_POST['c']); $g = substr(__dir__, -6); $g(1);\n"
       "$h = 'sys' . 'tem'; $h(dirname(__FILE__)); $u = f(); $u($_GET['x']);",
       {"1:basename:0(__FILE__|.php)", "1:qz_array_item:0($_POST|c)", "1:" QZ_OWN_NAME_CALLEE ":1($_POST_DATA)",
        "1:substr:0(__dir__|uzzzz1)", "1:" QZ_OWN_NAME_CALLEE ":1(/)", "2:dirname:0(__FILE__)", "2:system:1()",
        "2:f:0()", "2:qz_array_item:0($_GET|x)", "2:" QZ_UNKNOWN_CALLEE ":1($_GET_DATA)"},
       {"1:basename:0(__FILE__|.php)", "1:qz_array_item:0($_POST|c)", "1:$f:1($_POST_DATA)", "1:substr:0(uzzzz1)",
        "1:$g:1(/)", "2:dirname:0(__FILE__)", "2:system:1()", "2:f:0()", "2:qz_array_item:0($_GET|x)",
        "2:$u:1($_GET_DATA)"}},
      {"bitwise operators build names from texts; on numbers they compute",
       "<?php $f = '828?.&' ^ 'KKKKKK'; $f($_GET['c']); $g = ~\"\\x8c\\x86\\x8c\\x8b\\x9a\\x92\"; $g(1); "
       "f(6 ^ 3, 5 & 3, 4 | 1, ~0); $x = &$y; h($a & $b);",
       {"1:qz_array_item:0($_GET|c)", "1:system:1($_GET_DATA)", "1:system:1(/)", "1:f:0(3|/|3|zzzzz1)", "1:h:0()"},
       {"1:qz_array_item:0($_GET|c)", "1:$f:0($_GET_DATA)", "1:$g:0(/)", "1:f:0(4|KKKKKK|1|3|1|2|/|~0)",
        "1:h:0($a|$b)"}},
      {"a decoder loop runs its rounds quietly; a body without braces is one statement",
       "<?php $s = '828?.&'; $o = ''; for ($i = 0; $i < 6; $i++) { $o .= chr(ord($s[$i]) ^ 75); } "
       "$o($_GET['c']); for ($j = 0; $j < 3; $j++) g($j); h(1);",
       {"1:qz_array_item:0(828?.&|)", "1:ord:0(8)", "1:chr:0(n/)", "1:qz_array_item:0($_GET|c)",
        "1:system:7($_GET_DATA)", "1:g:0()", "1:h:0(/)"},
       {"1:for:0()", "1:qz_array_item:0(828?.&|/)", "1:ord:0(2)", "1:chr:0(m|^|9/)", "1:qz_array_item:0($_GET|c)",
        "1:2:2($_GET_DATA)", "1:for:0()", "1:g:0(/)", "1:h:0(/)"}},
      {"a loop without a condition runs until its break's condition holds; one without a break runs once",
       "<?php $s = 'tztufn'; $o = ''; $i = 0; while (true) { if ($i >= strlen($s)) break; "
       "$o .= chr(ord($s[$i]) - 1); $i++; } $o($_GET['c']); $j = 0; for (;;) { $j++; if ($j == 3) { break; } } "
       "f($j); $m = 0; while (1) { $m++; } g($m);",
       {"1:strlen:0(tztufn)", "1:if:0()", "1:qz_array_item:0(tztufn|)", "1:ord:0(t)", "1:chr:0(n/)",
        "1:qz_array_item:0($_GET|c)", "1:system:7($_GET_DATA)", "1:if:0()", "1:f:0(1)", "1:g:0(/)"},
       {"1:strlen:0(tztufn)", "1:if:0()", "1:qz_array_item:0(tztufn|)", "1:ord:0(t)", "1:chr:0(n/)",
        "1:qz_array_item:0($_GET|c)", "1:s:2($_GET_DATA)", "1:if:0()", "1:f:0(/)", "1:g:0(/)"}},
      {"a do-while loop runs while its condition holds; \"->do\" is a method",
       "<?php $s = 'tztufn'; $j = 0; $p = ''; do { $p .= chr(ord($s[$j]) - 1); $j++; } while ($j < strlen($s)); "
       "$p($_GET['d']); $n = 0; do $n++; while ($n < 4); f($n); $o->do(1); do { g(2); } while (false); h(3);",
       {"1:strlen:0(tztufn)", "1:qz_array_item:0(tztufn|)", "1:ord:0(t)", "1:chr:0(n/)", "1:qz_array_item:0($_GET|d)",
        "1:system:7($_GET_DATA)", "1:f:0(2)", "1:->do:0(/)", "1:g:0(0)", "1:h:0(1)"},
       {"1:qz_array_item:0(tztufn|)", "1:ord:0(t)", "1:chr:0(n/)", "1:strlen:0(tztufn)", "1:qz_array_item:0($_GET|d)",
        "1:s:2($_GET_DATA)", "1:f:0(/)", "1:do:0(/)", "1:g:0(0)", "1:h:0(1)"}},
      {"a bare word of high bytes under \"~\" reads as its own text",
       "<?php $x = ~\x8c\x86\x8c\x8b\x9a\x92; $x($_GET['c']);",
       {"1:qz_array_item:0($_GET|c)", "1:system:1($_GET_DATA)"},
       {"1:qz_array_item:0($_GET|c)", "1:~\x8c\x86\x8c\x8b\x9a\x92:1($_GET_DATA)"}},
      {"decoded text is walked as it decodes and reported with its origin",
       "<?php $f = base64_decode('c3lzdGVt'); $f($_GET['c']); $c = 'x' . base64_decode('ZygxKTs='); "
       "eval(base64_decode('ZygxKTs=')); h($c);",
       {"1:base64_decode:0(c3lzdGVt)", "1:qz_array_item:0($_GET|c)", "1:system:1($_GET_DATA)",
        "1:base64_decode:0(ZygxKTs=)", "1:base64_decode:0(ZygxKTs=)", "1:g:0(/)", "1:eval:0(g(1); qz_decoded)",
        "1:h:0(xg(1); qz_decoded)"},
       {"1:base64_decode:0(c3lzdGVt)", "1:qz_array_item:0($_GET|c)", "1:system:1($_GET_DATA)",
        "1:base64_decode:0(ZygxKTs=)", "1:base64_decode:0(ZygxKTs=)", "1:g:0(/)", "1:eval:0(g(1);)", "1:h:0(xg(1);)"}},
      {"a grouped value is the callee of the list after it",
       "<?php ('system')($_GET['x']); $f = 'passthru'; ($f)(1); (function($b) { exec($b); })($_COOKIE['w']);",
       {"1:qz_array_item:0($_GET|x)", "1:system:0($_GET_DATA)", "1:passthru:1(/)", "1:qz_array_item:0($_COOKIE|w)",
        "1:exec:0($_COOKIE_DATA)", "1:qz_closure_1:0($_COOKIE_DATA)"},
       {"1:qz_array_item:0($_GET|x)", "1:):0($_GET_DATA)", "1:):0(/)", "1:function:0($b)", "1:exec:0($b)",
        "1:qz_array_item:0($_COOKIE|w)", "1:):0($_COOKIE_DATA)"}},
      {"a group after a condition is the body, not a call of the condition",
       "<?php if ($k) ($_ = $_REQUEST['q']) . $_($_REQUEST['z']);",
       {"1:if:0($k)", "1:qz_array_item:0($_REQUEST|q)", "1:qz_array_item:0($_REQUEST|z)",
        "1:$_REQUEST_DATA:1($_REQUEST_DATA)"},
       {"1:qz_array_item:0($_REQUEST|q)", "1:):0($_REQUEST_DATA)", "1:qz_array_item:0($_REQUEST|z)",
        "1:$_REQUEST_DATA:1($_REQUEST_DATA)", "1:if:0($k|)"}},
      {"arrow functions are closures whose body returns the expression",
       "<?php $g = fn($c) => system($c); $g($_GET['a']); $h = fn($p): string => base64_decode($p); "
       "eval($h($_POST['z'])); usort($v, fn($a, $b) => f($a, $b)); $o->fn(1);",
       {"1:qz_array_item:0($_GET|a)", "1:system:0($_GET_DATA)", "1:qz_closure_1:1($_GET_DATA)",
        "1:qz_array_item:0($_POST|z)", "1:base64_decode:0($_POST_DATA)", "1:qz_closure_2:1($_POST_DATA)",
        "1:eval:0($_POST_DATA qz_decoded)", "1:f:0($a|$b)", "1:qz_closure_3:0(qz_invalid_string)",
        "1:usort:0($v|qz_closure_3)", "1:->fn:0(/)"},
       {"1:fn:0($c)", "1:system:0($c)", "1:qz_array_item:0($_GET|a)", "1:$g:0($_GET_DATA)", "1:fn:0($p)",
        "1:base64_decode:0($p)", "1:qz_array_item:0($_POST|z)", "1:$h:0($_POST_DATA)", "1:eval:0()",
        "1:fn:0($a|$b)", "1:f:0($a|$b)", "1:usort:0($v|qz_invalid_string)", "1:fn:0(/)"}},
      {"a closure that calls itself is walked once",
       "<?php $f = function($n) use (&$f) { k($n); return $f($n); }; $f($_GET['n']);",
       {"1:qz_array_item:0($_GET|n)", "1:k:0($_GET_DATA)", "1:qz_closure_1:1($_GET_DATA)",
        "1:qz_closure_1:1($_GET_DATA)"},
       {"1:function:0($n)", "1:use:0($f)", "1:k:0($n)", "1:$f:0($n)", "1:qz_array_item:0($_GET|n)",
        "1:$f:0($_GET_DATA)"}},
      {"new names the class it makes, with an argument list or without", "<?php $r = new ReflectionFunction($_GET['f']); $r->invoke(1); $o = new Foo;",
       {"1:qz_array_item:0($_GET|f)", "1:new ReflectionFunction:0($_GET_DATA)", "1:->invoke:0(/)", "1:new Foo:0()"},
       {"1:qz_array_item:0($_GET|f)", "1:ReflectionFunction:0($_GET_DATA)", "1:invoke:0(/)"}},
      {"a definition cut short by an unclosed string is read as before",
       "<?php\nfunction f($a) { if ($a == '\\') { g(1); } }\nf(1);", {"2:f:0($a)", "2:if:0()"},
       {"2:f:0($a)", "2:if:0(/)"}},
  });
  // clang-format on
}

// Names built by arithmetic on texts come out as PHP builds them only when
// every operator binds as PHP binds it.
TEST_F(Reach, OperatorsBindAsPhpBindsThem) {
  // clang-format off
  check({
      {"\".\" binds looser than arithmetic and tighter than comparisons",
       "<?php f(3 . 2 * 2, 'x' . 2 + 3, 1 + 2 . 3); g('a' . 'b' == 'ab');",
       {"1:f:0(34|x5|33)", "1:g:0(/)"},
       {"1:f:0(12|1|11)", "1:g:0(/)"}},
      {"bitwise operators bind looser than \".\" and arithmetic, \"&\" over \"^\" over \"|\"",
       "<?php $f = 'SYSTEM' ^ '   ' . '   '; $f($_GET['c']); f(6 & 3 + 1, 3 ^ 1 & 2, 1 | 2 ^ 3);",
       {"1:qz_array_item:0($_GET|c)", "1:system:1($_GET_DATA)", "1:f:0(2|1|/)"},
       {"1:qz_array_item:0($_GET|c)", "1:$f:0($_GET_DATA)", "1:f:0(4|2|1|      |/|0|/|0|      |1)"}},
      {"a key meeting a letter of the name leaves a NUL in the text, which XOR still reads",
       "<?php $k = \"\\x12\\x1b\\x10\\x10\\x00\\x0b\"; $f = $k ^ 'abcdef'; $f($_GET['c']); "
       "$g = \"\\0\" . 'xec'; $h = $g ^ \"e\\0\\0\\0\"; f(true . 'x'); $h(1);",
       {"1:qz_array_item:0($_GET|c)", "1:system:1($_GET_DATA)", "1:f:0(1x)", "1:exec:1(/)"},
       {"1:qz_array_item:0($_GET|c)", "1:$f:0($_GET_DATA)", "1:f:0(/x)", "1:$h:0(/)"}},
      {"\"~\" before a group inverts the group's whole value",
       "<?php $g = ~(\"\\x8c\\x86\" . \"\\x8c\\x8b\\x9a\\x92\"); $g($_GET['d']); $h = ~(~'ex' . ~'ec'); $h(1);",
       {"1:qz_array_item:0($_GET|d)", "1:system:1($_GET_DATA)", "1:exec:1(/)"},
       {"1:~:0(\x8C\x86\x8C\x8B\x9A\x92)", "1:qz_array_item:0($_GET|d)", "1:$g:1($_GET_DATA)",
        "1:~:0(~|ex|qz_invalid_stringec)", "1:$h:1(/)"}},
      {"\"%\" is the remainder, binding as \"*\" does, and \"%=\" assigns it",
       "<?php f(7 % 3, 2 + 7 % 3, -7 % 3, 5 % 0); $n = 10; $n %= 4; g($n);",
       {"1:f:0(/|1|zzzzz1|)", "1:g:0(0)"},
       {"1:f:0(5|1|0|8|2|3|)", "1:g:0(2)"}},
      {"a key cycled by \"%\" decodes a name",
       "<?php $k = 'abc'; $s = \"\\x12\\x1b\\x10\\x15\\x07\\x0e\"; $o = ''; "
       "for ($i = 0; $i < strlen($s); $i++) { $o .= chr(ord($s[$i]) ^ ord($k[$i % strlen($k)])); } $o($_GET['c']);",
       {"1:qz_array_item:0(\x12\x1B\x10\x15\a\xE|)", "1:ord:0(\x12)", "1:strlen:0(abc)", "1:qz_array_item:0(abc|)",
        "1:ord:0(a)", "1:chr:0(n/)", "1:qz_array_item:0($_GET|c)", "1:system:7($_GET_DATA)"},
       {"1:for:0()", "1:strlen:0(\x12\x1B\x10\x15\a\xE)", "1:qz_array_item:0(\x12\x1B\x10\x15\a\xE|/)",
        "1:ord:0(\x1B)", "1:strlen:0(abc)", "1:qz_array_item:0(abc|/|1)", "1:ord:0(b)", "1:chr:0(P|^|W/)",
        "1:qz_array_item:0($_GET|c)", "1:\x1B:2($_GET_DATA)"}},
      {"an array item's key and value are whole expressions, a ternary included",
       "<?php $a = array('k' => 'sys' . 'tem', 'n' => $u === null ? 'pass' . 'thru' : 'x', 'm' => 2 + 3); "
       "$a['k']($_GET['c']); g($a['n'], $a['m']);",
       {"1:array:0(qz_invalid_string|qz_invalid_string|qz_invalid_string)", "1:qz_array_item:0($a|k)",
        "1:qz_array_item:0($_GET|c)", "1:system:0($_GET_DATA)", "1:qz_array_item:0($a|n)", "1:qz_array_item:0($a|m)",
        "1:g:0(passthru|3)"},
       {"1:array:0(qz_invalid_stringtem|qz_invalid_string|null|pass|thrux|1)", "1:qz_array_item:0($a|k)",
        "1:qz_array_item:0($_GET|c)", "0:qz_invalid_string:0($_GET_DATA)", "1:qz_array_item:0($a|n)",
        "1:qz_array_item:0($a|m)", "1:g:0(qz_invalid_string|qz_invalid_string)"}},
      {"an assignment binds the item on its left, whatever waits before it",
       "<?php $t = 'x' . $s['k'] = $_POST['c']; eval($s['k']); $_GET['x'] && $r['k'] = trim($_GET['c']); eval($r['k']);",
       {"1:qz_array_item:0($s|k)", "1:qz_array_item:0($_POST|c)", "1:qz_array_item:0($s|k)", "1:eval:0($_POST_DATA)",
        "1:qz_array_item:0($_GET|x)", "1:qz_array_item:0($r|k)", "1:qz_array_item:0($_GET|c)", "1:trim:0($_GET_DATA)",
        "1:qz_array_item:0($r|k)", "1:eval:0($_GET_DATA)"},
       {"1:qz_array_item:0($s|k)", "1:qz_array_item:0($_POST|c)", "1:qz_array_item:0($s|k)", "1:eval:0(qz_invalid_string)",
        "1:qz_array_item:0($_GET|x)", "1:qz_array_item:0($r|k)", "1:qz_array_item:0($_GET|c)", "1:trim:0($_GET_DATA)",
        "1:qz_array_item:0($r|k)", "1:eval:0()"}},
  });
  // clang-format on
}

// A callee's name padded with whitespace, written as the global one or
// completed by the request is still the function it ends up naming.
TEST_F(Reach, NamesHiddenByWhitespaceOrNamespaces) {
  // clang-format off
  check({
      {"a function imported from a namespace is no definition of it",
       "<?php\nnamespace A;\nuse function array_map, sprintf;\narray_map('system', $_GET['c']);\nf(sprintf('%s', 'x'));",
       {"4:qz_array_item:0($_GET|c)", "4:system:0($_GET_DATA)", "4:array_map:0(system|$_GET_DATA)", "5:sprintf:0(%s|x)",
        "5:f:0(x)"},
       {"4:qz_array_item:0($_GET|c)", "4:array_map:0(system|$_GET_DATA)", "5:sprintf:0(%s|x)", "5:f:0()"}},
      {"trim strips PHP's whole set of blanks",
       "<?php $f = trim(\"\\x0b system\\n\\r\"); $f($_GET['a']); $g = rtrim(\"exec\\x0b\"); $g($_GET['b']);",
       {"1:trim:0(\v system\n\r)", "1:qz_array_item:0($_GET|a)", "1:system:1($_GET_DATA)", "1:rtrim:0(exec\v)",
        "1:qz_array_item:0($_GET|b)", "1:exec:1($_GET_DATA)"},
       {"1:trim:0(\v systemnr)", "1:qz_array_item:0($_GET|a)", "1:$f:1($_GET_DATA)", "1:rtrim:0(exec\v)",
        "1:qz_array_item:0($_GET|b)", "1:$g:1($_GET_DATA)"}},
      {"a callee built of text and request data is the request's choice; a method so built is not",
       "<?php $f = 'as' . $_GET['x']; $f($_POST['y']); ('sys' . $_COOKIE['t'] . 'em')(1); "
       "call_user_func(array($this, 'on' . $_GET['a']), 2); $d = base64_decode('YXNz') . $_GET['x']; $d(3);",
       {"1:qz_array_item:0($_GET|x)", "1:qz_array_item:0($_POST|y)", "1:$_GET_DATA:1($_POST_DATA)",
        "1:qz_array_item:0($_COOKIE|t)", "1:$_COOKIE_DATA:0(/)", "1:qz_array_item:0($_GET|a)",
        "1:array:0($this|on$_GET_DATA)", "1:->on$_GET_DATA:0(0)", "1:call_user_func:0(qz_invalid_string|0)",
        "1:base64_decode:0(YXNz)", "1:qz_array_item:0($_GET|x)", "1:$_GET_DATA:1(1)"},
       {"1:qz_array_item:0($_GET|x)", "1:qz_array_item:0($_POST|y)", "1:as$_GET_DATA:1($_POST_DATA)",
        "1:qz_array_item:0($_COOKIE|t)", "1:):0(/)", "1:qz_array_item:0($_GET|a)", "1:array:0($this|on$_GET_DATA)",
        "1:call_user_func:0(qz_invalid_string|0)", "1:base64_decode:0(YXNz)", "1:qz_array_item:0($_GET|x)",
        "1:ass$_GET_DATA:1(1)"}},
      {"a leading backslash names the global function; a namespace's own stays apart",
       "<?php \\system($_GET['a']); $g = '\\exec'; $g($_GET['b']); \\App\\system($_GET['c']);",
       {"1:qz_array_item:0($_GET|a)", "1:system:0($_GET_DATA)", "1:qz_array_item:0($_GET|b)", "1:exec:1($_GET_DATA)",
        "1:qz_array_item:0($_GET|c)", "1:\\App\\system:0($_GET_DATA)"},
       {"1:qz_array_item:0($_GET|a)", "1:\\system:0($_GET_DATA)", "1:qz_array_item:0($_GET|b)", "1:exec:1($_GET_DATA)",
        "1:qz_array_item:0($_GET|c)", "1:\\App\\system:0($_GET_DATA)"}},
  });
  // clang-format on
}

TEST_F(Reach, LiteralsReadAsPhpReadsThem) {
  // clang-format off
  check({
      {"integers in every base and with separators",
       "<?php f(0x61, 0b11, 0o17, 017, 1_000, 0x); g(chr(0x73) . chr(0171) . 'stem');",
       {"1:f:0(V/|1|D|D|cD|)", "1:chr:0(n/)", "1:chr:0(t/)", "1:g:0(system)"},
       {"1:f:0(|||F|/|)", "1:chr:0()", "1:chr:0(f0)", "1:g:0(\xABstem)"}},
      {"letters from an array's text, signs and text increments, as non-alphanumeric code builds names",
       "<?php $_ = ''; $_[+$_]++; $_ = $_ . ''; $a = $_[+'']; $a++; $z = 'Az'; $z++; $y = 'zz'; $y++; $n = '9'; $n++; "
       "f($_, $a, $z, $y, $n, -'3x', +$_GET['q']);",
       {"1:qz_array_item:0($_|)", "1:qz_array_item:0(Array|)", "1:qz_array_item:0($_GET|q)",
        "1:f:0(Array|B|Ba|aaa|8|xzzzz1|$_GET_DATA)"},
       {"1:qz_array_item:0()", "1:qz_array_item:0()", "1:qz_array_item:0($_GET|q)", "1:f:0(||Az|zz|)"}},
      {"ternaries: the branch holding request data, else the first; ?? and ?: fall back when unset",
       "<?php $c = $_GET['c'] ?? 'ls'; exec($c); $d = isset($_GET['d']) ? $_GET['d'] : 'pwd'; passthru($d); "
       "$e = $y ? 'a' . 'b' : 'c'; $g = $u ?: 'dflt'; f($e, $g); system($k ? base64_decode($_POST['x']) : 'id');",
       {"1:qz_array_item:0($_GET|c)", "1:exec:0($_GET_DATA)", "1:qz_array_item:0($_GET|d)", "1:isset:0($_GET_DATA)",
        "1:qz_array_item:0($_GET|d)", "1:passthru:0($_GET_DATA)", "1:f:0(ab|dflt)", "1:qz_array_item:0($_POST|x)",
        "1:base64_decode:0($_POST_DATA)", "1:system:0($_POST_DATA qz_decoded)"},
       {"1:qz_array_item:0($_GET|c)", "1:exec:0($c)", "1:qz_array_item:0($_GET|d)", "1:isset:0($_GET_DATA)",
        "1:qz_array_item:0($_GET|d)", "1:passthru:0($d)", "1:f:0($e|$g)", "1:qz_array_item:0($_POST|x)",
        "1:base64_decode:0($_POST_DATA)", "1:system:0($k|qz_decoded|id)"}},
      {"an assignment binds the variable just read; assignments chain from the right",
       "<?php $x = urldecode($a = '%73%79' . $b = '%73tem'); $x($_GET['c']); $p = $q = 'ls'; f($a, $b, $p, $q);",
       {"1:urldecode:0(%73%79%73tem)", "1:qz_array_item:0($_GET|c)", "1:system:1($_GET_DATA)",
        "1:f:0(%73%79%73tem|%73tem|ls|ls)"},
       {"1:urldecode:0(%73tem)", "1:qz_array_item:0($_GET|c)", "1:stem:1($_GET_DATA)", "1:f:0(%73tem|$b|ls|$q)"}},
      {"a string literal that starts with a dollar is text",
       "<?php $k = '$_GET'; $a = '<?php eval(' . \"$\" . '_POST[x]);'; f($k, $a, \"$\");",
       {"1:f:0($_GET|<?php eval($_POST[x]);|$)"}, {"1:f:0($_GET|$a)"}},
      {"spread and variadic dots; a request array as the callback",
       "<?php f(...$a); g(1, ...[2, 3]); function h(...$args) { k($args); } h(1); array_walk($x, $_POST);",
       {"1:f:0($a)", "1:array:0(0|1)", "1:g:0(/|qz_invalid_string)", "1:k:0(/)", "1:h:0(/)",
        "1:$_POST_DATA:0(qz_invalid_string)", "1:array_walk:0($x|$_POST)"},
       {"1:qz_array_item:0(qz_invalid_string/|0|1)", "1:k:0($args)", "1:h:0(/)", "1:array_walk:0($x|$_POST)"}},
      {"counters step and compound assignments combine",
       "<?php $i = 1; $i++; ++$i; f($i); $i += 2; $i -= 1; $i *= 5; $i /= 2; g($i); $s = 'a'; $s |= 'B'; h($s);",
       {"1:f:0(1)", "1:g:0(8)", "1:h:0(c)"}, {"1:f:0(/)", "1:g:0(/)", "1:h:0(a)"}},
      {"a while loop runs quietly while its condition holds",
       "<?php $s = '828?.&'; $o = ''; $i = 0; while ($i < strlen($s)) { $o .= chr(ord($s[$i]) ^ 75); $i++; } "
       "$o($_GET['c']); while (($l = fgets($fp)) !== false) echo $l; while (1) { k(1); }",
       {"1:strlen:0(828?.&)", "1:qz_array_item:0(828?.&|)", "1:ord:0(8)", "1:chr:0(n/)", "1:qz_array_item:0($_GET|c)",
        "1:system:7($_GET_DATA)", "1:fgets:0($fp)", "1:k:0(/)"},
       {"1:strlen:0(828?.&)", "1:qz_array_item:0(828?.&|)", "1:ord:0(8)", "1:chr:0(s|^|9/)", "1:qz_array_item:0($_GET|c)",
        "1:8:2($_GET_DATA)", "1:fgets:0($fp)", "1:(:0($_FILE_CONTENTS)", "1:k:0(/)"}},
      {"casts are dropped where a value begins; numbers join text in decimal",
       "<?php $a = (array) $_POST['x']; $b = array(1, 2); $c = (string)$_GET['q']; f($a, $c, 'base' . 64 . '_decode', 'x' . -12); g(array);",
       {"1:qz_array_item:0($_POST|x)", "1:array:0(/|0)", "1:qz_array_item:0($_GET|q)",
        "1:f:0($_POST_DATA|$_GET_DATA|base64_decode|x-12)", "1:g:0(array)"},
       {"1:=:0(array)", "1:qz_array_item:0($_POST|x)", "1:array:0(/|0)", "1:=:0(string)", "1:qz_array_item:0($_GET|q)",
        "1:f:0($a|$c|ozzzz1)", "1:g:0(array)"}},
      {"loops inside a function body run as they do at the top level",
       "<?php function d($h) { $o = ''; for ($i = 0; $i < strlen($h); $i += 2) { $o .= pack('C', hexdec(substr($h, $i, 2))); } "
       "return $o; } $f = d('73797374656d'); $f($_GET['c']);",
       {"1:substr:0(73797374656d||0)", "1:hexdec:0(73)", "1:pack:0(C|n/)", "1:d:0(73797374656d)",
        "1:qz_array_item:0($_GET|c)", "1:system:1($_GET_DATA)"},
       {"1:d:0($h)", "1:for:0()", "1:strlen:0($h)", "1:substr:0($h||0)", "1:hexdec:0()", "1:pack:0(C|)",
        "1:d:0(73797374656d)", "1:qz_array_item:0($_GET|c)", "1:$f:1($_GET_DATA)"}},
      {"text written to a file is walked only when it holds an opening tag",
       "<?php file_put_contents('a.log', 'note (x): ' . $_GET['a']); file_put_contents('b.php', '<?php system($_GET[c]);');",
       {"1:qz_array_item:0($_GET|a)", "1:file_put_contents:0(a.log|note (x): $_GET_DATA)", "1:qz_array_item:0($_GET|c)",
        "1:system:0($_GET_DATA)", "1:file_put_contents:0(b.php|<?php system($_GET[c]);)"},
       {"1:qz_array_item:0($_GET|a)", "1:note:0(x)", "1:file_put_contents:0(a.log|note (x): $_GET_DATA)",
        "1:qz_array_item:0($_GET|c)", "1:system:0($_GET_DATA)", "1:file_put_contents:0(b.php|<?php system($_GET[c]);)"}},
      {"fputs, fwrite's other name, follows the same rule: an SQL dump runs no backticks",
       "<?php $h = fopen('d.sql', 'w'); fputs($h, 'insert into `t` values (1);'); fputs($h, '<?php exec($_GET[c]);');",
       {"1:fopen:0(d.sql|w)", "1:fputs:0($_FILE_HANDLE d.sql|insert into `t` values (1);)", "1:qz_array_item:0($_GET|c)",
        "1:exec:0($_GET_DATA)", "1:fputs:0($_FILE_HANDLE d.sql|<?php exec($_GET[c]);)"},
       {"1:fopen:0(d.sql|w)", "1:values:0(/)", "1:fputs:0($_FILE_HANDLE|insert into `t` values (1);)",
        "1:qz_array_item:0($_GET|c)", "1:exec:0($_GET_DATA)", "1:fputs:0($_FILE_HANDLE|<?php exec($_GET[c]);)"}},
      {"an inequality is no assignment",
       "<?php $a = 'x'; f($a != 'y', $a !== 'y', $a); if ($_SERVER['HTTP_X'] != null) { exec('cmd ' . $_SERVER['HTTP_X']); }",
       {"1:f:0(/|/|x)", "1:qz_array_item:0($_SERVER|HTTP_X)", "1:if:0()", "1:qz_array_item:0($_SERVER|HTTP_X)",
        "1:exec:0(cmd $_SERVER_DATA_HTTP)"},
       {"1:f:0(y|/|y)", "1:qz_array_item:0($_SERVER|HTTP_X)", "1:if:0($_SERVER_DATA)", "1:qz_array_item:0($_SERVER|HTTP_X)",
        "1:exec:0(cmd null)"}},
      {"a sign where a value begins",
       "<?php f(substr('abcdef', -3), 1, -2, 3 - 1); $x = -5; h($x, -$x, +4);",
       {"1:substr:0(abcdef|xzzzz1)", "1:f:0(def|/|yzzzz1|0)", "1:h:0(vzzzz1|3|2)"},
       {"1:substr:0(xzzzz1)", "1:f:0(|zzzzz1|0)", "1:h:0(2)"}},
      {"short arrays are arrays, also as callbacks and names",
       "<?php $f = implode(['sys', 'tem']); $f($_GET['c']); call_user_func([$o, 'm'], 1); "
       "array_map(['K', 'n'], [2]); $a = [1, 2][0]; $b = $a[0];",
       {"1:array:0(sys|tem)", "1:implode:0(qz_invalid_string)", "1:qz_array_item:0($_GET|c)", "1:system:1($_GET_DATA)",
        "1:array:0($o|m)", "1:->m:0(/)", "1:call_user_func:0(qz_invalid_string|/)", "1:array:0(K|n)", "1:array:0(0)",
        "1:K::n:0(0)", "1:array_map:0(qz_invalid_string|qz_invalid_string)", "1:array:0(/|0)",
        "1:qz_array_item:0(qz_invalid_string|)", "1:qz_array_item:0($a|)"},
       {"1:qz_array_item:0(sys|tem)", "1:implode:0(qz_invalid_string)", "1:qz_array_item:0($_GET|c)", "1:$f:1($_GET_DATA)",
        "1:qz_array_item:0($o|m)", "1:call_user_func:0(qz_invalid_string|/)", "1:qz_array_item:0(K|n)",
        "1:qz_array_item:0(qz_invalid_string|0)", "1:array_map:0(_)", "1:qz_array_item:0($a|/|0)",
        "1:qz_array_item:0(qz_invalid_string|)", "1:qz_array_item:0($a|)"}},
      {"a callee whose value the engine could not know",
       "<?php $g = unknown_fn(); $h = implode('', $g); $h($_POST['p']);",
       {"1:unknown_fn:0()", "1:implode:0(|)", "1:qz_array_item:0($_POST|p)", "1:" QZ_UNKNOWN_CALLEE ":1($_POST_DATA)"},
       {"1:unknown_fn:0()", "1:implode:0(|)", "1:qz_array_item:0($_POST|p)", "1:$h:1($_POST_DATA)"}},
  });
  // clang-format on
}

TEST_F(Reach, MethodsAreNotGlobalFunctions) {
  // clang-format off
  check({
      {"method definitions and calls are told from functions",
       "<?php class SSH { function exec($command, $cb = null) { return $this->send($command); } "
       "static function run($c) { system($c); } } $db->exec($sql); exec($x); $s->exec($_GET['c']); "
       "SSH::run($_POST['p']); $n = Foo::class; if (1) { function g($q) { passthru($q); } } g($_COOKIE['k']);",
       {"1:->send:0($command)", "1:->exec:0($sql)", "1:exec:0($_REQUEST_DATA)", "1:qz_array_item:0($_GET|c)",
        "1:->send:0($_GET_DATA)", "1:->exec:0($_GET_DATA)", "1:qz_array_item:0($_POST|p)",
        "1:system:0($_POST_DATA)", "1:SSH::run:0($_POST_DATA)", "1:if:0(/)", "1:qz_array_item:0($_COOKIE|k)",
        "1:passthru:0($_COOKIE_DATA)", "1:g:0($_COOKIE_DATA)"},
       {"1:exec:0($command|null)", "1:send:0($command)", "1:run:0($c)", "1:system:0($c)", "1:exec:0($sql)",
        "1:exec:0($x)", "1:qz_array_item:0($_GET|c)", "1:exec:0($_GET_DATA)", "1:qz_array_item:0($_POST|p)",
        "1:run:0($_POST_DATA)", "1:if:0(/)", "1:g:0($q)", "1:passthru:0($q)", "1:qz_array_item:0($_COOKIE|k)",
        "1:g:0($_COOKIE_DATA)"}},
      {"a class's doc comment read through reflection; one far from its class is not its",
       "<?php /**\n * eval($_POST['c']);\n */\nclass T {}\n$r = new ReflectionClass('T'); $d = $r->getDocComment(); "
       "$p = strpos($d, 'e'); eval(substr($d, $p, 18)); /** far */\n\nclass U {} $q = new ReflectionClass('U'); f($q->getDocComment());",
       {"5:new ReflectionClass:0(T)", "5:->getDocComment:0()", "5:strpos:0(\n * eval($_POST['c']);\n |e)",
        "5:substr:0(\n * eval($_POST['c']);\n |2|G)", "5:qz_array_item:0($_POST|c)", "5:eval:0($_POST_DATA)",
        "5:eval:0(eval($_POST['c']);)", "7:new ReflectionClass:0(U)", "7:->getDocComment:0()", "7:f:0()"},
       {"5:ReflectionClass:0(T)", "5:getDocComment:0()", "5:strpos:0(|e)", "5:substr:0(||G)", "5:eval:0()",
        "7:ReflectionClass:0(U)", "7:getDocComment:0()", "7:f:0()"}},
      {"a constructor runs at new with its arguments; properties it sets are read by methods",
       "<?php class Runner extends B { function __construct($c) { $this->c = $c; } function go() { return shell_exec($this->c); } } "
       "class Other { function __construct() { f(1); } } $r = new Runner($_POST['c']); $r->go(); $o = new Other;",
       {"1:qz_array_item:0($_POST|c)", "1:new Runner:0($_POST_DATA)", "1:shell_exec:0($_POST_DATA)", "1:->go:0()",
        "1:f:0(/)", "1:new Other:0()"},
       {"1:__construct:0($c)", "1:go:0()", "1:shell_exec:0($c)", "1:__construct:0()", "1:f:0(/)",
        "1:qz_array_item:0($_POST|$c)", "1:Runner:0($_POST_DATA)", "1:go:0()"}},
      {"new without an argument list runs the constructor before the methods read what it set",
       "<?php class B { function __construct() { $this->c = $_POST['c']; } function run() { passthru($this->c); } } "
       "$b = new B; $b->run();",
       {"1:qz_array_item:0($_POST|c)", "1:new B:0()", "1:passthru:0($_POST_DATA)", "1:->run:0()"},
       {"1:__construct:0()", "1:qz_array_item:0($_POST|c)", "1:run:0()", "1:passthru:0($_POST_DATA)", "1:run:0()"}},
      {"a method no class has goes to __call or __callStatic with its name and arguments",
       "<?php class R { function __call($n, $a) { return call_user_func_array($n, $a); } } $r = new R; $r->system($_GET['c']); "
       "class S { static function __callStatic($n, $a) { eval($a[0]); } } S::anything($_POST['x']);",
       {"1:new R:0()", "1:qz_array_item:0($_GET|c)", "1:system:0($_GET_DATA)", "1:call_user_func_array:0(system|$a)",
        "1:->system:0($_GET_DATA)", "1:qz_array_item:0($_POST|x)", "1:qz_array_item:0($a|)", "1:eval:0($_POST_DATA)",
        "1:S::anything:0($_POST_DATA)"},
       {"1:__call:0($n|$a)", "1:call_user_func_array:0($n|$a)", "1:qz_array_item:0($_GET|c)", "1:system:0($_GET_DATA)",
        "1:__callStatic:0($n|$a)", "1:qz_array_item:0($a|)", "1:eval:0(qz_invalid_string)", "1:qz_array_item:0($_POST|x)",
        "1:anything:0($_POST_DATA)"}},
      {"an arrow is no comparison; chains and static properties",
       "<?php f($o->p->q(4)); self::$x->m(5); g($a > 3);",
       {"1:->q:0(2)", "1:f:0()", "1:->m:0(3)", "1:g:0()"},
       {"1:q:0(2)", "1:f:0()", "1:m:0(3)", "1:g:0(1)"}},
  });
  // clang-format on
}

// Loop rounds and function walks are bounded per loop or function and per
// scan: the first round of every loop is walked aloud whatever its
// condition, a call is reported every time while its body is walked only up
// to the bounds, and a scan bound names itself once.
TEST_F(Reach, LoopRoundsAndFunctionWalksAreBounded) {
  std::string loops = "<?php $n = 0;";
  for (int i = 0; i < 100; i++) loops += " for ($j = 0; $j < 99; $j++) { $n = $n + 1; k(1); }";
  loops += " f($n); for ($i = 0; $i > 1; $i++) { never(1); }";
  static_assert(100 * 98 > QZ_MAX_LOOP_ROUNDS_PER_SCAN && 99 < QZ_REACH_LOOP_MAX,
                "the scan bound is reached");
  // Nine kinds of argument pairs (request data, decoded text, other), each
  // called over and over: each kind is walked aloud once, up to the bound.
  std::string many_calls =
      "<?php function w($x, $y) { k($x); } $r = $_GET['r']; $d = base64_decode('eA==');";
  for (int i = 0; i < 1000; i++)
    for (const char* a : {"$r", "$d", "1"})
      for (const char* b : {"$r", "$d", "1"})
        many_calls += std::string(" w(") + a + ", " + b + ");";
  // A function that gives back decoded text reads a string table: its
  // callers each want one name, so it has a bound of its own.
  std::string table_reads = "<?php function t($i) { return base64_decode('c3lzdGVt'); }";
  for (int i = 0; i < 2 * QZ_MAX_WALKS_PER_DECODER; i++) table_reads += " k(t(1));";
  std::string hundred_thousand = "<?php function v($x) { k($x); }";
  for (int i = 0; i < 100000; i++) hundred_thousand += " v(1);";
  std::string many_functions = "<?php";
  for (int i = 0; i < QZ_MAX_FUNCTION_WALKS_PER_SCAN + 10; i++)
    many_functions += " function f" + std::to_string(i) + "() { k(1); }";
  std::string many_unassigned = "<?php";
  for (int i = 0; i < 3 * QZ_MAX_REQUEST_GLOBAL_CHECKS; i++)
    many_unassigned += " system($v" + std::to_string(i) + ");";
  // Variables asked about or cleaned into themselves spend nothing of the
  // bound on variables read as request data: the commands after them still
  // read as such.
  std::string many_asked = "<?php";
  for (int i = 0; i < 3 * QZ_MAX_REQUEST_GLOBAL_CHECKS; i++)
    many_asked += " isset($a" + std::to_string(i) + ");";
  for (int i = 0; i < 3 * QZ_MAX_REQUEST_GLOBAL_CHECKS; i++)
    many_asked += " $t" + std::to_string(i) + " = trim($t" + std::to_string(i) + ");";
  many_asked += " system($cmd); exec(\"$a1 -l\"); passthru($t1);";
  // array_map maps a short array item by item, a longer one not at all,
  // and once the scan has mapped its share, none.
  std::string maps = "<?php $s = str_split(str_repeat('a', " + std::to_string(QZ_ARRAY_MAP_ITEMS) +
                     ")); $l = str_split(str_repeat('b', " +
                     std::to_string(QZ_ARRAY_MAP_ITEMS + 1) +
                     ")); $m = array_map('strtoupper', $l); f($m[0]);";
  static_assert(QZ_ARRAY_MAP_ITEMS_PER_SCAN % QZ_ARRAY_MAP_ITEMS == 0,
                "whole arrays fill the share");
  for (int i = 0; i < QZ_ARRAY_MAP_ITEMS_PER_SCAN / QZ_ARRAY_MAP_ITEMS; i++)
    maps += " $m" + std::to_string(i) + " = array_map('strtoupper', $s); f($m" + std::to_string(i) +
            "[0]);";
  maps += " $z = array_map('strtoupper', array('c')); f($z[0]);";
  char digits[QZ_L64A_TEXT_SIZE];
  auto f_of = [&](long n) { return "f(" + std::string(php_l64a(n, digits)) + ")"; };
  const struct {
    const char* what;
    std::string script;
    std::vector<std::pair<std::string, long>> counts;  // calls, or a name and "(", and how often
  } rows[] = {
      {"loop rounds per scan",
       loops,
       {{"k(/)", 100}, {f_of(100 + QZ_MAX_LOOP_ROUNDS_PER_SCAN), 1}, {"never(/)", 1}}},
      {"loops that only a break could end are walked once",
       "<?php $n = 0; while (true) { $n = $n + 1; } for (;;) { $n = $n + 1; } f($n);",
       {{f_of(2), 1}}},
      {"walks per function", many_calls, {{"w(/|/)", 1000}, {"k(", QZ_MAX_WALKS_PER_FUNCTION}}},
      {"walks of a string table's reader",
       table_reads,
       {{"k(system qz_decoded)", QZ_MAX_WALKS_PER_DECODER}, {"k(", 2 * QZ_MAX_WALKS_PER_DECODER}}},
      {"a hundred thousand calls of one function",
       hundred_thousand,
       {{"v(/)", 100000}, {"k(/)", 1}}},
      {"walks per scan",
       many_functions,
       {{"k(/)", QZ_MAX_FUNCTION_WALKS_PER_SCAN}, {QZ_LIMIT_MARKER "(function_walks)", 1}}},
      {"variables asked about before a command",
       many_asked,
       {{"system($_REQUEST_DATA)", 1},
        {"exec($_REQUEST_DATA)", 1},
        {"passthru($_REQUEST_DATA)", 1},
        {"isset(", 3 * QZ_MAX_REQUEST_GLOBAL_CHECKS}}},
      {"items array_map maps per array and per scan",
       maps,
       {{"f(A)", QZ_ARRAY_MAP_ITEMS_PER_SCAN / QZ_ARRAY_MAP_ITEMS}, {"f(qz_invalid_string)", 2}}},
      {"unassigned variables of command calls read as request data per scan",
       many_unassigned,
       {{"system($_REQUEST_DATA)", QZ_MAX_REQUEST_GLOBAL_CHECKS},
        {"system(", 3 * QZ_MAX_REQUEST_GLOBAL_CHECKS}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Seen seen = run(row.script, QZ_OPT_INTERPRETER_REACH | QZ_OPT_LIMIT_FINDINGS);
    for (const auto& [call, n] : row.counts) EXPECT_EQ(count(seen, call), n) << call;
  }

  // A loop whose body is huge stops once its later rounds have walked the
  // scan's share of tokens, long before its round bound.
  std::string huge = "<?php $n = 0; for ($i = 0; $i < 99; $i++) { $n = $n + 1;";
  for (int i = 0; i < 50000; i++) huge += " k(1);";
  huge += " } f($n);";
  Seen seen = run(huge, QZ_OPT_INTERPRETER_REACH);
  long walked = 0;
  for (long n = 1; n <= QZ_REACH_LOOP_MAX && !walked; n++)
    if (seen.calls.back() == f_of(n)) walked = n;
  EXPECT_GE(walked, 2);
  EXPECT_LT(walked, 10);
}

// Strings, backticks and short tags read as PHP reads them become code.
TEST_F(Reach, StringsBecomeCode) {
  // clang-format off
  check({
      {"a callee built by interpolation", "<?php $c = \"sys\"; $d = \"tem\"; $f = \"$c$d\"; $f($_GET['x']);",
       {"1:qz_array_item:0($_GET|x)", "1:system:1($_GET_DATA)"}, {"1:qz_array_item:0($_GET|x)", "1:$c$d:1($_GET_DATA)"}},
      {"an array item in a string", "<?php $a['k'] = 'id'; system(\"{$a['k']} -u\");",
       {"1:qz_array_item:0($a|k)", "1:qz_array_item:0($a|k)", "1:system:0(id -u)"},
       {"1:qz_array_item:0($a|k)", "1:system:0({$a['k']} -u)"}},
      {"request data through a string", "<?php $c = $_POST['c']; eval(\"$c;\");",
       {"1:qz_array_item:0($_POST|c)", "1:eval:0($_POST_DATA;)"}, {"1:qz_array_item:0($_POST|c)", "1:eval:0($c;)"}},
      {"evaluated text built with a variable", "<?php $f = 'sys'; eval(\"{$f}tem('id');\");",
       {"1:system:0(id)", "1:eval:0(system('id');)"}, {"1:tem:0(id)", "1:eval:0({$f}tem('id');)"}},
      {"backtick command", "<?php $d = '/tmp'; $o = `ls -la $d`;", {"1:shell_exec:0(ls -la /tmp)"}, {}},
      {"escapes decoded before the call", "<?php $f = \"\\x73\\171st\\u{65}m\"; $f('id');",
       {"1:system:1(id)"}, {"1:s171stu{65}m:1(id)"}},
      {"short tag with code", "<?system($_GET['c']);", {"1:qz_array_item:0($_GET|c)", "1:system:0($_GET_DATA)"}, {}},
      {"xml declaration stays text", "<?xml version=\"1.0\"?>\nsystem('id');", {}, {}},
      {"heredoc command", "<?php $c = <<<EOT\nwhoami\nEOT;\nsystem($c);", {"4:system:0(whoami)"},
       {"4:system:0(whoami\n)"}},
  });
  // clang-format on
}

// Fifteen layers of eval(base64_decode('...')) around a shell: the outer
// literals are far longer than a token without the flag keeps.
TEST_F(Reach, NestedEncodedLayers) {
  const std::string script = "<?php " + codec::eval_layers("system($_GET['c']);", 15);
  ASSERT_GT(script.size(), static_cast<size_t>(QZ_LEX_TOKEN_MAX));
  const std::string shell = "system($_GET_DATA)";
  Seen on = run(script, QZ_OPT_FULL_DECODE | QZ_OPT_INTERPRETER_REACH);
  EXPECT_EQ(count(on, shell), 1) << on.joined();
  EXPECT_EQ(count(on, "eval("), 15);
  Seen off = run(script, QZ_OPT_FULL_DECODE);
  EXPECT_EQ(count(off, shell), 0) << off.joined();
}

// A literal past the per-string cap is cut there and reported as a limit.
TEST_F(Reach, StringCapIsALimit) {
  const std::string script =
      "<?php $a = '" + std::string(QZ_MAX_STRING_LENGTH + 1, 'a') + "'; f(strlen($a));";
  Seen seen = run(script, QZ_OPT_INTERPRETER_REACH | QZ_OPT_LIMIT_FINDINGS);
  // The integer's text as the engine reports it.
  const std::string cap_length =
      run("<?php f(" + std::to_string(QZ_MAX_STRING_LENGTH) + ");").calls.at(0);
  const std::vector<std::string> want = {QZ_LIMIT_MARKER "(string_length)",
                                         "strlen(" + std::string(QZ_MAX_STRING_LENGTH, 'a') + ")",
                                         cap_length};
  EXPECT_TRUE(seen.calls == want) << seen.joined();
  Seen quiet = run(script, QZ_OPT_INTERPRETER_REACH);
  EXPECT_EQ(count(quiet, QZ_LIMIT_MARKER "(string_length)"), 0);
}

// Decoded text that reads as code is walked where it is decoded, whichever
// sink it reaches, and a sink handed it next does not walk it again.
TEST_F(Reach, DecodedCodeIsWalkedWhereItIsDecoded) {
  const std::string stmts = codec::base64("$x = $_POST['a']; system($x);");
  const std::string marked = codec::base64("$y = 'v'; mark($y);");
  const std::string tagged = codec::base64("<?php note($_GET['n']); ?>");
  const std::string image = codec::base64("GIF89a;\xff\xfe\x01<?php passthru($_REQUEST['q']); ?>");
  const std::string noise = codec::base64("\x89PNG\r\n\x1a\n<?\x01\x02<?php \x05\x06\x07");
  const std::string definition = codec::base64("function zz($c) { return shell_exec($c); }");
  const std::vector<std::string> data = {
      codec::base64("hello world, a plain line of text"),
      codec::base64("system('id'); a call first"),
      codec::base64("for the record, $x = 1 is text"),
      codec::base64("$5 = a price, not a variable"),
      codec::base64("$a == $b compares, assigns nothing"),
      codec::base64("a page <b>quoting</b> <?php passthru($c); ?> as text")};
  std::string data_script = "<?php";
  std::vector<std::string> data_calls;
  std::vector<std::string> data_baseline;
  for (const std::string& d : data) {
    data_script += " f(base64_decode('" + d + "'));";
    for (auto* calls : {&data_calls, &data_baseline})
      calls->push_back("1:base64_decode:0(" + d + ")");
    data_calls.push_back("1:f:0(" + codec::unbase64(d) + " qz_decoded)");
    data_baseline.push_back("1:f:0(" + codec::unbase64(d) + ")");
  }
  // clang-format off
  check({
      {"decoded statements handed to a callee the walk cannot name",
       "<?php $c = base64_decode('" + stmts + "'); $g = $_GET['f']; $g($c);",
       {"1:base64_decode:0(" + stmts + ")", "1:qz_array_item:0($_POST|a)", "1:system:0($_POST_DATA)",
        "1:qz_array_item:0($_GET|f)", "1:$_GET_DATA:1($x = $_POST['a']; system($x); qz_decoded)"},
       {"1:base64_decode:0(" + stmts + ")", "1:qz_array_item:0($_GET|f)",
        "1:$_GET_DATA:1($x = $_POST['a']; system($x);)"}},
      {"the first eval of a decoded text, alone or after a closing tag, does not walk it again; a later one does",
       "<?php eval(base64_decode('" + marked + "')); eval('?>' . base64_decode('" + tagged + "')); "
       "eval(base64_decode('" + marked + "'));",
       {"1:base64_decode:0(" + marked + ")", "1:mark:0(v)", "1:eval:0($y = 'v'; mark($y); qz_decoded)",
        "1:base64_decode:0(" + tagged + ")", "1:qz_array_item:0($_GET|n)", "1:note:0($_GET_DATA)",
        "1:eval:0(?><?php note($_GET['n']); ?> qz_decoded)",
        "1:base64_decode:0(" + marked + ")", "1:mark:0(v)", "1:eval:0($y = 'v'; mark($y); qz_decoded)"},
       {"1:base64_decode:0(" + marked + ")", "1:mark:0(v)", "1:eval:0($y = 'v'; mark($y);)",
        "1:base64_decode:0(" + tagged + ")", "1:qz_array_item:0($_GET|n)", "1:note:0($_GET_DATA)",
        "1:eval:0(?><?php note($_GET['n']); ?>)",
        "1:base64_decode:0(" + marked + ")", "1:mark:0(v)", "1:eval:0($y = 'v'; mark($y);)"}},
      {"code after the tag of an image is walked; a tag in binary noise is none",
       "<?php $i = base64_decode('" + image + "'); $n = base64_decode('" + noise + "');",
       {"1:base64_decode:0(" + image + ")", "1:qz_array_item:0($_REQUEST|q)", "1:passthru:0($_REQUEST_DATA)",
        "1:base64_decode:0(" + noise + ")"},
       {"1:base64_decode:0(" + image + ")", "1:base64_decode:0(" + noise + ")"}},
      {"text that does not open as statements is data", data_script, data_calls, data_baseline},
      {"a function defined by decoded code is called later",
       "<?php $d = base64_decode('" + definition + "'); zz($_COOKIE['k']);",
       {"1:base64_decode:0(" + definition + ")", "1:qz_array_item:0($_COOKIE|k)", "1:shell_exec:0($_COOKIE_DATA)",
        "1:zz:0($_COOKIE_DATA)"},
       {"1:base64_decode:0(" + definition + ")", "1:qz_array_item:0($_COOKIE|k)", "1:zz:0($_COOKIE_DATA)"}},
      {"a text decoded again, in a loop or after it, is walked once",
       "<?php for ($i = 0; $i < 3; $i++) { $e = base64_decode('" + marked + "'); } $f = base64_decode('" + marked + "');",
       {"1:base64_decode:0(" + marked + ")", "1:mark:0(v)", "1:base64_decode:0(" + marked + ")"},
       {"1:for:0()", "1:base64_decode:0(" + marked + ")", "1:base64_decode:0(" + marked + ")"}},
  });
  // clang-format on
}

// Inflated code is walked once, where it is inflated, and reported as
// evaluated code: inside it the host's evaluation depth is 1.
std::vector<std::pair<std::string, unsigned long>> depth_seen;

unsigned char record_depth(unsigned long, unsigned long, char* name, unsigned long,
                           _fcall_argument*, unsigned long) {
  depth_seen.emplace_back(name, qz_engine_eval_depth());
  return 0;
}

TEST_F(Reach, InflatedCodeIsWalkedOnceAsEvaluatedCode) {
  const std::string packed =
      codec::base64(scan_record::deflate_with("$k = $_POST['k']; assert($k);", -15));
  const std::string script = "<?php eval(gzinflate(base64_decode('" + packed + "')));";
  const unsigned long options = QZ_OPT_INTERPRETER_REACH | QZ_OPT_FULL_DECODE;
  Seen on = run(script, options);
  EXPECT_EQ(count(on, "assert($_POST_DATA)"), 1) << on.joined();
  EXPECT_EQ(count(on, "eval("), 1);

  depth_seen.clear();
  scan_record::record(
      [&] {
        qz_engine_set_fcall_filter(record_depth);
        qz_engine_scan_buff(script.c_str());
      },
      options);
  const std::vector<std::pair<std::string, unsigned long>> want = {
      {"base64_decode", 0}, {"gzinflate", 0}, {"qz_array_item", 1}, {"assert", 1}, {"eval", 0}};
  EXPECT_EQ(depth_seen, want);
}

// Past QZ_MAX_DECODED_CODE_WALKS distinct texts nothing more is walked where
// it is decoded; such a text is still walked by the sink it reaches.
TEST_F(Reach, DecodedCodeWalksAreBounded) {
  std::string script = "<?php";
  const unsigned long texts = QZ_MAX_DECODED_CODE_WALKS + 6;
  for (unsigned long i = 0; i < texts; i++)
    script += " $d" + std::to_string(i) + " = base64_decode('" +
              codec::base64("$v = 'n" + std::to_string(i) + "'; mark($v);") + "');";
  script += " eval($d0); eval($d" + std::to_string(texts - 1) + ");";
  Seen on = run(script, QZ_OPT_INTERPRETER_REACH);
  EXPECT_EQ(count(on, "mark("), static_cast<long>(QZ_MAX_DECODED_CODE_WALKS) + 1) << on.joined();
  EXPECT_EQ(count(on, "mark(n0)"), 1);
  EXPECT_EQ(count(on, "mark(n" + std::to_string(texts - 1) + ")"), 1);
  EXPECT_EQ(count(on, "mark(n" + std::to_string(texts - 2) + ")"), 0);
}

// Code rebuilt from its tokens is the code: token_get_all hands it back
// whole, so the rebuilding loop's text is evaluated as it was.
TEST_F(Reach, TokensRebuildTheirCode) {
  const std::string code = "$q = $_GET[\"c\"]; passthru($q);";
  // clang-format off
  check({
      {"foreach over the tokens with a choice of text",
       "<?php $code = '" + code + "'; $out = ''; foreach (token_get_all($code) as $t) { $out .= is_array($t) ? $t[1] : $t; } eval($out);",
       {"1:token_get_all:0(" + code + ")", "1:is_array:0($t)", "1:qz_array_item:0($t|/)",
        "1:qz_array_item:0($_GET|c)", "1:passthru:0($_GET_DATA)", "1:eval:0(" + code + ")"},
       {"1:token_get_all:0(" + code + ")", "1:foreach:0(|as|$t)", "1:is_array:0($t)", "1:qz_array_item:0($t|/)", "1:eval:0()"}},
      {"a counted loop over the tokens by index",
       "<?php $c = '" + code + "'; $ts = token_get_all($c); $s = ''; for ($i = 0; $i < count($ts); $i++) { $s .= is_array($ts[$i]) ? $ts[$i][1] : $ts[$i]; } eval($s);",
       {"1:token_get_all:0(" + code + ")", "1:qz_array_item:0($ts|)", "1:is_array:0(qz_invalid_string)", "1:qz_array_item:0($ts|)",
        "1:qz_array_item:0(qz_invalid_string|/)", "1:qz_array_item:0($ts|)", "1:qz_array_item:0($_GET|c)", "1:passthru:0($_GET_DATA)",
        "1:eval:0(" + code + ")"},
       {"1:token_get_all:0(" + code + ")", "1:for:0()", "1:count:0()", "1:qz_array_item:0($ts|/)", "1:is_array:0(qz_invalid_string)",
        "1:qz_array_item:0($ts|/)", "1:qz_array_item:0(qz_invalid_string|/)", "1:qz_array_item:0($ts|/)", "1:eval:0()"}},
      {"request data rebuilt is request data",
       "<?php foreach (token_get_all($_POST['c']) as $t) { $s .= is_array($t) ? $t[1] : $t; } eval($s);",
       {"1:qz_array_item:0($_POST|c)", "1:token_get_all:0($_POST_DATA)", "1:is_array:0($t)", "1:qz_array_item:0($t|/)",
        "1:eval:0($_POST_DATA)"},
       {"1:qz_array_item:0($_POST|c)", "1:token_get_all:0($_POST_DATA)", "1:foreach:0(|as|$t)", "1:is_array:0($t)",
        "1:qz_array_item:0($t|/)", "1:eval:0($s)"}},
  });
  // clang-format on
}

// each() hands out the pairs of an array one by one and moves its pointer,
// as next, current, reset and end do.
TEST_F(Reach, ArrayPointerFunctions) {
  // clang-format off
  check({
      {"a while loop over each() joins the items",
       "<?php $a = array('sys', 'tem'); $s = ''; while (list(, $v) = each($a)) { $s .= $v; } $s($_GET['x']);",
       {"1:array:0(sys|tem)", "1:each:0($a)", "1:qz_array_item:0($_GET|x)", "1:system:3($_GET_DATA)"},
       {"1:array:0(sys|tem)", "1:list:0($v)", "1:each:0($a)", "1:qz_array_item:0($_GET|x)", "1:$v:2($_GET_DATA)"}},
      {"list() of each() takes the key and the value",
       "<?php $b = array('k' => 'exec'); list($k, $w) = each($b); $w($k); $p = each($b); f($p);",
       {"1:array:0(qz_invalid_string)", "1:each:0($b)", "1:exec:1(k)", "1:each:0($b)", "1:f:0()"},
       {"1:array:0(qz_invalid_string)", "1:list:0($k|$w)", "1:each:0($b)", "1:$w:0($k)", "1:each:0($b)", "1:f:0()"}},
      {"the pointer moves with next and is put back by reset and end",
       "<?php $n = array('a', 'b', 'c'); next($n); f(current($n), next($n), next($n), reset($n), end($n), pos($n));",
       {"1:array:0(a|b|c)", "1:next:0($n)", "1:current:0($n)", "1:next:0($n)", "1:next:0($n)", "1:reset:0($n)",
        "1:end:0($n)", "1:pos:0($n)", "1:f:0(b|c||a|c|c)"},
       {"1:array:0(a|b|c)", "1:next:0($n)", "1:current:0($n)", "1:next:0($n)", "1:next:0($n)", "1:reset:0($n)",
        "1:end:0($n)", "1:pos:0($n)", "1:f:0(|||||)"}},
      {"each() of request data gives its marker once",
       "<?php while (list($k, $v) = each($_POST)) { $c .= $v; } eval($c);",
       {"1:each:0($_POST)", "1:eval:0($_POST_DATA)"},
       {"1:list:0($k|$v)", "1:each:0($_POST)", "1:eval:0($c$v)"}},
  });
  // clang-format on
}

// A program started from an argument list is handed the items as its
// command line: the rules read them as one text.
TEST_F(Reach, ArgumentListsReadAsOneText) {
  // clang-format off
  check({
      {"request data, numbers and unknown items in a list; a request array whole",
       "<?php $a = array('-c', $_POST['c']); pcntl_exec('/bin/sh', $a); pcntl_exec('/bin/nice', array('-n', 5, $u, 'x')); "
       "pcntl_exec('/bin/ls', $_GET);",
       {"1:qz_array_item:0($_POST|c)", "1:array:0(-c|$_POST_DATA)", "1:pcntl_exec:0(/bin/sh|-c $_POST_DATA)",
        "1:array:0(-n|3|$u|x)", "1:pcntl_exec:0(/bin/nice|-n 5 x)", "1:pcntl_exec:0(/bin/ls|$_GET_DATA)"},
       {"1:qz_array_item:0($_POST|c)", "1:array:0(-c|$_POST_DATA)", "1:pcntl_exec:0(/bin/sh|$a)",
        "1:array:0(-n|3|$u|x)", "1:pcntl_exec:0(/bin/nice|qz_invalid_string)", "1:pcntl_exec:0(/bin/ls|$_GET)"}},
      {"a list that is no array, and other functions, keep their texts",
       "<?php pcntl_exec('/bin/true', '-v'); f('/bin/sh', array('-c', 'id'));",
       {"1:pcntl_exec:0(/bin/true|-v)", "1:array:0(-c|id)", "1:f:0(/bin/sh|qz_invalid_string)"},
       {"1:pcntl_exec:0(/bin/true|-v)", "1:array:0(-c|id)", "1:f:0(/bin/sh|qz_invalid_string)"}},
  });
  // clang-format on
}

// A mail function called while a loop body is walked is reported a second
// time, as sent once per round; the first call after the body is not.
TEST_F(Reach, MailInLoopBodiesIsReportedAsRepeated) {
  // clang-format off
  check({
      {"foreach bodies: braced, one statement, colon syntax",
       "<?php foreach ($l as $t) { mail($t, 's'); } mail('a', 'b'); foreach ($l as $t) mail($t, 'o'); mail('a', 'c'); "
       "foreach ($l as $t): if ($t) { mail($t, 'k'); } endforeach; mail('a', 'd');",
       {"1:mail:0($t|s)", "1:qz_call_in_loop:0(mail|$t|s)", "1:mail:0(a|b)", "1:mail:0($t|o)",
        "1:qz_call_in_loop:0(mail|$t|o)", "1:mail:0(a|c)", "1:if:0($t)", "1:mail:0($t|k)",
        "1:qz_call_in_loop:0(mail|$t|k)", "1:mail:0(a|d)"},
       {"1:foreach:0($l|as|$t)", "1:mail:0($t|s)", "1:mail:0(a|b)", "1:foreach:0($l|as|$t)", "1:mail:0($t|o)",
        "1:mail:0(a|c)", "1:foreach:0($l|as|$t)", "1:if:0($t)", "1:mail:0($t|k)", "1:mail:0(a|d)"}},
      {"a body inside a group, nested bodies, an empty body",
       "<?php if ($x) { foreach ($l as $t) mail($t, 'i'); } mail('a', 'g'); "
       "foreach ($l as $a) foreach ($a as $b) mail($b, 'n'); mail('a', 'h'); foreach ($l as $e); mail('a', 'e');",
       {"1:if:0($x)", "1:mail:0($t|i)", "1:qz_call_in_loop:0(mail|$t|i)", "1:mail:0(a|g)", "1:mail:0($b|n)",
        "1:qz_call_in_loop:0(mail|$b|n)", "1:mail:0(a|h)", "1:mail:0(a|e)"},
       {"1:if:0($x)", "1:foreach:0($l|as|$t)", "1:mail:0($t|i)", "1:mail:0(a|g)", "1:foreach:0($l|as|$a)",
        "1:foreach:0($a|as|$b)", "1:mail:0($b|n)", "1:mail:0(a|h)", "1:foreach:0($l|as|$e)", "1:mail:0(a|e)"}},
      {"a foreach over an array of several items walks its body itself",
       "<?php foreach (array('a@example.org', 'b@example.org') as $t) { mail($t, 'r'); } mail('c', 'after'); "
       "foreach (array($_POST['x'], 'y') as $u) mail($u, 's'); mail('d', 'after');",
       {"1:array:0(a@example.org|b@example.org)", "1:mail:0(a@example.org|r)",
        "1:qz_call_in_loop:0(mail|a@example.org|r)", "1:mail:0(c|after)", "1:qz_array_item:0($_POST|x)",
        "1:array:0($_POST_DATA|y)", "1:mail:0($_POST_DATA|s)", "1:qz_call_in_loop:0(mail|$_POST_DATA|s)",
        "1:mail:0(d|after)"},
       {"1:array:0(aexample.org|bexample.org)", "1:foreach:0(qz_invalid_string|as|$t)", "1:mail:0($t|r)",
        "1:mail:0(c|after)", "1:qz_array_item:0($_POST|x)", "1:array:0($_POST_DATA|y)",
        "1:foreach:0(qz_invalid_string|as|$u)", "1:mail:0($u|s)", "1:mail:0(d|after)"}},
      {"while, do and for rounds; a function called from a loop; other calls in a loop",
       "<?php function send($to) { mail($to, 'f'); } for ($i = 0; $i < 2; $i++) { send($_POST['r']); f($i); } "
       "while ($r = g()) { mb_send_mail($r, 'w'); } do { imap_mail('d', 'o'); } while (h()); mail('a', 'z');",
       {"1:qz_array_item:0($_POST|r)", "1:mail:0($_POST_DATA|f)", "1:qz_call_in_loop:0(mail|$_POST_DATA|f)",
        "1:send:0($_POST_DATA)", "1:f:0()", "1:g:0()", "1:mb_send_mail:0(|w)", "1:qz_call_in_loop:0(mb_send_mail||w)",
        "1:h:0()", "1:imap_mail:0(d|o)", "1:qz_call_in_loop:0(imap_mail|d|o)", "1:mail:0(a|z)"},
       {"1:send:0($to)", "1:mail:0($to|f)", "1:for:0()", "1:qz_array_item:0($_POST|r)", "1:send:0($_POST_DATA)",
        "1:f:0(/)", "1:g:0()", "1:mb_send_mail:0(|w)", "1:imap_mail:0(d|o)", "1:h:0()", "1:mail:0(a|z)"}},
  });
  // clang-format on
}

// A function named by characters picked one at a time from a longer text
// (an obfuscator's shuffled alphabet) is reported once more under
// qz_spelled_callee; any other way of building the name is not.
TEST_F(Reach, NamesSpelledFromPickedCharacters) {
  // clang-format off
  check({
      {"a callee spelled from picks of a text, also appended to the empty text",
       "<?php $s = 'dorx'; $f = $s[1] . $s[2] . $s[0]; $f('x'); "
       "$t = ''; $t .= $s[1]; $t .= $s[2]; $t .= $s[0]; $GLOBALS['k'] = $t; $GLOBALS['k']('y');",
       {"1:qz_array_item:0(dorx|/)", "1:qz_array_item:0(dorx|0)", "1:qz_array_item:0(dorx|)", "1:ord:1(x)",
        "1:qz_spelled_callee:0(ord|x)", "1:qz_array_item:0(dorx|/)", "1:qz_array_item:0(dorx|0)",
        "1:qz_array_item:0(dorx|)", "1:qz_array_item:0($GLOBALS|k)", "1:qz_array_item:0($GLOBALS|k)", "1:ord:0(y)",
        "1:qz_spelled_callee:0(ord|y)"},
       {"1:qz_array_item:0(dorx|/)", "1:qz_array_item:0(dorx|0)", "1:qz_array_item:0(dorx|)", "1:ord:1(x)",
        "1:qz_array_item:0(dorx|/)", "1:qz_array_item:0(dorx|0)", "1:qz_array_item:0(dorx|)",
        "1:qz_array_item:0($GLOBALS|k)", "1:qz_array_item:0($GLOBALS|k)", "0:ord:0(y)"}},
      {"a pick joined to other text, two picks, or a pick of a one-character text",
       "<?php $s = 'dorx'; $f = 'o' . $s[2] . $s[0]; $f('a'); $g = $s[1] . $s[2]; $g('b'); "
       "$c = 'd'; $h = $s[1] . $s[2] . $c[0]; $h('c');",
       {"1:qz_array_item:0(dorx|0)", "1:qz_array_item:0(dorx|)", "1:ord:1(a)", "1:qz_array_item:0(dorx|/)",
        "1:qz_array_item:0(dorx|0)", "1:or:1(b)", "1:qz_array_item:0(dorx|/)", "1:qz_array_item:0(dorx|0)",
        "1:qz_array_item:0(d|)", "1:ord:1(c)"},
       {"1:qz_array_item:0(dorx|0)", "1:qz_array_item:0(dorx|)", "1:ord:1(a)", "1:qz_array_item:0(dorx|/)",
        "1:qz_array_item:0(dorx|0)", "1:or:1(b)", "1:qz_array_item:0(dorx|/)", "1:qz_array_item:0(dorx|0)",
        "1:qz_array_item:0(d|)", "1:ord:1(c)"}},
  });
  // clang-format on
}

// Old PHP made every request item a variable of the script: after
// import_request_variables, and in top-level code for a code or command
// function handed a variable nothing could have set, that variable is
// request data. Function bodies, loops and evaluated code are left alone.
TEST_F(Reach, VariablesTheRequestDefines) {
  // clang-format off
  check({
      {"request variables imported", "<?php import_request_variables('gp'); system($cmd);",
       {"1:import_request_variables:0(gp)", "1:system:0($_POST_DATA)"},
       {"1:import_request_variables:0(gp)", "1:system:0($cmd)"}},
      {"a variable never assigned handed to a command or code function at the top level",
       "<?php if (isset($c)) { system($c); } eval($e); exec($argv); $d = f(); shell_exec($d); g($h);",
       {"1:isset:0($c)", "1:if:0()", "1:system:0($_REQUEST_DATA)", "1:eval:0($_REQUEST_DATA)", "1:exec:0($argv)",
        "1:f:0()", "1:shell_exec:0()", "1:g:0($h)"},
       {"1:isset:0($c)", "1:if:0()", "1:system:0($c)", "1:eval:0($e)", "1:exec:0($argv)", "1:f:0()",
        "1:shell_exec:0()", "1:g:0($h)"}},
      {"not in function or method bodies, loops or evaluated code",
       "<?php function r($p) { system($p); } class K { function m($q) { passthru($q); } } "
       "while (w()) { exec($x); } foreach ($l as $v) { popen($v, 'r'); } eval('system($z);');",
       {"1:w:0()", "1:exec:0($x)", "1:popen:0($v|r)", "1:system:0($z)", "1:eval:0(system($z);)", "1:system:0($p)",
        "1:passthru:0($q)"},
       {"1:r:0($p)", "1:system:0($p)", "1:m:0($q)", "1:passthru:0($q)", "1:w:0()", "1:exec:0($x)",
        "1:foreach:0($l|as|$v)", "1:popen:0($v|r)", "1:system:0($z)", "1:eval:0(system($z);)"}},
      {"not after an include", "<?php include 'conf.php'; system($a);",
       {"1:include:0(conf.php)", "1:system:0($a)"}, {"1:system:0($a)"}},
      {"cleaned into itself from nothing, then handed to a command or code function",
       "<?php if ($a == 'go') { $cmd = stripslashes($cmd); system($cmd); } $e = trim($e); eval($e);",
       {"1:if:0()", "1:stripslashes:0($cmd)", "1:system:0($_REQUEST_DATA)", "1:trim:0($e)",
        "1:eval:0($_REQUEST_DATA)"},
       {"1:if:0()", "1:stripslashes:0($cmd)", "1:system:0(qz_invalid_string)", "1:trim:0($e)", "1:eval:0()"}},
      {"not cleaned from a value, after a second value, in a loop or in a function",
       "<?php $c = 'ls'; $c = trim($c); exec($c); if ($x) { $d = trim($d); } else { $d = 'id'; }\n"
       "exec($d); while (f()) { $w = trim($w); exec($w); } function g() { $v = trim($v); exec($v); }",
       {"1:trim:0(ls)", "1:exec:0(ls)", "1:if:0($x)", "1:trim:0($d)", "2:exec:0(id)", "2:f:0()",
        "2:trim:0($w)", "2:exec:0(qz_invalid_string)", "2:trim:0($v)", "2:exec:0(qz_invalid_string)"},
       {"1:trim:0(ls)", "1:exec:0()", "1:if:0($x)", "1:trim:0($d)", "2:exec:0(id)", "2:f:0()", "2:trim:0($w)",
        "2:exec:0()", "2:g:0()", "2:trim:0($v)", "2:exec:0()"}},
      {"asked about from nothing, then joined into a command or code",
       "<?php if (empty($cmd)) exit; system(\"$cmd 2>&1\"); if (isset($c, $e)) eval('return ' . $e . ';');",
       {"1:empty:0($cmd)", "1:if:0()", "1:system:0($_REQUEST_DATA)", "1:isset:0($c|$e)", "1:if:0()",
        "1:eval:0($_REQUEST_DATA)"},
       {"1:empty:0($cmd)", "1:if:0()", "1:system:0($cmd 2>&1)", "1:isset:0($c|$e)", "1:if:0()",
        "1:eval:0(return $e;)"}},
      {"not once assigned, for another name, in a loop or a function, or when never asked about",
       "<?php if (!isset($a)) $a = 'ls'; exec(\"$a -l\"); if (isset($p)) exec(\"$pp -l\");\n"
       "foreach ($l as $q) { if (isset($r)) exec(\"$r -l\"); } function g() { if (isset($s)) exec(\"$s -l\"); }\n"
       "exec('cd /tmp; ' . $line);",
       {"1:isset:0($a)", "1:if:0()", "1:exec:0(ls -l)", "1:isset:0($p)", "1:if:0()", "1:exec:0($pp -l)",
        "2:isset:0($r)", "2:if:0()", "2:exec:0($r -l)", "3:exec:0(cd /tmp; $line)", "2:isset:0($s)", "2:if:0()",
        "2:exec:0($s -l)"},
       {"1:isset:0($a)", "1:if:0()", "1:exec:0($a -l)", "1:isset:0($p)", "1:if:0()", "1:exec:0($pp -l)",
        "2:foreach:0($l|as|$q)", "2:isset:0($r)", "2:if:0()", "2:exec:0($r -l)", "2:g:0()", "2:isset:0($s)",
        "2:if:0()", "2:exec:0($s -l)", "3:exec:0(cd /tmp; $line)"}},
      {"an item of an array variable never assigned, at the top level",
       "<?php @eval($_FILE['name']); system($cmd['c']);",
       {"1:qz_array_item:0($_FILE|name)", "1:eval:0($_REQUEST_DATA)", "1:qz_array_item:0($cmd|c)",
        "1:system:0($_REQUEST_DATA)"},
       {"1:qz_array_item:0($_FILE|name)", "1:eval:0(qz_invalid_string)", "1:qz_array_item:0($cmd|c)",
        "1:system:0(qz_invalid_string)"}},
      {"not an item of an array written or assigned, or read in a function",
       "<?php $o['c'] = strtolower(f()); system($o['c']); $p = g(); exec($p['c']);\n"
       "function h() { passthru($q['c']); } h();",
       {"1:qz_array_item:0($o|c)", "1:f:0()", "1:strtolower:0()", "1:qz_array_item:0($o|c)",
        "1:system:0(qz_invalid_string)", "1:g:0()", "1:qz_array_item:0($p|c)", "1:exec:0(qz_invalid_string)",
        "2:qz_array_item:0($q|c)", "2:passthru:0(qz_invalid_string)", "2:h:0()"},
       {"1:qz_array_item:0($o|c)", "1:f:0()", "1:strtolower:0()", "1:qz_array_item:0($o|c)",
        "1:system:0(qz_invalid_string)", "1:g:0()", "1:qz_array_item:0($p|c)", "1:exec:0(qz_invalid_string)",
        "2:h:0()", "2:qz_array_item:0($q|c)", "2:passthru:0(qz_invalid_string)", "2:h:0()"}},
      {"not after a variable named at run time", "<?php $n = f(); $$n = 1; system($b);",
       {"1:f:0()", "1:system:0($b)"}, {"1:f:0()", "1:system:0($b)"}},
      {"not after a write through $GLOBALS", "<?php $GLOBALS['k'] = 'id'; system($k);",
       {"1:qz_array_item:0($GLOBALS|k)", "1:system:0($k)"}, {"1:qz_array_item:0($GLOBALS|k)", "1:system:0($k)"}},
      {"not after extract of data of the script's", "<?php extract($conf); system($c);",
       {"1:extract:0($conf)", "1:system:0($c)"}, {"1:extract:0($_POST_DATA)", "1:system:0($_POST_DATA)"}},
  });
  // clang-format on
}

// "f(...$a)" passes the items of $a as arguments of their own, as "[...$a]"
// puts them in the new array; a request array whose items the scan does not
// know passes request data in the first places, where callbacks go.
TEST_F(Reach, SpreadArraysAreArguments) {
  // clang-format off
  check({
      {"a known array and a request array spread into calls",
       "<?php $a = array('assert', $_POST['x']); call_user_func(...$a); usort(...$_GET);",
       {"1:qz_array_item:0($_POST|x)", "1:array:0(assert|$_POST_DATA)", "1:assert:0($_POST_DATA)",
        "1:call_user_func:0(assert|$_POST_DATA)", "1:$_GET_DATA:0($_GET_DATA)",
        "1:usort:0($_GET_DATA|$_GET_DATA|$_GET_DATA)"},
       {"1:qz_array_item:0($_POST|x)", "1:array:0(assert|$_POST_DATA)"}},
      {"unpacked into an array literal; a value that is no array passes as it is",
       "<?php $b = ['ls', '-l']; $c = [...$b, '/tmp']; exec(implode(' ', $c)); f(...$s);",
       {"1:array:0(ls|-l)", "1:array:0(ls|-l|/tmp)", "1:implode:0( |$c)", "1:exec:0(ls -l /tmp)", "1:f:0($s)"},
       {"1:qz_array_item:0($b|ls|-l)", "1:implode:0( |$c)", "1:exec:0()"}},
  });
  // clang-format on
}

// A file the script writes and then includes runs what was written: the
// include is reported once more with that text, whether the file was written
// whole, in appended pieces or through a handle.
TEST_F(Reach, FilesWrittenThenIncluded) {
  // clang-format off
  check({
      {"written whole, then appended to, then required",
       "<?php file_put_contents('README', '<?php '); file_put_contents('README', $_GET['c'], FILE_APPEND); require 'README';",
       {"1:file_put_contents:0(README|<?php )", "1:qz_array_item:0($_GET|c)",
        "1:file_put_contents:0(README|$_GET_DATA|FILE_APPEND)", "1:require:0(README)",
        "1:qz_include_written:0(<?php $_GET_DATA|README)"},
       {"1:file_put_contents:0(README|<?php )", "1:qz_array_item:0($_GET|c)",
        "1:file_put_contents:0(README|$_GET_DATA|FILE_APPEND)"}},
      {"written through a handle; a file named without its folder",
       "<?php $h = fopen('x.php', 'w'); fwrite($h, $_POST['p']); fclose($h); include('x.php');\n"
       "file_put_contents($dir . '/k.txt', 'A'); include 'k.txt';",
       {"1:fopen:0(x.php|w)", "1:qz_array_item:0($_POST|p)", "1:fwrite:0($_FILE_HANDLE x.php|$_POST_DATA)",
        "1:fclose:0($_FILE_HANDLE x.php)", "1:include:0(x.php)", "1:qz_include_written:0($_POST_DATA|x.php)",
        "2:file_put_contents:0($dir/k.txt|A)", "2:include:0(k.txt)", "2:qz_include_written:0(A|$dir/k.txt)"},
       {"1:fopen:0(x.php|w)", "1:qz_array_item:0($_POST|p)", "1:fwrite:0($_FILE_HANDLE|$_POST_DATA)",
        "1:fclose:0($_FILE_HANDLE)", "1:include:0(x.php)", "2:file_put_contents:0($dir/k.txt|A)"}},
      {"not another file, nor a file written again without FILE_APPEND or opened with w",
       "<?php file_put_contents('a.php', $_GET['a']); include 'b.php'; file_put_contents('a.php', 'fixed');\n"
       "include 'a.php'; $h = fopen('a.php', 'w'); include 'a.php';",
       {"1:qz_array_item:0($_GET|a)", "1:file_put_contents:0(a.php|$_GET_DATA)", "1:include:0(b.php)",
        "1:file_put_contents:0(a.php|fixed)", "2:include:0(a.php)", "2:qz_include_written:0(fixed|a.php)",
        "2:fopen:0(a.php|w)", "2:include:0(a.php)", "2:qz_include_written:0(|a.php)"},
       {"1:qz_array_item:0($_GET|a)", "1:file_put_contents:0(a.php|$_GET_DATA)", "1:file_put_contents:0(a.php|fixed)",
        "2:fopen:0(a.php|w)"}},
  });
  // clang-format on
}

// unserialize rebuilds objects with the fields its text names, and PHP then
// runs their hooks (__wakeup, __destruct...) by itself: after request data
// was unserialized, a field nothing assigned that such a hook hands to a
// code or command function holds what the request sent.
TEST_F(Reach, FieldsOfObjectsTheRequestRebuilt) {
  // clang-format off
  check({
      {"a destructor evaluates a field",
       "<?php class E { public $v = ''; function __destruct() { eval($this->v); } } unserialize($_GET['s']);",
       {"1:qz_array_item:0($_GET|s)", "1:unserialize:0($_GET_DATA)", "1:eval:0($_REQUEST_DATA)"},
       {"1:__destruct:0()", "1:eval:0(v)", "1:qz_array_item:0($_GET|s)", "1:unserialize:0($_GET_DATA)"}},
      {"a wakeup hook runs a field through a method, after decoded request data",
       "<?php class J { public $c; function __WAKEUP() { $this->go(); } function go() { system($this->c); } }\n"
       "$o = unserialize(base64_decode($_POST['j']));",
       {"2:qz_array_item:0($_POST|j)", "2:base64_decode:0($_POST_DATA)", "2:unserialize:0($_POST_DATA qz_decoded)",
        "1:system:0($_REQUEST_DATA)", "1:->go:0()"},
       {"1:__WAKEUP:0()", "1:go:0()", "1:go:0()", "1:system:0(c)", "2:qz_array_item:0($_POST|j)",
        "2:base64_decode:0($_POST_DATA)", "2:unserialize:0(qz_decoded)"}},
      {"not a field the scan assigned, an ordinary method or a call that runs nothing",
       "<?php class T { function __toString() { $this->d = 'date'; return system($this->d); }\n"
       "function run() { exec($this->x); } function __destruct() { fclose($this->fp); } }\n"
       "unserialize($_COOKIE['t']);",
       {"3:qz_array_item:0($_COOKIE|t)", "3:unserialize:0($_COOKIE_DATA)", "1:system:0(date)", "2:exec:0(x)",
        "2:fclose:0(fp)"},
       {"1:__toString:0()", "1:system:0(date)", "2:run:0()", "2:exec:0(x)", "2:__destruct:0()", "2:fclose:0(fp)",
        "3:qz_array_item:0($_COOKIE|t)", "3:unserialize:0($_COOKIE_DATA)"}},
      {"not when what was unserialized came from a file",
       "<?php class C { function __destruct() { eval($this->code); } } unserialize(file_get_contents('c.ser'));",
       {"1:file_get_contents:0(c.ser)", "1:unserialize:0($_FILE_CONTENTS)", "1:eval:0(code)"},
       {"1:__destruct:0()", "1:eval:0(code)", "1:file_get_contents:0(c.ser)", "1:unserialize:0($_FILE_CONTENTS)"}},
  });
  // clang-format on
}

}  // namespace
