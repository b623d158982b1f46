<?php
// Loads the page module the visitor asked for, from a fixed list.
$pages = array('home' => 'pages/home.php', 'about' => 'pages/about.php', 'contact' => 'pages/contact.php');
$page = isset($_GET['page']) && isset($pages[$_GET['page']]) ? $_GET['page'] : 'home';
require_once __DIR__ . '/lib/bootstrap.php';
include __DIR__ . '/' . $pages[$page];
$action = isset($_POST['action']) ? $_POST['action'] : 'view';
$allowed = array('view' => 'show_page', 'print' => 'print_page');
$handler = isset($allowed[$action]) ? $allowed[$action] : 'show_page';
if (function_exists($handler)) {
    $handler($page);
}
