#!/usr/bin/env python3
"""Memory of kordo-headless under a flood from a server on 127.0.0.1.

  bench/bench_flood_rss.py build/src/app/headless/kordo-headless [--attack empty|ping|uitem|all]
                           [--megabytes N] [--uitems N]

Each attack runs a fresh client, logs it in and reads its resident memory
(VmRSS) once the session is up; then:
  empty  opens a message box (the dispatch thread waits for the player) and
         sends N MB of empty lines (default 64);
  ping   the same with N MB of "ping" lines;
  uitem  opens a one-item menu and sends "uitem 2147483647|x" lines
         (default 1,000,000).
A flood ends when it is all sent or when the client has taken nothing for
3 s (it stopped reading: its queue is full).  Reported per attack: the RSS
before, the peak (VmHWM) and the RSS after the flood, in MB, and how much of
the flood the client took.  Then the box is answered and the input closed;
the client must exit on its own.
"""
import argparse
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench_proc import rss_kb, rss_peak_kb  # noqa: E402


class Client:
    """kordo-headless in a fresh folder, its events read on a thread."""

    def __init__(self, headless, port):
        self.folder = tempfile.mkdtemp(prefix="kordo-flood-")
        with open(os.path.join(self.folder, "config-debug.ini"), "wb") as f:
            f.write(b"server=Test,127.0.0.1,%d\r\n" % port)
        self.proc = subprocess.Popen([headless, "--dir", self.folder], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.events = []
        self.cv = threading.Condition()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.proc.stdout:
            with self.cv:
                self.events.append(raw.decode("utf-8", "replace").rstrip("\n"))
                self.cv.notify_all()

    def wait_event(self, prefix, timeout=20):
        deadline = time.monotonic() + timeout
        with self.cv:
            while True:
                for e in self.events:
                    if e.startswith(prefix):
                        self.events.remove(e)
                        return e
                left = deadline - time.monotonic()
                if left <= 0:
                    raise RuntimeError("no event %r" % prefix)
                self.cv.wait(left)

    def say(self, line):
        self.proc.stdin.write(line.encode("utf-8") + b"\n")
        self.proc.stdin.flush()

    def close(self):
        try:
            self.proc.stdin.close()
        except OSError:
            pass
        try:
            return self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            return None


def read_line(conn, buf):
    while b"\n" not in buf[0]:
        data = conn.recv(65536)
        if not data:
            raise RuntimeError("the client closed")
        buf[0] += data
    line, buf[0] = buf[0].split(b"\n", 1)
    return line


def flood(conn, line, total_bytes):
    """Sends `line` repeated up to total_bytes; returns the bytes the client
    took, stopping once it has taken nothing for 3 s."""
    block = line * max(1, (1 << 20) // len(line))
    sent = 0
    conn.setblocking(False)
    last = time.monotonic()
    view = memoryview(block)
    pos = 0
    while sent < total_bytes:
        try:
            n = conn.send(view[pos:pos + min(len(block) - pos, total_bytes - sent)])
        except BlockingIOError:
            if time.monotonic() - last > 3:
                break
            time.sleep(0.01)
            continue
        sent += n
        pos = (pos + n) % len(block)
        last = time.monotonic()
    conn.setblocking(True)
    return sent


def run(headless, attack, megabytes, uitems):
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    listener.settimeout(20)
    client = Client(headless, listener.getsockname()[1])
    try:
        client.wait_event("dialog connection")
        client.say("answer 0|joueur|secret")
        conn, _ = listener.accept()
        buf = [b""]
        conn.sendall(b"challenge abc\n")
        read_line(conn, buf)
        conn.sendall(b"status 1\n")
        time.sleep(1.0)
        pid = client.proc.pid
        before = rss_kb(pid)
        if attack == "uitem":
            conn.sendall(b"menu 1|1|1|0|0|r|a|v|s|i\n")
            client.wait_event("list-add a")
            line = b"uitem 2147483647|x\n"
            total = len(line) * uitems
        else:
            conn.sendall(b"msgbox 1|Titre|Texte|0\n")
            client.wait_event("dialog msgbox")
            line = b"\n" if attack == "empty" else b"ping\n"
            total = megabytes << 20
        start = time.monotonic()
        took = flood(conn, line, total)
        if attack == "uitem":
            # The client is done with the flood once a ping sent after it is
            # answered.
            conn.sendall(b"ping\n")
            conn.settimeout(300)
            while read_line(conn, buf) != b"pong":
                pass
        seconds = time.monotonic() - start
        peak, after = rss_peak_kb(pid), rss_kb(pid)
        if attack != "uitem":
            client.say("answer 1")
        conn.close()
        status = client.close()
        print("%-5s  took %7.1f MB of %7.1f MB in %5.1f s   RSS before %6.1f MB, peak %6.1f MB, "
              "after %6.1f MB (peak +%.1f MB)   exit %s"
              % (attack, took / 1048576, total / 1048576, seconds, before / 1024, peak / 1024,
                 after / 1024, (peak - before) / 1024, status))
    finally:
        if client.proc.poll() is None:
            client.proc.kill()
        listener.close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("headless")
    ap.add_argument("--attack", default="all", choices=["empty", "ping", "uitem", "all"])
    ap.add_argument("--megabytes", type=int, default=64)
    ap.add_argument("--uitems", type=int, default=1000000)
    a = ap.parse_args()
    for attack in (["empty", "ping", "uitem"] if a.attack == "all" else [a.attack]):
        run(a.headless, attack, a.megabytes, a.uitems)


if __name__ == "__main__":
    main()
