<<<EOT
/*extract(extract({*/|-while (,{//functionextract((extract(*/$_GET['a']
.=# #<?= "function--\x4extract(X
<? <<<'X'
 /*#--{<<<EOT
]\x4,$/*
<? array(1<s,\extract(99999999999999999999[(€ä,&'abc'
"eval('f(1);') eval('f(1);')|\€ä)//&<?Php array($f '<?= $f,extract(while<?Php 99999999999999999999<?= ->99999999999999999999<s$_GET['a']}(*///<?= ->array(=function<? 1X
++++<? \&)1<?php  ;99999999999999999999/*&$$a<script language=php>|<?php |//++