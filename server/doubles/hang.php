<?php
// Accepts the request and sends nothing for a minute. DATA/hanging tells a test that the
// request holds a worker now: nginx logs a request only when it ends.
declare(strict_types=1);
require_once __DIR__ . '/../lib/settings.php';
touch(data_dir() . '/hanging');
sleep(60);
