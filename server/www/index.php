<?php
// The game's website: the best hiscores and the newest designs, each design file downloadable.
declare(strict_types=1);
require_once __DIR__ . '/../lib/common.php';

const LIST_SIZE = 20;

function h(string|int $s): string
{
    return htmlspecialchars((string)$s, ENT_QUOTES | ENT_SUBSTITUTE, 'UTF-8');
}

$pdo = db();
$best = $pdo->query('SELECT name, score, mail FROM scores ORDER BY score DESC, name LIMIT ' . LIST_SIZE)->fetchAll();
$newest = $pdo->query('SELECT * FROM planes ORDER BY id DESC LIMIT ' . LIST_SIZE)->fetchAll();
$rank = 0;
$prev = null;
header('Content-Type: text/html; charset=utf-8');
?>
<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Skyvora – hiscores and aircraft designs</title>
<style>
body { font-family: sans-serif; margin: 2em auto; max-width: 75em; color: #223; }
table { border-collapse: collapse; width: 100%; margin-bottom: 2em; }
th, td { border-bottom: 1px solid #ccd; padding: .3em .6em; text-align: left; }
td.n { text-align: right; }
</style>
</head>
<body>
<h1>Skyvora</h1>
<h2>Hiscores</h2>
<?php if (!$best): ?>
<p id="no-scores">No hiscores yet.</p>
<?php else: ?>
<table id="scores">
<tr><th>Rank</th><th>Name</th><th>Score</th><th>Mail</th></tr>
<?php foreach ($best as $i => $s):
    $rank = (string)$s['score'] === $prev ? $rank : $i + 1; // equal scores share a rank
    $prev = (string)$s['score']; ?>
<tr><td class="n"><?= $rank ?></td><td><?= h($s['name']) ?></td><td class="n"><?= h($s['score']) ?></td><td><?= h($s['mail']) ?></td></tr>
<?php endforeach ?>
</table>
<?php endif ?>
<h2>Newest aircraft designs</h2>
<?php if (!$newest): ?>
<p id="no-planes">No designs yet.</p>
<?php else: ?>
<table id="planes">
<tr><th>Name</th><th>Costs</th><th>Weight</th><th>Consumption</th><th>Noise</th><th>Reliability</th><th>Velocity</th><th>Range</th><th>Mail</th><th>File</th></tr>
<?php foreach ($newest as $p): ?>
<tr><td><?= h($p['name']) ?></td><?php foreach (PLANE_NUMBERS as $c): ?><td class="n"><?= h($p[$c]) ?></td><?php endforeach ?><td><?= h($p['mail']) ?></td><td><a href="/download.php?file=<?= rawurlencode($p['file']) ?>"><?= h($p['file']) ?></a></td></tr>
<?php endforeach ?>
</table>
<?php endif ?>
</body>
</html>
