<?php $a = <<<EOT
body
EOT;
while (f(1)) { ${"v"} = $s{0}; }