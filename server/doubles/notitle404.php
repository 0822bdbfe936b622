<?php
// A 404 without a title element.
http_response_code(404);
header('Content-Type: text/html');
echo "<html><body><h1>Not Found</h1></body></html>\n";
