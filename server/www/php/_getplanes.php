<?php
// style=1&from=F&num=N -> the catalogue size, then one line per design:
// name;file;mail;Costs;Weight;Consumption;Noise;Reliability;Velocity;Range
declare(strict_types=1);
require_once __DIR__ . '/../../lib/cache.php';
require_once __DIR__ . '/../../lib/connection.php';
require_once __DIR__ . '/../../lib/counters.php';
require_once __DIR__ . '/../../lib/designs.php';
require_once __DIR__ . '/../../lib/failures.php';
require_once __DIR__ . '/../../lib/wire.php';
start_script();
require_get();

// Non-negative decimal, possibly beyond 64 bits: those only matter as "very large".
function count_param(string $key, int $default): int
{
    $raw = $_GET[$key] ?? null;
    if ($raw === null || $raw === '') {
        return $default;
    }
    if (!is_string($raw) || !preg_match('/^-?[0-9]+\z/', $raw)) {
        refuse(400, "$key must be a decimal number");
    }
    if ($raw[0] === '-' && trim($raw, '-0') !== '') {
        refuse(400, "$key must not be negative");
    }
    $digits = ltrim($raw, '-0');
    return strlen($digits) > 15 ? PHP_INT_MAX >> 8 : (int)$digits;
}

if (($_GET['style'] ?? '1') !== '1') {
    refuse(400, 'only style=1 is served');
}
$from = count_param('from', 0);
$num = min(count_param('num', 17), PAGE_CAP);

// The Starter reads the primary; a page is kept per catalogue state (cache.php).
$pdo = db();
$page = function () use ($pdo, $from, $num) {
    return in_transaction($pdo, is_sqlite($pdo) ? 'BEGIN' : 'BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY',
        function (PDO $pdo) use ($from, $num) {
            $total = plane_count($pdo);
            $lines = [$total];
            foreach ($from < $total ? plane_page($pdo, $from, $num) : [] as $p) {
                $texts = [wire_text($p['name']), wire_text($p['file']), wire_text($p['mail'])];
                $numbers = array_map(fn($c) => (int)$p[$c], PLANE_NUMBERS);
                $lines[] = implode(';', [...$texts, ...$numbers]);
            }
            return implode("\n", $lines) . "\n";
        });
};
$key = answer_key($pdo, "getplanes|$from|$num", ['planes']);
plain_headers();
echo $key === null ? $page() : cached($key, $page);
