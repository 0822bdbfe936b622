<?php
// The tables, indexes and count triggers of both storages, in numbered versions. `admin.php init`
// (run by start.sh) applies them; a request never does: it only notices an older schema.
declare(strict_types=1);
require_once __DIR__ . '/connection.php';
require_once __DIR__ . '/counters.php';
require_once __DIR__ . '/designs.php';
require_once __DIR__ . '/scores.php';

// One function per version, each taking the schema from the version before to its own. A later
// change is one more function at the end of this list.
const SCHEMA_STEPS = [1 => 'schema_base', 2 => 'schema_counted_ranks', 3 => 'schema_uploaders'];
define('SCHEMA_VERSION', max(array_keys(SCHEMA_STEPS)));

// The stored version; 0 for an empty store, 1 for a store made before versions were kept.
function schema_version(PDO $pdo): int
{
    if (table_exists($pdo, 'schema_version')) {
        return (int)$pdo->query('SELECT MAX(version) FROM schema_version')->fetchColumn();
    }
    return table_exists($pdo, 'scores') ? 1 : 0;
}

// Asked without an error, which would end PostgreSQL's transaction.
function table_exists(PDO $pdo, string $table): bool
{
    $q = $pdo->prepare(is_sqlite($pdo) ? "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?"
        : 'SELECT to_regclass(?) IS NOT NULL');
    $q->execute([$table]);
    return (bool)$q->fetchColumn();
}

// The one line a server prints when its store and its code disagree, or null when they agree.
function schema_mismatch(PDO $pdo): ?string
{
    $have = schema_version($pdo);
    return match (true) {
        $have === SCHEMA_VERSION => null,
        $have === 0 => 'the database has no schema yet: run php admin.php --data DIR init',
        $have < SCHEMA_VERSION => "the database schema is version $have, this server needs " . SCHEMA_VERSION
            . ': run php admin.php --data DIR init --upgrade',
        default => "the database schema is version $have, newer than this server's " . SCHEMA_VERSION,
    };
}

// Creates a new store, or with $upgrade takes an older one to the current version. Returns what
// it did; throws with the mismatch line when an older store is met without $upgrade.
function apply_schema(PDO $pdo, bool $upgrade): string
{
    $sqlite = is_sqlite($pdo);
    if ($sqlite) {
        $pdo->exec('PRAGMA journal_mode = WAL'); // kept in the file: readers no longer wait for the writer
        $pdo->exec('BEGIN IMMEDIATE');
    } else {
        $pdo->exec('BEGIN');
        $pdo->exec('SELECT pg_advisory_xact_lock(' . LOCK_SCHEMA . ')');
    }
    try {
        $have = schema_version($pdo);
        if ($have > SCHEMA_VERSION || ($have > 0 && $have < SCHEMA_VERSION && !$upgrade)) {
            throw new RuntimeException(schema_mismatch($pdo));
        }
        foreach (SCHEMA_STEPS as $version => $step) {
            if ($version > $have) {
                $step($pdo, $sqlite);
            }
        }
        $pdo->exec('CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)');
        $pdo->exec('DELETE FROM schema_version');
        $pdo->exec('INSERT INTO schema_version (version) VALUES (' . SCHEMA_VERSION . ')');
        $pdo->exec('COMMIT');
    } catch (Throwable $e) {
        $pdo->exec('ROLLBACK');
        throw $e;
    }
    return match (true) {
        $have === SCHEMA_VERSION => 'schema version ' . SCHEMA_VERSION . ' is current',
        $have === 0 => 'schema version ' . SCHEMA_VERSION . ' created',
        default => "schema upgraded from version $have to " . SCHEMA_VERSION,
    };
}

// Version 1: the scripts' tables and the website's indexes.
function schema_base(PDO $pdo, bool $sqlite): void
{
    // AUTOINCREMENT: ids are never reused, so the catalogue order stays fixed.
    $id = $sqlite ? 'INTEGER PRIMARY KEY AUTOINCREMENT' : 'BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY';
    $pdo->exec("CREATE TABLE IF NOT EXISTS scores (
        id $id,
        name TEXT NOT NULL,
        score BIGINT NOT NULL,
        mail TEXT NOT NULL DEFAULT '',
        uploaded BIGINT NOT NULL)");
    $pdo->exec("CREATE TABLE IF NOT EXISTS planes (
        id $id,
        name TEXT NOT NULL,
        file TEXT NOT NULL UNIQUE,
        mail TEXT NOT NULL DEFAULT '',
        costs INTEGER NOT NULL,
        weight INTEGER NOT NULL,
        consumption INTEGER NOT NULL,
        noise INTEGER NOT NULL,
        reliability INTEGER NOT NULL,
        velocity INTEGER NOT NULL,
        flight_range INTEGER NOT NULL,
        uploaded BIGINT NOT NULL)");
    // A player's best entry; the catalogue sorted by each number (ties by id: every order is total).
    $pdo->exec('CREATE INDEX IF NOT EXISTS scores_by_name ON scores (name, score)');
    foreach (PLANE_NUMBERS as $col) {
        $pdo->exec("CREATE INDEX IF NOT EXISTS planes_by_$col ON planes ($col, id)");
    }
    if (!$sqlite) {
        // Trigrams let a name search read only the matching rows; without the extension it scans.
        $pdo->exec('SAVEPOINT trigram');
        try {
            $pdo->exec('CREATE EXTENSION IF NOT EXISTS pg_trgm');
            $pdo->exec('CREATE INDEX IF NOT EXISTS planes_by_name_trgm ON planes USING gin (name gin_trgm_ops)');
            $pdo->exec('RELEASE SAVEPOINT trigram');
        } catch (PDOException $e) {
            $pdo->exec('ROLLBACK TO SAVEPOINT trigram');
            error_log('skv: name search without trigram index: ' . $e->getMessage());
        }
    }
}

// Version 2: one rank structure (counts per score prefix and the log of changes not yet counted)
// instead of the bucket table and the per-row prefix counts; the catalogue's size the same way.
function schema_counted_ranks(PDO $pdo, bool $sqlite): void
{
    // What version 1 kept: the bucket table with its triggers, PostgreSQL's per-row prefix counts.
    foreach (['scores_bucket_insert', 'scores_bucket_delete', 'scores_bucket_update', 'scores_count'] as $t) {
        $pdo->exec($sqlite ? "DROP TRIGGER IF EXISTS $t" : "DROP TRIGGER IF EXISTS $t ON scores");
    }
    if (!$sqlite) {
        $pdo->exec('DROP FUNCTION IF EXISTS scores_bucket_count(), scores_count(), skv_bulk_load(BIGINT, BIGINT),
                    skv_rebuild_score_counts()');
    }
    $pdo->exec('DROP TABLE IF EXISTS score_buckets');
    $pdo->exec('DROP TABLE IF EXISTS score_counts');
    $pdo->exec('DROP INDEX IF EXISTS scores_by_rank_key');
    $pdo->exec('DROP INDEX IF EXISTS scores_by_score');
    // One entry per name and score, in rank order: score descending, ties by name.
    $pdo->exec('CREATE UNIQUE INDEX scores_by_rank ON scores (score DESC, name)');

    $log = $sqlite ? 'INTEGER PRIMARY KEY' : 'BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY';
    $pdo->exec('CREATE TABLE score_counts (level SMALLINT NOT NULL, prefix BIGINT NOT NULL, n BIGINT NOT NULL,
                PRIMARY KEY (level, prefix))');
    $pdo->exec("CREATE TABLE score_log (id $log, score BIGINT NOT NULL, delta INTEGER NOT NULL)");
    $pdo->exec('CREATE INDEX score_log_by_score ON score_log (score)');
    $pdo->exec("CREATE TABLE plane_log (id $log, delta INTEGER NOT NULL)");
    // Folded totals and generations: a fold bumps its generation, so (generation, log length)
    // names one state of the ranking or the catalogue (the pages' cache key).
    $pdo->exec('CREATE TABLE skv_state (name TEXT PRIMARY KEY, value BIGINT NOT NULL)');
    $pdo->exec(state_start_sql());
    $pdo->exec(add_to_counts('SELECT score, 1 AS delta FROM scores'));
    $sqlite ? sqlite_log_triggers($pdo) : postgres_log_triggers($pdo);
}

function sqlite_log_triggers(PDO $pdo): void
{
    $pdo->exec('CREATE TRIGGER scores_log_insert AFTER INSERT ON scores BEGIN
                INSERT INTO score_log (score, delta) VALUES (NEW.score, 1); END');
    $pdo->exec('CREATE TRIGGER scores_log_delete AFTER DELETE ON scores BEGIN
                INSERT INTO score_log (score, delta) VALUES (OLD.score, -1); END');
    $pdo->exec('CREATE TRIGGER scores_log_update AFTER UPDATE ON scores BEGIN
                INSERT INTO score_log (score, delta) VALUES (OLD.score, -1), (NEW.score, 1); END');
    foreach (['INSERT' => 1, 'DELETE' => -1, 'UPDATE' => 0] as $event => $delta) {
        $pdo->exec('CREATE TRIGGER planes_log_' . strtolower($event) . " AFTER $event ON planes BEGIN
                    INSERT INTO plane_log (delta) VALUES ($delta); END");
    }
}

// Per statement, from its changed rows.
function postgres_log_triggers(PDO $pdo): void
{
    $changed = ['insert' => 'SELECT score, 1 AS delta FROM new_rows',
        'delete' => 'SELECT score, -1 AS delta FROM old_rows',
        'update' => 'SELECT score, -1 AS delta FROM old_rows UNION ALL SELECT score, 1 FROM new_rows'];
    $tables = ['insert' => 'NEW TABLE AS new_rows', 'delete' => 'OLD TABLE AS old_rows',
        'update' => 'OLD TABLE AS old_rows NEW TABLE AS new_rows'];
    $planes = ['insert' => '(SELECT COUNT(*) FROM new_rows)', 'delete' => '-(SELECT COUNT(*) FROM old_rows)',
        'update' => '0'];
    foreach ($changed as $e => $rows) {
        $pdo->exec("CREATE FUNCTION scores_log_$e() RETURNS trigger LANGUAGE plpgsql AS \$\$
            BEGIN " . score_changes_plpgsql($rows) . " RETURN NULL; END \$\$");
        $pdo->exec("CREATE FUNCTION planes_log_$e() RETURNS trigger LANGUAGE plpgsql AS \$\$
            BEGIN INSERT INTO plane_log (delta) VALUES ({$planes[$e]}); RETURN NULL; END \$\$");
        $event = strtoupper($e);
        $pdo->exec("CREATE TRIGGER scores_log_$e AFTER $event ON scores REFERENCING {$tables[$e]}
                    FOR EACH STATEMENT EXECUTE FUNCTION scores_log_$e()");
        $pdo->exec("CREATE TRIGGER planes_log_$e AFTER $event ON planes REFERENCING {$tables[$e]}
                    FOR EACH STATEMENT EXECUTE FUNCTION planes_log_$e()");
    }
}

// Version 3: who uploaded what (quotas, the hiscore mail rule), a design's stored size, and on
// SQLite the trigram index of design names (PostgreSQL's, planes_by_name_trgm, is version 1's).
// A store written by a server of that time without versions may have them already.
const UPLOADER_COLUMNS = ['scores' => ['uploader' => "TEXT NOT NULL DEFAULT ''"],
    'planes' => ['uploader' => "TEXT NOT NULL DEFAULT ''", 'size' => 'BIGINT NOT NULL DEFAULT 0']];

function schema_uploaders(PDO $pdo, bool $sqlite): void
{
    foreach (UPLOADER_COLUMNS as $table => $columns) {
        $existing = $sqlite ? array_column($pdo->query("PRAGMA table_info($table)")->fetchAll(), 'name') : [];
        foreach ($columns as $column => $type) {
            if (!in_array($column, $existing, true)) {
                $pdo->exec("ALTER TABLE $table ADD COLUMN " . ($sqlite ? '' : 'IF NOT EXISTS ') . "$column $type");
            }
        }
    }
    $pdo->exec('CREATE INDEX IF NOT EXISTS planes_by_uploader ON planes (uploader, size)');
    if ($sqlite) {
        $pdo->exec("CREATE VIRTUAL TABLE IF NOT EXISTS planes_names USING fts5(name, content='planes',
                    content_rowid='id', tokenize='trigram')");
        $pdo->exec("INSERT INTO planes_names (planes_names) VALUES ('rebuild')");
        $pdo->exec('CREATE TRIGGER IF NOT EXISTS planes_names_add AFTER INSERT ON planes BEGIN
                        INSERT INTO planes_names (rowid, name) VALUES (NEW.id, NEW.name); END');
        $pdo->exec("CREATE TRIGGER IF NOT EXISTS planes_names_remove AFTER DELETE ON planes BEGIN
                        INSERT INTO planes_names (planes_names, rowid, name) VALUES ('delete', OLD.id, OLD.name); END");
    }
}
