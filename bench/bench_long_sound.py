#!/usr/bin/env python3
"""What a flood of plays of one long sound costs kordo-headless, and what the
player feels meanwhile.

  bench/bench_long_sound.py build/src/app/headless/kordo-headless [options]

  --seconds S   length of the generated sound (default 302)
  --rate HZ     its sample rate (default 48000: 302 s is then above the
                longest sound effect the client decodes; 44100 gives a long
                sound within the limits)
  --plays N     "play long" lines sent in one burst (default 30)
  --sound FILE  use this Ogg instead of generating one (sox is needed
                otherwise; the file is made in a temporary folder)

A scripted server on 127.0.0.1 logs the client in, then sends N "play long"
lines and a "say" in one write; right after, the player presses F1.
Printed: the client's CPU time and the wall time until its work is done
(its CPU use falls back to idle), its peak resident memory, the time from
the burst to the say's speech event, and from the key to "key 112" on the
server.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from scripted_server import Lines, ScriptedServer  # noqa: E402
from bench_proc import cpu_seconds, rss_kb  # noqa: E402


def wait_idle(pid, window=0.25, busy=0.05, limit=300.0):
    """Waits until the process uses less than `busy` of a core over `window`
    seconds (the null sink keeps mixing in real time, a few percent); returns
    the time at the start of that quiet window."""
    deadline = time.monotonic() + limit
    last_t, last_c = time.monotonic(), cpu_seconds(pid)
    while time.monotonic() < deadline:
        time.sleep(window)
        t, c = time.monotonic(), cpu_seconds(pid)
        if (c - last_c) / (t - last_t) < busy:
            return last_t
        last_t, last_c = t, c
    raise RuntimeError("the client stayed busy for %.0f s" % limit)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("headless")
    ap.add_argument("--seconds", type=float, default=302)
    ap.add_argument("--rate", type=int, default=48000)
    ap.add_argument("--plays", type=int, default=30)
    ap.add_argument("--sound")
    a = ap.parse_args()

    folder = tempfile.mkdtemp(prefix="kordo-bench-long-")
    try:
        os.makedirs(os.path.join(folder, "sounds"))
        target = os.path.join(folder, "sounds", "long.ogg")
        if a.sound:
            shutil.copyfile(a.sound, target)
        else:
            subprocess.run(["sox", "-q", "-n", "-r", str(a.rate), "-c", "2", target, "synth", str(a.seconds),
                            "sine", "440", "sine", "660", "gain", "-6"], check=True)
        server = ScriptedServer(wait=300.0, error=RuntimeError)
        with open(os.path.join(folder, "config-debug.ini"), "wb") as f:
            f.write(b"sound.volume=1\r\nserver=Bench,127.0.0.1,%d\r\n" % server.port)
        proc = subprocess.Popen([a.headless, "--dir", folder], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        events = Lines("events", RuntimeError)
        threading.Thread(target=events.feed, args=(proc.stdout, lambda b: b.decode("utf-8")),
                         daemon=True).start()
        events.expect(lambda l: l.startswith("dialog connection"), 10)
        proc.stdin.write(b"answer 0|bench|bench\n")
        proc.stdin.flush()
        server.accept()
        server.login()
        server.send("say ready")
        events.expect("speak 0 ready", 10)
        wait_idle(proc.pid)

        cpu0 = cpu_seconds(proc.pid)
        spoken = []
        waiter = threading.Thread(target=lambda: (events.expect("speak 0 marker", 300),
                                                  spoken.append(time.monotonic())))
        t0 = time.monotonic()
        server.conn.sendall(b"play long\n" * a.plays + b"say marker\n")
        waiter.start()
        time.sleep(0.05)  # the burst is being handled when the key comes
        tk = time.monotonic()
        proc.stdin.write(b"keydown 112 history\n")
        proc.stdin.flush()
        server.expect("key 112")
        key_ms = (time.monotonic() - tk) * 1000
        waiter.join()
        if not spoken:
            raise RuntimeError("the say was never spoken")
        say_ms = (spoken[0] - t0) * 1000
        done = wait_idle(proc.pid)
        cpu = cpu_seconds(proc.pid) - cpu0
        wall = done - t0
        events.drain()
        started = sum(1 for l in events.seen if l.startswith("sound long"))
        peak = rss_kb(proc.pid, "VmHWM")
        proc.stdin.close()
        proc.wait(timeout=30)
        server.stop()
        print("%d x play long (%.0f s, %d Hz stereo): CPU %.2f s, wall %.2f s until idle, peak RSS %.0f MB, "
              "%d playbacks started" % (a.plays, a.seconds, a.rate, cpu, wall, peak / 1024.0, started))
        print("say after the burst: spoken after %.0f ms; F1 during the burst: at the server after %.0f ms"
              % (say_ms, key_ms))
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
