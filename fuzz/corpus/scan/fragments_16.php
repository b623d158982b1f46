<? [}*/<?Php <<<'X'
\x=>$ÿ<script language=php>)<? $$$ eval(<swhile}{EOT;<?php 1ÿf(extract(ÿ*/<<<
-array(])=.=)extract(99999999999999999999=>(?>eval('f(1);')$_GET['a']ÿ$_GET['a']<s<?= 11${,++'eval('f(1);')-><<<EOT
{eval('f(1);')|]'$$_FILES['f']['n']?>function$f[while (&<<<
eval('f(1);')1{<<<
<<<
]'abc'<s&"#-function$f<script language=php>++99999999999999999999$_FILES['f']['n']<<<EOT
<?= \"'function99999999999999999999while (*/functionX
<?Php <s]X
)1=$\|$$a;\x<swhile (
*/[