<?php
// The data folder and the server's settings: every key DATA/server.ini may set, its default and
// what it means, in one list. Only this file reads server.ini; the FTP server asks through
// ftp/lookups.php and start.sh through `admin.php settings`.
declare(strict_types=1);

// name => [default, meaning]. An integer default makes the setting a whole number; '' means
// none. The meanings are Markdown: docs/SERVER.md's table of settings is this list.
const SETTINGS = [
    'dsn' => ['', 'the storage, a PDO data source such as `pgsql:host=10.0.0.5;dbname=skv`; none: SQLite in `DATA/skv.sqlite`'],
    'user' => ['', 'the storage\'s user'],
    'password' => ['', 'that user\'s password'],
    'replica_dsn' => ['', 'a hot standby the website\'s pages read from (see "Beyond one machine"); the scripts and every write use `dsn`'],
    'storage' => ['', 'folder holding `planes/` and `uploads/`; none: DATA. Web nodes that share designs name one shared folder. Run as root, `start.sh` does not give it to `skv`: the operator does'],
    'register_window' => [120, 'seconds after a completed upload in which it may be registered'],
    // A design file is a header of at most 1055 bytes and the game's body: 1 MiB leaves the body
    // ample room, while a full disk takes many uploads.
    'ftp_max_file_bytes' => [1 << 20, 'largest file the FTP server stores'],
    'ftp_max_cons_per_ip' => [8, 'FTP control connections per client address'],
    'ftp_max_cons' => [256, 'FTP control connections in all (data connections do not count)'],
    'ftp_idle_before_login' => [15, 'seconds an FTP session may wait for its login'],
    'ftp_idle_after_login' => [60, 'seconds an FTP session may wait between commands after its login, and a transfer without data'],
    'ftp_min_free_bytes' => [512 << 20, 'uploads are refused (452) while the storage has less free space'],
    // Below the FTP server's floor for designs on the same disk: scores are still taken when
    // designs no longer are.
    'db_min_free_bytes' => [64 << 20, 'scores and registrations are refused (507) while a SQLite store\'s disk has less free space (64 MiB)'],
    // A player shares a few designs of a few kilobytes a day: years of that fit one address's
    // quota, while a script that stores 1 MiB files is stopped after 128 of them.
    'quota_designs_per_address' => [2000, 'designs one address may keep (registered and arriving)'],
    'quota_bytes_per_address' => [128 << 20, 'bytes of designs one address may keep (128 MiB)'],
    'quota_total_bytes' => [8 << 30, 'bytes of designs all addresses together may keep (8 GiB)'],
    // A player sends one hiscore per game, and only a new best makes a new entry: a household or
    // a club behind one address stays far below 100 a day, while a script stops there.
    'quota_scores_per_address_day' => [100, 'new hiscore entries one address may add in 24 hours (see `_addscore.php`)'],
    'sweep_interval' => [30, 'seconds between two runs of the FTP server\'s sweeper'],
    'sweep_grace' => [60, 'seconds after the registration window before the sweeper removes an unregistered upload'],
    'log_max_bytes' => [16 << 20, 'size past which a log is rotated (the built-in server\'s `requests.log` at once, the others at the next check)'],
    'log_check_interval' => [300, 'seconds (at least 1) between two runs of logrotate by `start.sh`\'s `logs` process'],
    'backup_keep' => [7, 'backups `admin.php backup ROOT` keeps in ROOT (the newest; see "Backups")'],
    'balancers' => ['', 'the addresses or networks (comma-separated) that web balancers connect from: nginx believes the PROXY header of these only, and the FTP server turns their sessions away (see "Behind a balancer"); none: no balancer'],
    'metrics_address' => ['', '`ADDRESS:PORT` of the operator\'s numbers, never the public site (see "The numbers an operator watches"); none: port 9180 of the node\'s address when that is a loopback one, else of 127.0.0.1'],
];

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

// DATA/server.ini as written, key => value; or another such file (a backup's, a folder's that a
// restore or a migration checks before anything is written).
function server_ini(?string $path = null): array
{
    $path ??= data_dir() . '/server.ini';
    return is_file($path) ? (parse_ini_file($path) ?: []) : [];
}

// Writes $values into server.ini in place of those keys (null: the key goes), the other lines
// kept; written whole aside, synced, renamed.
function write_server_ini(array $values): void
{
    $path = data_dir() . '/server.ini';
    $keys = implode('|', array_map('preg_quote', array_keys($values)));
    $lines = array_filter(is_file($path) ? file($path, FILE_IGNORE_NEW_LINES) : [],
        fn(string $line) => !preg_match("/^\\s*($keys)\\s*=/", $line));
    foreach (array_filter($values, fn($v) => $v !== null) as $key => $value) {
        $lines[] = "$key = \"$value\"";
    }
    $f = fopen("$path.new", 'w');
    fwrite($f, implode("\n", $lines) . "\n");
    fsync($f);
    fclose($f);
    rename("$path.new", $path);
}

// Every setting: server.ini's value, else the default, in the default's type.
function settings(): array
{
    static $resolved = null;
    if ($resolved === null) {
        $ini = server_ini();
        foreach (SETTINGS as $key => [$default]) {
            $value = $ini[$key] ?? $default;
            $resolved[$key] = is_int($default) ? (int)$value : (string)$value;
        }
    }
    return $resolved;
}

function setting(string $key): int|string
{
    return settings()[$key] ?? throw new LogicException("no setting $key");
}

// What is wrong with server.ini, one line each: a key that is no setting (a typo would otherwise
// leave its default in force unnoticed), a number that is none, a text that could split a line.
function settings_problems(): array
{
    $problems = [];
    foreach (server_ini() as $key => $value) {
        $default = SETTINGS[$key][0] ?? null;
        $problems[] = match (true) {
            $default === null => "unknown setting $key",
            is_array($value) || preg_match('/[\x00-\x1F\x7F]/', $value) => "$key must be one line of text",
            is_int($default) && !preg_match('/^\d+\z/', $value) => "$key must be a whole number, not \"$value\"",
            default => null,
        };
    }
    return array_values(array_filter($problems));
}

// Design files and their upload records; several web nodes name one shared folder here.
function storage_dir(): string
{
    return rtrim(setting('storage') ?: data_dir(), '/');
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
