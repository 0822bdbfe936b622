<?php
// Registering an uploaded design: the FTP account is public, so anyone could store a file or pick
// another's; a registration is bound to the address and time of the upload it names.
declare(strict_types=1);
require_once __DIR__ . '/designs.php';
require_once __DIR__ . '/wire.php';

// Only the address that uploaded the file may register it, soon after the upload completed, and
// only a design file.
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
