#!/usr/bin/env python3
"""A loopback address for a test's servers, picked at run time from 127.1.0.0/16: at random,
so two checkouts testing at once rarely meet, and only where nothing is bound yet to the
ports the servers take. Run as a program, it prints one."""
import random
import socket
import sys

DEFAULT_PORTS = (80, 21)


def _free(address, port):
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        try:
            probe.bind((address, port))
            return True
        except OSError:
            return False


def free_address(ports=DEFAULT_PORTS):
    rng = random.SystemRandom()
    for _ in range(200):
        address = "127.1.%d.%d" % (rng.randrange(256), rng.randrange(1, 255))
        if all(_free(address, port) for port in ports):
            return address
    raise RuntimeError("no free address in 127.1.0.0/16")


if __name__ == "__main__":
    print(free_address(tuple(int(p) for p in sys.argv[1:]) or DEFAULT_PORTS))
