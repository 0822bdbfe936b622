<?php
// Answers kept in APCu under the state of the store they were made from: a registration or a
// stored score changes that state (skv_state's generations and log lengths), so no answer older
// than the last write is ever served, on any web node. Without APCu every answer is made anew.
declare(strict_types=1);
require_once __DIR__ . '/connection.php';
require_once __DIR__ . '/counters.php';

const CACHE_TTL = 300; // seconds; an entry of a past state is never asked for again

function cache_on(): bool
{
    return function_exists('apcu_enabled') && apcu_enabled();
}

// $make() once per key while it is kept.
function cached(string $key, callable $make): mixed
{
    if (!cache_on()) {
        return $make();
    }
    $value = apcu_fetch($key, $hit);
    if (!$hit) {
        $value = $make();
        apcu_store($key, $value, CACHE_TTL);
    }
    return $value;
}

// The key of an answer that depends on the given parts of the store ('scores', 'planes'), read
// on $pdo; null without a cache.
function answer_key(PDO $pdo, string $what, array $parts): ?string
{
    if (!cache_on()) {
        return null;
    }
    $versions = store_versions($pdo);
    return $what . '|' . implode('|', array_map(fn($p) => $versions[$p], $parts));
}
