<?php
// GET /metrics on the operator's address (deploy/nginx-metrics.conf), for Prometheus.
declare(strict_types=1);
require_once __DIR__ . '/../lib/failures.php';
require_once __DIR__ . '/../lib/metrics.php';
start_script();

header('Content-Type: text/plain; version=0.0.4; charset=utf-8');
echo metrics_text();
