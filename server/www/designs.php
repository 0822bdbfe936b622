<?php
// The design catalogue, 25 a page: newest first, or sorted by one of the seven numbers
// (?sort=costs&dir=desc), filtered by a part of the name (?q=jet).
declare(strict_types=1);
require_once __DIR__ . '/../lib/site.php';
require_once __DIR__ . '/../lib/site_data.php';
start_page(['planes']);

$sort = $_GET['sort'] ?? 'new';
$sort = is_string($sort) && isset(DESIGN_SORTS[$sort]) ? $sort : 'new';
$desc = $sort === 'new' ? ($_GET['dir'] ?? '') !== 'asc' : ($_GET['dir'] ?? '') === 'desc';
$search = text_param('q', 100);
$list = in_snapshot(fn(PDO $pdo) => catalogue_page($pdo, DESIGN_SORTS[$sort], $desc, $search, int_param('page', 1)));

// Defaults stay out of the links: newest first, numbers ascending.
$state = fn(array $change = []) => array_merge(['q' => $search, 'sort' => $sort === 'new' ? null : $sort,
    'dir' => $desc === ($sort === 'new') ? null : ($desc ? 'desc' : 'asc')], $change);
$pageUrl = fn(int $p) => site_url('/designs.php', $state(['page' => $p > 1 ? $p : null]));
$sortUrl = function (string $key) use ($sort, $desc, $search) {
    $d = $key === $sort ? !$desc : $key === 'new'; // a second click turns the order round
    return site_url('/designs.php', ['q' => $search, 'sort' => $key === 'new' ? null : $key,
        'dir' => $d === ($key === 'new') ? null : ($d ? 'desc' : 'asc')]);
};
$columns = array_map(fn(string $col) => PLANE_COLUMNS[$col] ?? 'Uploaded', DESIGN_SORTS);

page_start($search === '' ? 'Designs' : "Designs named like “{$search}”", 'designs');
?>
<section class="panel">
<h1>Aircraft designs</h1>
<p class="lead"><?= fmt_int($list['total']) ?> <?= $search === '' ? 'designs shared by the pilots' : 'designs whose name holds <q>' . h($search) . '</q>' ?>. Open one to see how it compares, and fetch it into your <code>myPlanes</code> folder.</p>
<form class="finder wide" action="/designs.php" method="get">
<div class="group"><label for="q">Name contains</label><input id="q" name="q" type="search" maxlength="100" value="<?= h($search) ?>" autocomplete="off"></div>
<div class="group"><label for="sort">Sort by</label><select id="sort" name="sort">
<?php foreach ($columns as $key => $label): ?>
<option value="<?= $key ?>"<?= $key === $sort ? ' selected' : '' ?>><?= $key === 'new' ? 'Upload date' : $label ?></option>
<?php endforeach ?>
</select></div>
<div class="group"><label for="dir">Order</label><select id="dir" name="dir">
<option value="asc"<?= $desc ? '' : ' selected' ?>>Lowest / oldest first</option>
<option value="desc"<?= $desc ? ' selected' : '' ?>>Highest / newest first</option>
</select></div>
<button type="submit">Show</button>
<?php if ($search !== '' || $sort !== 'new'): ?><a class="reset" href="/designs.php">Newest first, all names</a><?php endif ?>
</form>
<?php if (!$list['rows']): ?>
<p class="empty"><?= $search === '' ? 'No designs yet. Share one with the Starter’s Upload button.' : 'No design name holds <q>' . h($search) . '</q>.' ?></p>
<?php else: ?>
<table class="designs">
<caption>Page <?= fmt_int($list['page']) ?> of <?= fmt_int($list['pages']) ?>, <?= $sort === 'new' ? ($desc ? 'newest' : 'oldest') : h(strtolower($columns[$sort])) . ($desc ? ', highest' : ', lowest') ?> first</caption>
<thead><tr><th scope="col">Design</th>
<?php foreach ($columns as $key => $label): $on = $key === $sort; ?>
<th scope="col" class="<?= $key === 'new' ? 'date' : 'num' ?>"<?= $on ? ' aria-sort="' . ($desc ? 'descending' : 'ascending') . '"' : '' ?>><a href="<?= h($sortUrl($key)) ?>" class="sort-<?= $key ?>"><?= $label ?><?= $on ? ($desc ? ' ▼' : ' ▲') : '' ?></a></th>
<?php endforeach ?>
</tr></thead>
<tbody>
<?php foreach ($list['rows'] as $p): ?>
<tr><td class="who"><a class="name" href="<?= h(site_url('/design.php', ['file' => $p['file']])) ?>"><?= h($p['name']) ?></a> <?= mail_html($p['mail']) ?></td><td class="date" data-label="Uploaded"><?= date_html((int)$p['uploaded']) ?></td><?php foreach (PLANE_COLUMNS as $col => $label): ?><td class="num" data-label="<?= $label ?>"><?= fmt_int($p[$col]) ?><?= rating_html($col, (int)$p[$col]) ?></td><?php endforeach ?></tr>
<?php endforeach ?>
</tbody>
</table>
<?= pager($list['page'], $list['pages'], $pageUrl, 'Design pages') ?>
<?php endif ?>
</section>
<?php
page_end();
