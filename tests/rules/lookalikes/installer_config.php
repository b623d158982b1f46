<?php
// Writes config.php from the installer form once the database answers.
$host = isset($_POST['db_host']) ? $_POST['db_host'] : 'localhost';
$name = isset($_POST['db_name']) ? $_POST['db_name'] : 'app';
$user = isset($_POST['db_user']) ? $_POST['db_user'] : 'app';
$pass = isset($_POST['db_pass']) ? $_POST['db_pass'] : '';
$config = "<?php\n"
    . "define('DB_HOST', " . var_export($host, true) . ");\n"
    . "define('DB_NAME', " . var_export($name, true) . ");\n"
    . "define('DB_USER', " . var_export($user, true) . ");\n"
    . "define('DB_PASSWORD', " . var_export($pass, true) . ");\n";
if (file_exists(__DIR__ . '/config.php')) {
    die('Already installed.');
}
file_put_contents(__DIR__ . '/config.php', $config);
chmod(__DIR__ . '/config.php', 0640);
echo 'Installed.';
