#!/usr/bin/env python3
"""Two headless players against the real practice server on 127.0.0.1.

  e2e_practice.py KORDO_HEADLESS KORDO_SERVER

Logs both players in through the connection dialog, hears the welcome, moves
in the main menu, opens the grid and plays a move, chats from one player to
the other, and closes both clients; checks that each saved its configuration
and its session log, and that the first player's "--wav" recording is a
well-formed WAV file that is not silent.  When the server could take port 80
(the only port the client downloads from), also checks that the login's
"checkfile" fetched the game's sounds and that a second check fetches
nothing; otherwise the players are given the server's download area
beforehand.
"""
import glob
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import threading

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from scripted_server import Lines, free_port, line_pattern, wait_listening  # noqa: E402

WAIT = 10.0  # seconds for each awaited event


class Player:
    def __init__(self, headless, root, name, port, extra=(), area=None):
        """`area`: the server's download area, whose files the login's check
        lists; copied into the player's folder before start-up with their
        times, so the check finds them fresh and fetches nothing."""
        self.name = name
        self.folder = os.path.join(root, name)
        os.makedirs(self.folder)
        if area:
            shutil.copytree(os.path.join(area, "sounds"), os.path.join(self.folder, "sounds"))
            shutil.copy2(os.path.join(area, "kordoext.so"), self.folder)
        with open(os.path.join(self.folder, "config-debug.ini"), "wb") as f:
            f.write(b"server=Practice,127.0.0.1,%d\r\n" % port)
        self.err = open(os.path.join(self.folder, "stderr.txt"), "wb")
        self.proc = subprocess.Popen([headless, "--dir", self.folder] + list(extra), stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=self.err)
        self.events = Lines("%s events" % name)
        threading.Thread(target=self.events.feed, args=(self.proc.stdout, lambda b: b.decode("utf-8")),
                         daemon=True).start()

    def do(self, line):
        self.proc.stdin.write(line.encode("utf-8") + b"\n")
        self.proc.stdin.flush()

    def expect(self, pattern):
        return self.events.expect(line_pattern(pattern), WAIT)

    def close(self):
        self.proc.stdin.close()
        return self.proc.wait(timeout=30)


def start_server(server_bin, root):
    """Starts kordo-server on free 127.0.0.1 ports with its accounts in
    `root`; returns (process, log file, game port, whether the downloads got
    port 80).  The log is the server's standard output and error."""
    port, http_port = free_port(), free_port()
    log = open(os.path.join(root, "server.log"), "w+b")
    server = subprocess.Popen([server_bin, "--port", str(port), "--http-port", str(http_port),
                               "--accounts", os.path.join(root, "accounts.txt")],
                              stdout=log, stderr=subprocess.STDOUT)
    if not wait_listening(port, server):
        server.kill()
        server.wait()
        log.seek(0)
        raise AssertionError("the server did not start: %r" % log.read()[-500:])
    log.seek(0)
    return server, log, port, b"127.0.0.1:80/" in log.read()


def check_wav(path):
    """The sounds and music were mixed into `path`: a 16-bit stereo 44100 Hz
    WAV whose header sizes, written when the client ended, match the file,
    at least a quarter of a second long and not silent."""
    data = open(path, "rb").read()
    if len(data) < 44 or data[:4] != b"RIFF" or data[8:16] != b"WAVEfmt " or data[36:40] != b"data":
        raise AssertionError("no WAV recording (%d bytes: %r)" % (len(data), data[:44]))
    riff_size, = struct.unpack_from("<I", data, 4)
    fmt_size, pcm, channels, rate, byte_rate, align, bits = struct.unpack_from("<IHHIIHH", data, 16)
    data_size, = struct.unpack_from("<I", data, 40)
    if (riff_size, data_size) != (len(data) - 8, len(data) - 44):
        raise AssertionError("WAV sizes %d and %d in a file of %d bytes" % (riff_size, data_size, len(data)))
    if (fmt_size, pcm, channels, rate, byte_rate, align, bits) != (16, 1, 2, 44100, 44100 * 4, 4, 16):
        raise AssertionError("WAV format %r" % ((fmt_size, pcm, channels, rate, byte_rate, align, bits),))
    if data_size < 44100:
        raise AssertionError("WAV recording of %d bytes only" % data_size)
    samples = memoryview(data[44:44 + data_size]).cast("h")
    peak = max(abs(v) for v in samples[::7])
    if peak < 1000:
        raise AssertionError("the WAV recording is silent (peak %d)" % peak)


def main():
    headless, server_bin = sys.argv[1], sys.argv[2]
    root = tempfile.mkdtemp(prefix="kordo-e2e-")
    try:
        server, log, port, downloads = start_server(server_bin, root)
    except AssertionError as e:
        print("FAIL", e)
        return 1
    players = []
    try:
        wav = os.path.join(root, "alice1.wav")
        # Without downloads the files the server generated at build time
        # (served from autodl/ next to it) are given to the players, so that
        # the sounds play and the recording below is always checked, and no
        # login waits on a download from whatever else holds port 80.
        area = os.path.join(os.path.dirname(os.path.abspath(server_bin)), "autodl")
        if not downloads and not os.path.isdir(os.path.join(area, "sounds")):
            raise AssertionError("no download area at %s (the server build makes it)" % area)
        alice = Player(headless, root, "alice1", port, ["--wav", wav], None if downloads else area)
        players.append(alice)
        alice.expect("dialog connection 0 Practice")
        alice.do("answer 0|alice1|secret1")
        alice.expect("title Le Kordo [alice1]")
        alice.expect("speak 0 Bienvenue sur Le Kordo, alice1 !*")
        alice.expect("list-add Morpion contre le serveur")
        alice.expect("list-select 0")
        alice.do("keydown 40 list")
        alice.expect("list-select 1")
        alice.do("keydown 38 list")
        alice.expect("list-select 0")
        if downloads:
            # The login's check fetched the game files; a second check, asked
            # from the menu, fetches nothing.  The reply to the next choice
            # ("browse" of the about page) comes after the check is done.
            sounds = glob.glob(os.path.join(alice.folder, "sounds", "*.ogg"))
            if len(sounds) < 3:
                raise AssertionError("checkfile fetched %d sounds" % len(sounds))
            before = {p: os.stat(p).st_mtime_ns for p in sounds}
            for _ in range(9):
                alice.do("keydown 40 list")
            alice.expect("list-select 9")
            alice.do("keydown 13 list")
            alice.expect("history *rification des fichiers du jeu.")
            alice.do("keydown 38 list")
            alice.expect("list-select 8")
            alice.do("keydown 13 list")
            seen = len(alice.events.seen)
            alice.expect("browse http://*/about.php")
            fetched = [e for e in alice.events.seen[seen:] if "chargement de" in e]
            after = {p: os.stat(p).st_mtime_ns for p in sounds}
            if fetched or before != after:
                raise AssertionError("a second check fetched files again: %s" % fetched[:3])
            alice.do("keydown 17 list")
            alice.do("keydown 36 list")  # Ctrl+Home: back to the first item
            alice.do("keyup 17 list")
            alice.expect("list-select 0")
        # The grid: a 3x3 menu; a move on the first cell, then the server's.
        alice.do("keydown 13 list")
        alice.expect("list-add Case 1*")
        alice.expect("list-select *")
        alice.do("keydown 36 list")  # Home without Ctrl: history, not the grid
        alice.do("keydown 17 list")
        alice.do("keydown 36 list")  # Ctrl+Home: first cell
        alice.do("keyup 17 list")
        alice.do("keydown 13 list")
        alice.expect("history *Le serveur joue en case *")

        bob = Player(headless, root, "bobby2", port, (), None if downloads else area)
        players.append(bob)
        bob.expect("dialog connection 0 Practice")
        bob.do("answer 0|bobby2|secret2")
        bob.expect("speak 0 Bienvenue sur Le Kordo, bobby2 !*")
        bob.do("type bonjour alice")
        bob.do("keydown 13 chat")
        alice.expect("history *bobby2 : bonjour alice")
        bob.expect("history *bobby2 : bonjour alice")

        for p in players:
            status = p.close()
            if status != 0:
                raise AssertionError("%s exited with %d" % (p.name, status))
            p.events.drain()
            if not any(e == "quit 0" for e in p.events.seen):
                raise AssertionError("%s: no quit event" % p.name)
            cfg = open(os.path.join(p.folder, "config-debug.ini"), "rb").read()
            if b",%s,secret" % p.name.encode() not in cfg:
                raise AssertionError("%s: configuration not saved: %r" % (p.name, cfg))
            if not glob.glob(os.path.join(p.folder, "session-*.log")):
                raise AssertionError("%s: no session log" % p.name)
        check_wav(wav)
    except AssertionError as e:
        print("FAIL", e)
        for p in players:
            p.events.drain()
            print("%s events:" % p.name, *p.events.seen[-30:], sep="\n  ")
        log.seek(0)
        print("server log:", log.read().decode("utf-8", "replace")[-3000:])
        return 1
    finally:
        for p in players:
            if p.proc.poll() is None:
                p.proc.kill()
        server.terminate()
        server.wait(timeout=10)
    print("ok: two players, grid move, chat, sound recorded%s" % (", checkfile" if downloads else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
