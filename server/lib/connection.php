<?php
// The storage connection: SQLite in the data folder, or what server.ini names.
declare(strict_types=1);
require_once __DIR__ . '/settings.php';
require_once __DIR__ . '/schema.php';

// Storage settings come from DATA/server.ini (dsn, user, password); without it, SQLite in DATA.
function db(): PDO
{
    static $pdo = null;
    if ($pdo !== null) {
        return $pdo;
    }
    $ini = settings();
    $dsn = $ini['dsn'] ?? 'sqlite:' . data_dir() . '/skv.sqlite';
    $pdo = new PDO($dsn, $ini['user'] ?? null, $ini['password'] ?? null, [
        PDO::ATTR_ERRMODE => PDO::ERRMODE_EXCEPTION,
        PDO::ATTR_DEFAULT_FETCH_MODE => PDO::FETCH_ASSOC,
        // A new PostgreSQL session per request (a forked backend, cold caches) cost more than
        // the page itself; each server worker keeps its session instead.
        PDO::ATTR_PERSISTENT => str_starts_with($dsn, 'pgsql:'),
    ]);
    if ($pdo->inTransaction()) {
        $pdo->rollBack(); // left open by a request that died in a kept session
    }
    if (is_sqlite($pdo)) {
        // Several server workers write at once: wait for the lock instead of failing.
        $pdo->exec('PRAGMA busy_timeout = 10000');
        $pdo->exec('PRAGMA journal_mode = WAL');
        $pdo->exec('PRAGMA synchronous = NORMAL');
    }
    create_schema($pdo);
    return $pdo;
}

function is_sqlite(PDO $pdo): bool
{
    return $pdo->getAttribute(PDO::ATTR_DRIVER_NAME) === 'sqlite';
}
