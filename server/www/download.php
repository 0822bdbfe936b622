<?php
// file=NAME.plane -> that design file from the storage, as a download.
declare(strict_types=1);
require_once __DIR__ . '/../lib/designs.php';
require_once __DIR__ . '/../lib/failures.php';
require_once __DIR__ . '/../lib/settings.php';
require_once __DIR__ . '/../lib/wire.php';
start_script();

$file = $_GET['file'] ?? '';
if (!is_string($file) || !preg_match(PLANE_FILE_PATTERN, $file)) {
    refuse(400, 'file must be hexadecimal digits followed by .plane');
}
$path = planes_dir() . "/$file";
// Only catalogue designs: an upload nobody registered (yet) is nobody's to hand out.
if (!plane_registered($file) || !is_file($path)) {
    refuse(404, 'no such design file');
}
// Saved under its catalogue file name, the name the Starter gives it in myPlanes.
header('Content-Type: application/octet-stream');
header("Content-Disposition: attachment; filename=\"$file\"");
header('X-Content-Type-Options: nosniff');
header('Content-Length: ' . filesize($path));
readfile($path);
