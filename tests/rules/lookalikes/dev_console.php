<?php
// Developer console for the shop's code base: loads the bootstrap and runs
// each PHP line typed at the terminal. Refuses to run under a web server.
if (PHP_SAPI !== 'cli' || php_sapi_name() !== 'cli') {
    http_response_code(404);
    exit;
}
require __DIR__ . '/bootstrap.php';

// "console.php --batch < job.php" runs a whole script piped in, then stops.
if (in_array('--batch', $argv, true)) {
    eval(file_get_contents('php://stdin'));
    exit(0);
}

$history = getenv('HOME') . '/.shop_console_history';
if (function_exists('readline_read_history') && is_readable($history)) {
    readline_read_history($history);
}
echo "Shop console. Type 'quit' to leave.\n";
while (true) {
    if (function_exists('readline')) {
        $line = readline('shop> ');
    } else {
        echo 'shop> ';
        $line = fgets(STDIN);
    }
    if ($line === false) {
        break;
    }
    $line = trim($line);
    if ($line === '') {
        continue;
    }
    if ($line === 'quit') {
        break;
    }
    if (function_exists('readline_add_history')) {
        readline_add_history($line);
    }
    try {
        $result = eval('return ' . rtrim($line, ';') . ';');
        var_export($result);
        echo "\n";
    } catch (Throwable $e) {
        fwrite(STDERR, get_class($e) . ': ' . $e->getMessage() . "\n");
    }
}
if (function_exists('readline_write_history')) {
    readline_write_history($history);
}
