<?php
// Administration of the game server's storage: php admin.php --data DIR COMMAND [ARGS]
declare(strict_types=1);
require_once __DIR__ . '/lib/connection.php';
require_once __DIR__ . '/lib/counters.php';
require_once __DIR__ . '/lib/designs.php';
require_once __DIR__ . '/lib/quotas.php';
require_once __DIR__ . '/lib/schema.php';
require_once __DIR__ . '/lib/scores.php';
require_once __DIR__ . '/lib/settings.php';
require_once __DIR__ . '/lib/wire.php';

// name => [arguments, what it does (lines of the usage text), its function, whether the store must
// have this server's schema first].
const COMMANDS = [
    'init' => ['[--upgrade]', ['create the data folder and the schema; --upgrade takes',
        'an older schema to this version (nothing else does)'], 'command_init', false],
    'settings' => ['', ['every setting as KEY=VALUE, server.ini over the defaults',
        '(the password masked); refuses a server.ini with a problem'], 'command_settings', false],
    'add-score' => ['NAME SCORE [MAIL]', ['store a score like _addscore.php; prints the rank'], 'command_add_score', true],
    'seed-scores' => ['N [--seed S] [--apart D]', ['add N pseudo-random scores of players "Seed 1".."Seed N",',
        'in one statement (ranks counted once, not per row);',
        '--apart D: the scores D, 2D, ... instead, all distinct'], 'command_seed_scores', true],
    'add-plane' => ['NAME C W CO N R V RA [MAIL]', ['write a design file and register it; prints the file name'],
        'command_add_plane', true],
    'seed-planes' => ['N [--hostile] [--no-files]', ['append N designs "Design 001".."Design N" (catalogue order),',
        '--hostile: names and mails with ; line breaks tags quotes umlauts',
        '--no-files: catalogue rows only (benchmarks)'], 'command_seed_planes', true],
    'clear-scores' => ['', ['delete every score'], 'command_clear_scores', true],
    'clear-planes' => ['', ['delete every design and its file'], 'command_clear_planes', true],
    'remove-plane' => ['FILE', ['delete one design and its file'], 'command_remove_plane', true],
    'remove-planes' => ['--address A', ['delete every design uploaded from A, its files and A\'s',
        'unregistered uploads'], 'command_remove_planes', true],
    'addresses' => ['[N]', ['the N addresses (20) that keep the most bytes of designs:',
        'address, designs, bytes'], 'command_addresses', true],
    'stats' => ['', ['print the number of scores and designs'], 'command_stats', true],
];

function usage(): string
{
    $lines = ['usage: php admin.php --data DIR COMMAND [ARGS]'];
    foreach (COMMANDS as $name => [$arguments, $what]) {
        $head = trim("$name $arguments");
        if (strlen($head) > 33) {
            $lines[] = "  $head";
            $head = '';
        }
        foreach ($what as $i => $line) {
            $lines[] = sprintf('  %-35s%s', $i === 0 ? $head : '', $line);
        }
    }
    return implode("\n", $lines);
}

function fail(string $msg): never
{
    fwrite(STDERR, "$msg\n");
    exit(2);
}

function take_flag(array &$args, string $flag): bool
{
    $i = array_search($flag, $args, true);
    if ($i === false) {
        return false;
    }
    array_splice($args, $i, 1);
    return true;
}

function take_option(array &$args, string $option): ?string
{
    $i = array_search($option, $args, true);
    if ($i === false) {
        return null;
    }
    $value = $args[$i + 1] ?? fail("$option needs a value");
    array_splice($args, $i, 2);
    return $value;
}

function count_arg(?string $s): int
{
    return $s !== null && ctype_digit($s) ? (int)$s : fail(usage());
}

function int32_arg(string $s): int
{
    [$min, $max] = PLANE_NUMBER_RANGE;
    $v = filter_var($s, FILTER_VALIDATE_INT);
    return $v !== false && $v >= $min && $v <= $max ? $v : fail("not a 32-bit integer: $s");
}

// The settings' problems end the command: a server must not start on a setting it misread.
function check_settings(): void
{
    $problems = settings_problems();
    if ($problems) {
        fail(data_dir() . '/server.ini: ' . implode('; ', $problems));
    }
}

function command_init(array $args): void
{
    check_settings();
    try {
        echo apply_schema(db(), take_flag($args, '--upgrade')), "\n";
    } catch (RuntimeException $e) {
        fail($e->getMessage());
    }
    planes_dir();
    @mkdir(uploads_dir(), 0700, true);
}

function command_settings(array $args): void
{
    check_settings();
    foreach (settings() as $key => $value) {
        echo $key, '=', $key === 'password' && $value !== '' ? '(set)' : $value, "\n";
    }
}

function command_add_score(array $args): void
{
    $score = filter_var($args[1] ?? '', FILTER_VALIDATE_INT);
    if (count($args) < 2 || $score === false) {
        fail(usage());
    }
    echo add_score($args[0], $score, $args[2] ?? ''), "\n";
}

function command_seed_scores(array $args): void
{
    $seed = (int)(take_option($args, '--seed') ?? 1);
    $apart = count_arg(take_option($args, '--apart') ?? '0');
    seed_scores(count_arg($args[0] ?? null), $seed, $apart);
}

function command_add_plane(array $args): void
{
    if (count($args) < 8) {
        fail(usage());
    }
    $numbers = array_map('int32_arg', array_slice($args, 1, 7));
    $file = bin2hex(random_bytes(8)) . '.plane';
    write_plane_file($file, $args[0], $numbers);
    add_plane($args[0], $file, $args[8] ?? '', $numbers, '', filesize(planes_dir() . "/$file"));
    echo "$file\n";
}

function command_seed_planes(array $args): void
{
    $hostile = take_flag($args, '--hostile');
    $files = !take_flag($args, '--no-files');
    seed_planes(count_arg($args[0] ?? null), $hostile, $files);
}

function command_clear_scores(array $args): void
{
    db()->exec('DELETE FROM scores');
    fold_scores(db());
}

function command_clear_planes(array $args): void
{
    remove_planes();
}

function command_remove_plane(array $args): void
{
    $file = $args[0] ?? fail(usage());
    echo remove_planes(file: $file) === 1 ? "removed $file\n" : fail("no design $file");
}

function command_remove_planes(array $args): void
{
    $address = take_option($args, '--address') ?? fail(usage());
    $designs = remove_planes(uploader: $address);
    echo "removed $designs designs and ", remove_pending_uploads($address), " unregistered uploads of $address\n";
}

function command_addresses(array $args): void
{
    foreach (heaviest_addresses(count_arg($args[0] ?? '20')) as [$address, $designs, $bytes]) {
        printf("%s %d %d\n", $address === '' ? '-' : $address, $designs, $bytes);
    }
}

function command_stats(array $args): void
{
    echo 'scores ', score_total(db()), "\ndesigns ", plane_count(db()), "\n";
}

// Inserts rows in chunks of multi-row statements inside one transaction: fast on both databases.
function bulk_insert(string $table, array $cols, iterable $rows, int $chunk = 500): int
{
    $pdo = db();
    $one = '(' . implode(', ', array_fill(0, count($cols), '?')) . ')';
    $head = "INSERT INTO $table (" . implode(', ', $cols) . ') VALUES ';
    $full = $pdo->prepare($head . implode(', ', array_fill(0, $chunk, $one)));
    $pdo->beginTransaction();
    $n = 0;
    $pending = [];
    foreach ($rows as $row) {
        array_push($pending, ...$row);
        if (++$n % $chunk === 0) {
            $full->execute($pending);
            $pending = [];
        }
    }
    if ($pending) {
        $rest = intdiv(count($pending), count($cols));
        $pdo->prepare($head . implode(', ', array_fill(0, $rest, $one)))->execute($pending);
    }
    $pdo->commit();
    return $n;
}

// One INSERT ... SELECT over generated numbers: the rank's counts take all rows at once (on
// PostgreSQL in the statement's trigger, on SQLite in one fold after it). Scores 0 to 10,000,000
// from a multiplicative hash of the player's number and the seed.
// With $apart, player i's score is i x $apart: the spread of a script that sends one score per
// count bucket.
function seed_scores(int $n, int $seed, int $apart = 0): void
{
    $pdo = db();
    $start = score_total($pdo);
    $numbers = is_sqlite($pdo)
        ? 'WITH RECURSIVE g(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM g WHERE i < ?) SELECT i FROM g'
        : 'SELECT generate_series(1, ?) AS i';
    // BIGINT: PostgreSQL takes the arguments for integers, whose product overflows.
    [$score, $scoreArgs] = $apart > 0 ? ['(CAST(? AS BIGINT) + i) * ?', [$start, $apart]]
        : ['((? + i) * 2654435761 + ?) % 10000001', [$start, $seed * 7919]];
    $insert = "INSERT INTO scores (name, score, mail, uploaded)
        SELECT 'Seed ' || (? + i), $score, '', ? FROM ($numbers) g WHERE true
        ON CONFLICT (score, name) DO NOTHING";
    $args = [$start, ...$scoreArgs, time(), $n];
    in_transaction($pdo, is_sqlite($pdo) ? 'BEGIN IMMEDIATE' : 'BEGIN', fn(PDO $pdo) => run($pdo, $insert, $args));
    if (is_sqlite($pdo)) {
        fold_scores($pdo);
    }
    echo "seeded $n scores\n";
}

const HOSTILE_NAMES = ["Semi;colon", "Line\nfeed", "Carriage\r\nreturn", "<title>Boom</title>",
    "Quotes \" and ' & <b>tags</b>", "Umlauts äöüß €"];
const HOSTILE_MAILS = ["a;b@example.org", "line\nbreak@example.org", "<TITLE>x</TITLE>@example.org"];

// Design i of all seeds (from 1), k-th of this seed: deterministic, so tests can predict every field.
function seed_plane(int $i, int $k, bool $hostile): array
{
    $name = sprintf('Design %03d', $i);
    $mail = "pilot$i@example.org";
    if ($hostile) {
        $name = HOSTILE_NAMES[$k % count(HOSTILE_NAMES)] . " $i";
        $mail = HOSTILE_MAILS[$k % count(HOSTILE_MAILS)];
    }
    $numbers = [1000 * $i, 500 + $i, 10 + $i % 50, ($i * 7) % 100, ($i * 13) % 100, 300 + $i, 1000 + 10 * $i];
    return [$name, sprintf('5eed%04x.plane', $i), $mail, $numbers];
}

function write_plane_file(string $file, string $name, array $numbers): void
{
    $body = "design body of $file\n" . str_repeat("\x00\x01\x02\xfe\xff", 8);
    file_put_contents(planes_dir() . "/$file", plane_file_bytes($numbers, utf8_to_cp1252($name), $body));
}

function seed_planes(int $n, bool $hostile, bool $files): void
{
    // Continue after the highest seed number, so repeated seeds append in order.
    $start = (int)db()->query("SELECT COUNT(*) FROM planes WHERE file LIKE '5eed%'")->fetchColumn();
    $now = time();
    $rows = (function () use ($n, $start, $hostile, $files, $now) {
        for ($i = $start + 1; $i <= $start + $n; $i++) {
            [$name, $file, $mail, $numbers] = seed_plane($i, $i - $start - 1, $hostile);
            if ($files) {
                write_plane_file($file, $name, $numbers);
            }
            yield [$name, $file, $mail, ...$numbers, $now];
        }
    })();
    bulk_insert('planes', ['name', 'file', 'mail', ...PLANE_NUMBERS, 'uploaded'], $rows);
    echo "seeded $n designs\n";
}

// An address's uploads that nobody registered yet, with their records.
function remove_pending_uploads(string $address): int
{
    $n = 0;
    foreach (glob(uploads_dir() . '/*.plane') ?: [] as $record) {
        if (explode(' ', (string)@file_get_contents($record))[0] === $address) {
            @unlink(planes_dir() . '/' . basename($record));
            @unlink($record);
            $n++;
        }
    }
    return $n;
}

// Run as root, the tool acts as the owner of the data folder, so that the files it creates (the
// database's journal among them) stay usable by the servers, which run as that owner.
function become_owner_of(string $data): void
{
    $owner = fileowner($data);
    if (posix_geteuid() !== 0 || $owner === 0 || $owner === false) {
        return;
    }
    $user = posix_getpwuid($owner) ?: fail("the data folder's owner $owner has no account");
    if (!posix_setgid($user['gid']) || !posix_initgroups($user['name'], $user['gid']) || !posix_setuid($owner)) {
        fail("cannot act as {$user['name']}");
    }
}

function main(array $args): void
{
    $data = take_option($args, '--data') ?? fail(usage());
    umask(0077);
    @mkdir($data, 0700, true);
    putenv('SKV_DATA=' . (realpath($data) ?: fail("cannot use $data")));
    become_owner_of($data);
    [, , $command, $needsSchema] = COMMANDS[array_shift($args) ?? ''] ?? fail(usage());
    if ($needsSchema && ($mismatch = schema_mismatch(db())) !== null) {
        fail($mismatch);
    }
    $command($args);
}

main(array_slice($argv, 1));
