<?php
// Dumps the database with mysqldump and offers the archive for download.
$file = sys_get_temp_dir() . '/backup-' . date('Ymd') . '.sql.gz';
$cmd = 'mysqldump --single-transaction app | gzip > ' . escapeshellarg($file);
exec($cmd, $output, $status);
if ($status === 0) {
    header('Content-Type: application/gzip');
    header('Content-Disposition: attachment; filename="' . basename($file) . '"');
    readfile($file);
    unlink($file);
}
