<?php
// The contact form: the visitor's message goes to the site owner.
$to = 'owner@example.org';
$subject = 'Contact form';
$headers = "From: website@example.org\r\n"
    . "Content-Type: text/plain; charset=utf-8\r\n"
    . "X-Mailer: contact-form";
$name = isset($_POST['name']) ? strip_tags($_POST['name']) : '';
$text = isset($_POST['message']) ? strip_tags($_POST['message']) : '';
if ($name !== '' && $text !== '') {
    mail($to, $subject, "From: $name\n\n$text", $headers);
    echo 'Thank you.';
}
