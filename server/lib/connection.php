<?php
// The storage connection: SQLite in the data folder, or what server.ini names. Statements run
// through run(): on PostgreSQL each is prepared once per kept session and then only executed.
declare(strict_types=1);
require_once __DIR__ . '/settings.php';

// The server's PostgreSQL advisory locks, one number each.
const LOCK_SCHEMA = 7406000;     // two nodes starting at once: one applies the schema
const LOCK_SCORE_FOLD = 7406001; // one writer of the rank's counts at a time
const LOCK_PLANE_FOLD = 7406002; // one fold of the catalogue's size at a time

// A statement met a session that has not prepared it yet, inside a transaction (which that
// failure ended); in_transaction() prepares it and runs the transaction again.
final class UnpreparedStatement extends RuntimeException
{
}

function db(): PDO
{
    static $pdo = null;
    return $pdo ??= open_db(setting('dsn') ?: 'sqlite:' . data_dir() . '/skv.sqlite');
}

// The hot standby named by replica_dsn, for pages that only read; the primary while it is
// missing or down, and from when $down says a statement found it gone.
function reader(bool $down = false): PDO
{
    static $pdo = null;
    if ($down) {
        $pdo = db();
    }
    if ($pdo === null) {
        $dsn = setting('replica_dsn');
        try {
            $pdo = $dsn === '' ? db() : open_db($dsn);
        } catch (PDOException $e) {
            error_log('skv: replica unavailable, reading from the primary: ' . $e->getMessage());
            $pdo = db();
        }
    }
    return $pdo;
}

// $fn(reader()); again on the primary when the standby went away under it.
function on_reader(callable $fn): mixed
{
    try {
        return $fn(reader());
    } catch (PDOException $e) {
        if (reader() === db() || !str_starts_with($e->errorInfo[0] ?? '', '08') && $e->errorInfo[0] !== 'HY000') {
            throw $e;
        }
        error_log('skv: replica lost, reading from the primary: ' . $e->getMessage());
        return $fn(reader(true));
    }
}

function open_db(string $dsn): PDO
{
    $pg = str_starts_with($dsn, 'pgsql:');
    if ($pg && !str_contains($dsn, 'connect_timeout')) {
        // A host that does not answer costs a second, not a hung request.
        $dsn .= ';connect_timeout=2';
    }
    if ($pg && !str_contains($dsn, 'options=')) {
        // A session whose web worker died stops its statement instead of committing it later.
        $dsn .= ";options='-c client_connection_check_interval=500'";
    }
    $pdo = new PDO($dsn, setting('user') ?: null, setting('password') ?: null, [
        PDO::ATTR_ERRMODE => PDO::ERRMODE_EXCEPTION,
        PDO::ATTR_DEFAULT_FETCH_MODE => PDO::FETCH_ASSOC,
        // A new PostgreSQL session per request (a forked backend, cold caches) cost more than
        // the page itself; each server worker keeps its session. PDO checks a kept session
        // before handing it out and opens a new one when the old one died. A kept SQLite
        // connection keeps the WAL and its index file, which readers need: with the disk full
        // they could not be made again.
        PDO::ATTR_PERSISTENT => true,
        // Statements are prepared once per session with PREPARE (run()); the client only
        // fills in EXECUTE's arguments, one round trip per statement.
        PDO::ATTR_EMULATE_PREPARES => $pg,
    ]);
    // A transaction left open by a request that died in a kept session.
    if ($pg && $pdo->inTransaction()) {
        $pdo->rollBack();
    }
    if (!$pg) {
        try {
            $pdo->exec('ROLLBACK');
        } catch (PDOException) {
            // none was open
        }
        // Several server workers write at once: wait for the lock instead of failing. FULL: a
        // commit reaches the disk before the answer, so an acknowledged write survives a power loss.
        $pdo->exec('PRAGMA busy_timeout = 10000');
        $pdo->exec('PRAGMA synchronous = FULL');
    }
    return $pdo;
}

function is_sqlite(PDO $pdo): bool
{
    return $pdo->getAttribute(PDO::ATTR_DRIVER_NAME) === 'sqlite';
}

// Runs $sql (with ? placeholders) on $pdo and returns the executed statement.
function run(PDO $pdo, string $sql, array $args = []): PDOStatement
{
    static $sqlite = [];
    if (is_sqlite($pdo)) {
        $q = $sqlite[$sql] ??= $pdo->prepare($sql);
        bind_all($q, $args);
        $q->execute();
        return $q;
    }
    $name = 'skv_' . substr(md5($sql), 0, 16);
    $q = $pdo->prepare("EXECUTE $name" . ($args ? '(' . implode(', ', array_fill(0, count($args), '?')) . ')' : ''));
    bind_all($q, $args);
    try {
        $q->execute();
    } catch (PDOException $e) {
        if (($e->errorInfo[0] ?? '') !== '26000') { // no such prepared statement: a new session
            throw $e;
        }
        if ($pdo->inTransaction()) {
            throw new UnpreparedStatement($sql, 0, $e);
        }
        prepare_statement($pdo, $name, $sql);
        $q->execute();
    }
    return $q;
}

function prepare_statement(PDO $pdo, string $name, string $sql): void
{
    $n = 0;
    $pdo->exec("PREPARE $name AS " . preg_replace_callback('/\?/', function () use (&$n) {
        return '$' . ++$n;
    }, $sql));
}

function bind_all(PDOStatement $q, array $args): void
{
    foreach (array_values($args) as $i => $v) {
        $q->bindValue($i + 1, $v, is_int($v) ? PDO::PARAM_INT : PDO::PARAM_STR);
    }
}

// Runs $fn($pdo) in one transaction; $begin is the statement that opens it.
function in_transaction(PDO $pdo, string $begin, callable $fn): mixed
{
    for ($try = 0; ; $try++) {
        $pdo->exec($begin);
        try {
            $result = $fn($pdo);
            $pdo->exec('COMMIT');
            return $result;
        } catch (UnpreparedStatement $e) {
            $pdo->exec('ROLLBACK');
            if ($try >= 50) {
                throw $e;
            }
            prepare_statement($pdo, 'skv_' . substr(md5($e->getMessage()), 0, 16), $e->getMessage());
        } catch (Throwable $e) {
            try {
                $pdo->exec('ROLLBACK');
            } catch (PDOException) {
                // the session is gone, and its transaction with it
            }
            throw $e;
        }
    }
}

function query_all(PDO $pdo, string $sql, array $args = []): array
{
    return run($pdo, $sql, $args)->fetchAll();
}

// The first row, or false; the statement is closed, so that SQLite can commit.
function query_row(PDO $pdo, string $sql, array $args = [], int $mode = PDO::FETCH_ASSOC): array|false
{
    $q = run($pdo, $sql, $args);
    $row = $q->fetch($mode);
    $q->closeCursor();
    return $row;
}

function query_value(PDO $pdo, string $sql, array $args = []): mixed
{
    $row = query_row($pdo, $sql, $args, PDO::FETCH_NUM);
    return $row === false ? null : $row[0];
}
