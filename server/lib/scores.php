<?php
// Hiscore entries and their ranks, from the counts per score prefix and the short log of changes
// not yet counted: exact, and bounded whatever the table holds.
declare(strict_types=1);
require_once __DIR__ . '/connection.php';
require_once __DIR__ . '/counters.php';

const MAX_SCORE_NAME = 63;   // bytes; the game's hiscore names are shorter

// The counts of the rank: level L (1..8) counts the scores per prefix score >> (64 - 8L), an
// arithmetic shift that keeps the order of signed scores; level 8 is the score itself. Uploads
// never write these rows: they append to score_log, which fold_scores() adds in every
// FOLD_EVERY entries. A rank reads at most 8 x 255 count rows and the short log.
const RANK_LEVELS = 8;
// A statement of more than BULK_ROWS changed scores (a bulk load, a clear) goes into the counts at
// once, under the fold's lock, instead of into the log.
const BULK_ROWS = 1000;

// The statement that adds the changes $changes (SQL giving rows of score and delta) into the
// counts: summed per score once, then each level from the one below it, rows in (level, prefix)
// order, so two writers of the counts never deadlock. $with: common table expressions before.
function add_to_counts(string $changes, string $with = ''): string
{
    $ctes = [$with, "l8 AS (SELECT score AS prefix, CAST(SUM(delta) AS BIGINT) AS n FROM ($changes) c GROUP BY 1)"];
    $rows = ['SELECT 8 AS level, prefix, n FROM l8'];
    for ($level = 7; $level >= 1; $level--) {
        $ctes[] = "l$level AS (SELECT prefix >> 8 AS prefix, CAST(SUM(n) AS BIGINT) AS n FROM l" . ($level + 1) . ' GROUP BY 1)';
        $rows[] = "SELECT $level, prefix, n FROM l$level";
    }
    return 'WITH ' . implode(', ', array_filter($ctes)) . ' INSERT INTO score_counts (level, prefix, n)
        SELECT level, prefix, n FROM (' . implode(' UNION ALL ', $rows) . ') r WHERE n <> 0 ORDER BY 1, 2
        ON CONFLICT (level, prefix) DO UPDATE SET n = score_counts.n + excluded.n';
}

// PostgreSQL's statement triggers on scores: the PL/pgSQL that takes the changed rows $rows (SQL
// giving score and delta) into the log, or a bulk of them straight into the counts.
function score_changes_plpgsql(string $rows): string
{
    return sprintf(<<<'SQL'
        IF (SELECT COUNT(*) FROM (%1$s) c) > %2$d THEN
            PERFORM pg_advisory_xact_lock(%3$d);
            %4$s;
            %5$s;
        ELSE
            INSERT INTO score_log (score, delta) SELECT score, delta FROM (%1$s) c;
        END IF;
        SQL, $rows, BULK_ROWS, LOCK_SCORE_FOLD, add_to_counts($rows), generation_bump_sql('scores'));
}

// Stores a score entry and returns its rank; both or neither (the rank ignores the entry itself,
// which is not higher than its score). A repeat of the same name and score changes only the mail,
// and only from the address that stored the entry first.
function add_score(string $name, int $score, string $mail, string $uploader = ''): int
{
    $pdo = db();
    $store = 'INSERT INTO scores (name, score, mail, uploaded, uploader) VALUES (?, ?, ?, ?, ?)
        ON CONFLICT (score, name) DO UPDATE SET mail = excluded.mail
            WHERE scores.uploader = excluded.uploader AND scores.mail <> excluded.mail
        RETURNING id';
    $args = [$name, $score, $mail, time(), $uploader];
    [$rank, $rankArgs] = rank_query($score);
    if (is_sqlite($pdo)) { // no writing WITH: two statements in one transaction
        [$id, $rank] = in_transaction($pdo, 'BEGIN IMMEDIATE', fn(PDO $pdo) => [query_value($pdo, $store, $args),
            (int)query_value($pdo, $rank, $rankArgs)]);
    } else { // one statement: one round trip, a transaction of its own
        [$id, $rank] = query_row($pdo, "WITH stored AS ($store) SELECT (SELECT id FROM stored), ($rank)",
            [...$args, ...$rankArgs], PDO::FETCH_NUM);
    }
    if ($id !== null && (int)$id % FOLD_EVERY === 0) {
        fold_scores($pdo);
    }
    return (int)$rank;
}

// Equal scores share a rank: 1 + the number of entries with a higher score.
function score_rank(PDO $pdo, int $score): int
{
    return (int)query_value($pdo, ...rank_query($score));
}

// The statement that counts the rank of $score, and its arguments.
function rank_query(int $score): array
{
    $terms = ['(level = 1 AND prefix > ?)'];
    $args = [$score >> 56];
    for ($level = 2; $level <= RANK_LEVELS; $level++) {
        $shift = 64 - 8 * $level;
        // The prefixes at this level that share x's parent and have a larger last byte.
        $terms[] = "(level = $level AND prefix > ? AND prefix <= ?)";
        array_push($args, $score >> $shift, (($score >> ($shift + 8)) << 8) | 255);
    }
    $args[] = $score;
    return ['SELECT 1 + COALESCE((SELECT SUM(n) FROM score_counts WHERE ' . implode(' OR ', $terms)
        . '), 0) + COALESCE((SELECT SUM(delta) FROM score_log WHERE score > ?), 0)', $args];
}

// Adds the log into the counts; one fold at a time, the others go on (PostgreSQL: a try-lock).
function fold_scores(PDO $pdo): void
{
    if (is_sqlite($pdo)) {
        in_transaction($pdo, 'BEGIN IMMEDIATE', function (PDO $pdo) {
            run($pdo, add_to_counts('SELECT score, delta FROM score_log'));
            run($pdo, 'DELETE FROM score_log');
            run($pdo, generation_bump_sql('scores'));
        });
        return;
    }
    run($pdo, add_to_counts('SELECT score, delta FROM gone', 'go AS (SELECT pg_try_advisory_xact_lock(' . LOCK_SCORE_FOLD
        . ') AS ok), gen AS (' . generation_bump_sql('scores') . ' AND (SELECT ok FROM go) RETURNING 1),
        gone AS (DELETE FROM score_log WHERE (SELECT ok FROM go) RETURNING score, delta)'));
}

// The number of entries.
function score_total(PDO $pdo): int
{
    return (int)query_value($pdo, 'SELECT COALESCE((SELECT SUM(n) FROM score_counts WHERE level = 1), 0)
        + COALESCE((SELECT SUM(delta) FROM score_log), 0)');
}

// The score at position $pos (from 0) in rank order and how many entries of that score come
// before it: down the levels, in each the prefix whose running count passes $pos.
function score_at(PDO $pdo, int $pos): array
{
    [$lo, $hi] = [PHP_INT_MIN, PHP_INT_MAX];
    for ($level = 1; $level <= RANK_LEVELS; $level++) {
        $shift = 64 - 8 * $level;
        $row = query_row($pdo, 'SELECT prefix, before FROM (
                SELECT prefix, SUM(n) OVER (ORDER BY prefix DESC) - n AS before, n FROM (
                    SELECT prefix, SUM(n) AS n FROM (
                        SELECT prefix, n FROM score_counts WHERE level = ? AND prefix >= ? AND prefix <= ?
                        UNION ALL SELECT score >> ?, delta FROM score_log WHERE score >= ? AND score <= ?) c
                    GROUP BY prefix HAVING SUM(n) > 0) p) w
            WHERE before <= ? AND before + n > ?',
            [$level, $lo >> $shift, $hi >> $shift, $shift, $lo, $hi, $pos, $pos]);
        if ($row === false) {
            throw new RuntimeException("score position $pos past the end");
        }
        $pos -= (int)$row['before'];
        $lo = (int)$row['prefix'] << $shift;
        $hi = $lo | ($shift === 0 ? 0 : (1 << $shift) - 1);
    }
    return [$lo, $pos];
}
