<s€ä{$_FILES['f']['n']\x|]array(while (->*/.=.=1[while
<<<EOT
1
X
while*/|'<script language=php>]<?= =>array(eval(*/;\x4;",ÿ)$farray()f(9999999999999999999999999999999999999999[<<<'X'
<<<
whilearray(array(<s<? eval('f(1);')(<<<EOT
${€ä99999999999999999999{{f(|<<<'X'
array(;|eval('f(1);')extract(<?Php \x4$€ä]?>ÿÿ*/1\,/*$;1=?><script language=php>{<<<
eval('f(1);') <s<<<'X'
extract(array(,X
++?>${|<?php eval(=>$_FILES['f']['n']<<<
#->'&$_FILES['f']['n']ÿ
ÿ=>.=