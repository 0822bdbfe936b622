<?php
// Router of PHP's built-in server: logs every request for the tests and serves the fault
// doubles under /php/test/ only when the server was started with them (also under PHP-FPM).
declare(strict_types=1);
require_once __DIR__ . '/failures.php';
require_once __DIR__ . '/settings.php';
require_once __DIR__ . '/wire.php';

function log_request(): void
{
    // As nginx's escape=default: control characters, quotes, backslashes and bytes above 126 as
    // \xHH, so no field can add a field or a line, or send escape sequences to a terminal.
    $clean = fn(string $s): string => preg_replace_callback('/[\x00-\x1F"\\\\\x7F-\xFF]/',
        fn(array $m): string => sprintf('\\x%02X', ord($m[0])), $s);
    $line = sprintf("%s\t%s\t%s\t%s\n", $clean(sprintf('%s %s %s', $_SERVER['REQUEST_METHOD'] ?? '',
        $_SERVER['REQUEST_URI'] ?? '', $_SERVER['SERVER_PROTOCOL'] ?? '')),
        $clean($_SERVER['HTTP_HOST'] ?? ''), $clean($_SERVER['HTTP_USER_AGENT'] ?? ''), $_SERVER['REMOTE_ADDR'] ?? '');
    $log = data_dir() . '/requests.log';
    // Rotated by size, one generation kept; under nginx, logrotate does this (deploy/logrotate).
    if (@filesize($log) > setting('log_max_bytes')) {
        @rename($log, "$log.1");
    }
    file_put_contents($log, $line, FILE_APPEND | LOCK_EX);
}

start_script();
// Under PHP-FPM the router only serves the doubles; nginx logs the requests.
if (PHP_SAPI === 'cli-server') {
    log_request();
}
$path = parse_url($_SERVER['REQUEST_URI'] ?? '/', PHP_URL_PATH) ?: '/';
if (!str_starts_with($path, '/php/test/')) {
    return false; // the built-in server serves www/ as usual
}
$double = substr($path, strlen('/php/test/'));
if (getenv('SKV_DOUBLES') !== '1' || !preg_match('/^[a-z0-9]+\.php\z/', $double)
    || !is_file(dirname(__DIR__) . "/doubles/$double")) {
    refuse(404, 'not found');
}
require dirname(__DIR__) . "/doubles/$double";
