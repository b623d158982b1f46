<?php
// Logs a user in and remembers the chosen theme in the session.
session_start();
$users = array('admin' => '$2y$10$abcdefghijklmnopqrstuuJ7k2X9Yl8qz1bQ4b2p5u1YQ1n5m3Gm');
$login = isset($_POST['login']) ? $_POST['login'] : '';
$password = isset($_POST['password']) ? $_POST['password'] : '';
if (isset($users[$login]) && password_verify($password, $users[$login])) {
    session_regenerate_id(true);
    $_SESSION['user'] = $login;
    $_SESSION['theme'] = isset($_POST['theme']) && in_array($_POST['theme'], array('light', 'dark'), true) ? $_POST['theme'] : 'light';
    setcookie('last_login', (string) time(), time() + 86400 * 30, '/', '', true, true);
    header('Location: ' . $_SERVER['SCRIPT_NAME'] . '?welcome=1');
    exit;
}
echo 'Login failed for ' . htmlspecialchars($login);
