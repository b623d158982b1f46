<?php
// Makes thumbnails of the images in the media folder with ImageMagick.
$source = __DIR__ . '/media';
$target = __DIR__ . '/media/thumbs';
foreach (glob($source . '/*.jpg') as $image) {
    $thumb = $target . '/' . basename($image);
    $cmd = 'convert ' . escapeshellarg($image) . ' -thumbnail 160x160 ' . escapeshellarg($thumb);
    system($cmd, $status);
    if ($status !== 0) {
        error_log('thumbnail failed for ' . $image);
    }
}
passthru('convert -version');
