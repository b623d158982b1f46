functionextract(<?Php $extract(function1$_FILES['f']['n']<script language=php>X
.=<? array(<<<EOT
ÿ<script language=php>|EOT;,<<<'X'
<?Php <? while (f(f(=>|--)€äf(|->
${99999999999999999999ÿ'abc'<script language=php>eval('f(1);')$_GET['a']<?php function++}X
*/€ä${ÿ?>eval('f(1);')$_GET['a']++-<? $$aX

),<s<script language=php>'//€ä<? [$f99999999999999999999function'={<?= $$a"\x4while (-\x\'abc'X
${<?= <s;|&#//=EOT;<? <?php <?= ->EOT;$_GET['a']}(<? //99999999999999999999EOT;ÿeval('f(1);')<?= |while (\x4$,'|<?php 