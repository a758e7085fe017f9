#!/usr/bin/python3
# Memory of the desktop client under a flood of "say" lines: the window
# shown, a loopback server sends MEGABYTES of lines of LENGTH bytes in steps
# of 16 MB, each step closed by "ping" and the client's "pong" (handlers run
# in order: every line of the step is in the history by then), and the
# client's resident memory (RSS, from /proc) is read after each step.
# Prints one row per step and the memory per byte received over the whole
# flood and over its second half (once a bounded history is full, the
# second half shows what the bound leaves: about 0).  The client's history
# budget is the default one, or KORDO_HISTORY_BUDGET when set in the
# environment.  Run under tests/gtk/with_desktop.sh (private X, D-Bus and
# accessibility bus); see bench/CMakeLists.txt for the target.
#
# Usage: bench_history_memory.py KORDO [MEGABYTES [LENGTH]]
import os
import random
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "gtk"))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
import desktop  # noqa: E402
from scripted_server import ScriptedServer  # noqa: E402
from bench_proc import rss_kb  # noqa: E402

KORDO = sys.argv[1]
MEGABYTES = int(sys.argv[2]) if len(sys.argv) > 2 else 512
LENGTH = int(sys.argv[3]) if len(sys.argv) > 3 else 60
STEP = 16 << 20


def main():
    server = ScriptedServer(wait=60, accept_wait=30, error=RuntimeError)
    _, exe = desktop.program_folder(KORDO, server.port)
    proc = subprocess.Popen([exe], cwd="/", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        if desktop.log_in(server)[1] is None:
            raise RuntimeError("the client did not log in")
        server.until_pong()
        time.sleep(1)
        start_rss = rss_kb(proc.pid)

        rnd = random.Random(1)
        words = "le la les un une des joueur partie carte table tour gagne perd points salle".split()
        line = bytearray(b"say ")
        while len(line) < LENGTH - 1:
            line += rnd.choice(words).encode() + b" "
        line = bytes(line[:LENGTH - 1]) + b"\n"
        step = line * (STEP // len(line))
        print("budget: %s; lines of %d bytes; RSS after login %.1f MB"
              % (os.environ.get("KORDO_HISTORY_BUDGET", "default"), len(line), start_rss / 1024))
        print("%10s %10s %12s" % ("sent MB", "RSS MB", "RSS/sent"))
        sent = 0
        rows = []
        while sent < MEGABYTES << 20:
            server.conn.sendall(step + b"ping\n")
            server.expect("pong", wait=600)
            sent += len(step)
            rss = rss_kb(proc.pid)
            rows.append((sent, rss))
            print("%10.0f %10.1f %12.2f" % (sent / 2**20, rss / 1024, (rss - start_rss) * 1024 / sent), flush=True)
        half = rows[len(rows) // 2 - 1]
        last = rows[-1]
        print("memory per byte received: %.2f over the flood, %.2f over its second half"
              % ((last[1] - start_rss) * 1024 / last[0], (last[1] - half[1]) * 1024 / (last[0] - half[0])))
    finally:
        server.stop()
        if proc.poll() is None:
            proc.terminate()
            try:
                proc.wait(20)
            except subprocess.TimeoutExpired:
                proc.kill()


if __name__ == "__main__":
    main()
