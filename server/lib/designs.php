<?php
// Designs: their catalogue rows and their files.
declare(strict_types=1);
require_once __DIR__ . '/connection.php';
require_once __DIR__ . '/counters.php';
require_once __DIR__ . '/settings.php';
require_once __DIR__ . '/wire.php';

// The names the client gives its uploads, the only ones the storage takes (the FTP server too).
const PLANE_FILE_NAME = '[0-9a-f]{4,24}\.plane';
const PLANE_FILE_PATTERN = '/^' . PLANE_FILE_NAME . '\z/'; // \z: "$" would let a trailing line feed through
const PAGE_CAP = 100;        // most catalogue entries one request gets
const MAX_PLANE_NAME = 1023; // bytes; what a design file can hold
const MAX_HEADER_BLOCK = 1051; // bytes after the length field: the most a client's design header holds

// A design's seven numbers in file and wire order: storage column => the label players read.
const PLANE_COLUMNS = ['costs' => 'Costs', 'weight' => 'Weight', 'consumption' => 'Consumption', 'noise' => 'Noise',
    'reliability' => 'Reliability', 'velocity' => 'Velocity', 'flight_range' => 'Range'];
define('PLANE_NUMBERS', array_keys(PLANE_COLUMNS));
const PLANE_NUMBER_RANGE = [-2147483648, 2147483647]; // each is an int32 in the file

// $numbers in file order: Costs, Weight, Consumption, Noise, Reliability, Velocity, Range.
function add_plane(string $name, string $file, string $mail, array $numbers, string $uploader = '', int $size = 0): void
{
    $pdo = db();
    $cols = implode(', ', PLANE_NUMBERS);
    $id = (int)query_value($pdo, "INSERT INTO planes (name, file, mail, $cols, uploaded, uploader, size)
        VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id",
        [$name, $file, $mail, ...$numbers, time(), $uploader, $size]);
    if ($id % FOLD_EVERY === 0) {
        fold_planes($pdo);
    }
}

// Removes the design of $file, or those uploaded from $uploader, or with neither every design, and
// their files; returns how many went.
function remove_planes(?string $file = null, ?string $uploader = null): int
{
    $pdo = db();
    $match = array_filter(['file' => $file, 'uploader' => $uploader], fn($v) => $v !== null);
    $where = implode(' AND ', array_map(fn(string $column) => "$column = ?", array_keys($match))) ?: 'TRUE';
    $args = array_values($match);
    $files = array_column(query_all($pdo, "SELECT file FROM planes WHERE $where", $args), 'file');
    run($pdo, "DELETE FROM planes WHERE $where", $args);
    foreach ($files as $gone) {
        if (preg_match(PLANE_FILE_PATTERN, $gone)) {
            @unlink(planes_dir() . "/$gone");
        }
    }
    return count($files);
}

function plane_registered(string $file): bool
{
    return query_value(db(), 'SELECT 1 FROM planes WHERE file = ?', [$file]) !== null;
}

// Catalogue order is oldest first, so entry i stays entry i while new designs arrive.
function plane_page(PDO $pdo, int $from, int $num): array
{
    return query_all($pdo, 'SELECT * FROM planes ORDER BY id LIMIT ? OFFSET ?', [$num, $from]);
}

// A .plane file: N, seven int32 numbers and the name (N bytes in all), then the game's body.
function plane_file_bytes(array $numbers, string $nameCp1252, string $body): string
{
    $block = pack('V7', ...$numbers) . $nameCp1252 . "\0";
    return pack('V', strlen($block)) . $block . $body;
}

// A design file's summary block as ['name' => UTF-8, 'numbers' => seven in file order], or why the
// file is no design: the length field N, seven numbers and a name within 28..1051 bytes, and at
// least that much file after the length field.
function read_design_header(string $path): array|string
{
    $size = @filesize($path);
    $f = @fopen($path, 'rb');
    if ($size === false || $f === false) {
        return 'file cannot be read';
    }
    $head = fread($f, 4 + MAX_HEADER_BLOCK);
    fclose($f);
    if (strlen($head) < 4) {
        return 'file is too short for a design';
    }
    $n = unpack('V', $head)[1];
    if ($n < 28 || $n > MAX_HEADER_BLOCK) {
        return "file is not a design: header length $n is outside 28 to " . MAX_HEADER_BLOCK;
    }
    if ($size < 4 + $n) {
        return 'file is cut: ' . $size . ' bytes, its header alone needs ' . (4 + $n);
    }
    $name = explode("\0", substr($head, 32, $n - 28))[0]; // a C string, as the game writes it
    return ['name' => cp1252_to_utf8($name), 'numbers' => array_map(fn(int $v): int => $v >= 1 << 31 ? $v - (1 << 32) : $v,
        array_values(unpack('V7', substr($head, 4, 28))))];
}
