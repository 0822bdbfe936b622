#!/usr/bin/env python3
"""Packs the players' zips: Starter.exe and starter.dll of a build, the example starter.dat and
the readmes from package/. Texts get Windows line ends; the readmes a UTF-8 byte order mark so
that Notepad shows their umlauts and accents."""
import argparse
import os
import time
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
PROGRAM = ["Starter.exe", "starter.dll"]
TEXTS = [("starter.dat", b""), ("LIESMICH.txt", b"\xef\xbb\xbf"), ("README.txt", b"\xef\xbb\xbf"),
         ("LISEZMOI.txt", b"\xef\xbb\xbf")]


def add(archive, name, data, mtime):
    info = zipfile.ZipInfo(name, time.localtime(mtime)[:6])
    info.compress_type = zipfile.ZIP_DEFLATED
    info.external_attr = 0o644 << 16
    archive.writestr(info, data)


def pack(zip_path, build_dir):
    with zipfile.ZipFile(zip_path + ".part", "w") as archive:
        for name in PROGRAM:
            path = os.path.join(build_dir, name)
            with open(path, "rb") as f:
                add(archive, name, f.read(), os.path.getmtime(path))
        for name, mark in TEXTS:
            path = os.path.join(ROOT, "package", name)
            with open(path, "rb") as f:
                text = f.read().replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
            add(archive, name, mark + text, os.path.getmtime(path))
    os.replace(zip_path + ".part", zip_path)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--out", required=True, help="folder for the zips")
    parser.add_argument("builds", nargs="+", metavar="NAME=BUILD_DIR",
                        help="e.g. win32=build/win32 makes Starter-win32.zip")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    for pair in args.builds:
        name, build_dir = pair.split("=", 1)
        zip_path = os.path.join(args.out, f"Starter-{name}.zip")
        pack(zip_path, build_dir)
        print(zip_path)


if __name__ == "__main__":
    main()
