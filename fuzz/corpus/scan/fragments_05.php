'${<<<'X'
$_FILES['f']['n']€ä<<<
$<sf(EOT;$EOT;eval(}--eval('f(1);')//\x4<<<'X'
${*/{}X
\x4f(function\x4$farray(*/&<? <<<
++=--<<<
$$a€ä#99999999999999999999${${{eval('f(1);')'abc'<? =>/*#<?php eval(EOT;++#<<<
?>'$$aÿ?>$€ä<s${\++++<?Php extract(=while=ÿ<?= f(<<<'X'
system<s\<<<
)$_FILES['f']['n']{eval(-*/€ä=><<<EOT
 X
 1ÿ999999999999999999991\x4<swhile'*/|'=->->
[EOT;<<<'X'
while=$_GET['a']$$af(<s&EOT;