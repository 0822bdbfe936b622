<?php
// Registering an uploaded design: the FTP account is public, so anyone could store a file or pick
// another's; a registration is bound to the address and time of the upload it names.
declare(strict_types=1);
require_once __DIR__ . '/designs.php';
require_once __DIR__ . '/quotas.php';
require_once __DIR__ . '/settings.php';
require_once __DIR__ . '/wire.php';

// Only the address that uploaded the file may register it, soon after the upload completed, only
// the file as it arrived, only a design file and only within the quotas. Returns the upload's
// size and the file's summary block.
function check_upload(string $file): array
{
    $record = @file_get_contents(uploads_dir() . "/$file");
    $fields = $record === false ? [] : explode(' ', trim($record));
    if (count($fields) !== 3 || $fields[2] === '-') {
        refuse(409, 'file upload has not completed', 'binding');
    }
    [$addr, $completed, $size] = $fields;
    if ($addr !== ($_SERVER['REMOTE_ADDR'] ?? '')) {
        refuse(403, 'file was uploaded from another address', 'binding');
    }
    if (time() - (int)$completed > setting('register_window')) {
        refuse(410, 'file was uploaded more than ' . setting('register_window') . ' s ago; upload it again', 'binding');
    }
    $path = planes_dir() . "/$file";
    clearstatcache();
    if (@filesize($path) !== (int)$size) {
        refuse(409, 'file has changed since its upload; upload it again', 'binding');
    }
    $header = read_design_header($path);
    if (is_string($header)) {
        refuse(422, $header);
    }
    $refusal = quota_refusal($addr, (int)$size);
    if ($refusal !== null) {
        refuse(...$refusal);
    }
    return [(int)$size, $header];
}

// Takes the upload record away from the sweeper and from any second registration before the
// design is stored; the caller drops the claim once the row is in.
function claim_upload(string $file): string
{
    $claim = uploads_dir() . "/$file.claim";
    if (!@rename(uploads_dir() . "/$file", $claim)) {
        refuse(409, 'file is being registered already', 'binding');
    }
    @touch($claim);
    return $claim;
}
