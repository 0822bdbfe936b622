<?php
// The store's state counters in skv_state: a fold generation for the ranking and one for the
// catalogue, and the catalogue's folded size. A part's generation and the length of its log of
// changes not yet folded name one state of that part: the key of the answers kept for it.
declare(strict_types=1);
require_once __DIR__ . '/connection.php';

const FOLD_EVERY = 128; // every 128th entry (by id) folds its part's log

// Each part of the store: its generation's row in skv_state and its log.
const STORE_PARTS = ['scores' => ['score_gen', 'score_log'], 'planes' => ['plane_gen', 'plane_log']];
const PLANE_TOTAL = 'planes'; // the row of the catalogue's folded size

// The statement that fills a new skv_state: generations 0, the catalogue's size as it stands.
function state_start_sql(): string
{
    [[$scores], [$planes]] = array_values(STORE_PARTS);
    return "INSERT INTO skv_state (name, value) VALUES ('$scores', 0), ('$planes', 0),
        ('" . PLANE_TOTAL . "', (SELECT COUNT(*) FROM planes))";
}

// The statement that bumps a part's generation (a fold of its log).
function generation_bump_sql(string $part): string
{
    return "UPDATE skv_state SET value = value + 1 WHERE name = '" . STORE_PARTS[$part][0] . "'";
}

// The state of each part as "generation.log length", e.g. ['scores' => '4.17', 'planes' => '0.3'].
function store_versions(PDO $pdo): array
{
    $columns = [];
    foreach (STORE_PARTS as [$generation, $log]) {
        $columns[] = "(SELECT value FROM skv_state WHERE name = '$generation')";
        $columns[] = "(SELECT COUNT(*) FROM $log)";
    }
    $values = query_row($pdo, 'SELECT ' . implode(', ', $columns), [], PDO::FETCH_NUM);
    return array_combine(array_keys(STORE_PARTS), array_map(fn(array $pair) => implode('.', $pair),
        array_chunk($values, 2)));
}

// The catalogue's size: the folded total and the log of registrations and removals since.
function plane_count(PDO $pdo): int
{
    return (int)query_value($pdo, "SELECT (SELECT value FROM skv_state WHERE name = '" . PLANE_TOTAL . "')
        + COALESCE((SELECT SUM(delta) FROM plane_log), 0)");
}

function fold_planes(PDO $pdo): void
{
    $fold = ["UPDATE skv_state SET value = value + (SELECT COALESCE(SUM(delta), 0) FROM plane_log)
        WHERE name = '" . PLANE_TOTAL . "'", generation_bump_sql('planes'), 'DELETE FROM plane_log'];
    in_transaction($pdo, is_sqlite($pdo) ? 'BEGIN IMMEDIATE' : 'BEGIN', function (PDO $pdo) use ($fold) {
        if (is_sqlite($pdo) || query_value($pdo, 'SELECT pg_try_advisory_xact_lock(' . LOCK_PLANE_FOLD . ')')) {
            foreach ($fold as $sql) {
                run($pdo, $sql);
            }
        }
    });
}
