<?php
// Storage quotas: how much one address may keep in the design storage, and how much all may.
// The FTP server applies the same settings, with these look-ups, when a file arrives
// (ftp/ftpd.py); this is the registration's own check, and what the admin tool lists.
declare(strict_types=1);
require_once __DIR__ . '/settings.php';
require_once __DIR__ . '/connection.php';

// [designs, bytes] registered from $address.
function address_usage(string $address): array
{
    return array_map('intval', query_row(db(), 'SELECT COUNT(*), COALESCE(SUM(size), 0) FROM planes WHERE uploader = ?',
        [$address], PDO::FETCH_NUM));
}

// Bytes of all registered designs.
function stored_bytes(): int
{
    return (int)query_value(db(), 'SELECT COALESCE(SUM(size), 0) FROM planes');
}

// Why one more design of $size bytes from $address is refused, as [status, reason, result], or null.
function quota_refusal(string $address, int $size): ?array
{
    [$designs, $bytes] = address_usage($address);
    if ($designs + 1 > setting('quota_designs_per_address')) {
        return [403, 'your address keeps ' . setting('quota_designs_per_address') . ' designs already, the most it may',
            'quota'];
    }
    if ($bytes + $size > setting('quota_bytes_per_address')) {
        return [403, 'your address keeps ' . mib(setting('quota_bytes_per_address')) . ' of designs already, the most it may',
            'quota'];
    }
    if (stored_bytes() + $size > setting('quota_total_bytes')) {
        return [507, 'the design storage is full; try again later', 'quota'];
    }
    return null;
}

function mib(int $bytes): string
{
    return round($bytes / (1 << 20), 1) . ' MiB';
}

// The addresses that keep the most bytes: [address, designs, bytes] rows, heaviest first.
function heaviest_addresses(int $limit): array
{
    return array_map('array_values', query_all(db(), 'SELECT uploader, COUNT(*) AS designs, SUM(size) AS bytes
        FROM planes GROUP BY uploader ORDER BY bytes DESC, designs DESC, uploader LIMIT ?', [$limit]));
}
