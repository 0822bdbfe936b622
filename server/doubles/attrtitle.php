<?php
// The only title tag carries an attribute, so it does not count as a title.
header('Content-Type: text/html');
echo "<html><head><title lang=\"en\">x</title></head><body>x</body></html>\n";
