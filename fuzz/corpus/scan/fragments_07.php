while(
;\<script language=php>,function$; 99999999999999999999--{#|ÿ,--=>
<<<'X'
EOT;(1#1}1ÿ
$_FILES['f']['n']1;*/<?php 99999999999999999999\while<?= eval('f(1);')=extract(<?Php \x4$_GET['a']|<<<
$_FILES['f']['n'][*/$_GET['a']<<<'X'
#<? $f,?>$_GET['a']<?= whilearray(.=<?php <s
€ä)|) |#<script language=php>ÿ=>--)extract(eval(?><?Php while99999999999999999999ÿ'$_GET['a']EOT;\x"/* $$a'abc'extract(systemÿeval(&''abc'<?php eval('f(1);')/*#€ä$f'$$$a.=]*/<?Php <? system=>