<?php
// A catalogue that announces 40 designs but holds only 5.
header('Content-Type: text/plain');
echo "40\n";
for ($i = 1; $i <= 5; $i++) {
    printf("Short %d;5407%04x.plane;short@example.org;%d;%d;%d;%d;%d;%d;%d\n", $i, $i, 1000 * $i, 900, 20, 10, 90, 400, 2000);
}
