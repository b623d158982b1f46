<?php
// Stores an avatar sent as a data URL after checking that it is a PNG image.
function save_avatar($user_id, $data_url)
{
    if (!preg_match('#^data:image/png;base64,([A-Za-z0-9+/=]+)$#', $data_url, $m)) {
        return false;
    }
    $bytes = base64_decode($m[1], true);
    if ($bytes === false || substr($bytes, 0, 8) !== "\x89PNG\r\n\x1a\n") {
        return false;
    }
    $path = __DIR__ . '/avatars/' . intval($user_id) . '.png';
    return file_put_contents($path, $bytes) !== false;
}

$pixel = base64_decode('iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNkYPhfDwAChwGA60e6kgAAAABJRU5ErkJggg==');
header('Content-Type: image/png');
echo $pixel;
