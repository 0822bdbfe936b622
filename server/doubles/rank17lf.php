<?php
// A rank followed by a line feed.
header('Content-Type: text/plain');
echo "17\n";
