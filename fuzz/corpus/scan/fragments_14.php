while}--$f$f--<sX
<<<'X'
?>,#${[;<s++|extract($$a;$f${<<<EOT
€ä\$_FILES['f']['n']'system'abc'?>array(eval('f(1);')while (/*EOT;--f(while (}X
<<<
<?Php extract(=>$ '<<<
?>\x4array()<?php 
f(#|${ÿ.=$_FILES['f']['n']$$a["<?= ?>€ä\<?Php ${"99999999999999999999-><script language=php>ÿ?>system<? <?= €ä'#system&while<?Php \?>"}while ($_GET['a']array(f(]$f]€ä$_GET['a']<<<EOT
eval('f(1);')<<<'X'
=>€ä[function99999999999999999999$\x4//-<<<'X'

$_GET['a']<? \,