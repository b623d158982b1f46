<?php
// Makes a preview of an uploaded image: the upload is checked, converted
// with fixed options into the preview folder, and the preview's path noted.
if (!isset($_FILES['image']) || $_FILES['image']['error'] !== UPLOAD_ERR_OK) {
    http_response_code(400);
    exit('no image');
}
$source = $_FILES['image']['tmp_name'];
$preview = __DIR__ . '/previews/' . sha1_file($source) . '.png';
$size = isset($_POST['size']) && $_POST['size'] === 'large' ? '640x640' : '160x160';
exec('convert ' . escapeshellarg($source) . ' -resize ' . escapeshellarg($size) . ' ' . escapeshellarg($preview), $out, $status);
if ($status !== 0) {
    error_log('preview failed for ' . $_FILES['image']['name']);
}
$log = fopen(__DIR__ . '/previews/made.log', 'a');
fwrite($log, date('c') . ' ' . $_FILES['image']['name'] . "\n");
fclose($log);
echo htmlspecialchars(basename($preview));
