#!/usr/bin/python3
"""A misbehaving FTP server for fault drills; standard library only.

Modes:
  refuse-login  answers every password with 530
  drop-data     logs in, and on RETR sends the first half of the file from --root over the data
                connection, closes it and answers 426
  silent        accepts connections and never says a word

Every command received is appended to --log. It stops by itself after --lifetime seconds."""
import argparse
import os
import socket
import socketserver
import threading


class Session(socketserver.StreamRequestHandler):
    def reply(self, line):
        self.wfile.write((line + "\r\n").encode("latin-1"))
        self.wfile.flush()

    def log(self, line):
        with open(self.server.opts.log, "a", encoding="latin-1") as f:
            f.write(line + "\n")

    def handle(self):
        opts = self.server.opts
        if opts.mode == "silent":
            self.request.recv(1)          # holds the connection until the client gives up
            return
        self.reply("220 Drill server ready.")
        port = None
        for raw in self.rfile:
            line = raw.decode("latin-1").rstrip("\r\n")
            self.log("PASS ****" if line.upper().startswith("PASS") else line)
            verb, _, arg = line.partition(" ")
            verb = verb.upper()
            if verb == "USER":
                self.reply("331 Password required.")
            elif verb == "PASS":
                if opts.mode == "refuse-login":
                    self.reply("530 Login incorrect.")
                else:
                    self.reply("230 Logged in.")
            elif verb == "PORT":
                parts = [int(p) for p in arg.split(",")]
                port = (".".join(map(str, parts[:4])), parts[4] * 256 + parts[5])
                self.reply("200 PORT command successful.")
            elif verb == "RETR":
                self.retrieve(arg, port)
            elif verb == "PWD":
                self.reply('257 "/" is the current directory.')
            elif verb == "QUIT":
                self.reply("221 Bye.")
                return
            elif verb in ("TYPE", "MODE", "STRU", "NOOP", "CWD", "OPTS"):
                self.reply("200 OK.")
            else:
                self.reply("502 Not served here.")

    def retrieve(self, name, port):
        path = os.path.join(self.server.opts.root, os.path.basename(name))
        if port is None or not os.path.isfile(path):
            self.reply("550 No such file.")
            return
        with open(path, "rb") as f:
            data = f.read()
        self.reply("150 Opening BINARY mode data connection.")
        with socket.create_connection(port, timeout=10) as channel:
            channel.sendall(data[: len(data) // 2])
        self.reply("426 Connection closed; transfer aborted.")


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    args = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    args.add_argument("--addr", required=True)
    args.add_argument("--port", type=int, default=21)
    args.add_argument("--mode", required=True, choices=["refuse-login", "drop-data", "silent"])
    args.add_argument("--root", default=".", help="folder of the files RETR sends")
    args.add_argument("--log", required=True)
    args.add_argument("--lifetime", type=float, default=300)
    opts = args.parse_args()
    server = Server((opts.addr, opts.port), Session)
    server.opts = opts
    threading.Timer(opts.lifetime, server.shutdown).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
