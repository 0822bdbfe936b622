<?php
// data=Costs;Weight;Consumption;Noise;Reliability;Velocity;Range;NAME;FILE;MAIL registers a design
// whose file was uploaded to the FTP storage before.
declare(strict_types=1);
require_once __DIR__ . '/../../lib/common.php';
plain_failures();
require_get();

$fields = data_fields(10);
$numbers = [];
foreach (PLANE_NUMBERS as $i => $what) {
    $numbers[] = int_field($fields[$i], $what, -2147483648, 2147483647);
}
$name = text_field($fields[7], 'name', MAX_PLANE_NAME);
$file = $fields[8];
$mail = text_field($fields[9], 'mail', MAX_MAIL);
if (!preg_match(PLANE_FILE_PATTERN, $file)) {
    refuse(400, 'file must be hexadecimal digits followed by .plane');
}
if (plane_registered($file)) {
    refuse(409, 'file is already registered');
}
if (!is_file(planes_dir() . "/$file")) {
    refuse(400, 'file is not in the storage; upload it first');
}
check_upload($file);
add_plane($name, $file, $mail, $numbers);
@unlink(uploads_dir() . "/$file");

// Only the address that uploaded the file may register it, soon after the upload completed, and
// only a design file: the FTP account is public, so anyone could store or pick another's file.
function check_upload(string $file): void
{
    $record = @file_get_contents(uploads_dir() . "/$file");
    $fields = $record === false ? [] : explode(' ', trim($record));
    if (count($fields) !== 3 || $fields[2] === '-') {
        refuse(409, 'file upload has not completed');
    }
    [$addr, $completed] = $fields;
    if ($addr !== ($_SERVER['REMOTE_ADDR'] ?? '')) {
        refuse(403, 'file was uploaded from another address');
    }
    if (time() - (int)$completed > register_window()) {
        refuse(410, 'file was uploaded more than ' . register_window() . ' s ago; upload it again');
    }
    $fault = design_file_fault(planes_dir() . "/$file");
    if ($fault !== null) {
        refuse(422, $fault);
    }
}
plain_headers();
echo "registered\n";
