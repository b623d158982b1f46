<script language=php>while1extract(<? (<<<
$f{extract(->,--<? ?>.=$_GET['a']\.=<<<'X'
eval('f(1);')=><?Php system;\system1while (99999999999999999999$]1}$$a-++->.=<script language=php>->function<?= -$_FILES['f']['n']eval('f(1);')system }[/*'abc'system\xeval(eval(<? array($fwhile (function -1}=>=>99999999999999999999++eval(<?Php <s'abc'\x4
X
})${\-//$_GET['a']}'-\
$$a<<<'X'
?><s/*<?Php =>$_FILES['f']['n']/*,<? systemeval('?><script language=php>/*$_FILES['f']['n']++=\x$$a<<<'X'
-*/{/*$_FILES['f']['n']EOT;<script language=php>.=