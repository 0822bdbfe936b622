<?php
// The tables, indexes and count triggers of both storages.
declare(strict_types=1);
require_once __DIR__ . '/connection.php';
require_once __DIR__ . '/designs.php';

function create_schema(PDO $pdo): void
{
    // AUTOINCREMENT: ids are never reused, so the catalogue order stays fixed.
    $id = is_sqlite($pdo) ? 'INTEGER PRIMARY KEY AUTOINCREMENT' : 'BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY';
    $pdo->exec("CREATE TABLE IF NOT EXISTS scores (
        id $id,
        name TEXT NOT NULL,
        score BIGINT NOT NULL,
        mail TEXT NOT NULL DEFAULT '',
        uploaded BIGINT NOT NULL,
        uploader TEXT NOT NULL DEFAULT '')");
    // One entry per name and score; the index also serves the rank count (score > x).
    $pdo->exec('CREATE UNIQUE INDEX IF NOT EXISTS scores_by_score ON scores (score, name)');
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
        uploaded BIGINT NOT NULL,
        uploader TEXT NOT NULL DEFAULT '',
        size BIGINT NOT NULL DEFAULT 0)");
    if (!is_sqlite($pdo)) {
        create_rank_counts($pdo);
    }
    create_site_indexes($pdo);
    add_uploader_columns($pdo);
}

// --- Who uploaded what (quotas, the hiscore mail rule) and the design-name index: additive ---
// The address and size columns are in the CREATE TABLEs above; a store made before them gets
// them here, with the index that sums an address's designs and, on SQLite, the trigram index of
// design names (PostgreSQL's is planes_by_name_trgm).
const UPLOADER_COLUMNS = ['scores' => ['uploader' => "TEXT NOT NULL DEFAULT ''"],
    'planes' => ['uploader' => "TEXT NOT NULL DEFAULT ''", 'size' => 'BIGINT NOT NULL DEFAULT 0']];

function add_uploader_columns(PDO $pdo): void
{
    $sqlite = is_sqlite($pdo);
    $have = (int)$pdo->query($sqlite
        ? "SELECT COUNT(*) FROM sqlite_master WHERE name IN ('planes_by_uploader', 'planes_names', 'planes_names_add',
              'planes_names_remove')"
        : "SELECT COUNT(*) FROM pg_indexes WHERE schemaname = current_schema() AND indexname = 'planes_by_uploader'")
        ->fetchColumn();
    if ($have === ($sqlite ? 4 : 1)) {
        return;
    }
    $pdo->beginTransaction();
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
    $pdo->commit();
}

// The website's lists: hiscores in rank order (ties by name), a player's best entry, and the
// catalogue sorted by each number (ties by id, so every order is total). score_buckets counts the
// scores per 65,536-wide score range, kept by triggers: page and rank look-ups add up a few
// hundred bucket counts instead of counting a million index entries.
const SCORE_BUCKET_BITS = 16;

function create_site_indexes(PDO $pdo): void
{
    // Rank order is (~score, name): ~score falls as the score rises. A (score DESC, name) index
    // would also serve the rank count (score > x), which SQLite then walks backwards at half speed.
    $indexes = ['scores_by_rank_key' => 'scores ((~score), name)', 'scores_by_name' => 'scores (name, score)'];
    foreach (PLANE_NUMBERS as $col) {
        $indexes["planes_by_$col"] = "planes ($col, id)";
    }
    // One look-up instead of a statement per object on every request (DDL is slow on PostgreSQL).
    $sqlite = is_sqlite($pdo);
    $names = "'" . implode("', '", array_keys($indexes)) . "'";
    $have = (int)$pdo->query($sqlite
        ? "SELECT COUNT(*) FROM sqlite_master WHERE name IN ($names, 'score_buckets', 'scores_bucket_insert',
              'scores_bucket_delete', 'scores_bucket_update')"
        : "SELECT (SELECT COUNT(*) FROM pg_indexes WHERE schemaname = current_schema() AND indexname IN ($names))
              + (SELECT COUNT(*) FROM pg_trigger WHERE tgname IN ('scores_bucket_insert', 'scores_bucket_delete',
                  'scores_bucket_update'))
              + (CASE WHEN to_regclass('score_buckets') IS NULL THEN 0 ELSE 1 END)")->fetchColumn();
    if ($have === count($indexes) + 4) {
        return;
    }
    foreach ($indexes as $name => $on) {
        $pdo->exec("CREATE INDEX IF NOT EXISTS $name ON $on");
    }
    $pdo->beginTransaction();
    $b = SCORE_BUCKET_BITS;
    $fresh = (int)$pdo->query($sqlite ? "SELECT COUNT(*) FROM sqlite_master WHERE name = 'score_buckets'"
        : "SELECT CASE WHEN to_regclass('score_buckets') IS NULL THEN 0 ELSE 1 END")->fetchColumn() === 0;
    $pdo->exec('CREATE TABLE IF NOT EXISTS score_buckets (bucket BIGINT PRIMARY KEY, n BIGINT NOT NULL)');
    if ($fresh) {
        $pdo->exec("INSERT INTO score_buckets SELECT score >> $b, COUNT(*) FROM scores GROUP BY score >> $b");
    }
    $add = "INSERT INTO score_buckets (bucket, n) VALUES (NEW.score >> $b, 1)
            ON CONFLICT (bucket) DO UPDATE SET n = score_buckets.n + 1";
    $sub = "UPDATE score_buckets SET n = n - 1 WHERE bucket = OLD.score >> $b";
    if ($sqlite) {
        $pdo->exec("CREATE TRIGGER IF NOT EXISTS scores_bucket_insert AFTER INSERT ON scores BEGIN $add; END");
        $pdo->exec("CREATE TRIGGER IF NOT EXISTS scores_bucket_delete AFTER DELETE ON scores BEGIN $sub; END");
        $pdo->exec("CREATE TRIGGER IF NOT EXISTS scores_bucket_update AFTER UPDATE OF score ON scores BEGIN $sub; $add; END");
    } else {
        // Per statement, from the statement's changed rows: a bulk load updates each bucket row
        // once per statement instead of once per score (row versions pile up in one transaction).
        $count = "SELECT score >> $b AS bucket, COUNT(*) AS n FROM %s GROUP BY 1";
        $plus = "INSERT INTO score_buckets (bucket, n) $count ON CONFLICT (bucket) DO UPDATE SET n = score_buckets.n + excluded.n";
        $minus = "UPDATE score_buckets SET n = score_buckets.n - gone.n FROM ($count) gone WHERE score_buckets.bucket = gone.bucket";
        $pdo->exec(sprintf("CREATE OR REPLACE FUNCTION scores_bucket_count() RETURNS trigger LANGUAGE plpgsql AS \$\$
            BEGIN
                IF TG_OP <> 'INSERT' THEN $minus; END IF;
                IF TG_OP <> 'DELETE' THEN $plus; END IF;
                RETURN NULL;
            END \$\$", 'old_rows', 'new_rows'));
        foreach (['INSERT' => 'NEW TABLE AS new_rows', 'DELETE' => 'OLD TABLE AS old_rows',
                     'UPDATE' => 'OLD TABLE AS old_rows NEW TABLE AS new_rows'] as $event => $tables) {
            $name = 'scores_bucket_' . strtolower($event);
            $pdo->exec("CREATE OR REPLACE TRIGGER $name AFTER $event ON scores REFERENCING $tables
                        FOR EACH STATEMENT EXECUTE FUNCTION scores_bucket_count()");
        }
    }
    $pdo->commit();
    if (!$sqlite) {
        // Trigrams let a name search read only the matching rows; without the extension it scans.
        try {
            $pdo->exec('CREATE EXTENSION IF NOT EXISTS pg_trgm');
            $pdo->exec('CREATE INDEX IF NOT EXISTS planes_by_name_trgm ON planes USING gin (name gin_trgm_ops)');
        } catch (PDOException $e) {
            error_log('skv: name search without trigram index: ' . $e->getMessage());
        }
    }
}

// The rank's prefix counts (scores.php reads them).
function create_rank_counts(PDO $pdo): void
{
    $pdo->exec('CREATE TABLE IF NOT EXISTS score_counts (
        level SMALLINT NOT NULL, prefix BIGINT NOT NULL, n BIGINT NOT NULL, PRIMARY KEY (level, prefix))');
    if ($pdo->query("SELECT 1 FROM pg_trigger WHERE tgname = 'scores_count'")->fetchColumn() !== false) {
        return;
    }
    $pdo->beginTransaction();
    // Nobody stores a score while the counts are built; the second of two first requests finds them.
    $pdo->exec('LOCK TABLE scores IN SHARE ROW EXCLUSIVE MODE');
    if ($pdo->query("SELECT 1 FROM pg_trigger WHERE tgname = 'scores_count'")->fetchColumn() === false) {
        $pdo->exec(<<<'SQL'
            CREATE OR REPLACE FUNCTION scores_count() RETURNS trigger LANGUAGE plpgsql AS $$
            DECLARE s BIGINT; d INTEGER;
            BEGIN
                IF TG_OP = 'INSERT' THEN s := NEW.score; d := 1; ELSE s := OLD.score; d := -1; END IF;
                FOR lvl IN 1..8 LOOP
                    INSERT INTO score_counts (level, prefix, n) VALUES (lvl, s >> (64 - 8 * lvl), d)
                        ON CONFLICT (level, prefix) DO UPDATE SET n = score_counts.n + d;
                END LOOP;
                RETURN NULL;
            END $$
            SQL);
        $pdo->exec(<<<'SQL'
            CREATE OR REPLACE FUNCTION skv_rebuild_score_counts() RETURNS void LANGUAGE sql AS $$
                DELETE FROM score_counts;
                INSERT INTO score_counts (level, prefix, n)
                    SELECT l, score >> (64 - 8 * l), COUNT(*) FROM scores, generate_series(1, 8) l GROUP BY 1, 2;
            $$
            SQL);
        // Bulk loads (benchmarks): rows in one statement without the per-row trigger, then a rebuild.
        $pdo->exec(<<<'SQL'
            CREATE OR REPLACE FUNCTION skv_bulk_load(first BIGINT, last BIGINT) RETURNS void LANGUAGE plpgsql AS $$
            BEGIN
                ALTER TABLE scores DISABLE TRIGGER scores_count;
                INSERT INTO scores (name, score, mail, uploaded)
                    SELECT 'Seed ' || i, (random() * 10000000)::BIGINT, '', 0 FROM generate_series(first, last) i;
                ALTER TABLE scores ENABLE TRIGGER scores_count;
                PERFORM skv_rebuild_score_counts();
            END $$
            SQL);
        $pdo->exec('CREATE TRIGGER scores_count AFTER INSERT OR DELETE ON scores
                    FOR EACH ROW EXECUTE FUNCTION scores_count()');
        $pdo->exec('SELECT skv_rebuild_score_counts()');
    }
    $pdo->commit();
}
