&99999999999999999999<<<EOT
<?Php -&$$a\x4extract(f(($=<<<EOT
#//<sÿ#1<?php $_GET['a']-.=system<?= [system$'abc'?>1<s++#=.=&$_FILES['f']['n']| extract($f'abc'?>;<<<'X'
$f<<<
'abc'++]array(f({X
.='$$a<?php EOT;while$_FILES['f']['n']$\*/ <?= ,$f<script language=php>1[\<<<'X'
$_FILES['f']['n']while (1#"${--$_FILES['f']['n'] X
$$a.=function//array(
 /*['abc''abc'X
<?Php --$$a]function=*/array(<?php $$a<?Php \---#<script language=php>$_FILES['f']['n']$$a#->99999999999999999999 