<?php
// Accepts the request and sends nothing for a minute. DATA/hanging tells a test that the
// request holds a worker now: nginx logs a request only when it ends.
declare(strict_types=1);
touch(data_dir() . '/hanging');
sleep(60);
