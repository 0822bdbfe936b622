<?php
// Backups of the store: the database snapshot first (SQLite: VACUUM INTO, online; PostgreSQL:
// pgBackRest, run just before), then the design files, then the upload records. Every design in
// the snapshot was registered before it began, so its file is in the copy; a file newer than
// the snapshot is an extra, which a restore hands to the sweeper as an unregistered upload.
declare(strict_types=1);
require_once __DIR__ . '/connection.php';
require_once __DIR__ . '/counters.php';
require_once __DIR__ . '/designs.php';
require_once __DIR__ . '/schema.php';
require_once __DIR__ . '/scores.php';
require_once __DIR__ . '/settings.php';

const BACKUP_FORMAT = 1;
const BACKUP_NAME = '/^\d{8}-\d{6}\z/';  // ROOT/20261209-031500: UTC time of the snapshot

// Takes a backup into a new folder under $root and returns it; keeps the newest $keep there.
function backup_store(string $root, int $keep): string
{
    @mkdir($root, 0700, true);
    if (!is_writable($root) || ($root = realpath($root)) === false) {
        throw new RuntimeException("cannot write backups into $root as " . (posix_getpwuid(posix_geteuid())['name'] ?? '?'));
    }
    $previous = latest_backup($root);
    $taken = time();
    $name = gmdate('Ymd-His', $taken);
    if (is_dir("$root/$name")) {
        throw new RuntimeException("$root/$name exists: one backup a second");
    }
    // Built aside and renamed when complete: a folder with a backup name is a whole backup.
    $work = "$root/.$name.partial";
    remove_tree($work);
    mkdir("$work/planes", 0700, true);
    mkdir("$work/uploads", 0700);
    $pdo = db();
    if (is_sqlite($pdo)) {
        $pdo->exec('VACUUM INTO ' . $pdo->quote("$work/skv.sqlite"));
        sync_file("$work/skv.sqlite");
        $snapshot = new PDO("sqlite:$work/skv.sqlite", null, null, [PDO::ATTR_ERRMODE => PDO::ERRMODE_EXCEPTION]);
    } else {
        $snapshot = $pdo; // the database itself is pgBackRest's
    }
    $counts = ['scores' => (int)$snapshot->query('SELECT COUNT(*) FROM scores')->fetchColumn(),
        'designs' => (int)$snapshot->query('SELECT COUNT(*) FROM planes')->fetchColumn()];
    $snapshot = null;
    $files = copy_folder(planes_dir(), "$work/planes", $previous === null ? null : "$previous/planes");
    copy_folder(uploads_dir(), "$work/uploads", null);
    if (is_file(data_dir() . '/server.ini')) {
        copy(data_dir() . '/server.ini', "$work/server.ini");
    }
    write_manifest("$work/backup.ini", ['format' => BACKUP_FORMAT, 'schema' => SCHEMA_VERSION,
        'storage' => is_sqlite($pdo) ? 'sqlite' : 'pgsql', 'taken' => $taken, ...$counts, 'files' => $files]);
    rename($work, "$root/$name");
    prune_backups($root, $keep);
    return "$root/$name";
}

// $dir itself when it is one backup, else the newest backup in it.
function backup_at(string $dir): string
{
    if (is_file("$dir/backup.ini")) {
        return $dir;
    }
    return latest_backup($dir) ?? throw new RuntimeException("$dir holds no backup (no backup.ini)");
}

function latest_backup(string $root): ?string
{
    $names = backup_names($root);
    return $names ? "$root/" . end($names) : null;
}

function backup_names(string $root): array
{
    $names = array_values(array_filter(@scandir($root) ?: [],
        fn(string $n) => preg_match(BACKUP_NAME, $n) === 1 && is_file("$root/$n/backup.ini")));
    sort($names);
    return $names;
}

function prune_backups(string $root, int $keep): void
{
    $names = backup_names($root);
    foreach (array_slice($names, 0, max(0, count($names) - max(1, $keep))) as $old) {
        remove_tree("$root/$old");
    }
}

// A restore or a migration changes the data folder only while no server runs for it: this holds
// the lock that every server start.sh starts keeps while it runs (among root's records, which the
// folder's owner may read: lib/records.sh says where; none before the first start), so none starts
// until the returned handle goes. It refuses while one runs, or (SQLite) while any process holds
// the database open.
function hold_idle(string $data): mixed
{
    $records = is_dir("$data.root") && fileowner("$data.root") === 0 ? "$data.root" : $data;
    $lock = @fopen("$records/servers.lock", 'r');
    if ($lock !== false && !flock($lock, LOCK_EX | LOCK_NB)) {
        throw new RuntimeException("the data folder $data is in use (a server started for it runs): stop it first with server/stop.sh --data $data");
    }
    $db = "$data/skv.sqlite";
    if (!is_file($db) || ini_dsn($data) !== null) {
        return $lock;
    }
    try {
        $probe = new PDO("sqlite:$db", null, null, [PDO::ATTR_ERRMODE => PDO::ERRMODE_EXCEPTION]);
        $probe->exec('PRAGMA busy_timeout = 0');
        $probe->exec('PRAGMA locking_mode = EXCLUSIVE');
        $probe->exec('BEGIN EXCLUSIVE');
        $probe->exec('COMMIT');
    } catch (PDOException) {
        throw new RuntimeException("the data folder $data is in use (a process holds $db open): stop its servers first");
    }
    return $lock;
}

// The dsn of DATA/server.ini when it names one (PostgreSQL), else null.
function ini_dsn(string $data): ?string
{
    $dsn = server_ini("$data/server.ini")['dsn'] ?? '';
    return $dsn === '' ? null : $dsn;
}

// Puts the backup in $dir back into the data folder (which must be idle); on PostgreSQL the
// database must already be restored by pgBackRest. Returns what it did, in one line.
function restore_store(string $dir, string $data): string
{
    $dir = backup_at($dir);
    $manifest = parse_ini_file("$dir/backup.ini") ?: [];
    $schema = (int)($manifest['schema'] ?? 0);
    if ((int)($manifest['format'] ?? 0) !== BACKUP_FORMAT) {
        throw new RuntimeException("$dir is not a backup this server can read");
    }
    if ($schema !== SCHEMA_VERSION) {
        throw new RuntimeException("the backup in $dir is of schema version $schema, this server's is " . SCHEMA_VERSION
            . ': restore it with the server it was taken with');
    }
    $idle = hold_idle($data); // until this returns
    $pg = $manifest['storage'] === 'pgsql';
    $targetDsn = ini_dsn($data);
    if ($targetDsn !== null && !$pg || $targetDsn === null && $pg && !is_file("$dir/server.ini")) {
        throw new RuntimeException("the backup in $dir is of " . ($pg ? 'PostgreSQL' : 'SQLite')
            . " storage, the data folder's server.ini names " . ($pg ? 'none' : 'PostgreSQL'));
    }
    if ($pg) {
        $have = schema_version(db_from("$dir/server.ini", $data));
        if ($have !== $schema) {
            throw new RuntimeException("the database is of schema version $have, the backup's files of $schema: "
                . 'restore the database with pgBackRest first');
        }
    }
    // Checked: from here on the data folder changes.
    if (!is_file("$data/server.ini") && is_file("$dir/server.ini")) {
        copy("$dir/server.ini", "$data/server.ini");
    }
    if (!$pg) {
        $part = "$data/.skv.sqlite.restoring";
        copy("$dir/skv.sqlite", $part);
        sync_file($part);
        // A journal beside the restored file would be replayed into it.
        @unlink("$data/skv.sqlite-wal");
        @unlink("$data/skv.sqlite-shm");
        rename($part, "$data/skv.sqlite");
        db()->exec('PRAGMA journal_mode = WAL');
    }
    $files = copy_folder("$dir/planes", planes_dir(), null);
    @mkdir(uploads_dir(), 0700, true);
    copy_folder("$dir/uploads", uploads_dir(), null);
    $extras = hand_extras_to_sweeper($dir);
    // PostgreSQL replays its archive past the file copy: a design registered after it has no
    // file, and a catalogue entry that cannot be downloaded helps nobody.
    $missing = missing_design_files();
    foreach ($missing as $file) {
        remove_planes($file);
    }
    return sprintf('restored %d scores and %d designs (%d files, %d extra) from %s, taken %s%s', score_total(db()),
        plane_count(db()), $files, $extras, $dir, gmdate('Y-m-d H:i:s \U\T\C', (int)$manifest['taken']),
        $missing ? '; removed ' . count($missing) . ' designs registered after the file copy, whose files it lacks' : '');
}

// The connection server.ini names, for the checks before anything is written.
function db_from(string $ini, string $data): PDO
{
    $settings = server_ini(is_file("$data/server.ini") ? "$data/server.ini" : $ini);
    return new PDO($settings['dsn'], $settings['user'] ?? null, $settings['password'] ?? null,
        [PDO::ATTR_ERRMODE => PDO::ERRMODE_EXCEPTION]);
}

// A design file in the storage that the restored store does not know and no upload record
// covers gets a record of no address: nobody can register it, and the sweeper removes it.
function hand_extras_to_sweeper(string $dir): int
{
    $registered = array_flip(registered_files());
    $n = 0;
    foreach (scandir("$dir/planes") ?: [] as $file) {
        if (!preg_match(PLANE_FILE_PATTERN, $file) || isset($registered[$file]) || is_file(uploads_dir() . "/$file")
            || is_file(uploads_dir() . "/$file.claim")) {
            continue;
        }
        file_put_contents(uploads_dir() . "/$file", sprintf("- %d %d\n", time(), filesize("$dir/planes/$file")));
        $n++;
    }
    return $n;
}

function registered_files(): array
{
    return array_column(query_all(db(), 'SELECT file FROM planes'), 'file');
}

// Registered designs whose file is not in the storage.
function missing_design_files(): array
{
    return array_values(array_filter(registered_files(), fn(string $f) => !is_file(planes_dir() . "/$f")));
}

// Copies the files of $from into $to (temporary name, then rename); a file that $to already has
// with the same size stays, one that $linkFrom has with the same size is linked from there
// (design files never change). Returns the number of files $to then holds from $from.
function copy_folder(string $from, string $to, ?string $linkFrom): int
{
    $n = 0;
    foreach (scandir($from) ?: [] as $file) {
        $src = "$from/$file";
        if ($file[0] === '.' || str_ends_with($file, '.tmp') || !is_file($src)) {
            continue;
        }
        $size = @filesize($src);
        $n++;
        if (@filesize("$to/$file") === $size) {
            continue;
        }
        if ($linkFrom !== null && @filesize("$linkFrom/$file") === $size && @link("$linkFrom/$file", "$to/$file")) {
            continue;
        }
        if (!@copy($src, "$to/.$file.part")) {
            $n--; // gone since the listing (removed or swept)
            continue;
        }
        rename("$to/.$file.part", "$to/$file");
    }
    return $n;
}

function write_manifest(string $path, array $values): void
{
    $text = "; A backup of the game server (admin.php backup); put it back with admin.php restore.\n";
    foreach ($values as $key => $value) {
        $text .= "$key = $value\n";
    }
    file_put_contents($path, $text);
}

function sync_file(string $path): void
{
    $f = fopen($path, 'r+');
    fsync($f);
    fclose($f);
}

function remove_tree(string $path): void
{
    if (!is_dir($path) || is_link($path)) {
        @unlink($path);
        return;
    }
    foreach (array_diff(scandir($path) ?: [], ['.', '..']) as $entry) {
        remove_tree("$path/$entry");
    }
    @rmdir($path);
}
