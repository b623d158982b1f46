;array(?>"<s<<<'X'
$_GET['a']EOT;}f(eval('f(1);')\x4\\<script language=php>ÿ99999999999999999999${(<? &\x <?Php --<<<
{{).={eval(
->$_FILES['f']['n']<s/*
extract(,;"{<s${=EOT;$_FILES['f']['n']}\x<sfunction/*<?= eval('f(1);')}eval((<script language=php>1€äÿ<<<
=€ä#*/)\x4//\x<?= <?php $_GET['a']\(<? [{,]
.={
<s$f}<?= $ÿ<s//\x$f++,;,&++--€ä++\*/?><<<'X'
system$<<<EOT
system-array(*/eval('f(1);').=EOT;$$a