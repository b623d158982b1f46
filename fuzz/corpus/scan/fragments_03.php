X
,*/=\x4<?php =>99999999999999999999*/;=>'|[ÿ++(system|=>--++++&{<s1<?Php 99999999999999999999;<<<
'abc''abc'=>?>X
\x4[<s
extract(\x4,function''abc'#]f({ <?Php 'extract(<?Php 1EOT;EOT;&<?= )"extract(\x'abc'$"//<?= systemf(?><<<'X'
++]\x,#<? "}f(-array($_FILES['f']['n']<<<EOT
ÿ*/=${,.=#|<<<EOT
-><<<
 'abc'function<<<
}$$aarray()<<<'X'
extract($$a<? $_FILES['f']['n'].=$_GET['a']'abc'$_GET['a']$_GET['a']$$a<<<
eval(€ä[