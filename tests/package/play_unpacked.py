#!/usr/bin/env python3
"""The programs of the unpacked Debian package play together.

  play_unpacked.py ROOT

ROOT holds the package's files (ROOT/usr/bin/kordo-headless ...).  With a
temporary HOME and no XDG_DATA_HOME, as a player's first start would be:

- kordo-server runs from ROOT/usr/bin on free ports without port 80, serves
  its download area from ROOT/usr/share/kordo/autodl (the extension library
  through its link to ROOT/usr/lib/kordo/autodl) and keeps its accounts in
  ~/.local/share/kordo-server;
- kordo-headless, started from HOME, makes ~/.local/share/kordo (owner only)
  on its first start and keeps its configuration and session log there, not
  in the current folder; then, with the server's port in that configuration,
  it logs in, hears the welcome and saves the login.
"""
import glob
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import threading
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from scripted_server import Lines, free_port, line_pattern, wait_listening  # noqa: E402

WAIT = 10.0  # seconds for each awaited event


def start_server(exe, env, log):
    port, http_port = free_port(), free_port()
    server = subprocess.Popen([exe, "--port", str(port), "--http-port", str(http_port), "--no-port-80"],
                              stdout=log, stderr=subprocess.STDOUT, env=env)
    if not wait_listening(port, server):
        server.kill()
        server.wait()
        raise AssertionError("the unpacked kordo-server did not start")
    return server, port, http_port


def fetch(http_port, path):
    with urllib.request.urlopen("http://127.0.0.1:%d%s" % (http_port, path), timeout=10) as r:
        return r.read()


class Client:
    def __init__(self, exe, env, cwd):
        self.proc = subprocess.Popen([exe], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, env=env, cwd=cwd)
        self.events = Lines("kordo-headless events")
        threading.Thread(target=self.events.feed, args=(self.proc.stdout, lambda b: b.decode("utf-8")),
                         daemon=True).start()

    def do(self, line):
        self.proc.stdin.write(line.encode("utf-8") + b"\n")
        self.proc.stdin.flush()

    def expect(self, pat):
        return self.events.expect(line_pattern(pat), WAIT)

    def close(self):
        self.proc.stdin.close()
        status = self.proc.wait(timeout=30)
        err = self.proc.stderr.read().decode("utf-8", "replace").strip()
        if status != 0:
            raise AssertionError("kordo-headless exited with %d: %s" % (status, err[-500:]))
        return status


def main():
    root = os.path.abspath(sys.argv[1])
    bindir = os.path.join(root, "usr", "bin")
    area = os.path.join(root, "usr", "share", "kordo", "autodl")
    home = tempfile.mkdtemp(prefix="kordo-package-home-")
    env = {k: v for k, v in os.environ.items() if not k.startswith("XDG_")}
    env.update(HOME=home, LC_ALL="C.UTF-8")
    game = os.path.join(home, ".local", "share", "kordo")
    log = open(os.path.join(home, "server.log"), "w+b")
    server = client = None
    try:
        server, port, http_port = start_server(os.path.join(bindir, "kordo-server"), env, log)
        log.seek(0)
        first = log.readline().decode("utf-8", "replace")
        if area not in first:
            raise AssertionError("the server does not serve %s: %r" % (area, first))
        if not fetch(http_port, "/autodl/kordoext.so").startswith(b"\x7fELF"):
            raise AssertionError("/autodl/kordoext.so is not the extension library")
        if not fetch(http_port, "/autodl/sounds/mustart.ogg").startswith(b"OggS"):
            raise AssertionError("/autodl/sounds/mustart.ogg is not an Ogg file")

        # First start: the game folder is made, the default configuration
        # and the day's log are written there.
        client = Client(os.path.join(bindir, "kordo-headless"), env, home)
        client.expect("ready")
        client.expect("dialog connection 0 *")
        client.do("cancel")
        client.expect("quit 0")
        client.close()
        if not os.path.isdir(game):
            raise AssertionError("no game folder %s after the first start" % game)
        mode = stat.S_IMODE(os.stat(game).st_mode)
        if mode != 0o700:
            raise AssertionError("the game folder has mode %o, not 700" % mode)
        conf = os.path.join(game, "config-debug.ini")
        if not os.path.isfile(conf) or not glob.glob(os.path.join(game, "session-*.log")):
            raise AssertionError("no configuration or session log in %s: %s" % (game, os.listdir(game)))
        strays = [f for f in os.listdir(home) if f.startswith(("config-debug", "session-"))]
        if strays:
            raise AssertionError("files written in the current folder: %s" % strays)

        # Second start, against the practice server: the download area is
        # given beforehand with its times (nothing to fetch from port 80).
        with open(conf, "rb") as f:
            lines = f.read().split(b"\r\n")
        servers = [i for i, l in enumerate(lines) if l.startswith(b"server=")]
        if not servers:
            raise AssertionError("no server in the default configuration: %r" % lines)
        fields = lines[servers[0]].split(b",")
        fields[1:3] = [b"127.0.0.1", str(port).encode()]
        lines[servers[0]] = b",".join(fields)
        with open(conf, "wb") as f:
            f.write(b"\r\n".join(lines))
        shutil.copytree(os.path.join(area, "sounds"), os.path.join(game, "sounds"))
        shutil.copy2(os.path.join(area, "kordoext.so"), game)

        client = Client(os.path.join(bindir, "kordo-headless"), env, home)
        client.expect("dialog connection 0 *")
        client.do("answer 0|paquet1|secret1")
        client.expect("title Le Kordo [paquet1]")
        client.expect("speak 0 Bienvenue sur Le Kordo, paquet1 !*")
        client.expect("list-add Morpion contre le serveur")
        client.close()
        with open(conf, "rb") as f:
            if b",paquet1,secret1" not in f.read():
                raise AssertionError("the login was not saved in %s" % conf)
        logs = b"".join(open(p, "rb").read() for p in glob.glob(os.path.join(game, "session-*.log")))
        if b"Bienvenue sur Le Kordo, paquet1" not in logs:
            raise AssertionError("the welcome is not in the session log")
        accounts = os.path.join(home, ".local", "share", "kordo-server", "kordo-accounts.txt")
        if not os.path.isfile(accounts) or b"paquet1" not in open(accounts, "rb").read():
            raise AssertionError("the server kept no account in %s" % accounts)
    except AssertionError as e:
        print("FAIL", e)
        if client:
            client.events.drain()
            print("client events:", *client.events.seen[-30:], sep="\n  ")
        log.seek(0)
        print("server log:", log.read().decode("utf-8", "replace")[-2000:])
        return 1
    finally:
        if client and client.proc.poll() is None:
            client.proc.kill()
        if server:
            server.terminate()
            server.wait(timeout=10)
        log.close()
        shutil.rmtree(home, ignore_errors=True)
    print("ok: the unpacked kordo-headless made %s, logged in to the unpacked kordo-server and "
          "heard the welcome" % game.replace(home, "~"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
