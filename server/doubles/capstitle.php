<?php
// A title element written in capitals, holding x.
header('Content-Type: text/html');
echo "<HTML><HEAD><TITLE>x</TITLE></HEAD><BODY>x</BODY></HTML>\n";
