#//=systemwhile (->$$a-extract(*/EOT;)<?= #$_GET['a'];"?>$f<?php \f(=>"$f?>array(&}|99999999999999999999=€äextract(eval($f<?php while (X
'abc'extract( 
${=>X
ÿ\x4$EOT;|eval('f(1);')extract(\<?php <script language=php>f(-<?php /*=$_FILES['f']['n']'${eval(//$$a<<<'X'
#X
&function<?php &,$//=>;€ä->}<?Php ${
*/<<<EOT
EOT;-system"++=><s|\x4$$a<?Php =EOT;$f<?php 1$$aextract(/*while###]$_GET['a']while (&"++<? //