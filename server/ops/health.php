<?php
// GET /health: 200 "ok", or 503 and one line naming the part that fails. nginx serves it without
// a rate limit; it renders nothing.
declare(strict_types=1);
require_once __DIR__ . '/../lib/failures.php';
require_once __DIR__ . '/../lib/health.php';
require_once __DIR__ . '/../lib/wire.php';
start_script();

$failed = array_filter(health_checks());
plain_headers($failed ? 503 : 200);
echo $failed ? array_key_first($failed) . ': ' . reset($failed) : 'ok', "\n";
