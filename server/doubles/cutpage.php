<?php
// A catalogue page whose connection closes in the middle of the fourth entry: the length
// announced is never reached.
$rows = "40\n";
for ($i = 1; $i <= 3; $i++) {
    $rows .= sprintf("Design %03d;5eed%04x.plane;cut@example.org;%d;%d;20;10;90;400;2000\n", $i, $i, 1000 * $i, 900);
}
$rows .= "Design 004;5eed00";
header('Content-Type: text/plain');
header('Content-Length: ' . (strlen($rows) + 4000));
echo $rows;
flush();
exit;
