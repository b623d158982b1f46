<?php
// Checks the spelling of a text with aspell through a pipe.
function misspelled_words($text)
{
    $spec = array(0 => array('pipe', 'r'), 1 => array('pipe', 'w'), 2 => array('pipe', 'w'));
    $proc = proc_open('aspell --lang=en list', $spec, $pipes);
    if (!is_resource($proc)) {
        return array();
    }
    fwrite($pipes[0], $text);
    fclose($pipes[0]);
    $words = stream_get_contents($pipes[1]);
    fclose($pipes[1]);
    fclose($pipes[2]);
    proc_close($proc);
    return array_filter(explode("\n", $words));
}

$draft = isset($_POST['draft']) ? (string) $_POST['draft'] : '';
echo json_encode(array_values(array_unique(misspelled_words($draft))));
