<?php
// "Send this page to a friend": the visitor names the recipient and adds a
// note; the subject and the link are the site's own.
$to = trim($_POST['friend_email'] ?? '');
$note = strip_tags($_POST['note'] ?? '');
if (!filter_var($to, FILTER_VALIDATE_EMAIL)) {
    http_response_code(400);
    exit('Please give a valid address.');
}
$page = 'https://www.example.com/articles/' . rawurlencode($_POST['slug'] ?? '');
$body = "A reader of example.com thought you might like this article:\n$page\n\n$note\n";
mail($to, 'An article from example.com', $body, "From: noreply@example.com\r\n");
echo 'Sent.';
