<?php
// What a script does first, and what it answers when it fails: one plain-text line that says why
// (a full disk, a storage that does not answer, a store of another schema version), never an HTML
// page the client would misread.
declare(strict_types=1);
require_once __DIR__ . '/connection.php';
require_once __DIR__ . '/schema.php';
require_once __DIR__ . '/wire.php';

// The start of every script: mail addresses and the database password live in the data folder,
// so whatever it creates there is the owner's only; uncaught failures are answered in plain text.
function start_script(): void
{
    umask(0077);
    set_exception_handler(function (Throwable $e): void {
        error_log('skv: ' . $e);
        while (ob_get_level() > 0) {
            ob_end_clean(); // a page half made
        }
        [$status, $line] = failure_answer($e);
        if (!headers_sent()) {
            plain_headers($status);
            outcome(OUTCOMES[$status] ?? 'error');
        }
        echo $line, "\n";
    });
}

// The status and line a failed request answers with: a full disk, a storage that does not answer
// and a store whose schema this code does not know each say so.
function failure_answer(Throwable $e): array
{
    if (!$e instanceof PDOException) {
        return [500, 'server error'];
    }
    $state = $e->errorInfo[0] ?? (string)$e->getCode();
    $message = $e->getMessage();
    // SQLite reports a write that found no space as "disk I/O error" too.
    $sqliteFull = in_array($e->errorInfo[1] ?? 0, [10, 13], true) && (store_free_bytes() ?? INF) < (1 << 20);
    if ($state === '53100' || $sqliteFull || str_contains($message, 'No space left')) {
        return [507, STORE_FULL];
    }
    if (str_starts_with($state, '08') || str_contains($message, 'connection')) {
        return [503, 'the server\'s storage does not answer; nothing was stored, try again later'];
    }
    try {
        $mismatch = schema_mismatch(db());
    } catch (Throwable) {
        $mismatch = null;
    }
    return $mismatch === null ? [500, 'server error'] : [503, $mismatch];
}
