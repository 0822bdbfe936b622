<?php
// A catalogue of one design whose file name is the content of DATA/catalogue-file.
declare(strict_types=1);
require_once __DIR__ . '/../lib/settings.php';
header('Content-Type: text/plain');
header('Cache-Control: no-store');
$file = trim((string)@file_get_contents(data_dir() . '/catalogue-file'));
echo "1\nOne design;$file;;1000;900;20;10;90;400;2000\n";
