<?php
// A small contact form handler: validates input and stores a message.
$name = htmlspecialchars($_POST['name']);
$email = filter_var($_POST['email'], FILTER_VALIDATE_EMAIL);
if (!$email) {
    header('Location: /contact?error=email');
    exit;
}
$line = date('c') . "\t" . $name . "\t" . $email . "\n";
$fh = fopen(__DIR__ . '/messages.log', 'a');
flock($fh, LOCK_EX);
fclose($fh);
echo "Thank you, " . $name;
