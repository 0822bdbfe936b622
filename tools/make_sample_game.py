#!/usr/bin/env python3
"""Lays out a sample game installation for the demo: a hiscore file, a few designs in
myPlanes and a starter.dat that points at a game server. The Starter and its picture
library are copied in by the caller."""
import argparse
import os
import random
import struct

PILOTS = [("Ann Lee", 123456), ("Björn Falk", 98000), ("Chloé Martin", 87500),
          ("Dev Rao", 61000), ("Emil Brandt", 40250), ("Fay O'Neil", 12800)]
DESIGNS = [("Sky Jet", 1000, 2000, 30, 40, 50, 800, 5000),
           ("Dawn Glider", 420, 800, 9, 12, 95, 410, 2600),
           ("Heavy Lifter 7", 5200, 9100, 140, 105, -12, 560, 7400)]


def hiscore_line(rng, name, score):
    # The game stores each score masked, with three check values whose XOR is the score.
    mask = rng.getrandbits(40)
    k1, k2 = rng.getrandbits(40), rng.getrandbits(40)
    k3 = score ^ k1 ^ k2
    return f"{name};{rng.randint(1, 9)};{k1};{mask};{k2};{k3};{score ^ mask}"


def write_hiscores(game, rng):
    os.makedirs(os.path.join(game, "misc"), exist_ok=True)
    lines = [hiscore_line(rng, n, s) for n, s in PILOTS]
    with open(os.path.join(game, "misc", "xmlmap.fla"), "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode("cp1252"))


def write_designs(game, rng):
    folder = os.path.join(game, "myPlanes")
    os.makedirs(folder, exist_ok=True)
    for name, *numbers in DESIGNS:
        encoded = name.encode("cp1252") + b"\0"
        block = struct.pack("<7i", *numbers) + encoded
        body = bytes(rng.getrandbits(8) for _ in range(256))
        path = os.path.join(folder, name.replace(" ", "_") + ".plane")
        with open(path, "wb") as f:
            f.write(struct.pack("<I", len(block)) + block + body)


def write_settings(game, address):
    with open(os.path.join(game, "starter.dat"), "w", newline="\r\n") as f:
        f.write("; Points the Starter at the demo's game server.\n")
        f.write(f"[setup]\nHTTP_URL={address}\nFTP_URL={address}\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("game", help="folder of the installation")
    parser.add_argument("--server", required=True, help="address of the game server")
    args = parser.parse_args()
    rng = random.Random(7)
    os.makedirs(args.game, exist_ok=True)
    write_hiscores(args.game, rng)
    write_designs(args.game, rng)
    write_settings(args.game, args.server)


if __name__ == "__main__":
    main()
