<?php
// The FTP server's questions to the store, one JSON line each way (ftp/ftpd.py asks), so that the
// settings, the names of design files and every query of the store have one owner. A failed
// question is answered with {"error": ...} and ends the helper; the FTP server starts another.
declare(strict_types=1);
require_once __DIR__ . '/../lib/designs.php';
require_once __DIR__ . '/../lib/quotas.php';
require_once __DIR__ . '/../lib/settings.php';

const QUESTIONS = ['settings' => 'ftp_settings', 'registered' => 'plane_registered', 'usage' => 'address_usage',
    'stored_bytes' => 'stored_bytes'];

// What the FTP server starts from: the settings (the storage's password aside), the storage
// folder, and the pattern of the only names it may store.
function ftp_settings(): array
{
    return ['storage' => storage_dir(), 'plane_file_name' => PLANE_FILE_NAME]
        + array_diff_key(settings(), ['password' => true]);
}

function answer(array $reply): void
{
    echo json_encode($reply, JSON_INVALID_UTF8_SUBSTITUTE | JSON_UNESCAPED_SLASHES), "\n";
}

umask(0077);
while (($line = fgets(STDIN)) !== false) {
    $question = json_decode($line, true);
    try {
        $ask = QUESTIONS[is_array($question) ? $question[0] ?? '' : ''] ?? null;
        if ($ask === null) {
            throw new InvalidArgumentException('no such question: ' . trim($line));
        }
        $reply = ['answer' => $ask(...array_slice($question, 1))];
    } catch (Throwable $e) {
        answer(['error' => $e->getMessage()]);
        exit(1);
    }
    answer($reply);
}
