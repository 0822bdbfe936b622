<?php
// The official ranking, 50 entries a page. ?page=N, ?rank=R (the page holding rank R, its rows
// marked) or ?name=X (the page holding X's best entry, that row marked).
declare(strict_types=1);
require_once __DIR__ . '/../lib/site.php';
require_once __DIR__ . '/../lib/site_data.php';
start_page(['scores']);

$name = text_param('name', MAX_SCORE_NAME);
$wantRank = int_param('rank', 0);
[$list, $best] = in_snapshot(function (PDO $pdo) use ($name, $wantRank) {
    $best = $name === '' ? null : hiscore_best_of($pdo, $name);
    $page = $best[2] ?? ($wantRank > 0 ? hiscore_page_of_rank($wantRank) : int_param('page', 1));
    return [hiscore_page($pdo, $page, score_total($pdo)), $best];
});
$marked = fn(array $r) => $best !== null ? $r['name'] === $name && $r['score'] === $best[0]
    : $wantRank > 0 && $r['rank'] === $wantRank;
$pageUrl = fn(int $p) => site_url('/hiscores.php', ['page' => $p > 1 ? $p : null]);

page_start($list['page'] > 1 ? "Hiscores, page {$list['page']}" : 'Hiscores', 'hiscores');
?>
<section class="panel">
<h1>Hiscores</h1>
<p class="lead"><?= fmt_int($list['total']) ?> entries on the official ranking list. Equal scores share a rank.</p>
<div class="finders">
<form class="finder" action="/hiscores.php#marked" method="get">
<label for="find-name">Player name</label>
<div class="field"><input id="find-name" name="name" type="search" maxlength="63" value="<?= h($name) ?>" autocomplete="off"><button type="submit">Find best entry</button></div>
</form>
<form class="finder" action="/hiscores.php#marked" method="get">
<label for="find-rank">Rank</label>
<div class="field"><input id="find-rank" name="rank" type="number" min="1" value="<?= $wantRank > 0 ? $wantRank : '' ?>"><button type="submit">Show rank</button></div>
</form>
</div>
<?php if ($name !== '' && $best === null): ?>
<p class="notice" role="status">No hiscore of a player named <q><?= h($name) ?></q>. Names are matched exactly, capitals included.</p>
<?php elseif ($best !== null): ?>
<p class="notice" role="status"><b><?= h($name) ?></b> is on rank <?= fmt_int($best[1]) ?> with <?= fmt_int($best[0]) ?> points.</p>
<?php elseif ($wantRank > 0 && !array_filter($list['rows'], $marked)): ?>
<p class="notice" role="status">No entry holds rank <?= fmt_int($wantRank) ?> now<?= $wantRank > $list['total'] ? '' : ': equal scores share a rank and the ranks after them are skipped' ?>.</p>
<?php endif ?>
<?php if (!$list['rows']): ?>
<p class="empty">No hiscores yet. Play a round and send yours with the Starter’s Hiscore button.</p>
<?php else: ?>
<table class="scores">
<caption>Ranks <?= fmt_int($list['rows'][0]['rank']) ?> to <?= fmt_int(end($list['rows'])['rank']) ?>, page <?= fmt_int($list['page']) ?> of <?= fmt_int($list['pages']) ?></caption>
<thead><tr><th scope="col" class="rank">Rank</th><th scope="col">Player</th><th scope="col" class="num">Score</th></tr></thead>
<tbody>
<?php $anchor = true; foreach ($list['rows'] as $r): $mark = $marked($r); ?>
<tr<?= $mark ? ($anchor ? ' id="marked"' : '') . ' class="marked" aria-current="true"' : '' ?>><?php $anchor = $anchor && !$mark ?><td class="rank"><span class="r<?= min($r['rank'], 4) ?>"><?= fmt_int($r['rank']) ?></span></td><td class="who"><span class="name"><?= h($r['name']) ?></span> <?= mail_html($r['mail']) ?></td><td class="num"><?= fmt_int_html($r['score']) ?></td></tr>
<?php endforeach ?>
</tbody>
</table>
<?= pager($list['page'], $list['pages'], $pageUrl, 'Hiscore pages') ?>
<?php endif ?>
</section>
<?php
page_end();
