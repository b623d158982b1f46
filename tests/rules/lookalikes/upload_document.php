<?php
// Accepts a PDF upload and stores it under a generated name.
$dir = __DIR__ . '/uploads';
if (!isset($_FILES['document']) || $_FILES['document']['error'] !== UPLOAD_ERR_OK) {
    http_response_code(400);
    exit('No file.');
}
$name = basename($_FILES['document']['name']);
$ext = strtolower(pathinfo($name, PATHINFO_EXTENSION));
if ($ext !== 'pdf' || $_FILES['document']['size'] > 5 * 1024 * 1024) {
    http_response_code(415);
    exit('Only PDF files up to 5 MB.');
}
$safe = $dir . '/' . bin2hex(random_bytes(8)) . '.pdf';
if (move_uploaded_file($_FILES['document']['tmp_name'], $safe)) {
    chmod($safe, 0644);
    echo 'Stored as ' . htmlspecialchars(basename($safe));
}
