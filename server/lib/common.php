<?php
// Shared code of the game scripts, the website, the router and the admin tool.
declare(strict_types=1);

const PLANE_FILE_PATTERN = '/^[0-9a-f]{4,24}\.plane\z/'; // \z: "$" would let a trailing line feed through
const PAGE_CAP = 100;        // most catalogue entries one request gets
const MAX_SCORE_NAME = 63;   // bytes; the game's hiscore names are shorter
const MAX_PLANE_NAME = 1023; // bytes; what a design file can hold
const MAX_MAIL = 255;        // bytes after decoding; the Options dialog stores up to 255 characters
const MAX_HEADER_BLOCK = 1051; // bytes after the length field: the most a client's design header holds
const REGISTER_WINDOW = 120;   // seconds from a completed upload in which only its address may register it

// Mail addresses and the database password live in the data folder: owner only.
umask(0077);

// DATA/server.ini: storage (dsn, user, password), where design files live, limits.
function settings(): array
{
    static $ini = null;
    if ($ini === null) {
        $path = data_dir() . '/server.ini';
        $ini = is_file($path) ? (parse_ini_file($path) ?: []) : [];
    }
    return $ini;
}

function data_dir(): string
{
    static $dir = null;
    if ($dir === null) {
        $env = getenv('SKV_DATA');
        $dir = rtrim($env !== false && $env !== '' ? $env : dirname(__DIR__) . '/data', '/');
        // A missing data folder is made on first use rather than failing every request.
        if (!is_dir($dir) && !@mkdir($dir, 0700, true) && !is_dir($dir)) {
            throw new RuntimeException("cannot create the data folder $dir");
        }
    }
    return $dir;
}

// Design files and their upload records; several web nodes name one shared folder here.
function storage_dir(): string
{
    return rtrim((string)(settings()['storage'] ?? data_dir()), '/');
}

function planes_dir(): string
{
    $dir = storage_dir() . '/planes';
    if (!is_dir($dir)) {
        @mkdir($dir, 0700, true);
    }
    return $dir;
}

// One file per upload the FTP server took and nobody registered yet: "ADDRESS TIME SIZE".
function uploads_dir(): string
{
    return storage_dir() . '/uploads';
}

function register_window(): int
{
    return (int)(settings()['register_window'] ?? REGISTER_WINDOW);
}

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

function create_schema(PDO $pdo): void
{
    // AUTOINCREMENT: ids are never reused, so the catalogue order stays fixed.
    $id = is_sqlite($pdo) ? 'INTEGER PRIMARY KEY AUTOINCREMENT' : 'BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY';
    $pdo->exec("CREATE TABLE IF NOT EXISTS scores (
        id $id,
        name TEXT NOT NULL,
        score BIGINT NOT NULL,
        mail TEXT NOT NULL DEFAULT '',
        uploaded BIGINT NOT NULL)");
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
        uploaded BIGINT NOT NULL)");
    if (!is_sqlite($pdo)) {
        create_rank_counts($pdo);
    }
    create_site_indexes($pdo);
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

const PLANE_NUMBERS = ['costs', 'weight', 'consumption', 'noise', 'reliability', 'velocity', 'flight_range'];

// Stores a score entry (a repeat of the same name and score only updates the mail) and returns its rank.
function add_score(string $name, int $score, string $mail): int
{
    $pdo = db();
    $pdo->prepare('INSERT INTO scores (name, score, mail, uploaded) VALUES (?, ?, ?, ?)
                   ON CONFLICT (score, name) DO UPDATE SET mail = excluded.mail')
        ->execute([$name, $score, $mail, time()]);
    return score_rank($score);
}

// Equal scores share a rank: 1 + the number of entries with a higher score. On PostgreSQL from
// the prefix counts (exact, bounded cost); SQLite, for small stores, counts the rows.
function score_rank(int $score): int
{
    $pdo = db();
    if (!is_sqlite($pdo)) {
        return counted_rank($pdo, $score);
    }
    $q = $pdo->prepare('SELECT COUNT(*) FROM scores WHERE score > ?');
    $q->execute([$score]);
    return 1 + (int)$q->fetchColumn();
}

// --- Rank at scale (PostgreSQL): exact counts per score prefix, kept by a trigger ---
// Level L (1..8) counts the scores per prefix score >> (64 - 8L): the top byte, two bytes, ... the
// whole score. The scores above x are those whose prefix at some level has x's parent prefix
// and a larger last byte, so a rank reads at most 8 x 255 small rows, whatever the table holds.
const RANK_LEVELS = 8;

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

function counted_rank(PDO $pdo, int $score): int
{
    static $q = null;
    $terms = ['(level = 1 AND prefix > ?)'];
    $args = [$score >> 56];
    for ($level = 2; $level <= RANK_LEVELS; $level++) {
        $shift = 64 - 8 * $level;
        $parent = $score >> ($shift + 8);
        $terms[] = "(level = $level AND prefix > ? AND prefix <= ?)";
        array_push($args, $score >> $shift, ($parent << 8) | 255);
    }
    $q ??= $pdo->prepare('SELECT COALESCE(SUM(n), 0) FROM score_counts WHERE ' . implode(' OR ', $terms));
    $q->execute($args);
    return 1 + (int)$q->fetchColumn();
}

// $numbers in file order: Costs, Weight, Consumption, Noise, Reliability, Velocity, Range.
function add_plane(string $name, string $file, string $mail, array $numbers): void
{
    $cols = implode(', ', PLANE_NUMBERS);
    db()->prepare("INSERT INTO planes (name, file, mail, $cols, uploaded) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
        ->execute([$name, $file, $mail, ...$numbers, time()]);
}

function plane_registered(string $file): bool
{
    $q = db()->prepare('SELECT 1 FROM planes WHERE file = ?');
    $q->execute([$file]);
    return $q->fetchColumn() !== false;
}

function plane_count(): int
{
    return (int)db()->query('SELECT COUNT(*) FROM planes')->fetchColumn();
}

// Catalogue order is oldest first, so entry i stays entry i while new designs arrive.
function plane_page(int $from, int $num): array
{
    $q = db()->prepare('SELECT * FROM planes ORDER BY id LIMIT ? OFFSET ?');
    $q->bindValue(1, $num, PDO::PARAM_INT);
    $q->bindValue(2, $from, PDO::PARAM_INT);
    $q->execute();
    return $q->fetchAll();
}

// --- Text encodings: the client speaks Windows-1252, storage holds UTF-8. ---

function cp1252_table(): array
{
    static $table = null;
    if ($table === null) {
        $c1 = [0x80 => 0x20AC, 0x82 => 0x201A, 0x83 => 0x0192, 0x84 => 0x201E, 0x85 => 0x2026, 0x86 => 0x2020,
            0x87 => 0x2021, 0x88 => 0x02C6, 0x89 => 0x2030, 0x8A => 0x0160, 0x8B => 0x2039, 0x8C => 0x0152,
            0x8E => 0x017D, 0x91 => 0x2018, 0x92 => 0x2019, 0x93 => 0x201C, 0x94 => 0x201D, 0x95 => 0x2022,
            0x96 => 0x2013, 0x97 => 0x2014, 0x98 => 0x02DC, 0x99 => 0x2122, 0x9A => 0x0161, 0x9B => 0x203A,
            0x9C => 0x0153, 0x9E => 0x017E, 0x9F => 0x0178];
        for ($b = 0x80; $b <= 0xFF; $b++) {
            $cp = $c1[$b] ?? $b; // the five unassigned bytes keep their own code point
            $table[chr($b)] = $cp < 0x800
                ? chr(0xC0 | $cp >> 6) . chr(0x80 | $cp & 0x3F)
                : chr(0xE0 | $cp >> 12) . chr(0x80 | $cp >> 6 & 0x3F) . chr(0x80 | $cp & 0x3F);
        }
    }
    return $table;
}

function cp1252_to_utf8(string $s): string
{
    return strtr($s, cp1252_table());
}

function utf8_to_cp1252(string $s): string
{
    static $back = null;
    $back ??= array_flip(cp1252_table());
    return preg_replace_callback('/[^\x00-\x7F]/u', fn($m) => $back[$m[0]] ?? '?', $s) ?? '?';
}

// A text field of a catalogue line: no field separators, no line breaks, no tags that could
// read as a title element, and nothing that ends a C string early.
function wire_text(string $utf8): string
{
    $s = strtr($utf8, [';' => ',', '<' => '(', '>' => ')']);
    return utf8_to_cp1252(preg_replace('/[\x00-\x1F\x7F]/', ' ', $s));
}

// --- Requests and answers ---

function plain_headers(int $status = 200): void
{
    http_response_code($status);
    header('Content-Type: text/plain; charset=windows-1252');
    // The client's HTTP layer caches GET answers unless told not to.
    header('Cache-Control: no-store, no-cache, must-revalidate');
    header('Pragma: no-cache');
    header('Expires: 0');
}

function refuse(int $status, string $reason): never
{
    plain_headers($status);
    echo $reason, "\n";
    exit;
}

function require_get(): void
{
    if (($_SERVER['REQUEST_METHOD'] ?? 'GET') !== 'GET') {
        header('Allow: GET');
        refuse(405, 'only GET is served');
    }
}

// The fields of data= split on the raw query string: an escaped ";" (%3b) stays inside its field.
function data_fields(int $count): array
{
    foreach (explode('&', $_SERVER['QUERY_STRING'] ?? '') as $pair) {
        if (str_starts_with($pair, 'data=')) {
            $fields = explode(';', substr($pair, 5));
            if (count($fields) !== $count) {
                refuse(400, "data needs $count fields separated by ;, got " . count($fields));
            }
            return $fields;
        }
    }
    refuse(400, 'data is missing');
}

function text_field(string $raw, string $what, int $maxBytes): string
{
    $bytes = explode("\0", rawurldecode($raw))[0]; // a C string ends at its first zero byte
    if (strlen($bytes) > $maxBytes) {
        refuse(400, "$what is longer than $maxBytes bytes");
    }
    return cp1252_to_utf8($bytes);
}

function int_field(string $raw, string $what, int $min, int $max): int
{
    $v = preg_match('/^-?(0|[1-9][0-9]{0,18})\z/', $raw) ? filter_var($raw, FILTER_VALIDATE_INT) : false;
    if ($v === false || $v < $min || $v > $max) {
        refuse(400, "$what is not an integer from $min to $max");
    }
    return $v;
}

// Turns uncaught failures into a plain 500 answer: never an HTML page the client would misread.
function plain_failures(): void
{
    set_exception_handler(function (Throwable $e): void {
        error_log('skv: ' . $e);
        if (!headers_sent()) {
            plain_headers(500);
        }
        echo "server error\n";
    });
}

// --- Design files ---

// A .plane file: N, seven int32 numbers and the name (N bytes in all), then the game's body.
function plane_file_bytes(array $numbers, string $nameCp1252, string $body): string
{
    $block = pack('V7', ...$numbers) . $nameCp1252 . "\0";
    return pack('V', strlen($block)) . $block . $body;
}

// Why a stored file is no design file, or null: the length field N, seven numbers and a name
// within 28..1051 bytes, and at least that much file after the length field.
function design_file_fault(string $path): ?string
{
    $size = @filesize($path);
    $f = @fopen($path, 'rb');
    if ($size === false || $f === false) {
        return 'file cannot be read';
    }
    $head = fread($f, 4);
    fclose($f);
    if (strlen($head) < 4) {
        return 'file is too short for a design';
    }
    $n = unpack('V', $head)[1];
    if ($n < 28 || $n > MAX_HEADER_BLOCK) {
        return "file is not a design: header length $n is outside 28 to " . MAX_HEADER_BLOCK;
    }
    if ($size < 4 + $n) {
        return 'file is cut: ' . $size . ' bytes, its header alone needs ' . (4 + $n);
    }
    return null;
}
