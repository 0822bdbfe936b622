<?php
// data=NAME;SCORE;MAIL -> the rank of the score, 1 being the best.
declare(strict_types=1);
require_once __DIR__ . '/../../lib/failures.php';
require_once __DIR__ . '/../../lib/scores.php';
require_once __DIR__ . '/../../lib/wire.php';
start_script();
require_get();

[$name, $score, $mail] = data_fields(3);
$name = text_field($name, 'name', MAX_SCORE_NAME);
$score = int_field($score, 'score', PHP_INT_MIN, PHP_INT_MAX);
$mail = text_field($mail, 'mail', MAX_MAIL);
if (trim($name) === '') {
    refuse(400, 'name is empty');
}
if (store_nearly_full()) {
    refuse(507, STORE_FULL);
}
$bound = setting('quota_scores_per_address_day');
$began = hrtime(true);
$rank = add_score($name, $score, $mail, $_SERVER['REMOTE_ADDR'] ?? '', $bound);
if ($rank === null) {
    refuse(429, "your address has sent $bound new hiscores in 24 hours, the most it may; try again tomorrow", 'quota');
}
plain_headers();
outcome(sprintf('stored %.6f', (hrtime(true) - $began) / 1e9));
echo $rank;
