#!/usr/bin/python3
"""FTP side of the game server: one fixed account whose login folder is the design storage.

The account is built into every client, so it is public: it may store new design files and fetch
registered ones, never list the folder. A file arrives under a temporary name and takes its own
name only when complete; each upload leaves a record (address, completion time, size) that binds
its registration to the uploading address for a short window; a sweeper removes files whose
window passed unregistered, and temporary files nobody writes any more."""
import argparse
import collections
import errno
import fcntl
import ipaddress
import json
import logging
import logging.handlers
import os
import pwd
import re
import select
import shutil
import socket
import subprocess
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import ActiveDTP, DTPHandler, FTPHandler, _FileReadWriteError
from pyftpdlib.servers import FTPServer

USER, PASSWORD = "skv_starter", "qpl47"
TMP = ".tmp"
FULL = (errno.ENOSPC, errno.EDQUOT)
STORAGE_FULL = "The design storage is full; try again later."
LOOKUPS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lookups.php")


class Catalogue:
    """The store's answers, asked of lookups.php: the settings, the names a design file may have
    and every query of the store have their one owner on the PHP side. A helper that failed or
    went silent is ended, and the next question starts another."""
    answer_seconds = 15  # longer than the store's own wait for a lock

    def __init__(self, data):
        self.env = dict(os.environ, SKV_DATA=data)
        self.helper = None
        self.total_bytes = 0
        self.settings = self.ask("settings")
        # The only names the web scripts accept; anything else would be dead weight in the storage.
        self.plane_name = re.compile(self.settings["plane_file_name"])

    def ask(self, *question):
        if self.helper is None:
            # Its warnings go to the log: its standard output carries the answers only.
            self.helper = subprocess.Popen(["php", "-d", "display_errors=stderr", LOOKUPS], stdin=subprocess.PIPE,
                                           stdout=subprocess.PIPE, env=self.env, text=True)
        try:
            self.helper.stdin.write(json.dumps(question) + "\n")
            self.helper.stdin.flush()
            answered = select.select([self.helper.stdout], [], [], self.answer_seconds)[0]
            reply = json.loads(self.helper.stdout.readline() if answered else "")
        except (OSError, ValueError):
            reply = {"error": "no answer"}
        if "error" in reply:
            self.helper.kill()
            self.helper.wait()
            self.helper = None
            raise RuntimeError("the store: %s" % reply["error"])
        return reply["answer"]

    def registered(self, name):
        return self.ask("registered", name)

    def usage(self, address):
        """(designs, bytes) registered from the address."""
        return tuple(self.ask("usage", address))

    def refresh_total(self):
        self.total_bytes = self.ask("stored_bytes")


def locked(path):
    """True while some transfer still writes the file (it holds an exclusive lock on it)."""
    try:
        fd = os.open(path, os.O_RDONLY)
    except OSError:
        return False
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        return False
    except OSError:
        return True
    finally:
        os.close(fd)


def remove(*paths):
    for path in paths:
        try:
            os.remove(path)
        except OSError:
            pass


class CappedDTPHandler(DTPHandler):
    """Receives into FILE.tmp and gives the file its name only when it is complete. Ends an upload
    as soon as it passes its cap (file size or quota); a full disk is answered with 452."""

    def handle_read(self):
        super().handle_read()
        refusal = self.receive and not self._closed and self.cmd_channel.arriving(self.tot_bytes_received)
        if refusal:
            reason, line = refusal
            StarterHandler.refusals[reason] += 1
            self._resp = ("552 %s" % line, logging.info)
            self.transfer_finished = False
            self.close()

    handle_read_event = handle_read

    def handle_error(self):
        err = sys.exc_info()[1]
        cause = err.args[0] if isinstance(err, _FileReadWriteError) and err.args else err
        if getattr(cause, "errno", None) in FULL and not self._closed:
            StarterHandler.refusals["disk"] += 1
            self._resp = ("452 " + STORAGE_FULL, logging.warning)
            self.transfer_finished = False
            self.close()
            return
        super().handle_error()

    def close(self):
        # Before the client reads the reply: the record must exist when it registers after "226",
        # and a refused or cut upload must be gone when it hears so.
        if not self._closed and self.receive and self.file_obj is not None:
            tmp = self.file_obj.name
            try:
                if self.transfer_finished:
                    self.file_obj.flush()  # a full disk shows here at the latest
                    self.cmd_channel.complete(tmp[:-len(TMP)], self.tot_bytes_received)
                    tmp = None
            except FileExistsError:
                StarterHandler.refusals["exists"] += 1
                self._resp = ("553 That file exists already.", logging.info)
            except OSError as err:
                StarterHandler.refusals["disk"] += 1
                self._resp = ("452 " + STORAGE_FULL if err.errno in FULL
                              else "451 The file could not be stored.", logging.warning)
            if tmp is not None:
                try:
                    self.file_obj.close()
                except OSError:
                    pass  # what did not fit goes with the file
                self.cmd_channel.forget(tmp[:-len(TMP)])
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
    # Designs are small; and a transfer's file may be closed before its channel (see close above).
    use_sendfile = False
    # From the settings, before the server serves (main).
    idle_after_login = uploads = settings = catalogue = min_free = None
    # Uploads not registered yet, per address: {address: {name: size}}, an arriving one with the
    # bytes it has so far. They count against the quotas while their record lasts (registered,
    # removed or swept, it goes).
    recent = {}
    registered_bytes = 0  # of this session's address, when its upload began
    arriving_name = ""
    # Refusals by reason, for the metrics (write_numbers); since this server started.
    refusals = collections.Counter(dict.fromkeys(
        ("rate", "login", "malformed", "exists", "missing", "quota", "disk", "unavailable", "foreign_address",
         "balancer"), 0))
    stored = 0
    balancers = ()  # networks of the web balancers (setting balancers)

    def on_connect(self):
        # FTP is reached on the nodes' own addresses. Through a balancer every session would have the
        # balancer's address: uploads bound to it, and PORT pointing at the balancer's own host.
        if any(ipaddress.ip_address(self.remote_ip) in net for net in self.balancers):
            self.refusals["balancer"] += 1
            self.respond("421 FTP is served on this node's own address, not through a balancer.")
            self.close_when_done()

    def refuse(self, reason, line):
        self.refusals[reason] += 1
        self.respond(line)

    def handle_max_cons(self):
        self.refusals["rate"] += 1
        super().handle_max_cons()

    def handle_max_cons_per_ip(self):
        self.refusals["rate"] += 1
        super().handle_max_cons_per_ip()

    def handle_auth_failed(self, msg, password):
        self.refusals["login"] += 1
        super().handle_auth_failed(msg, password)

    def _make_eport(self, ip, port):
        # Active mode connects back to the player only: never to another host (a balancer's, a
        # victim's), never to a privileged port.
        if ip != self.remote_ip or port < 1024:
            self.refuse("foreign_address", "501 Data connections go only to your own address, above port 1023.")
            return
        super()._make_eport(ip, port)

    def on_login(self, username):
        # A logged-in player gets more time between commands than a connection that only waits.
        self.timeout = self.idle_after_login
        if self._idler is not None and not self._idler.cancelled:
            self._idler.cancel()
        self._idler = self.ioloop.call_later(self.timeout, self.handle_timeout, _errback=self.handle_error)

    def record(self, file, text):
        path = os.path.join(self.uploads, os.path.basename(file))
        try:
            with open(path + TMP, "w") as f:
                f.write(text + "\n")
            os.replace(path + TMP, path)
        except OSError:
            remove(path + TMP)
            raise

    def look_up(self, question):
        """The storage's answer, or None once a 451 told the client that it cannot be reached."""
        try:
            return question()
        except Exception:
            logging.exception("storage look-up failed")
            self.refuse("unavailable", "451 The design storage cannot be reached; try again later.")
            return None

    def quota_refusal(self):
        """Why the address may store nothing more now, or ""."""
        s = self.settings
        recent = self.recent.setdefault(self.remote_ip, {})
        for gone in [n for n in recent if not os.path.exists(os.path.join(self.uploads, n))]:
            del recent[gone]
        designs, self.registered_bytes = self.catalogue.usage(self.remote_ip)
        if designs + len(recent) >= s["quota_designs_per_address"]:
            return "Your address keeps %d designs already, the most it may." % s["quota_designs_per_address"]
        if self.registered_bytes + sum(recent.values()) >= s["quota_bytes_per_address"]:
            return "Your address keeps %d MiB of designs already, the most it may." % (
                s["quota_bytes_per_address"] >> 20)
        if self.stored_total() >= s["quota_total_bytes"]:
            return STORAGE_FULL
        return ""

    def stored_total(self):
        """The bytes of all designs, registered and not yet."""
        return self.catalogue.total_bytes + sum(sum(r.values()) for r in self.recent.values())

    def arriving(self, size):
        """Counts the upload's bytes as they arrive, so that uploads running side by side share
        their address's room; why it must stop now, as (the metrics' reason, the reply), or None."""
        s = self.settings
        recent = self.recent.setdefault(self.remote_ip, {})
        recent[self.arriving_name] = size
        if size > s["ftp_max_file_bytes"]:
            return "malformed", "A design file is at most %d bytes." % s["ftp_max_file_bytes"]
        if self.registered_bytes + sum(recent.values()) > s["quota_bytes_per_address"]:
            return "quota", "That would pass your address's quota of %d MiB." % (s["quota_bytes_per_address"] >> 20)
        if self.stored_total() > s["quota_total_bytes"]:
            return "quota", STORAGE_FULL
        return None

    def ftp_STOR(self, file, mode="w"):
        # A stored design is never replaced: another player's download must get what was registered.
        name = os.path.basename(file)
        if (os.path.dirname(file) != self.fs.root or not self.catalogue.plane_name.fullmatch(name)
                or "a" in mode or self._restart_position):
            self.refuse("malformed", "553 Only new files named like 1a2b3c.plane can be stored here.")
            return None
        taken = self.look_up(lambda: os.path.exists(file) or self.catalogue.registered(name))
        if taken is None:
            return None
        if taken:
            self.refuse("exists", "553 That file exists already.")
            return None
        refusal = self.look_up(self.quota_refusal)
        if refusal is None:
            return None
        if refusal:
            self.refuse("quota", "452 %s" % refusal)
            return None
        if shutil.disk_usage(self.fs.root).free < self.min_free:
            self.refuse("disk", "452 " + STORAGE_FULL)
            return None
        try:
            fd = open(file + TMP, "xb")
        except FileExistsError:
            self.refuse("exists", "553 That file is being stored already.")
            return None
        except OSError:
            self.refuse("disk", "452 " + STORAGE_FULL)
            return None
        # The lock tells the sweeper that this temporary file is still being written.
        fcntl.flock(fd.fileno(), fcntl.LOCK_EX | fcntl.LOCK_NB)
        try:
            # Marked as receiving from the start, so the sweeper also finds what a crash left behind.
            self.record(file, "%s %d -" % (self.remote_ip, int(time.time())))
        except OSError:
            fd.close()
            remove(file + TMP)
            self.refuse("disk", "452 " + STORAGE_FULL)
            return None
        self.recent.setdefault(self.remote_ip, {})[name] = 0
        self.arriving_name = name
        if self.data_channel is not None:
            self.respond("125 Data connection already open. Transfer starting.")
            self.data_channel.file_obj = fd
            self.data_channel.enable_receiving(self._current_type, "STOR")
        else:
            self.respond("150 File status okay. About to open data connection.")
            self._in_dtp_queue = (fd, "STOR")
        return file

    def complete(self, file, size):
        """A whole upload takes its name (never replacing a file) and its completed record."""
        os.link(file + TMP, file)
        try:
            self.record(file, "%s %d %d" % (self.remote_ip, int(time.time()), size))
        except OSError:
            remove(file)
            raise
        remove(file + TMP)
        self.recent.setdefault(self.remote_ip, {})[os.path.basename(file)] = size
        StarterHandler.stored += 1

    def forget(self, file):
        """A refused or cut upload: its temporary file and record go (a file of that name is not its own)."""
        remove(file + TMP, os.path.join(self.uploads, os.path.basename(file)))
        self.recent.get(self.remote_ip, {}).pop(os.path.basename(file), None)

    def ftp_RETR(self, file):
        # An upload nobody registered (yet) is nobody's to hand out: under an upload's name only
        # catalogue designs are served. Other names cannot be stored here, so the operator put them.
        name = os.path.basename(file)
        refused = self.look_up(lambda: name.endswith(TMP)
                               or bool(self.catalogue.plane_name.fullmatch(name)) and not self.catalogue.registered(name))
        if refused is None:
            return None
        if refused:
            self.refuse("missing", "550 No such design.")
            return None
        return super().ftp_RETR(file)

    def ftp_STOU(self, line):
        self.refuse("malformed", "502 STOU is not served; use STOR with a new name.")


class StarterServer(FTPServer):
    """Counts only control connections against max_cons: the data connections and listeners of
    sessions let a few addresses fill every slot."""

    def _accept_new_cons(self):
        return not self.max_cons or len(self.ip_map) <= self.max_cons


def newest_write(*paths):
    times = []
    for path in paths:
        try:
            times.append(os.stat(path).st_mtime)
        except OSError:
            pass
    return max(times, default=0)


def sweep(planes, uploads, older_than, catalogue, recent):
    """Removes every unregistered upload, and its record, whose last write is older than older_than
    seconds, and every temporary file that no transfer writes any more. A registered design's
    file is never touched."""
    limit = time.time() - older_than
    for folder in (planes, uploads):
        for name in os.listdir(folder):
            if name.endswith(TMP) and not locked(os.path.join(folder, name)):
                remove(os.path.join(folder, name))
    for name in os.listdir(uploads):
        file = name[:-len(".claim")] if name.endswith(".claim") else name
        if not catalogue.plane_name.fullmatch(file):
            continue
        record = os.path.join(uploads, name)
        try:
            if catalogue.registered(file):
                remove(record)  # left by a registration that ended before its clean-up
                continue
        except Exception:
            logging.exception("storage look-up failed; nothing swept")
            return
        path = os.path.join(planes, file)
        if newest_write(path, path + TMP, record) < limit and not locked(path + TMP):
            remove(path, record)
            logging.info("swept unregistered upload %s", file)
    for address in list(recent):
        for name in [n for n in recent[address] if not os.path.exists(os.path.join(uploads, n))]:
            del recent[address][name]
        if not recent[address]:
            del recent[address]
    try:
        catalogue.refresh_total()
    except Exception:
        logging.exception("storage look-up failed")


# Control characters (C0, DEL, C1, the Unicode line breaks) and the backslash that escapes them.
UNPRINTABLE = re.compile(r"[\x00-\x1f\x7f-\x9f\\\u2028\u2029]")


class OneLineFormatter(logging.Formatter):
    """Every record on one line with its control characters as \\xHH, as the request log writes
    them: a client's command cannot add a line of its own or reach a terminal as an escape."""

    def format(self, record):
        return UNPRINTABLE.sub(lambda m: ("\\x%02X" if ord(m.group()) < 256 else "\\u%04X") % ord(m.group()),
                               super().format(record))


def write_numbers(path, server):
    """This server's numbers in Prometheus's text format, for the node's metrics endpoint
    (lib/metrics.php), which takes them as stale once the file is older than 15 s."""
    lines = ["# HELP skv_ftp_sessions FTP control connections open", "# TYPE skv_ftp_sessions gauge",
             "skv_ftp_sessions %d" % len(server.ip_map),
             "# HELP skv_ftp_uploads_total Design files stored since the FTP server started",
             "# TYPE skv_ftp_uploads_total counter", "skv_ftp_uploads_total %d" % StarterHandler.stored,
             "# HELP skv_ftp_refusals_total FTP commands and connections refused since it started, by reason",
             "# TYPE skv_ftp_refusals_total counter"]
    lines += ['skv_ftp_refusals_total{reason="%s"} %d' % r for r in sorted(StarterHandler.refusals.items())]
    try:
        with open(path + TMP, "w") as f:
            f.write("\n".join(lines) + "\n")
        os.replace(path + TMP, path)
    except OSError:
        logging.exception("the metrics file could not be written")


def drop_privileges(user):
    """After binding port 21: the rest runs as the unprivileged owner of the data folder."""
    pw = pwd.getpwnam(user)
    os.setgroups([])
    os.setgid(pw.pw_gid)
    os.setuid(pw.pw_uid)


def main():
    args = argparse.ArgumentParser(description=__doc__)
    args.add_argument("--addr", required=True)
    args.add_argument("--port", type=int, default=21)
    args.add_argument("--data", required=True, help="the data folder with server.ini")
    args.add_argument("--log", required=True)
    args.add_argument("--user", help="the account to run as once the port is bound (when started as root)")
    opts = args.parse_args()
    os.umask(0o077)
    port = socket.socket(socket.AF_INET)
    port.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    port.bind((opts.addr, opts.port))
    # The data folder is the owner's to change: read only once running as the owner (and a store
    # the helper opens stays the servers'). The port answers only once everything is ready, so a
    # start that fails here is seen as failed.
    if opts.user:
        drop_privileges(opts.user)
    catalogue = Catalogue(opts.data)
    settings = catalogue.settings
    planes = os.path.realpath(os.path.join(settings["storage"], "planes"))
    uploads = os.path.join(settings["storage"], "uploads")
    os.makedirs(planes, exist_ok=True)
    os.makedirs(uploads, exist_ok=True)

    # DEBUG records every command (passwords masked), which the tests read.
    log = logging.handlers.RotatingFileHandler(opts.log, maxBytes=settings["log_max_bytes"], backupCount=3)
    log.setFormatter(OneLineFormatter("%(asctime)s %(message)s"))
    logging.getLogger().addHandler(log)
    logging.getLogger().setLevel(logging.DEBUG)
    authorizer = DummyAuthorizer()
    # e: change folder, r: retrieve, w: store (new files only, see ftp_STOR); no l: the client never lists.
    authorizer.add_user(USER, PASSWORD, planes, perm="erw")
    StarterHandler.authorizer = authorizer
    StarterHandler.uploads = uploads
    StarterHandler.settings = settings
    StarterHandler.catalogue = catalogue
    StarterHandler.balancers = [ipaddress.ip_network(b, strict=False) for b in settings["balancers"].split(",") if b]
    StarterHandler.min_free = settings["ftp_min_free_bytes"]
    StarterHandler.timeout = settings["ftp_idle_before_login"]
    StarterHandler.idle_after_login = CappedDTPHandler.timeout = settings["ftp_idle_after_login"]
    server = StarterServer(port, StarterHandler)
    server.max_cons = settings["ftp_max_cons"]
    server.max_cons_per_ip = settings["ftp_max_cons_per_ip"]
    older = settings["register_window"] + settings["sweep_grace"]
    # At once: what a killed server left behind goes before anyone can store again.
    sweep(planes, uploads, older, catalogue, StarterHandler.recent)
    server.ioloop.call_every(settings["sweep_interval"], sweep, planes, uploads, older, catalogue,
                             StarterHandler.recent)
    numbers = os.path.join(opts.data, "ftp.metrics")
    write_numbers(numbers, server)
    server.ioloop.call_every(5, write_numbers, numbers, server)
    # A bounded wait: pyftpdlib's own turns "due now" into "wait for the next packet", which held
    # back the idle timers and the sweeper for as long as nobody sent anything.
    server.serve_forever(timeout=0.5)


if __name__ == "__main__":
    main()
