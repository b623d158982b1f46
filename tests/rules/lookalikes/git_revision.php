<?php
// Shows the deployed revision in the footer of the admin pages.
function deployed_revision()
{
    $out = array();
    $status = 0;
    exec('git rev-parse --short HEAD 2>/dev/null', $out, $status);
    if ($status !== 0 || empty($out)) {
        return 'unknown';
    }
    return trim($out[0]);
}

$branch = trim(shell_exec('git rev-parse --abbrev-ref HEAD'));
echo '<footer>revision ' . htmlspecialchars(deployed_revision()) . ' on ' . htmlspecialchars($branch) . '</footer>';
