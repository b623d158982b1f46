<?php ,{= 'abc'EOT;eval(<?Php <?php <<<EOT
={-?>system]<? )"eval('f(1);')-.=<seval('f(1);')€ä.=functionextract("<s*/$_FILES['f']['n']}'=eval('f(1);')
//-/*{$<?Php //?>whilearray($_GET['a']->
<<<EOT
&extract(=><script language=php>}////[,$$a?>?>}\x4'abc'<? ++<<<
<script language=php>extract(<<<'X'
<? \x|<<<EOT
<script language=php>system-><? =>#//|,€äÿ$$a?>".=extract(")<<<
$_GET['a']\=ÿ\xwhile (system|--/*array(*/X
|while<<<'X'
while (€ä$fX
<<<
-1