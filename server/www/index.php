<?php
// The start page: the best pilots, the newest designs and the ways to find more.
declare(strict_types=1);
require_once __DIR__ . '/../lib/site.php';
require_once __DIR__ . '/../lib/site_data.php';
start_page(['scores', 'planes']);

const HOME_SCORES = 10;
const HOME_DESIGNS = 8;

[$top, $newest, $designs] = in_snapshot(function (PDO $pdo) {
    $total = score_total($pdo);
    $rows = array_slice(hiscore_page($pdo, 1, $total)['rows'], 0, HOME_SCORES);
    $newest = query_all($pdo, 'SELECT * FROM planes ORDER BY id DESC LIMIT ?', [HOME_DESIGNS]);
    return [['total' => $total, 'rows' => $rows], $newest, plane_count($pdo)];
});

page_start('', 'home');
?>
<div class="home">
<section class="panel">
<h1>Top pilots</h1>
<?php if (!$top['rows']): ?>
<p class="empty">No hiscores yet. Play a round and send yours with the Starter’s Hiscore button.</p>
<?php else: ?>
<table class="scores">
<caption>The best <?= count($top['rows']) ?> of <?= fmt_int($top['total']) ?> entries</caption>
<thead><tr><th scope="col" class="rank">Rank</th><th scope="col">Player</th><th scope="col" class="num">Score</th></tr></thead>
<tbody>
<?php foreach ($top['rows'] as $r): ?>
<tr><td class="rank"><span class="r<?= min($r['rank'], 4) ?>"><?= fmt_int($r['rank']) ?></span></td><td class="who"><span class="name"><?= h($r['name']) ?></span> <?= mail_html($r['mail']) ?></td><td class="num"><?= fmt_int_html($r['score']) ?></td></tr>
<?php endforeach ?>
</tbody>
</table>
<?php endif ?>
<form class="finder" action="/hiscores.php#marked" method="get">
<label for="home-name">Where do you stand? Your player name</label>
<div class="field"><input id="home-name" name="name" type="search" maxlength="63" autocomplete="off"><button type="submit">Find</button></div>
</form>
<p class="more"><a href="/hiscores.php">All hiscores</a></p>
</section>
<section class="panel">
<h1>Newest designs</h1>
<?php if (!$newest): ?>
<p class="empty">No designs yet. Share one with the Starter’s Upload button.</p>
<?php else: ?>
<ul class="cards">
<?php foreach ($newest as $p): ?>
<li><a class="name" href="<?= h(site_url('/design.php', ['file' => $p['file']])) ?>"><?= h($p['name']) ?></a>
<span class="meta"><?= mail_html($p['mail']) ?> · <?= date_html((int)$p['uploaded']) ?></span>
<span class="stats">Velocity <?= fmt_int($p['velocity']) ?> · Range <?= fmt_int($p['flight_range']) ?> · <?= noise_word((int)$p['noise']) ?></span></li>
<?php endforeach ?>
</ul>
<?php endif ?>
<p class="more"><a href="/designs.php">All <?= fmt_int($designs) ?> designs</a></p>
</section>
</div>
<?php
page_end();
