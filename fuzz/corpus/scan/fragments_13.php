$_GET['a']*/<?= =>extract(=-
|extract(1-,"1;<<<'X'
extract(99999999999999999999|]-system#--while (,*/ÿ"$_FILES['f']['n']{\x4$_GET['a']<<<EOT
<script language=php>&.=\x++<<<'X'
<? ,EOT;EOT;//<<<
'*/{[-EOT;EOT;<<<EOT
<?php <<<'X'
++\x=>system${function.=while<?php <?Php  f(/*eval(extract(<<<'X'
f(=$_GET['a']|extract(<?Php <?php =>/*]{eval(=='X
='abc'$_FILES['f']['n']$_GET['a']99999999999999999999$ÿeval(|extract(EOT;function'#$.=array(<<<
#$$a?>$$a$f
}