<?php
// The data folder, its server.ini and the storage folders: what every other room starts from.
declare(strict_types=1);

const REGISTER_WINDOW = 120;   // seconds from a completed upload in which only its address may register it

// Mail addresses and the database password live in the data folder: owner only.
umask(0077);

// DATA/server.ini: storage (dsn, user, password), where design files live, limits.
function settings(): array
{
    static $ini = null;
    if ($ini === null) {
        $path = data_dir() . '/server.ini';
        $ini = is_file($path) ? (parse_ini_file($path) ?: []) : [];
    }
    return $ini;
}

function data_dir(): string
{
    static $dir = null;
    if ($dir === null) {
        $env = getenv('SKV_DATA');
        $dir = rtrim($env !== false && $env !== '' ? $env : dirname(__DIR__) . '/data', '/');
        // A missing data folder is made on first use rather than failing every request.
        if (!is_dir($dir) && !@mkdir($dir, 0700, true) && !is_dir($dir)) {
            throw new RuntimeException("cannot create the data folder $dir");
        }
    }
    return $dir;
}

// Design files and their upload records; several web nodes name one shared folder here.
function storage_dir(): string
{
    return rtrim((string)(settings()['storage'] ?? data_dir()), '/');
}

function planes_dir(): string
{
    $dir = storage_dir() . '/planes';
    if (!is_dir($dir)) {
        @mkdir($dir, 0700, true);
    }
    return $dir;
}

// One file per upload the FTP server took and nobody registered yet: "ADDRESS TIME SIZE".
function uploads_dir(): string
{
    return storage_dir() . '/uploads';
}

function register_window(): int
{
    return (int)(settings()['register_window'] ?? REGISTER_WINDOW);
}
