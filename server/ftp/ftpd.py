#!/usr/bin/python3
"""FTP side of the game server: one fixed account whose login folder is the design storage.

The account is built into every client, so it is public: it may store new design files and fetch
them, never list the folder. Each upload leaves a record (address, completion time, size) that
binds its registration to the uploading address for a short window; a sweeper removes files
whose window passed unregistered."""
import argparse
import configparser
import logging
import logging.handlers
import os
import re
import shutil
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import ActiveDTP, DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer

USER, PASSWORD = "skv_starter", "qpl47"
# The only names the web scripts accept; anything else would be dead weight in the storage.
PLANE_NAME = re.compile(r"[0-9a-f]{4,24}\.plane")

# Limits, each overridable in DATA/server.ini. A design file is a header of at most 1055 bytes and
# the game's body; 1 MiB leaves the body ample room while a full disk takes many uploads.
DEFAULTS = {
    "ftp_max_file_bytes": 1 << 20,
    "ftp_max_cons_per_ip": 8,
    "ftp_max_cons": 256,
    "ftp_min_free_bytes": 512 << 20,
    "register_window": 120,   # seconds; _addplane.php reads the same setting
    "sweep_grace": 60,        # seconds after the window before an unregistered file goes
    "sweep_interval": 30,
}


def read_settings(data):
    """DATA/server.ini as the PHP side reads it: key = value lines, values maybe quoted."""
    ini = configparser.ConfigParser(interpolation=None)
    path = os.path.join(data, "server.ini")
    if os.path.exists(path):
        with open(path) as f:
            ini.read_string("[s]\n" + f.read())
    values = {k: v.strip().strip('"') for k, v in (ini["s"].items() if ini.has_section("s") else [])}
    out = {k: int(values.get(k, v)) for k, v in DEFAULTS.items()}
    out["storage"] = values.get("storage", data)
    return out


class CappedDTPHandler(DTPHandler):
    """Ends an upload as soon as it passes the size cap; the partial file is then removed."""
    max_bytes = DEFAULTS["ftp_max_file_bytes"]

    def handle_read(self):
        super().handle_read()
        if self.receive and not self._closed and self.tot_bytes_received > self.max_bytes:
            self._resp = ("552 A design file is at most %d bytes." % self.max_bytes, logging.info)
            self.transfer_finished = False
            self.close()

    handle_read_event = handle_read

    def close(self):
        # Before the client reads the reply: the record must exist when it registers after "226",
        # and a refused or cut upload must be gone when it hears so.
        if not self._closed and self.receive and self.file_obj is not None:
            if self.transfer_finished:
                self.cmd_channel.record(self.file_obj.name, "%s %d %d" % (
                    self.cmd_channel.remote_ip, int(time.time()), self.tot_bytes_received))
            else:
                self.cmd_channel.forget(self.file_obj.name)
        super().close()


class HandingOverActiveDTP(ActiveDTP):
    """Once connected, the socket belongs to the data channel. pyftpdlib closed the connector again
    when the session ended, unregistering a number the system may have given another session's
    new data connection meanwhile: that session then waited 30 s and failed (seen under load)."""

    def handle_connect(self):
        super().handle_connect()
        if getattr(self.cmd_channel.data_channel, "socket", None) is self.socket:
            self._closed = True


class StarterHandler(FTPHandler):
    banner = "Skyvora design storage ready."
    dtp_handler = CappedDTPHandler
    active_dtp = HandingOverActiveDTP
    uploads = ""
    min_free = DEFAULTS["ftp_min_free_bytes"]

    def record(self, file, text):
        path = os.path.join(self.uploads, os.path.basename(file))
        with open(path + ".tmp", "w") as f:
            f.write(text + "\n")
        os.replace(path + ".tmp", path)

    def ftp_STOR(self, file, mode="w"):
        # A stored design is never replaced: another player's download must get what was registered.
        if (os.path.dirname(file) != self.fs.root or not PLANE_NAME.fullmatch(os.path.basename(file))
                or "a" in mode or self._restart_position):
            self.respond("553 Only new files named like 1a2b3c.plane can be stored here.")
            return None
        if os.path.exists(file):
            self.respond("553 That file exists already.")
            return None
        if shutil.disk_usage(self.fs.root).free < self.min_free:
            self.respond("452 The design storage is full; try again later.")
            return None
        # Marked as receiving from the start, so the sweeper also finds files a crash left behind.
        self.record(file, "%s %d -" % (self.remote_ip, int(time.time())))
        return super().ftp_STOR(file, mode)

    def ftp_STOU(self, line):
        self.respond("502 STOU is not served; use STOR with a new name.")

    def forget(self, file):
        for path in (file, os.path.join(self.uploads, os.path.basename(file))):
            try:
                os.remove(path)
            except OSError:
                pass


def sweep(planes, uploads, older_than):
    """Removes every upload, and its file, whose record is older than older_than seconds."""
    limit = time.time() - older_than
    for name in os.listdir(uploads):
        record = os.path.join(uploads, name)
        try:
            with open(record) as f:
                started = int(f.read().split()[1])
        except (OSError, IndexError, ValueError):
            continue
        if started < limit and PLANE_NAME.fullmatch(name):
            for path in (os.path.join(planes, name), record):
                try:
                    os.remove(path)
                except OSError:
                    pass
            logging.info("swept unregistered upload %s", name)


def main():
    args = argparse.ArgumentParser(description=__doc__)
    args.add_argument("--addr", required=True)
    args.add_argument("--port", type=int, default=21)
    args.add_argument("--data", required=True, help="the data folder with server.ini")
    args.add_argument("--log", required=True)
    opts = args.parse_args()
    settings = read_settings(opts.data)
    os.umask(0o077)
    planes = os.path.realpath(os.path.join(settings["storage"], "planes"))
    uploads = os.path.join(settings["storage"], "uploads")
    os.makedirs(planes, exist_ok=True)
    os.makedirs(uploads, exist_ok=True)

    # DEBUG records every command (passwords masked), which the tests read; rotated at 16 MiB.
    log = logging.handlers.RotatingFileHandler(opts.log, maxBytes=16 << 20, backupCount=3)
    log.setFormatter(logging.Formatter("%(asctime)s %(message)s"))
    logging.getLogger().addHandler(log)
    logging.getLogger().setLevel(logging.DEBUG)
    authorizer = DummyAuthorizer()
    # e: change folder, r: retrieve, w: store (new files only, see ftp_STOR); no l: the client never lists.
    authorizer.add_user(USER, PASSWORD, planes, perm="erw")
    StarterHandler.authorizer = authorizer
    StarterHandler.uploads = uploads
    StarterHandler.min_free = settings["ftp_min_free_bytes"]
    CappedDTPHandler.max_bytes = settings["ftp_max_file_bytes"]
    server = FTPServer((opts.addr, opts.port), StarterHandler)
    server.max_cons = settings["ftp_max_cons"]
    server.max_cons_per_ip = settings["ftp_max_cons_per_ip"]
    older = settings["register_window"] + settings["sweep_grace"]
    server.ioloop.call_every(settings["sweep_interval"], sweep, planes, uploads, older)
    server.serve_forever()


if __name__ == "__main__":
    main()
