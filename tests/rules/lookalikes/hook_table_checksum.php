<?php
// Plugin hooks kept in a table whose keys are built from the event name,
// a stored settings blob checked with a byte checksum, and the visitor's
// preferences read back from a cookie.
$hooks = array();
function add_hook($event, $callback)
{
    global $hooks;
    $hooks['on_' . $event] = $callback;
}
function run_hook($event, $arg)
{
    global $hooks;
    $key = 'on_' . $event;
    if (isset($hooks[$key]) && is_callable($hooks[$key])) {
        return call_user_func($hooks[$key], $arg);
    }
    return $arg;
}
function checksum($data)
{
    $sum = 0;
    for ($i = 0; $i < strlen($data); $i++) {
        $sum = ($sum ^ ord($data[$i])) & 255;
    }
    return $sum;
}
add_hook('title', 'ucfirst');
$blob = file_get_contents(__DIR__ . '/settings.dat');
$settings = array();
if ($blob !== false && checksum(substr($blob, 1)) === ord($blob[0])) {
    $settings = unserialize(substr($blob, 1));
}
$prefs = isset($_COOKIE['prefs']) ? json_decode($_COOKIE['prefs'], true) : array();
$theme = isset($prefs['theme']) && preg_match('/^[a-z]+$/', $prefs['theme']) ? $prefs['theme'] : 'plain';
$token = isset($_POST['token']) ? $_POST['token'] : '';
$valid = checksum($token) === 42;
echo '<h1>' . htmlspecialchars(run_hook('title', 'welcome')) . '</h1>';
echo '<p class="' . $theme . '">' . ($valid ? 'ok' : 'checking') . '</p>';
