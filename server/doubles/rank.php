<?php
// The rank written into DATA/fixed-rank (surrounding white space dropped), 1 without that file.
declare(strict_types=1);
require_once __DIR__ . '/../lib/settings.php';
header('Content-Type: text/plain');
$file = data_dir() . '/fixed-rank';
echo is_file($file) ? trim(file_get_contents($file)) : '1';
