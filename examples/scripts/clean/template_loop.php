<!DOCTYPE html>
<html><body>
<?php
$items = array('apple' => 3, 'pear' => 5);
foreach ($items as $fruit => $count) {
    printf("<li>%s: %d</li>\n", ucfirst($fruit), $count);
}
$total = count($items);
?>
<p>Total: <?php echo $total; ?></p>
</body></html>
