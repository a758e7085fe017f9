#!/usr/bin/env python3
"""A game's stream right after login, through the whole client.

  bench/bench_stream.py headless KORDO_HEADLESS [ROUNDS] [LINES]
  tests/gtk/with_desktop.sh bench/bench_stream.py desktop KORDO [ROUNDS] [LINES]

A scripted server on 127.0.0.1 logs the client in, then sends LINES lines
(default 200,000) of 40-80 bytes: 60 % "say <Name>: <words>", 10 % "menu"
lines whose fields are words separated by "|", 30 % lines of plain words that
the client ignores, then "ping".  The time runs from the login (the "status"
line) to the client's "pong", which it sends once every line before it was
handled.  Prints, for each client state, the median over ROUNDS (default 3)
fresh clients of the lines per second and of the client's CPU time per line
(user + system of all its threads, from /proc).

headless: kordo-headless with its events written to a file (a reader that
keeps up).  desktop: the GTK client on the private display of
with_desktop.sh, once with its main window active and once inactive (another
window has the focus); set KORDO_DESKTOP_LIMIT high enough for the rounds,
and BENCH_STATES=active or inactive for one of them only.
"""
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
sys.path.insert(0, HERE)
from bench_proc import cpu_seconds, main_window_active  # noqa: E402
from scripted_server import ScriptedServer  # noqa: E402

NAMES = "Alice Bruno Chloe Denis Emma Fanny Gilles Hugo Ines Jules".split()
WORDS = ("le la les un une des joueur partie carte table tour gagne perd points salle "
         "atout pique coeur trefle carreau donne main pli valet dame roi").split()


def make_stream(lines, seed=1):
    rnd = random.Random(seed)
    out = bytearray()
    kinds = {"say": 0, "menu": 0, "plain": 0}
    for i in range(lines):
        n = rnd.randint(40, 80)
        pick = rnd.random()
        if pick < 0.6:
            kinds["say"] += 1
            text = "say %s: " % rnd.choice(NAMES)
            sep = " "
        elif pick < 0.7:
            # A menu of two or three items: id|width|count|selection|flags|0,
            # then label|value|sound|image per item ("-": none).
            kinds["menu"] += 1
            items = rnd.randint(2, 3)
            text = "menu %d|1|%d|0|0|0" % (rnd.randint(1, 9), items)
            for _ in range(items):
                text += "|%s|%s|-|-" % (rnd.choice(WORDS), rnd.choice(WORDS))
            out += text.encode() + b"\n"
            continue
        else:
            kinds["plain"] += 1
            text = rnd.choice(WORDS) + " "
            sep = " "
        while len(text) < n:
            text += rnd.choice(WORDS) + sep
        out += text[:n].rstrip().encode() + b"\n"
    return bytes(out), kinds


def timed_stream(server, pid, stream):
    """Sends "status 1", the stream and "ping" (from a thread, so that the
    client's own lines are read meanwhile); returns (seconds, CPU seconds)
    from the status to the pong."""
    cpu0 = cpu_seconds(pid)
    t0 = time.monotonic()
    sender = threading.Thread(target=server.conn.sendall, args=(b"status 1\n" + stream + b"ping\n",))
    sender.start()
    server.expect("pong", 900)
    elapsed = time.monotonic() - t0
    cpu = cpu_seconds(pid) - cpu0
    sender.join()
    return elapsed, cpu


def stop(proc):
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def headless_round(exe, stream):
    folder = tempfile.mkdtemp(prefix="kordo-stream-")
    server = ScriptedServer(wait=60, accept_wait=60, error=RuntimeError)
    with open(os.path.join(folder, "config-debug.ini"), "wb") as f:
        f.write(b"server=Bench,127.0.0.1,%d\r\n" % server.port)
    events_path = os.path.join(folder, "events")
    events = open(events_path, "wb")
    proc = subprocess.Popen([exe, "--dir", folder], stdin=subprocess.PIPE, stdout=events,
                            stderr=subprocess.DEVNULL)
    try:
        end = time.monotonic() + 30
        while True:
            with open(events_path, "rb") as f:
                if b"dialog connection" in f.read():
                    break
            if time.monotonic() > end:
                raise RuntimeError("no connection dialog")
            time.sleep(0.01)
        proc.stdin.write(b"answer 0|bench|bench\n")
        proc.stdin.flush()
        server.accept()
        server.send("challenge abc")
        server.expect(lambda line: line.startswith("login "), 30)
        return timed_stream(server, proc.pid, stream)
    finally:
        server.stop()
        proc.stdin.close()  # the player closes the window
        try:
            proc.wait(10)
        except subprocess.TimeoutExpired:
            stop(proc)
        events.close()
        shutil.rmtree(folder, ignore_errors=True)


def desktop_round(exe, stream, active):
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "gtk"))
    import desktop  # noqa: E402
    prog = tempfile.mkdtemp(prefix="prog", dir=os.environ["KORDO_TEST_TMP"])
    copy = os.path.join(prog, "kordo")
    shutil.copy(exe, copy)
    server = ScriptedServer(wait=60, accept_wait=60, error=RuntimeError)
    with open(os.path.join(prog, "config-debug.ini"), "wb") as f:
        f.write(("language=fr\r\nserver.default=0\r\nsound.volume=1\r\nmusic.volume=0.5\r\nmusic.on=0\r\n"
                 "server=Local,127.0.0.1,%d,(null),(null),(null),(null),(null),bench,benchpw\r\n"
                 % server.port).encode())
    proc = subprocess.Popen([copy], cwd="/", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    other = None
    try:
        # The connection dialog opens with the remembered credentials: Enter.
        wid = desktop.window_id("Connexion")
        desktop.xdo("windowfocus", "--sync", wid, "key", "Return")
        server.accept()
        server.send("challenge abc")
        server.expect(lambda line: line.startswith("login "), 30)
        # The status of the stream completes the login; the main window
        # shows and takes the focus then.  For the inactive round another
        # window takes it first and keeps it: the main window is shown
        # inactive, as when the player is in another program.
        if not active:
            other = desktop.other_window("Autre programme")
            desktop.focus_window("Autre programme")
        elapsed, cpu = timed_stream(server, proc.pid, stream)
        desktop.pump(0.5)
        if main_window_active() != active:
            raise RuntimeError("the main window's active state was not the one measured")
        return elapsed, cpu
    finally:
        server.stop()
        stop(proc)
        if other is not None:
            other.destroy()
            desktop.pump(0.2)
        shutil.rmtree(prog, ignore_errors=True)


def report(label, results, lines):
    rates = [lines / e for e, _ in results]
    cpus = [c * 1e6 / lines for _, c in results]
    print("%-22s %10.0f lines/s  %6.2f CPU us/line   (rounds: %s)" % (
        label, statistics.median(rates), statistics.median(cpus),
        ", ".join("%.0f" % r for r in rates)), flush=True)


def main():
    mode, exe = sys.argv[1], sys.argv[2]
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    lines = int(sys.argv[4]) if len(sys.argv) > 4 else 200000
    stream, kinds = make_stream(lines)
    print("stream: %d lines, %d bytes (%d say, %d menu, %d plain), then ping" % (
        lines, len(stream), kinds["say"], kinds["menu"], kinds["plain"]), flush=True)
    if mode == "headless":
        report("kordo-headless", [headless_round(exe, stream) for _ in range(rounds)], lines)
    elif mode == "desktop":
        states = os.environ.get("BENCH_STATES", "active,inactive").split(",")
        for state in states:
            active = state == "active"
            report("desktop, " + state, [desktop_round(exe, stream, active) for _ in range(rounds)], lines)
    else:
        sys.exit("mode: headless or desktop")


if __name__ == "__main__":
    main()
