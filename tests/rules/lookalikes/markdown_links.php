<?php
// Turns [text](url) into links and #tags into search links.
function render_links($text)
{
    $text = preg_replace_callback('/\[([^\]]+)\]\((https?:\/\/[^)]+)\)/', function ($m) {
        return '<a href="' . htmlspecialchars($m[2]) . '">' . htmlspecialchars($m[1]) . '</a>';
    }, $text);
    return preg_replace_callback('/#(\w+)/', function ($m) {
        return '<a href="/search?tag=' . urlencode($m[1]) . '">#' . $m[1] . '</a>';
    }, $text);
}

$comment = isset($_POST['comment']) ? $_POST['comment'] : '';
echo render_links(htmlspecialchars_decode(strip_tags($comment)));
echo implode(', ', array_map('trim', explode(',', isset($_GET['tags']) ? $_GET['tags'] : '')));
