<?Php <<<'X'
'abc' while<? \x4.='"//\-(<? <<<'X'
extract(" array(?>eval(++#'<? .=\x4<?Php <<<
system\x<<<
(]$$a<?php )while<script language=php>while|}=>while'abc'//&]€ä*/&$$a.=->#$_GET['a']<? function;=>'abc'#|system([while${|X
'system//->=>->->*/&++//<?php }]ÿ'--;ÿ,<sÿ--$_GET['a']<?php EOT;=;&\\x-<?= |->system=<?Php f($_GET['a']eval('f(1);')
)<?php 1
eval('f(1);')systemsystem