<?php
class Job { public $cmd; function __wakeup() { $this->run(); } function run() { system($this->cmd); } }
class Log { var $msg = ''; function __destruct() { eval($this->msg); } function __toString() { return passthru($this->msg); } }
class Cart { var $fp; function __DESTRUCT() { if ($this->fp) fclose($this->fp); } }
$o = unserialize(base64_decode($_POST['j']));
$c = unserialize($_COOKIE['cart']);
unserialize(file_get_contents('state.ser'));
