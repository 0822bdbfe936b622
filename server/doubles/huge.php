<?php
// An answer of 100 MB: "5" and then 100 MiB of x, sent as fast as the client takes it.
header('Content-Type: text/plain');
echo '5';
$chunk = str_repeat('x', 1 << 20);
for ($i = 0; $i < 100 && !connection_aborted(); $i++) {
    echo $chunk;
    flush();
}
