<?php
// A catalogue whose file names try to leave the download folder.
header('Content-Type: text/plain');
$files = ['..\\x.plane', 'C:x.plane', 'a/b.plane'];
echo count($files), "\n";
foreach ($files as $i => $file) {
    printf("Hostile %d;%s;;1000;900;20;10;90;400;2000\n", $i + 1, $file);
}
