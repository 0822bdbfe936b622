<?php
// One design: ?file=NAME.plane. Its seven numbers as bars against the whole catalogue.
declare(strict_types=1);
require_once __DIR__ . '/../lib/site.php';
require_once __DIR__ . '/../lib/site_data.php';
start_page(['planes']);

$file = $_GET['file'] ?? '';
if (!is_string($file) || !preg_match(PLANE_FILE_PATTERN, $file)) {
    not_found_page('A design is named by its file, hexadecimal digits followed by .plane.');
}
[$design, $stats] = in_snapshot(fn(PDO $pdo) => [design_by_file($pdo, $file), catalogue_stats($pdo)]);
if ($design === null) {
    not_found_page('There is no design with the file ' . $file . ' in the catalogue.');
}

// Where $v lies between $lo and $hi, 0 to 1000 (the bar's own units).
function bar_pos(int $v, int $lo, int $hi): int
{
    return $hi > $lo ? (int)round(1000 * (min(max($v, $lo), $hi) - $lo) / ($hi - $lo)) : 1000;
}

function bar_svg(string $label, int $v, array $range): string
{
    [$lo, $mid, $hi] = $range;
    $x = bar_pos($v, $lo, $hi);
    $m = bar_pos($mid, $lo, $hi);
    $text = "$label " . fmt_int($v) . '; catalogue minimum ' . fmt_int($lo) . ', median ' . fmt_int($mid)
        . ', maximum ' . fmt_int($hi);
    return '<svg class="bar" viewBox="0 0 1000 24" preserveAspectRatio="none" role="img" aria-label="' . h($text) . '">'
        . '<rect class="track" x="0" y="4" width="1000" height="16"/>'
        . '<rect class="fill" x="0" y="4" width="' . max($x, 6) . '" height="16"/>'
        . '<rect class="median" x="' . max(0, min($m - 3, 994)) . '" y="0" width="6" height="24"/></svg>';
}

// Titles stay short; the page shows the whole name.
function short_title(string $s): string
{
    return preg_match('/^.{0,60}/su', $s, $m) && strlen($m[0]) < strlen($s) ? $m[0] . '…' : $s;
}

$name = $design['name'];
page_start(short_title($name), 'designs');
?>
<article class="panel design">
<p class="crumbs"><a href="/designs.php">Designs</a> <span aria-hidden="true">›</span> <span class="here">this design</span></p>
<h1 class="design-name"><?= h($name) ?></h1>
<div class="design-head">
<dl class="facts">
<dt>Author</dt><dd><?= mail_html($design['mail']) ?></dd>
<dt>Uploaded</dt><dd><?= date_html((int)$design['uploaded']) ?></dd>
<dt>File</dt><dd><code><?= h($design['file']) ?></code></dd>
</dl>
<p class="get"><a class="button" href="<?= h(site_url('/download.php', ['file' => $design['file']])) ?>" download="<?= h($design['file']) ?>">Download the design</a><span class="hint">Save it into your game’s <code>myPlanes</code> folder (<a href="/howto.php#get">how</a>).</span></p>
</div>
<table class="numbers">
<caption>How this design compares with all <?= fmt_int($stats['count']) ?> designs (the mark is the median)</caption>
<thead><tr><th scope="col">Number</th><th scope="col" class="num">Value</th><th scope="col" class="barcol">Catalogue minimum, median and maximum</th></tr></thead>
<tbody>
<?php foreach (PLANE_COLUMNS as $col => $label): [$lo, $mid, $hi] = $stats['ranges'][$col]; ?>
<tr class="n-<?= $col ?>"><th scope="row"><?= $label ?></th><td class="num"><?= fmt_int($design[$col]) ?><?= rating_html($col, (int)$design[$col]) ?></td><td class="barcol"><?= bar_svg($label, (int)$design[$col], $stats['ranges'][$col]) ?><span class="scale"><span>min <?= fmt_int($lo) ?></span> <span>median <?= fmt_int($mid) ?></span> <span>max <?= fmt_int($hi) ?></span></span></td></tr>
<?php endforeach ?>
</tbody>
</table>
</article>
<?php
page_end();
