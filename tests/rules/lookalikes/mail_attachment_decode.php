<?php
// Splits a stored MIME message and writes its base64 attachments to a spool folder.
function decode_parts($raw)
{
    $parts = explode("\r\n--boundary42\r\n", $raw);
    $saved = array();
    foreach ($parts as $i => $part) {
        list($head, $body) = array_pad(explode("\r\n\r\n", $part, 2), 2, '');
        if (stripos($head, 'Content-Transfer-Encoding: base64') === false) {
            continue;
        }
        $name = sprintf('%s/spool/part-%03d.bin', sys_get_temp_dir(), $i);
        $fh = fopen($name, 'wb');
        fwrite($fh, base64_decode(str_replace("\r\n", '', $body)));
        fclose($fh);
        $saved[] = $name;
    }
    return $saved;
}

$message = file_get_contents(__DIR__ . '/spool/incoming.eml');
print_r(decode_parts($message));
