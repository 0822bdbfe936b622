<?php
// The numbers an operator watches, in Prometheus's text format. Requests, uploads and refusals are
// counted from the node's metrics log, where nginx writes one line per request with the script's
// own outcome: right whatever the number of PHP workers, and the 429s of nginx's limits included.
// The log lies among root's files (nginx names it: SKV_METRICS_LOG); the totals and how far it was
// read are kept in DATA/metrics.state, so restarts of nginx, PHP-FPM or the machine lose nothing;
// Prometheus sums the nodes.
declare(strict_types=1);
require_once __DIR__ . '/cache.php';
require_once __DIR__ . '/counters.php';
require_once __DIR__ . '/health.php';
require_once __DIR__ . '/scores.php';

// Paths counted under their own name; everything else is "other", so no request adds a series.
const METRIC_SCRIPTS = ['/php/_addscore.php' => '_addscore.php', '/php/_addplane.php' => '_addplane.php',
    '/php/_getplanes.php' => '_getplanes.php', '/' => 'index.php', '/index.php' => 'index.php',
    '/hiscores.php' => 'hiscores.php', '/designs.php' => 'designs.php', '/design.php' => 'design.php',
    '/download.php' => 'download.php', '/howto.php' => 'howto.php'];
// Script => the counter of its results.
const METRIC_UPLOADS = ['_addscore.php' => 'skv_uploads_total', '_addplane.php' => 'skv_registrations_total'];
const METRIC_RESULTS = ['stored', 'rate', 'quota', 'disk', 'binding', 'malformed', 'unavailable', 'error'];
const STORE_BUCKETS = [0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5];

function metrics_text(): string
{
    $log = getenv('SKV_METRICS_LOG') ?: throw new RuntimeException('no SKV_METRICS_LOG: nginx-metrics.conf names the log');
    $state = read_metrics_log($log, data_dir() . '/metrics.state');
    $out = [];
    metric($out, 'skv_requests_total', 'counter', 'HTTP requests answered, by script and status',
        array_map(fn($key, $n) => [array_combine(['script', 'status'], explode(' ', $key)), $n],
            array_keys($state['requests']), $state['requests']));
    foreach (METRIC_UPLOADS as $script => $name) {
        metric($out, $name, 'counter', $script === '_addscore.php' ? 'Hiscore uploads, stored or refused, by result'
            : 'Design registrations, stored or refused, by result',
            array_map(fn($r) => [['result' => $r], $state['uploads']["$script $r"] ?? 0], METRIC_RESULTS));
    }
    $out[] = '# HELP skv_store_seconds Time to store an upload and rank it (a registration: to store it)';
    $out[] = '# TYPE skv_store_seconds histogram';
    foreach (array_keys(METRIC_UPLOADS) as $script) {
        $h = $state['store'][$script] ?? ['buckets' => [], 'sum' => 0, 'count' => 0];
        foreach ([...STORE_BUCKETS, '+Inf'] as $i => $le) {
            $out[] = sample('skv_store_seconds_bucket', ['script' => $script, 'le' => (string)$le],
                $le === '+Inf' ? $h['count'] : array_sum(array_slice($h['buckets'], 0, $i + 1)));
        }
        $out[] = sample('skv_store_seconds_sum', ['script' => $script], $h['sum']);
        $out[] = sample('skv_store_seconds_count', ['script' => $script], $h['count']);
    }
    $health = health_checks();
    if ($health['database'] === null) {
        $pdo = db();
        // The byte total reads every design: once per catalogue state (registrations are rare).
        [$designs, $bytes] = cached('metrics|' . store_versions($pdo)['planes'], fn() => [plane_count($pdo),
            (int)query_value($pdo, 'SELECT COALESCE(SUM(size), 0) FROM planes')]);
        metric($out, 'skv_scores', 'gauge', 'Hiscore entries stored', [[[], score_total($pdo)]]);
        metric($out, 'skv_designs', 'gauge', 'Designs in the catalogue', [[[], $designs]]);
        metric($out, 'skv_design_bytes', 'gauge', 'Bytes of the catalogue\'s design files', [[[], $bytes]]);
    }
    metric($out, 'skv_healthy', 'gauge', 'Whether the database answers and the design storage takes a file',
        array_map(fn($part, $why) => [['part' => $part], (int)($why === null)], array_keys($health), $health));
    return implode("\n", $out) . "\n" . ftp_metrics(data_dir() . '/ftp.metrics');
}

// Adds the log's new lines to the totals of the state file and returns them. The log is read from
// where the last call stopped; after a rotation the rest of the old file (.1) comes first.
function read_metrics_log(string $log, string $statePath): array
{
    $fh = fopen($statePath, 'c+');
    flock($fh, LOCK_EX); // Prometheus servers scrape at once
    $state = json_decode(stream_get_contents($fh) ?: '', true) ?: [];
    $state += ['inode' => 0, 'offset' => 0, 'requests' => [], 'uploads' => [], 'store' => []];
    clearstatcache();
    $now = @stat($log);
    if ($now !== false && $now['ino'] !== $state['inode']) {
        $old = @stat("$log.1");
        if ($old !== false && $old['ino'] === $state['inode']) {
            count_metrics_lines("$log.1", $state['offset'], $state);
        }
        [$state['inode'], $state['offset']] = [$now['ino'], 0];
    }
    if ($now !== false) {
        // A log emptied in place (copied and truncated) starts again from its beginning.
        $state['offset'] = count_metrics_lines($log, $now['size'] < $state['offset'] ? 0 : $state['offset'], $state);
    }
    ftruncate($fh, 0);
    rewind($fh);
    fwrite($fh, json_encode($state));
    fclose($fh);
    return $state;
}

// Counts the whole lines of $path from $offset; returns the offset after the last one.
function count_metrics_lines(string $path, int $offset, array &$state): int
{
    $fh = @fopen($path, 'r');
    if ($fh === false) {
        // Gone since the stat (rotated): read next time. There, it is not ours to read: say so
        // rather than count nothing.
        return file_exists($path) ? throw new RuntimeException("cannot read $path") : $offset;
    }
    fseek($fh, $offset);
    // In pieces: a log unread for a day is far larger than a worker's memory.
    while (($text = fread($fh, 1 << 20)) !== '' && $text !== false) {
        $end = strrpos($text, "\n");
        if ($end === false) {
            break; // a line longer than a piece, or one still being written
        }
        foreach (explode("\n", substr($text, 0, $end)) as $line) {
            [$status, $uri, $outcome] = explode("\t", $line, 3) + ['', '', '-'];
            $script = METRIC_SCRIPTS[$uri] ?? 'other';
            $status = ctype_digit($status) && strlen($status) === 3 ? $status : '000';
            $state['requests']["$script $status"] = ($state['requests']["$script $status"] ?? 0) + 1;
            if (isset(METRIC_UPLOADS[$script])) {
                count_upload($state, $script, $status, $outcome);
            }
        }
        $offset += $end + 1;
        fseek($fh, $offset);
    }
    fclose($fh);
    return $offset;
}

// $outcome: "stored SECONDS", a refusal's result, or "-" where no script answered.
function count_upload(array &$state, string $script, string $status, string $outcome): void
{
    [$result, $seconds] = explode(' ', $outcome, 2) + ['', ''];
    if ($outcome === '-') {
        $result = $status === '429' ? 'rate' : 'error';
    }
    $result = in_array($result, METRIC_RESULTS, true) ? $result : 'error';
    $state['uploads']["$script $result"] = ($state['uploads']["$script $result"] ?? 0) + 1;
    if ($result === 'stored' && is_numeric($seconds)) {
        $h = $state['store'][$script]
            ?? ['buckets' => array_fill(0, count(STORE_BUCKETS), 0), 'sum' => 0, 'count' => 0];
        foreach (STORE_BUCKETS as $i => $le) {
            if ((float)$seconds <= $le) {
                $h['buckets'][$i]++;
                break;
            }
        }
        $h['sum'] += (float)$seconds;
        $h['count']++;
        $state['store'][$script] = $h;
    }
}

// The FTP server's own numbers (ftp/ftpd.py writes them every few seconds); up 0 when they are stale.
function ftp_metrics(string $path): string
{
    clearstatcache();
    $fresh = @filemtime($path) > time() - 15;
    return "# HELP skv_ftp_up Whether the FTP server wrote its numbers in the last 15 s\n# TYPE skv_ftp_up gauge\n"
        . 'skv_ftp_up ' . (int)$fresh . "\n" . ($fresh ? (string)@file_get_contents($path) : '');
}

// One metric family: its HELP and TYPE lines, then a sample per [labels, value].
function metric(array &$out, string $name, string $type, string $help, array $samples): void
{
    $out[] = "# HELP $name $help";
    $out[] = "# TYPE $name $type";
    foreach ($samples as [$labels, $value]) {
        $out[] = sample($name, $labels, $value);
    }
}

function sample(string $name, array $labels, int|float $value): string
{
    $pairs = array_map(fn($k, $v) => $k . '="' . addcslashes($v, "\\\"\n") . '"', array_keys($labels), $labels);
    return $name . ($pairs ? '{' . implode(',', $pairs) . '}' : '') . ' ' . $value;
}
