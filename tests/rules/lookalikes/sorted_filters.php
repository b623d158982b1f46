<?php
// The product list: the visitor's filter values are sorted and cleaned before
// they reach the query builder.
function by_length($a, $b)
{
    return strlen($a) - strlen($b);
}

$filters = isset($_GET['tags']) ? (array) $_GET['tags'] : array();
usort($_GET, 'strcmp');
uasort($filters, 'by_length');
uksort($_POST, function ($a, $b) {
    return strcmp($a, $b);
});
$clean = array_map('trim', $filters);
array_walk($clean, function (&$v) {
    $v = strtolower($v);
});
echo implode(', ', $clean);
