<?php
// Caches the settings table as a PHP array that opcache can keep.
function settings_cache_file()
{
    return __DIR__ . '/cache/settings.php';
}

function write_settings_cache(array $settings)
{
    $code = '<?php return ' . var_export($settings, true) . ';';
    $tmp = settings_cache_file() . '.' . getmypid();
    file_put_contents($tmp, $code, LOCK_EX);
    rename($tmp, settings_cache_file());
}

function load_settings()
{
    if (is_file(settings_cache_file())) {
        return include settings_cache_file();
    }
    $settings = array('site_name' => 'Example', 'per_page' => 20);
    write_settings_cache($settings);
    return $settings;
}

print_r(load_settings());
