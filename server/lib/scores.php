<?php
// Hiscore entries and their ranks, from the counts per score prefix and the short log of changes
// not yet counted (schema.php): exact, and bounded whatever the table holds.
declare(strict_types=1);
require_once __DIR__ . '/connection.php';

const MAX_SCORE_NAME = 63;   // bytes; the game's hiscore names are shorter

// Stores a score entry and returns its rank; both or neither (the rank ignores the entry itself,
// which is not higher than its score). A repeat of the same name and score changes only the mail,
// and only from the address that stored the entry first. With $bound, a new entry from an
// uploader that added $bound entries within 24 hours is not stored, and null says so; a repeat is
// answered all the same. The bound is counted by the storing statement: no round trip of its own.
function add_score(string $name, int $score, string $mail, string $uploader = '', int $bound = 0): ?int
{
    $pdo = db();
    $known = 'SELECT 1 FROM scores WHERE score = ? AND name = ?';
    [$room, $roomArgs] = $bound <= 0 ? ['true', []] : ["(SELECT COUNT(*) FROM (SELECT 1 FROM scores
        WHERE uploader = ? AND uploaded > ? LIMIT ?) r) < ? OR EXISTS ($known)",
        [$uploader, time() - 86400, $bound, $bound, $score, $name]];
    $store = "INSERT INTO scores (name, score, mail, uploaded, uploader)
        SELECT ?, CAST(? AS BIGINT), ?, CAST(? AS BIGINT), ? WHERE $room
        ON CONFLICT (score, name) DO UPDATE SET mail = excluded.mail
            WHERE scores.uploader = excluded.uploader AND scores.mail <> excluded.mail
        RETURNING id";
    $args = [$name, $score, $mail, time(), $uploader, ...$roomArgs];
    [$rank, $rankArgs] = rank_query($score);
    if (is_sqlite($pdo)) { // no writing WITH: statements in one transaction
        [$id, $rank, $there] = in_transaction($pdo, 'BEGIN IMMEDIATE', function (PDO $pdo) use (
            $store, $args, $rank, $rankArgs, $known, $score, $name, $bound) {
            $id = query_value($pdo, $store, $args);
            return [$id, (int)query_value($pdo, $rank, $rankArgs),
                $bound <= 0 || $id !== null || query_value($pdo, $known, [$score, $name]) !== null];
        });
    } else { // one statement: one round trip, a transaction of its own; EXISTS sees the table before it
        [$id, $rank, $there] = query_row($pdo, "WITH stored AS ($store) SELECT (SELECT id FROM stored), ($rank),
            (SELECT id FROM stored) IS NOT NULL OR EXISTS ($known)", [...$args, ...$rankArgs, $score, $name],
            PDO::FETCH_NUM);
    }
    if (!$there) {
        return null;
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
            run($pdo, "UPDATE skv_state SET value = value + 1 WHERE name = 'score_gen'");
        });
        return;
    }
    run($pdo, add_to_counts('SELECT score, delta FROM gone', "go AS (SELECT pg_try_advisory_xact_lock(7406001) AS ok),
        gen AS (UPDATE skv_state SET value = value + 1 WHERE name = 'score_gen' AND (SELECT ok FROM go) RETURNING 1),
        gone AS (DELETE FROM score_log WHERE (SELECT ok FROM go) RETURNING score, delta)"));
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
