eval('f(1);')ÿ\?>extract(,++--'abc'eval(.=extract(ÿ/*eval(<<<'X'
/*ÿ'abc'while$$a\$_GET['a']${€äEOT;99999999999999999999]{eval('f(1);')<?php X
<s<<<'X'
array(while<?= <?php <<<EOT
;//while (<?php f(<?Php ) \x4=>X
\.=${extract(&<s.='<?= <?= while)€ä++ÿ$$aÿ$$a${{X
(//*/f(|whilefunctionwhile)\x4'<?php )ÿ}--
<script language=php>,++([<? .=}eval(extract(ÿ\x4]systemwhile<<<EOT
while (€ä=f($_FILES['f']['n']---->{ÿ}"?>system