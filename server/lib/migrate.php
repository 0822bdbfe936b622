<?php
// The move from the embedded SQLite store to PostgreSQL: one transaction in an empty target
// database (the schema, the scores and designs by COPY, the rank's counts built from the copied
// scores), checked against the source before it commits; only then does server.ini name the
// target. The SQLite store is only read and stays as it was.
declare(strict_types=1);
require_once __DIR__ . '/backup.php';
require_once __DIR__ . '/schema.php';
require_once __DIR__ . '/scores.php';
require_once __DIR__ . '/settings.php';

const MIGRATE_SAMPLE = 1000;      // scores whose rank must agree on both sides
const MIGRATE_CHUNK = 20000;      // rows per COPY

// Returns what it did in one line; throws with the reason when it refuses or a check fails.
function migrate_store(string $data, string $dsn, ?string $user, ?string $password): string
{
    if (!str_starts_with($dsn, 'pgsql:')) {
        throw new RuntimeException("the target must be a PostgreSQL dsn (pgsql:host=...;dbname=...), not $dsn");
    }
    foreach ([$dsn, $user, $password] as $value) {
        if ($value !== null && preg_match('/["\x00-\x1f]/', $value)) {
            throw new RuntimeException('the dsn, user and password go into server.ini: no double quotes or control characters');
        }
    }
    if (ini_dsn($data) !== null) {
        throw new RuntimeException("the store of $data is on PostgreSQL already (server.ini names its dsn)");
    }
    $idle = hold_idle($data); // until this returns
    // query_only, not a read-only open: a reader of a WAL store needs its shared-memory file, which
    // a read-only connection cannot make once the servers have gone.
    $source = new PDO("sqlite:$data/skv.sqlite", null, null, [PDO::ATTR_ERRMODE => PDO::ERRMODE_EXCEPTION,
        PDO::ATTR_DEFAULT_FETCH_MODE => PDO::FETCH_NUM]);
    $source->exec('PRAGMA query_only = ON');
    if (($mismatch = schema_mismatch($source)) !== null) {
        throw new RuntimeException($mismatch);
    }
    $target = new PDO($dsn, $user, $password, [PDO::ATTR_ERRMODE => PDO::ERRMODE_EXCEPTION,
        PDO::ATTR_DEFAULT_FETCH_MODE => PDO::FETCH_NUM]);
    $tables = (int)$target->query('SELECT COUNT(*) FROM pg_tables WHERE schemaname = current_schema()')->fetchColumn();
    if ($tables > 0) {
        throw new RuntimeException("the target database is not empty ($tables tables): migrate into a new, empty one");
    }
    $source->exec('BEGIN'); // one snapshot of the source for the copy and the checks
    $target->exec('BEGIN');
    try {
        $target->exec("SET LOCAL maintenance_work_mem = '256MB'");
        apply_schema_steps($target, 0);
        $counts = [];
        foreach (['scores', 'planes'] as $table) {
            $counts[$table] = copy_table($source, $target, $table);
        }
        $target->exec(add_to_counts('SELECT score, 1 AS delta FROM scores'));
        $target->exec("UPDATE skv_state SET value = {$counts['planes']} WHERE name = 'planes'");
        $sampled = check_copy($source, $target, $counts);
        $target->exec('COMMIT');
    } catch (Throwable $e) {
        $target->exec('ROLLBACK');
        throw $e instanceof RuntimeException ? $e : new RuntimeException('migration failed, the target is left empty: '
            . $e->getMessage(), 0, $e);
    } finally {
        $source->exec('COMMIT');
    }
    write_server_ini(['dsn' => $dsn, 'user' => $user, 'password' => $password]);
    return sprintf('migrated %d scores and %d designs; ranks agree for %d sampled scores; server.ini now names %s'
        . ' (%s is unchanged)', $counts['scores'], $counts['planes'], $sampled, $dsn, "$data/skv.sqlite");
}

// Copies every column the target's table has, keeping ids (the catalogue's order) and the next
// id the source would have given; the log triggers stay off, the counts are built afterwards.
function copy_table(PDO $source, PDO $target, string $table): int
{
    $q = $target->prepare('SELECT column_name FROM information_schema.columns
        WHERE table_schema = current_schema() AND table_name = ? ORDER BY ordinal_position');
    $q->execute([$table]);
    $columns = $q->fetchAll(PDO::FETCH_COLUMN);
    $target->exec("ALTER TABLE $table DISABLE TRIGGER USER");
    // An index built once over the copied rows costs a fraction of one kept up row by row.
    $q = $target->prepare("SELECT indexname, indexdef FROM pg_indexes i WHERE schemaname = current_schema()
        AND tablename = ? AND NOT EXISTS (SELECT 1 FROM pg_constraint c WHERE c.conname = i.indexname)");
    $q->execute([$table]);
    $indexes = $q->fetchAll(PDO::FETCH_KEY_PAIR);
    foreach (array_keys($indexes) as $index) {
        $target->exec("DROP INDEX $index");
    }
    $rows = $source->query('SELECT ' . implode(', ', $columns) . " FROM $table ORDER BY id");
    $n = 0;
    $chunk = [];
    while (($row = $rows->fetch()) !== false) {
        $chunk[] = implode("\t", array_map('copy_text', $row));
        if (count($chunk) === MIGRATE_CHUNK) {
            $target->pgsqlCopyFromArray($table, $chunk, "\t", '\\N', implode(',', $columns));
            $n += count($chunk);
            $chunk = [];
        }
    }
    if ($chunk) {
        $target->pgsqlCopyFromArray($table, $chunk, "\t", '\\N', implode(',', $columns));
        $n += count($chunk);
    }
    foreach ($indexes as $definition) {
        $target->exec($definition);
    }
    $target->exec("ALTER TABLE $table ENABLE TRIGGER USER");
    // AUTOINCREMENT never reuses an id, even of a removed row: neither may the target.
    $next = (int)$source->query("SELECT MAX(n) FROM (SELECT MAX(id) AS n FROM $table
        UNION ALL SELECT seq FROM sqlite_sequence WHERE name = '$table') s")->fetchColumn();
    $target->exec("SELECT setval(pg_get_serial_sequence('$table', 'id'), " . max(1, $next) . ', ' . ($next > 0 ? 'true' : 'false') . ')');
    return $n;
}

// A value in COPY's text form.
function copy_text(mixed $value): string
{
    return $value === null ? '\\N' : strtr((string)$value, ["\\" => '\\\\', "\t" => '\\t', "\n" => '\\n', "\r" => '\\r']);
}

// The row counts, and the rank of a sample of scores: the source's from its counts and log,
// the target's from the counts built anew.
function check_copy(PDO $source, PDO $target, array $counts): int
{
    foreach ($counts as $table => $copied) {
        $have = (int)$source->query("SELECT COUNT(*) FROM $table")->fetchColumn();
        $got = (int)$target->query("SELECT COUNT(*) FROM $table")->fetchColumn();
        if ($have !== $copied || $got !== $copied) {
            throw new RuntimeException("the $table counts disagree (SQLite $have, copied $copied, PostgreSQL $got): "
                . 'nothing was migrated');
        }
    }
    $scores = $source->query('SELECT score FROM scores ORDER BY random() LIMIT ' . MIGRATE_SAMPLE)->fetchAll(PDO::FETCH_COLUMN);
    foreach ($scores as $score) {
        [$sql, $args] = rank_query((int)$score);
        $ranks = [];
        foreach ([$source, $target] as $pdo) {
            $q = $pdo->prepare($sql);
            $q->execute($args);
            $ranks[] = (int)$q->fetchColumn();
        }
        if ($ranks[0] !== $ranks[1]) {
            throw new RuntimeException("the rank of score $score disagrees (SQLite {$ranks[0]}, PostgreSQL {$ranks[1]}): "
                . 'nothing was migrated');
        }
    }
    return count($scores);
}
