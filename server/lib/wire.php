<?php
// The scripts' wire format: Windows-1252 texts, plain-text answers and refusals, query fields.
declare(strict_types=1);

const MAX_MAIL = 255;        // bytes after decoding; the Options dialog stores up to 255 characters

// --- Text encodings: the client speaks Windows-1252, storage holds UTF-8. ---

function cp1252_table(): array
{
    static $table = null;
    if ($table === null) {
        $c1 = [0x80 => 0x20AC, 0x82 => 0x201A, 0x83 => 0x0192, 0x84 => 0x201E, 0x85 => 0x2026, 0x86 => 0x2020,
            0x87 => 0x2021, 0x88 => 0x02C6, 0x89 => 0x2030, 0x8A => 0x0160, 0x8B => 0x2039, 0x8C => 0x0152,
            0x8E => 0x017D, 0x91 => 0x2018, 0x92 => 0x2019, 0x93 => 0x201C, 0x94 => 0x201D, 0x95 => 0x2022,
            0x96 => 0x2013, 0x97 => 0x2014, 0x98 => 0x02DC, 0x99 => 0x2122, 0x9A => 0x0161, 0x9B => 0x203A,
            0x9C => 0x0153, 0x9E => 0x017E, 0x9F => 0x0178];
        for ($b = 0x80; $b <= 0xFF; $b++) {
            $cp = $c1[$b] ?? $b; // the five unassigned bytes keep their own code point
            $table[chr($b)] = $cp < 0x800
                ? chr(0xC0 | $cp >> 6) . chr(0x80 | $cp & 0x3F)
                : chr(0xE0 | $cp >> 12) . chr(0x80 | $cp >> 6 & 0x3F) . chr(0x80 | $cp & 0x3F);
        }
    }
    return $table;
}

function cp1252_to_utf8(string $s): string
{
    return strtr($s, cp1252_table());
}

function utf8_to_cp1252(string $s): string
{
    static $back = null;
    $back ??= array_flip(cp1252_table());
    return preg_replace_callback('/[^\x00-\x7F]/u', fn($m) => $back[$m[0]] ?? '?', $s) ?? '?';
}

// A text field of a catalogue line: no field separators, no line breaks, no tags that could
// read as a title element, and nothing that ends a C string early.
function wire_text(string $utf8): string
{
    $s = strtr($utf8, [';' => ',', '<' => '(', '>' => ')']);
    return utf8_to_cp1252(preg_replace('/[\x00-\x1F\x7F]/', ' ', $s));
}

// --- Requests and answers ---

function plain_headers(int $status = 200): void
{
    http_response_code($status);
    header('Content-Type: text/plain; charset=windows-1252');
    // The client's HTTP layer caches GET answers unless told not to.
    header('Cache-Control: no-store, no-cache, must-revalidate');
    header('Pragma: no-cache');
    header('Expires: 0');
}

// What the metrics count an upload's or a registration's answer as: "stored" and its time, or
// why it was refused (the rate limit's refusals come from nginx itself).
const OUTCOMES = [400 => 'malformed', 405 => 'malformed', 422 => 'malformed', 500 => 'error', 503 => 'unavailable',
    507 => 'disk'];

// nginx writes this header into the metrics log and keeps it from the client; the built-in server
// keeps no such log.
function outcome(string $result): void
{
    if (PHP_SAPI === 'fpm-fcgi' && !headers_sent()) {
        header("X-Skv-Outcome: $result");
    }
}

function refuse(int $status, string $reason, ?string $result = null): never
{
    plain_headers($status);
    outcome($result ?? OUTCOMES[$status] ?? 'error');
    echo $reason, "\n";
    exit;
}

function require_get(): void
{
    if (($_SERVER['REQUEST_METHOD'] ?? 'GET') !== 'GET') {
        header('Allow: GET');
        refuse(405, 'only GET is served');
    }
}

// The fields of data= split on the raw query string: an escaped ";" (%3b) stays inside its field.
function data_fields(int $count): array
{
    foreach (explode('&', $_SERVER['QUERY_STRING'] ?? '') as $pair) {
        if (str_starts_with($pair, 'data=')) {
            $fields = explode(';', substr($pair, 5));
            if (count($fields) !== $count) {
                refuse(400, "data needs $count fields separated by ;, got " . count($fields));
            }
            return $fields;
        }
    }
    refuse(400, 'data is missing');
}

function text_field(string $raw, string $what, int $maxBytes): string
{
    $bytes = explode("\0", rawurldecode($raw))[0]; // a C string ends at its first zero byte
    if (strlen($bytes) > $maxBytes) {
        refuse(400, "$what is longer than $maxBytes bytes");
    }
    return cp1252_to_utf8($bytes);
}

function int_field(string $raw, string $what, int $min, int $max): int
{
    $v = preg_match('/^-?(0|[1-9][0-9]{0,18})\z/', $raw) ? filter_var($raw, FILTER_VALIDATE_INT) : false;
    if ($v === false || $v < $min || $v > $max) {
        refuse(400, "$what is not an integer from $min to $max");
    }
    return $v;
}
