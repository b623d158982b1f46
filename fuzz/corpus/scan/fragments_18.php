$=>f(<script language=php>//X
\<?php '.=<<<'X'
<<<
[)system<? /*[,while (++<<<'X'
array((|ÿ<script language=php>eval($_GET['a']extract(-->\99999999999999999999<<<EOT
extract(<?Php [=>)<?php <<<
<?= ${.=<?Php eval(->'eval(*/eval('f(1);')<?= array(\x4++&<?php 
$_FILES['f']['n']->$_FILES['f']['n']&(&${[$$a.=<<<
$_FILES['f']['n']|\x4--<?Php eval($$a(eval('f(1);')=>€ä}eval('f(1);')++${"--$_FILES['f']['n']'abc'<? ++€ä,.='function*/)&/*
'abc'€ä)<<<
#?>]f(while<?Php ->$_FILES['f']['n']<?php 'abc'
(eval('f(1);')