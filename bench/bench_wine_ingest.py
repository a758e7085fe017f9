#!/usr/bin/env python3
"""Line ingest of kordo.exe under Wine, next to kordo-headless on Linux.

  bench/bench_wine_ingest.py --exe build-windows/kordo.exe \
      [--headless build/src/app/headless/kordo-headless] [--lines 200000]

A scripted server on 127.0.0.1 logs the client in, sends LINES "say" lines
(each one reaches the history view, the session log and speech) and then
"ping"; the time from the first line to the "pong" gives lines per second.
kordo.exe runs in a temporary Wine prefix under Xvfb (the set-up of
tests/win/winenv.py) with no screen reader; kordo-headless runs with the
voice back-end, which is off, so neither spends time in speech.

--command saynh sends lines that are not kept: each still costs one
UI-thread call, but no history view work, which separates the two costs.
"""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "win"))
import wine_test  # noqa: E402
import winenv  # noqa: E402


COMMAND = b"say"


def payload(lines):
    return b"".join(COMMAND + b" Ligne d'ingestion num\xe9ro %d, avec un peu de texte\n" % i for i in range(lines))


def login_and_measure(server, lines):
    server.accept()
    server.send("challenge abc")
    server.expect(r"login .*", wait=60)
    server.send("status 1")
    data = payload(lines)
    time.sleep(1.0)
    t0 = time.monotonic()
    server.conn.sendall(data + b"ping\n")
    server.expect(r"pong", wait=1800)
    return time.monotonic() - t0


def run_wine(exe, lines):
    tmp = tempfile.mkdtemp(prefix="kordo-wine-bench-")
    env = winenv.Env(tmp, winenv.exe_arch(exe))
    try:
        env.start_xvfb()
        env.start_pulse()
        env.boot_wine()
        folder = os.path.join(tmp, "app")
        os.makedirs(folder)
        shutil.copy(exe, folder)
        server = wine_test.ScriptServer()
        winenv.write_config(folder, server.port, "1")
        proc = winenv.start_client(env, folder)
        dlg = env.find_window("^Connexion$", wait=60)
        env.type(dlg, "bench")
        env.keys(dlg, "Tab")
        env.type(dlg, "bench")
        env.keys(dlg, "Return")
        seconds = login_and_measure(server, lines)
        proc.kill()
        server.close()
        return seconds
    finally:
        env.close()
        shutil.rmtree(tmp, ignore_errors=True)


def run_headless(headless, lines):
    folder = tempfile.mkdtemp(prefix="kordo-bench-")
    try:
        server = wine_test.ScriptServer()
        winenv.write_config(folder, server.port, "1")
        proc = subprocess.Popen([headless, "--dir", folder, "--speech", "voice"], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        threading.Thread(target=lambda: [None for _ in proc.stdout], daemon=True).start()
        proc.stdin.write(b"answer 0|bench|bench\n")
        proc.stdin.flush()
        seconds = login_and_measure(server, lines)
        proc.kill()
        server.close()
        return seconds
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--headless", default="")
    ap.add_argument("--lines", type=int, default=200000)
    ap.add_argument("--command", default="say", help="say, or saynh (not kept: no history view work)")
    a = ap.parse_args()
    # A terminated run still tears down Xvfb, PulseAudio and Wine (finally).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    global COMMAND
    COMMAND = a.command.encode()
    t = run_wine(os.path.abspath(a.exe), a.lines)
    print("kordo.exe under Wine: %d lines in %.2f s = %.0f lines/s" % (a.lines, t, a.lines / t), flush=True)
    if a.headless:
        t = run_headless(os.path.abspath(a.headless), a.lines)
        print("kordo-headless (Linux): %d lines in %.2f s = %.0f lines/s" % (a.lines, t, a.lines / t))


if __name__ == "__main__":
    main()
