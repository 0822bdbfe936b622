<?php
// Hiscore entries and their ranks.
declare(strict_types=1);
require_once __DIR__ . '/connection.php';

const MAX_SCORE_NAME = 63;   // bytes; the game's hiscore names are shorter

// --- Rank at scale (PostgreSQL): exact counts per score prefix, kept by a trigger ---
// Level L (1..8) counts the scores per prefix score >> (64 - 8L): the top byte, two bytes, ... the
// whole score. The scores above x are those whose prefix at some level has x's parent prefix
// and a larger last byte, so a rank reads at most 8 x 255 small rows, whatever the table holds.
const RANK_LEVELS = 8;

// Stores a score entry and returns its rank. A repeat of the same name and score changes only the
// mail, and only from the address that stored the entry first.
function add_score(string $name, int $score, string $mail, string $uploader = ''): int
{
    $pdo = db();
    $pdo->prepare('INSERT INTO scores (name, score, mail, uploaded, uploader) VALUES (?, ?, ?, ?, ?)
                   ON CONFLICT (score, name) DO UPDATE SET mail = excluded.mail WHERE scores.uploader = excluded.uploader')
        ->execute([$name, $score, $mail, time(), $uploader]);
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
