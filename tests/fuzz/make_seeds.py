#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into tests/fuzz/corpus/TARGET/.

Seeds are small, well-formed or nearly well-formed inputs that lead each fuzzer to the
interesting paths quickly; run again after changing them and commit the result."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("latin-1"))


def hiscore_line(name, score, mask=0x5A5A5A5A):
    k1, k2 = 12345, 987654321
    k3 = score ^ k1 ^ k2
    return f"{name};7;{k1};{mask};{k2};{k3};{score ^ mask}"


def hiscores():
    six = "".join(hiscore_line(f"P{i}", i * 100) + "\r\n" for i in range(6))
    write("hiscore_file", "valid", six)
    write("hiscore_file", "negative", hiscore_line("Neg", -77) + "\r\n")
    write("hiscore_file", "zeros", "Ann;0;0;0;0;0;0\r\n")
    write("hiscore_file", "no_cr", hiscore_line("NoCr", 5))
    write("hiscore_file", "bare_cr", hiscore_line("A", 1) + "\r" + hiscore_line("B", 2) + "\r")
    write("hiscore_file", "lf_only", hiscore_line("A", 1) + "\n" + hiscore_line("B", 2) + "\n")
    write("hiscore_file", "long_name", hiscore_line("n" * 200, 42) + "\r\n")
    write("hiscore_file", "long_line", "x" * 1500 + "\r\n")
    write("hiscore_file", "few_fields", "A;1;3;3;2;4\r\n;;;;\r\n")
    write("hiscore_file", "separators", ";;A;;1;3;;3;2;4;6;extra\r\n")
    write("hiscore_file", "huge_numbers", "A;1;99999999999999999999;-9223372036854775808;+3;  4;5x\r\n")
    write("hiscore_file", "zero_byte", "Ze\0ro;1;1;1;1;1;1\r\n")
    write("hiscore_file", "rank", "17\n")


def plane(name, numbers, length=None, tail=b"BODY"):
    body = struct.pack("<7i", *numbers) + name
    return struct.pack("<I", len(body) if length is None else length) + body + tail


def planes():
    write("plane_header", "valid", plane(b"Sky Lark\0", [1000, 900, 20, 10, 90, 400, 2000]))
    write("plane_header", "no_zero", plane(b"Open", [1, 2, 3, 4, 5, 6, 7]))
    write("plane_header", "zero_length", struct.pack("<I", 0) + b"rest")
    write("plane_header", "short_block", plane(b"", [1, 2, 3, 4, 5, 6, 7], length=10))
    write("plane_header", "huge_length", plane(b"Big\0", [-1, -30, 101, 0, 111, 7, 8], length=0xFFFFFFFF))
    write("plane_header", "long_name", plane(b"N" * 1100, [0] * 7))
    write("plane_header", "truncated", plane(b"Cut", [5] * 7)[:20])
    write("plane_header", "two_bytes", b"\x24\x00")
    write("plane_header", "empty", b"")


def catalogue_tail(page, total):
    # FuzzedDataProvider takes its numbers from the end of the input, most significant byte
    # first: the page index, the flag saying a total is known, then the total (offset by 2^31).
    taken = bytes([page % 6]) + (b"\x01" + struct.pack(">I", total + 2**31) if total else b"\x00")
    return taken[::-1]


def catalogues():
    rows = "".join(f"Design {i:03};5eed{i:04x}.plane;pilot{i}@example.org;{1000 * i};{500 + i};"
                   f"{10 + i % 50};{7 * i % 100};{13 * i % 100};{300 + i};{1000 + 10 * i}\n"
                   for i in range(1, 18))
    suffix = catalogue_tail
    write("catalogue", "page", ("40\n" + rows).encode() + suffix(0, 0))
    write("catalogue", "crlf", ("40\r\n" + rows.replace("\n", "\r\n")).encode() + suffix(0, 0))
    write("catalogue", "short", "40\nShort 1;5407.plane;m;1;2;3;4;5;6;7\n".encode() + suffix(0, 0))
    write("catalogue", "zero", b"0\n" + suffix(0, 0))
    write("catalogue", "second_page", ("40\n" + rows).encode() + suffix(1, 40))
    write("catalogue", "hostile", ("3\n..\\x.plane;..\\x.plane;;1;2;3;4;5;6;7\n"
                                   "C:x.plane;C:x.plane;;-1;-2147483649;99999999999;4;5;6;7\n"
                                   "Semi;colon;a/b.plane;;1;2;3;4;5;6;7\n").encode() + suffix(0, 0))
    write("catalogue", "long_fields", ("2\n" + "N" * 5000 + ";" + "F" * 100 + ";" + "E" * 300 +
                                       ";1;2;3;4;5;6;7\n").encode() + suffix(0, 0))
    write("catalogue", "negative_total", b"-5\nA;b.plane;;1;2;3;4;5;6;7\n" + suffix(0, 0))


def titles():
    write("find_title", "error_page", "<html><head><title>404 Not Found</title></head><body>x</body></html>")
    write("find_title", "caps", "<TITLE>x</TITLE>")
    write("find_title", "attribute", '<title lang="en">x</title>')
    write("find_title", "reversed", "</title>tail<title>head")
    write("find_title", "unterminated", "<title>x</title")
    write("find_title", "nested", "<<title>>x<</title>>")
    write("find_title", "two_titles", "a<b>c<title>first</title><TITLE>second</TITLE>")
    write("find_title", "number", "17\n")
    write("find_title", "beyond_65535", "x" * 70000 + "<title>far</title>")


def fields():
    for name, text in [("name", "Ann Lee"), ("dash", "R-2"), ("quotes", "'\"'"),
                       ("mail", "bo.lind@example.org"), ("umlauts", "J\xe4ger \xdf\x80"),
                       ("separators", ";&=?#%\r\n"), ("all_bytes", "".join(map(chr, range(256))))]:
        write("encode_field", name, text)


def languages():
    for name, data in [("german", b"\x00"), ("english", b"\x01"), ("french", b"\x02"), ("digit", b"1"),
                       ("empty", b""), ("value", b"2"), ("word", b"fr"), ("signed", b"  -7x"),
                       ("overflow", b"99999999999999999999"), ("min", b"-9223372036854775808"),
                       ("blanks", b"\t\n\v\f\r +42")]:
        write("language", name, data)


def skin(bpp, width, height, top_down, pixels, key_every=8):
    # Read from the end: bits per pixel, width, height, top-down flag, 256 palette flags.
    tail = bytes([{8: 0, 24: 1, 1: 2}[bpp]]) + struct.pack("<H", width + 2)[::-1] + \
        struct.pack("<H", height + 2)[::-1] + bytes([1 if top_down else 0]) + \
        bytes(0 if i % key_every == 0 else 1 for i in range(256))
    return pixels + tail[::-1]


def skins():
    stride24 = lambda w: (w * 24 + 31) // 32 * 4
    magenta, grey = b"\xff\x00\xff", b"\x80\x80\x80"
    row = (magenta + grey * 5 + magenta + grey * 3).ljust(stride24(10), b"\0")
    write("skin_runs", "rgb_bottom_up", skin(24, 10, 4, False, row * 4))
    write("skin_runs", "rgb_top_down", skin(24, 10, 4, True, row * 4))
    write("skin_runs", "all_key", skin(24, 3, 3, False, (magenta * 3 + b"\0" * 3) * 3))
    write("skin_runs", "near_key", skin(24, 2, 1, False, b"\xfe\x00\xff\xff\x01\xff" + b"\0" * 2))
    write("skin_runs", "palette", skin(8, 13, 5, False, bytes(range(16)) * 5))
    write("skin_runs", "one_bit", skin(1, 8, 2, False, b"\xaa\0\0\0\x55\0\0\0"))


if __name__ == "__main__":
    hiscores()
    planes()
    catalogues()
    titles()
    fields()
    languages()
    skins()
