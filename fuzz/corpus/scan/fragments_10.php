1-<?= ;/*;<<<'X'
++<? <<<
{(1}ÿ/*"extract('<<<
?>&*/&'abc'extract(\x/*'<?= $f99999999999999999999-\-"++$_FILES['f']['n']=>-
€ä${-=>\X
'eval('f(1);')\(99999999999999999999#while\[$<<<
EOT;whileeval('f(1);')#function(f(X
($$_FILES['f']['n'] 99999999999999999999<<<
$$aeval(eval(=f(<<<
\x++<?php 'abc'<script language=php>\)while ('<<<EOT
$$a$;X
99999999999999999999$$a{<?Php -while<? <script language=php>99999999999999999999${]\x4}X
]{<<<'X'
#--'abc'\x-><sÿ//