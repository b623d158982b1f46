++{"=><?Php #=*/=<<<'X'
<?Php <<<
€ä\<?Php $$a;<<<EOT
//array(|$_FILES['f']['n']ÿ'abc'<?= /*'eval(//*/($f]€ä&\x${<?Php EOT;\x--$<?php array((
${1=>)"|function<? /*;while (|/*=><<<
<?= <<<EOT
&*/.=//while ($_FILES['f']['n']//?>$_FILES['f']['n']//extract(*/$_GET['a']-$=>\x[&<? <?= ''abc'eval('f(1);')<? extract(while'abc''abc'function$$a#array(<<<'X'
$_FILES['f']['n']*/=>=>€ä//array(?>ÿ<?php {${$_GET['a']<<<EOT
$$a'++<?Php system$€ä