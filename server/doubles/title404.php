<?php
// An HTML error page with the title "404 Not Found".
http_response_code(404);
header('Content-Type: text/html');
echo "<!DOCTYPE html>\n<html><head><title>404 Not Found</title></head>\n<body><h1>Not Found</h1><p>The requested URL was not found on this server.</p></body></html>\n";
