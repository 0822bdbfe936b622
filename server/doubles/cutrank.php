<?php
// Announces the rank "17" and closes the connection after its first byte.
header('Content-Type: text/plain');
header('Content-Length: 2');
echo '1';
flush();
exit;
