<?php
// Loads the interface strings for the visitor's language and the class
// files of the application on demand.
$allowed = array('en', 'de', 'fr');
$lang = isset($_GET['lang']) && in_array($_GET['lang'], $allowed, true) ? $_GET['lang'] : 'en';
require __DIR__ . '/lang/' . $lang . '.php';

spl_autoload_register(function ($class) {
    $file = __DIR__ . '/src/' . str_replace('\\', '/', $class) . '.php';
    if (is_file($file)) {
        require $file;
    }
});

$view = basename(isset($_GET['view']) ? $_GET['view'] : 'index');
include __DIR__ . "/views/$view.php";
