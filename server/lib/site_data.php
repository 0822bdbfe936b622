<?php
// Queries of the website. Every page is a few index range scans, so pages stay fast with millions
// of scores: hiscore positions come from the rank's prefix counts, and a catalogue offset is only
// walked inside a covering index, from the nearer end.
declare(strict_types=1);
require_once __DIR__ . '/cache.php';
require_once __DIR__ . '/connection.php';
require_once __DIR__ . '/counters.php';
require_once __DIR__ . '/designs.php';
require_once __DIR__ . '/scores.php';

const SCORES_PER_PAGE = 50;
const DESIGNS_PER_PAGE = 25;

// Runs $fn in one read transaction on the reader (the replica when there is one), so counts and
// rows of a page come from the same state.
function in_snapshot(callable $fn): mixed
{
    return on_reader(fn(PDO $pdo) => in_transaction($pdo,
        is_sqlite($pdo) ? 'BEGIN' : 'BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY', $fn));
}

function page_count(int $total, int $per): int
{
    return max(1, intdiv($total + $per - 1, $per));
}

// --- Hiscores: rank order is score descending, ties by name ascending (index scores_by_rank). ---

// Entries before (score, name) that share its score: the rank counts only the higher scores.
function ties_before(PDO $pdo, int $score, string $name): int
{
    return (int)query_value($pdo, 'SELECT COUNT(*) FROM scores WHERE score = ? AND name < ?', [$score, $name]);
}

// Page $page (from 1) of the hiscores: ['page', 'pages', 'total', 'rows' => [rank, name, score, mail]].
function hiscore_page(PDO $pdo, int $page, int $total): array
{
    $pages = page_count($total, SCORES_PER_PAGE);
    $page = min(max(1, $page), $pages);
    $first = ($page - 1) * SCORES_PER_PAGE;
    $rows = [];
    if ($total > 0) {
        [$score, $tie] = score_at($pdo, $first);
        $rows = query_all($pdo, 'SELECT name, score, mail FROM scores WHERE score = ? ORDER BY name LIMIT ? OFFSET ?',
            [$score, SCORES_PER_PAGE, $tie]);
        if (count($rows) < SCORES_PER_PAGE) {
            $rows = array_merge($rows, query_all($pdo, 'SELECT name, score, mail FROM scores WHERE score < ?
                ORDER BY score DESC, name LIMIT ?', [$score, SCORES_PER_PAGE - count($rows)]));
        }
        $rank = 1 + $first - $tie;
        foreach ($rows as $i => &$row) {
            $row['score'] = (int)$row['score'];
            if ($i > 0 && $row['score'] !== $rows[$i - 1]['score']) {
                $rank = $first + $i + 1; // everything above has a higher score
            }
            $row['rank'] = $rank;
        }
        unset($row);
    }
    return ['page' => $page, 'pages' => $pages, 'total' => $total, 'rows' => $rows];
}

// The page holding rank $rank: the first entry of that rank stands at position rank - 1.
function hiscore_page_of_rank(int $rank): int
{
    return intdiv(max(1, $rank) - 1, SCORES_PER_PAGE) + 1;
}

// A player's best entry as [score, rank, page], or null when the name has no entry.
function hiscore_best_of(PDO $pdo, string $name): ?array
{
    $score = query_value($pdo, 'SELECT score FROM scores WHERE name = ? ORDER BY score DESC LIMIT 1', [$name]);
    if ($score === null) {
        return null;
    }
    $score = (int)$score;
    $rank = score_rank($pdo, $score);
    $pos = $rank - 1 + ties_before($pdo, $score, $name);
    return [$score, $rank, intdiv($pos, SCORES_PER_PAGE) + 1];
}

// --- The catalogue ---

// The catalogue's orders, as named in its links: 'new' (age), then each number by its label.
define('DESIGN_SORTS', ['new' => 'id'] + array_combine(array_map('strtolower', PLANE_COLUMNS), PLANE_NUMBERS));

function like_pattern(string $text): string
{
    return '%' . strtr($text, ['\\' => '\\\\', '%' => '\\%', '_' => '\\_']) . '%';
}

const SHORT_SEARCH_SPAN = 5000; // newest designs a search of one or two characters looks through

// The condition and arguments that keep the designs whose name holds $text. From three characters
// on, a trigram index finds them (FTS5 on SQLite, pg_trgm on PostgreSQL); shorter texts have no
// trigram, so they look through the newest designs only instead of reading every name.
function name_search(PDO $pdo, string $text): array
{
    $sqlite = is_sqlite($pdo);
    if (preg_match_all('/./su', $text) >= 3) {
        return $sqlite ? ['id IN (SELECT rowid FROM planes_names WHERE planes_names MATCH ?)',
            ['"' . str_replace('"', '""', $text) . '"']] : ["name ILIKE ? ESCAPE '\\'", [like_pattern($text)]];
    }
    return ['id IN (SELECT id FROM planes ORDER BY id DESC LIMIT ' . SHORT_SEARCH_SPAN . ') AND name '
        . ($sqlite ? 'LIKE' : 'ILIKE') . " ? ESCAPE '\\'", [like_pattern($text)]];
}

// One page of designs ordered by column $col ('id' = age), ties by id in the same direction.
function catalogue_page(PDO $pdo, string $col, bool $desc, string $search, int $page): array
{
    [$ids, $total, $page] = $search === '' ? catalogue_ids($pdo, $col, $desc, $page)
        : catalogue_search_ids($pdo, $col, $desc, name_search($pdo, $search), $page);
    $rows = [];
    if ($ids) {
        $marks = implode(', ', array_fill(0, count($ids), '?'));
        $byId = array_column(query_all($pdo, "SELECT * FROM planes WHERE id IN ($marks)", array_map('intval', $ids)),
            null, 'id');
        foreach ($ids as $id) {
            $rows[] = $byId[$id];
        }
    }
    return ['page' => $page, 'pages' => page_count($total, DESIGNS_PER_PAGE), 'total' => $total, 'rows' => $rows];
}

function sort_order(string $col, bool $desc, string $suffix = ''): string
{
    $dir = $desc ? ' DESC' : '';
    return $col === 'id' ? "id$suffix$dir" : "$col$suffix$dir, id$suffix$dir";
}

// The whole catalogue: the offset is walked in the column's covering index, from the nearer end.
function catalogue_ids(PDO $pdo, string $col, bool $desc, int $page): array
{
    $total = plane_count($pdo);
    $page = min(max(1, $page), page_count($total, DESIGNS_PER_PAGE));
    $first = ($page - 1) * DESIGNS_PER_PAGE;
    if ($first + DESIGNS_PER_PAGE <= $total / 2) {
        $sql = 'SELECT id FROM planes ORDER BY ' . sort_order($col, $desc) . ' LIMIT ? OFFSET ?';
        $ids = array_column(query_all($pdo, $sql, [DESIGNS_PER_PAGE, $first]), 'id');
    } else {
        $n = min(DESIGNS_PER_PAGE, $total - $first);
        $sql = 'SELECT id FROM planes ORDER BY ' . sort_order($col, !$desc) . ' LIMIT ? OFFSET ?';
        $ids = array_reverse(array_column(query_all($pdo, $sql, [$n, $total - $first - $n]), 'id'));
    }
    return [$ids, $total, $page];
}

// Designs whose name matches ($match from name_search): one pass over the matches that counts and
// sorts them. The "+ 0" keeps the databases from walking a sort index and testing every name it
// passes, which costs far more when the matches are few or the page is deep.
function catalogue_search_ids(PDO $pdo, string $col, bool $desc, array $match, int $page): array
{
    [$where, $args] = $match;
    $page = max(1, $page);
    $sql = "SELECT id, COUNT(*) OVER () AS total FROM planes WHERE $where"
        . ' ORDER BY ' . sort_order($col, $desc, ' + 0') . ' LIMIT ? OFFSET ?';
    $rows = query_all($pdo, $sql, [...$args, DESIGNS_PER_PAGE, ($page - 1) * DESIGNS_PER_PAGE]);
    if (!$rows && $page > 1) { // past the end: show the last page
        $total = (int)query_value($pdo, "SELECT COUNT(*) FROM planes WHERE $where", $args);
        return $total === 0 ? [[], 0, 1]
            : catalogue_search_ids($pdo, $col, $desc, $match, page_count($total, DESIGNS_PER_PAGE));
    }
    return [array_column($rows, 'id'), (int)($rows[0]['total'] ?? 0), $page];
}

function design_by_file(PDO $pdo, string $file): ?array
{
    return query_all($pdo, 'SELECT * FROM planes WHERE file = ?', [$file])[0] ?? null;
}

// The catalogue's size and the minimum, median (the lower one of an even count) and maximum of
// each number. They change only when a design arrives: kept in the cache per catalogue state.
function catalogue_stats(PDO $pdo): array
{
    return cached('stats|' . store_versions($pdo)['planes'], function () use ($pdo) {
        $count = plane_count($pdo);
        $stats = [];
        foreach (PLANE_NUMBERS as $col) {
            $at = fn(int $pos) => (int)query_value($pdo, "SELECT $col FROM planes ORDER BY $col LIMIT 1 OFFSET ?", [$pos]);
            $stats[$col] = $count === 0 ? [0, 0, 0]
                : [$at(0), $at(intdiv($count - 1, 2)), (int)query_value($pdo, "SELECT MAX($col) FROM planes")];
        }
        return ['count' => $count, 'ranges' => $stats];
    });
}
