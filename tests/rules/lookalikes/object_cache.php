<?php
// A file cache for query results.
function cache_get($key)
{
    $file = __DIR__ . '/cache/' . md5($key) . '.cache';
    if (!is_file($file) || filemtime($file) < time() - 300) {
        return null;
    }
    return unserialize(file_get_contents($file));
}

function cache_set($key, $value)
{
    $file = __DIR__ . '/cache/' . md5($key) . '.cache';
    file_put_contents($file, serialize($value), LOCK_EX);
}

$posts = cache_get('latest-posts');
if ($posts === null) {
    $posts = array(array('id' => 1, 'title' => 'Hello'));
    cache_set('latest-posts', $posts);
}
print_r($posts);
