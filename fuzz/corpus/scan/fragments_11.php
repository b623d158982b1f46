[[---$_GET['a']"EOT;*/{=>\x<? eval(X
<?Php \x<?php 1
€äsystem1;extract(€ä$_FILES['f']['n']<? .=${\<s$_GET['a']{f(->{;system<?= <<<
($<<<EOT
$_FILES['f']['n']\x4while]'/*$f<? EOT;&array(--<s<?Php 1<?Php \x<<<'X'
\xÿ |system/*while#eval(}?>\x//whileX
(EOT;€ä$f?>;ÿ //${]?>++&<<<
array(]array("<?Php '\x<<<
'<script language=php><<<EOT
<?php EOT;${<script language=php> ÿ)array(€äX
(/*99999999999999999999function