#!/usr/bin/env python3
"""Start-up and idle memory of kordo-headless.

  bench/bench_headless.py build/src/app/headless/kordo-headless [runs]

Reports the time from process start to its "dialog connection" event (median
and best over the runs), and the resident memory while idle after a login
against a scripted server on 127.0.0.1.
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
from scripted_server import ScriptedServer  # noqa: E402


def run_once(headless, measure_memory):
    folder = tempfile.mkdtemp(prefix="kordo-bench-")
    server = ScriptedServer(error=RuntimeError)
    port = server.port
    with open(os.path.join(folder, "config-debug.ini"), "wb") as f:
        f.write(b"server=Bench,127.0.0.1,%d\r\n" % port)
    t0 = time.monotonic()
    proc = subprocess.Popen([headless, "--dir", folder], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    startup = None
    for line in proc.stdout:
        if line.startswith(b"dialog connection"):
            startup = time.monotonic() - t0
            break
    rss = None
    if measure_memory:
        proc.stdin.write(b"answer 0|bench|bench\n")
        proc.stdin.flush()
        server.accept()
        server.login()
        server.send("say Bienvenue")
        time.sleep(1.0)
        with open("/proc/%d/status" % proc.pid) as f:
            for l in f:
                if l.startswith("VmRSS:"):
                    rss = int(l.split()[1])
    server.stop()
    proc.stdin.close()
    proc.wait(timeout=30)
    return startup, rss


def main():
    headless = sys.argv[1]
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    times = [run_once(headless, False)[0] for _ in range(runs)]
    _, rss = run_once(headless, True)
    print("start-up to the connection dialog: median %.1f ms, best %.1f ms (%d runs)"
          % (statistics.median(times) * 1000, min(times) * 1000, runs))
    print("resident memory idle after login: %.1f MB" % (rss / 1024.0))


if __name__ == "__main__":
    main()
