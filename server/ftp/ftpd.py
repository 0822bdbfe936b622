#!/usr/bin/python3
"""FTP side of the game server: one fixed account whose login folder is the design storage."""
import argparse
import logging
import os
import re

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

USER, PASSWORD = "skv_starter", "qpl47"
# The only names the web scripts accept; anything else would be dead weight in the storage.
PLANE_NAME = re.compile(r"^[0-9a-f]{4,24}\.plane$")


class StarterHandler(FTPHandler):
    banner = "Skyvora design storage ready."

    def ftp_STOR(self, file, mode="w"):
        # A stored design is never replaced: another player's download must get what was registered.
        if (os.path.dirname(file) != self.fs.root or not PLANE_NAME.match(os.path.basename(file))
                or "a" in mode or self._restart_position):
            self.respond("553 Only new files named like 1a2b3c.plane can be stored here.")
            return None
        if os.path.exists(file):
            self.respond("553 That file exists already.")
            return None
        return super().ftp_STOR(file, mode)

    def ftp_STOU(self, line):
        self.respond("502 STOU is not served; use STOR with a new name.")


def main():
    args = argparse.ArgumentParser(description=__doc__)
    args.add_argument("--addr", required=True)
    args.add_argument("--port", type=int, default=21)
    args.add_argument("--root", required=True, help="the design storage, DATA/planes")
    args.add_argument("--log", required=True)
    opts = args.parse_args()

    # DEBUG records every command (passwords masked), which the tests read.
    logging.basicConfig(filename=opts.log, level=logging.DEBUG,
                        format="%(asctime)s %(message)s")
    authorizer = DummyAuthorizer()
    # e: change folder, l: list, r: retrieve, w: store (new files only, see ftp_STOR).
    authorizer.add_user(USER, PASSWORD, os.path.realpath(opts.root), perm="elrw")
    StarterHandler.authorizer = authorizer
    server = FTPServer((opts.addr, opts.port), StarterHandler)
    server.serve_forever()


if __name__ == "__main__":
    main()
