<?php
// Destructuring assignments whose right side gives nothing.
[$a] = );
list($b, $c) = ];
[$d, [$e]] = ) . 1;
f($a, $b);
