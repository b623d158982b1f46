<?php $a = <<<"EOT"
x y
EOT;
<<<''
f(1);
<<<EO
EOT
EO;
<<<EOT
abEOT;
$b = <<<EOT