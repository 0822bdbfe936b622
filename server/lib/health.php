<?php
// What a balancer asks a node before it sends players there: does the database answer with the
// schema this code needs, and does the design storage take a file?
declare(strict_types=1);
require_once __DIR__ . '/connection.php';
require_once __DIR__ . '/schema.php';

// Part => why it does not work, or null when it does.
function health_checks(): array
{
    try {
        $database = schema_mismatch(db());
    } catch (Throwable $e) {
        error_log('skv: health: ' . $e->getMessage()); // the public line names no host
        $database = 'does not answer';
    }
    // A write, not a permission check: a full or read-only file system shows only then.
    $probe = uploads_dir() . '/.health-' . bin2hex(random_bytes(6));
    $storage = @file_put_contents($probe, "ok\n") === 3 && @unlink($probe) ? null
        : 'cannot write into ' . uploads_dir();
    @unlink($probe);
    return ['database' => $database, 'storage' => $storage];
}
