<<<
$ff(<? =>=--.=/*eval('f(1);')]$_GET['a']\x=<<<EOT
ÿ<?php ->#EOT;//$_GET['a']-.=->array(<?Php {1(1}X
-<script language=php>#€äsystem<s--$1)${*/==>99999999999999999999)--systemf(,}1<?Php /*'X
\x,$99999999999999999999->$_GET['a']\//$_GET['a'].='abc'<<<'X'
"=-'€äX
<script language=php>extract(while ({EOT;eval('f(1);')&<? <?Php &<<<
]]array(--
)function'abc'array(€ä?><?= <? {${X

f(<script language=php>"|f(/*|X
\x,extract(-