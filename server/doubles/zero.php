<?php
// An empty catalogue.
header('Content-Type: text/plain');
echo "0\n";
