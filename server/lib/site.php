<?php
// The website's frame and helpers: every page is one HTML5 document in the Starter's colours,
// built without scripts, every shown text escaped.
declare(strict_types=1);
require_once __DIR__ . '/cache.php';
require_once __DIR__ . '/connection.php';
require_once __DIR__ . '/failures.php';

function h(string|int $s): string
{
    return htmlspecialchars((string)$s, ENT_QUOTES | ENT_SUBSTITUTE | ENT_HTML5, 'UTF-8');
}

// A site path with its query; parameters equal to '' or null are left out. Escape with h() in attributes.
function site_url(string $path, array $params = [], string $fragment = ''): string
{
    $params = array_filter($params, fn($v) => $v !== null && $v !== '');
    $query = http_build_query($params, '', '&', PHP_QUERY_RFC3986);
    return $path . ($query === '' ? '' : "?$query") . ($fragment === '' ? '' : "#$fragment");
}

// Digits in groups of three; works on the decimal text, so 64-bit scores keep every digit.
function fmt_int(int|string $n): string
{
    return preg_replace('/\B(?=(\d{3})+$)/', ',', (string)$n);
}

// The same in a table cell: a number beyond the billions may break after a comma on a phone.
function fmt_int_html(int|string $n): string
{
    $text = fmt_int($n);
    return strlen($text) > 14 ? str_replace(',', ',<wbr>', $text) : $text;
}

function date_html(int $unix): string
{
    return '<time datetime="' . gmdate('Y-m-d\TH:i\Z', $unix) . '">' . gmdate('j M Y', $unix) . '</time>';
}

// The player's Options address as typed; an empty one means the player stays anonymous.
function mail_html(string $mail): string
{
    return $mail === '' ? '<span class="anon">anonymous</span>' : '<span class="mail">' . h($mail) . '</span>';
}

// The Starter's rating words.
function noise_word(int $noise): string
{
    foreach ([0 => 'very quiet', 20 => 'quiet', 40 => 'OK', 60 => 'not so bad', 80 => 'reasonably noisy',
                 100 => 'noisy'] as $upTo => $word) {
        if ($noise <= $upTo) {
            return $word;
        }
    }
    return 'very loud';
}

function reliability_word(int $reliability): string
{
    foreach ([-30 => 'disastrous', -20 => 'very bad', -10 => 'bad', -1 => 'moderate', 20 => 'average',
                 50 => 'above average', 80 => 'quite good', 110 => 'good'] as $upTo => $word) {
        if ($reliability <= $upTo) {
            return $word;
        }
    }
    return 'very good';
}

function rating_html(string $col, int $value): string
{
    return match ($col) {
        'noise' => ' <span class="word">' . noise_word($value) . '</span>',
        'reliability' => ' <span class="word">' . reliability_word($value) . '</span>',
        default => '',
    };
}

function int_param(string $name, int $default): int
{
    $v = $_GET[$name] ?? '';
    return is_string($v) && preg_match('/^\d{1,9}$/', $v) ? (int)$v : $default;
}

function text_param(string $name, int $maxChars = 200): string
{
    $v = $_GET[$name] ?? '';
    // The first characters of valid UTF-8; anything else counts as no text.
    return is_string($v) && preg_match('/^.{0,' . $maxChars . '}/su', trim($v), $m) ? $m[0] : '';
}

const SITE_TABS = ['home' => ['/', 'Home'], 'hiscores' => ['/hiscores.php', 'Hiscores'],
    'designs' => ['/designs.php', 'Designs'], 'howto' => ['/howto.php', 'How to']];

function page_headers(int $status): void
{
    http_response_code($status);
    header('Content-Type: text/html; charset=utf-8');
    // Nothing runs on these pages and nothing comes from elsewhere.
    header("Content-Security-Policy: default-src 'none'; style-src 'self'; img-src 'self'; form-action 'self'; "
        . "base-uri 'none'; frame-ancestors 'none'");
    header('X-Content-Type-Options: nosniff');
    header('Referrer-Policy: no-referrer');
}

// The start of every page: the script's start-up step, then the kept answer when the parts of the
// store the page shows ('scores', 'planes'; none for a page that reads no storage) are unchanged.
function start_page(array $parts): void
{
    start_script();
    if ($parts) {
        serve_cached_page($parts);
    }
}

// The key under which page_end keeps this page, once serve_cached_page has set it.
function page_cache_key(?string $set = null): ?string
{
    static $key = null;
    return $key = $set ?? $key;
}

// Answers from the cache when the parts of the store that the page shows ('scores', 'planes')
// are in the state the kept page was made from; otherwise page_end keeps this request's page.
function serve_cached_page(array $parts): void
{
    $what = 'page|' . ($_SERVER['SCRIPT_NAME'] ?? '') . '?' . ($_SERVER['QUERY_STRING'] ?? '');
    $key = on_reader(fn(PDO $pdo) => answer_key($pdo, $what, $parts));
    if ($key === null) {
        return;
    }
    $page = apcu_fetch($key, $hit);
    if ($hit) {
        page_headers($page[0]);
        server_timing();
        echo $page[1];
        exit;
    }
    page_cache_key($key);
}

// Server time of the page, for the benchmark and anyone curious.
function server_timing(): void
{
    $ms = (microtime(true) - ($_SERVER['REQUEST_TIME_FLOAT'] ?? microtime(true))) * 1000;
    header(sprintf('Server-Timing: app;dur=%.2f', $ms));
}

function page_start(string $title, string $tab, int $status = 200): void
{
    ob_start();
    page_headers($status);
    $full = $title === '' ? 'Skyvora – the pilots’ site' : "$title – Skyvora";
    ?>
<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="color-scheme" content="dark">
<title><?= h($full) ?></title>
<link rel="icon" href="/site/icon.png" type="image/png">
<link rel="stylesheet" href="/site/palette.css">
<link rel="stylesheet" href="/site/style.css">
</head>
<body>
<a class="skip" href="#main">Skip to the content</a>
<header class="sky">
<div class="wrap sky-inner">
<a class="brand" href="/"><img src="/site/badge.png" alt="" width="96" height="48"><span class="brand-name">Skyvora</span></a>
<p class="tagline">Hiscores and aircraft designs of the Skyvora pilots</p>
</div>
<img class="plane" src="/site/plane.png" alt="" width="300" height="160">
</header>
<nav class="tabs" aria-label="Site">
<ul class="wrap">
<?php foreach (SITE_TABS as $key => [$href, $label]): ?>
<li><a href="<?= $href ?>" class="tab-<?= $key ?>"<?= $key === $tab ? ' aria-current="page"' : '' ?>><?= $label ?></a></li>
<?php endforeach ?>
</ul>
</nav>
<main id="main" class="wrap">
<?php
}

function page_end(): void
{
    ?>
</main>
<footer class="foot"><div class="wrap">Skyvora community server · hiscores and designs sent from the Starter</div></footer>
</body>
</html>
<?php
    server_timing();
    if (page_cache_key() !== null) {
        apcu_store(page_cache_key(), [http_response_code(), ob_get_contents()], CACHE_TTL);
    }
    ob_end_flush();
}

function not_found_page(string $what): never
{
    page_start('Not found', '', 404);
    echo '<section class="panel"><h1>Not found</h1><p>', h($what), '</p><p><a href="/">Back to the start page</a></p></section>';
    page_end();
    exit;
}

// Page links: first, previous, a window around the current page, next, last.
function pager(int $page, int $pages, callable $url, string $label): string
{
    if ($pages <= 1) {
        return '';
    }
    $link = fn(int $p, string $text) => $p === $page
        ? '<li><span aria-current="page">' . $text . '</span></li>'
        : '<li><a href="' . h($url($p)) . "\">$text</a></li>";
    $out = '<nav class="pager" aria-label="' . h($label) . '"><ul>';
    if ($page > 1) {
        $out .= '<li><a href="' . h($url($page - 1)) . '" rel="prev" class="step">‹ Previous</a></li>';
    }
    $shown = array_unique([1, max(1, $page - 2), max(1, $page - 1), $page, min($pages, $page + 1),
        min($pages, $page + 2), $pages]);
    sort($shown);
    $prev = 0;
    foreach ($shown as $p) {
        if ($p > $prev + 1) {
            $out .= '<li class="gap" aria-hidden="true">…</li>';
        }
        $out .= $link($p, fmt_int($p));
        $prev = $p;
    }
    if ($page < $pages) {
        $out .= '<li><a href="' . h($url($page + 1)) . '" rel="next" class="step">Next ›</a></li>';
    }
    return $out . '</ul></nav>';
}
