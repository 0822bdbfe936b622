<?php
// The rooms every game script, the website, the router and the admin tool share.
declare(strict_types=1);
require_once __DIR__ . '/settings.php';
require_once __DIR__ . '/connection.php';
require_once __DIR__ . '/scores.php';
require_once __DIR__ . '/designs.php';
require_once __DIR__ . '/wire.php';
