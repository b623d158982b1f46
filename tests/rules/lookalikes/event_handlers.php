<?php
// Runs the handlers configured for an event.
$handlers = array(
    'user.created' => array('send_welcome_mail', 'log_event'),
    'user.deleted' => array('log_event'),
);

function send_welcome_mail($payload)
{
    return mail($payload['email'], 'Welcome', 'Thanks for signing up.', "From: noreply@example.org\r\n");
}

function log_event($payload)
{
    error_log('event for user ' . $payload['id']);
}

function dispatch($event, array $payload)
{
    global $handlers;
    $list = isset($handlers[$event]) ? $handlers[$event] : array();
    foreach ($list as $handler) {
        if (is_callable($handler)) {
            call_user_func($handler, $payload);
        }
    }
    call_user_func_array('log_event', array($payload));
}

dispatch('user.created', array('id' => 7, 'email' => 'new@example.org'));
register_shutdown_function('log_event', array('id' => 0));
usort($handlers['user.created'], 'strcmp');
