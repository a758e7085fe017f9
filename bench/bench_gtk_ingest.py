#!/usr/bin/python3
# History ingest of the desktop client: the window shown and inactive, a
# loopback server sends 200,000 "say" lines of 40-80 bytes, then "ping"; the
# client's "pong" marks the end (handlers run in order).  Prints lines per
# second, the resident memory after the run, and the idle resident memory
# after login.  Run under tests/gtk/with_desktop.sh (private X, D-Bus and
# accessibility bus); see bench/CMakeLists.txt for the target.
#
# Usage: bench_gtk_ingest.py KORDO [LINES]
import os
import random
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "gtk"))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
import desktop  # noqa: E402
from scripted_server import ScriptedServer  # noqa: E402
from bench_proc import cpu_seconds, main_window_active, rss_kb  # noqa: E402

KORDO = sys.argv[1]
LINES = int(sys.argv[2]) if len(sys.argv) > 2 else 200000
TMP = os.environ["KORDO_TEST_TMP"]


def main():
    server = ScriptedServer(wait=60, accept_wait=30, error=RuntimeError)
    port = server.port
    prog = os.path.join(TMP, "prog")
    os.makedirs(prog)
    exe = os.path.join(prog, "kordo")
    shutil.copy(KORDO, exe)
    with open(os.path.join(prog, "config-debug.ini"), "wb") as f:
        f.write(("language=fr\r\nserver.default=0\r\nsound.volume=1\r\nmusic.volume=0.5\r\nmusic.on=0\r\n"
                 "server=Local,127.0.0.1,%d,(null),(null),(null),(null),(null),bench,benchpw\r\n" % port).encode())
    proc = subprocess.Popen([exe], cwd="/", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        # The connection dialog opens with the remembered credentials: Enter.
        wid = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", "^Connexion$"],
                             capture_output=True, text=True, timeout=20).stdout.split()[0]
        subprocess.run(["xdotool", "windowfocus", "--sync", wid, "key", "Return"], timeout=20)
        server.accept()
        server.login()
        # The main window is active after login: another program's window
        # takes the focus, so that it is shown and inactive, and the
        # accessibility bus confirms it.
        server.until_pong()
        other = desktop.other_window("Autre programme")
        desktop.focus_window("Autre programme")
        time.sleep(2)
        if main_window_active():
            raise RuntimeError("the main window is active; the figure would not be the inactive one")
        # Idle memory once the session settles.
        idle = rss_kb(proc.pid)

        rnd = random.Random(1)
        words = "le la les un une des joueur partie carte table tour gagne perd points salle".split()
        payload = bytearray()
        for i in range(LINES):
            n = rnd.randint(40, 80)
            text = ("say %d " % i)
            while len(text) < n:
                text += rnd.choice(words) + " "
            payload += text[:n].encode() + b"\n"
        payload += b"ping\n"
        start = time.monotonic()
        cpu0 = cpu_seconds(proc.pid)
        server.conn.sendall(payload)
        server.expect("pong", wait=600)
        elapsed = time.monotonic() - start
        after = rss_kb(proc.pid)
        cpu = cpu_seconds(proc.pid) - cpu0
        print("ingest: %d lines in %.2f s = %.0f lines/s" % (LINES, elapsed, LINES / elapsed))
        print("client CPU time during ingest: %.2f s" % cpu)
        print("resident memory after ingest: %.1f MB" % (after / 1024))
        print("idle resident memory after login: %.1f MB" % (idle / 1024))
    finally:
        server.stop()
        if proc.poll() is None:
            proc.terminate()
            try:
                proc.wait(10)
            except subprocess.TimeoutExpired:
                proc.kill()


if __name__ == "__main__":
    main()
