<?php
// A catalogue of 10,000 designs whose every field is hostile: 5,000-character names, ";" inside
// texts, numbers out of range, file names that leave the download folder or name a drive.
// Honours from and num like the real script; with all=1 it sends all 10,000 whatever was asked.
header('Content-Type: text/plain');
$total = 10000;
$from = max(0, (int)($_GET['from'] ?? 0));
$num = max(0, (int)($_GET['num'] ?? 17));
if (($_GET['all'] ?? '') !== '') {
    $from = 0;
    $num = $total;
}
echo "$total\n";
for ($i = $from; $i < min($total, $from + $num); $i++) {
    switch ($i % 6) {
    case 0: echo str_repeat('N', 5000), ";..\\up$i.plane;", str_repeat('m', 300), ";1;2;3;4;5;6;7\n"; break;
    case 1: echo "Semi;colon $i;C:\\drive$i.plane;x;-1;-2;-3;-4;-5;-6\n"; break;
    case 2: echo "Drive $i;D:drive$i.plane;;1;2;3;4;5;6;7\n"; break;
    case 3: echo "Numbers $i;5eed0001.plane;;-2147483649;99999999999999999999;-0;+7;  -31;abc;2147483648\n"; break;
    case 4: echo "Unc $i;\\\\host\\share\\x$i.plane;;1;2;3;4;5;6;7\n"; break;
    default: echo "Long file $i;", str_repeat('f', 200), ".plane;;1;2;3;4;5;6;7\n"; break;
    }
}
