<?php
// A deployment hook: after a push, pull the new revision, install the
// locked dependencies and mail the log to the site's administrator.
$config = require __DIR__ . '/deploy-config.php';
$steps = array(
    'git -C ' . escapeshellarg($config['root']) . ' pull --ff-only origin main',
    'composer install --no-dev --no-interaction --working-dir=' . escapeshellarg($config['root']),
);
$log = '';
foreach ($steps as $step) {
    $process = proc_open($step, array(1 => array('pipe', 'w'), 2 => array('pipe', 'w')), $pipes);
    if (!is_resource($process)) {
        $log .= "could not start: $step\n";
        break;
    }
    $log .= stream_get_contents($pipes[1]) . stream_get_contents($pipes[2]);
    fclose($pipes[1]);
    fclose($pipes[2]);
    if (proc_close($process) !== 0) {
        $log .= "failed: $step\n";
        break;
    }
}
mail($config['admin'], 'Deployed ' . date('Y-m-d H:i'), $log, 'From: deploy@example.com',
     '-fdeploy@example.com');
echo nl2br(htmlspecialchars($log));
