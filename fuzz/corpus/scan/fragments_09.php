while++eval('f(1);');99999999999999999999*/<<<
/*99999999999999999999<?= /*#1-><<<'X'
\xfunction<?Php <script language=php>$f<<<EOT
<<<
"<? €ä<<<EOT
while-////<script language=php>++array(']€ä.=<s/*
$$a?>->$$f&<?Php <?Php ("<script language=php>function=ÿ|<<<'X'
.=$$a<<<'X'
--($_GET['a'](99999999999999999999eval(/*function'abc'?> 99999999999999999999}<? 1<?Php 
eval(
 <?= <<<
<?= <<<EOT
$$a<s.=--*/$ÿ|99999999999999999999<s$f$_GET['a']("ÿ='abc'{<?Php $_FILES['f']['n']=>$&<<<'X'
EOT;;=extract(-><<<'X'
"EOT;\x4++X
function