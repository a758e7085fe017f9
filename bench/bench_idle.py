#!/usr/bin/env python3
"""How often an idle client wakes: after login against a scripted server on
127.0.0.1, with nothing sounding or arriving, the voluntary context
switches of each of its threads (each one a sleep that ended) and the CPU
it takes, over SECONDS.

  bench/bench_idle.py headless build/src/app/headless/kordo-headless [SECONDS]
  tests/gtk/with_desktop.sh bench/bench_idle.py gtk build/src/app/gtk/kordo [SECONDS]
  bench/bench_idle.py tty build/src/app/tty/kordo-tty [SECONDS]      (in tmux)

Prints one row per thread (its name, wake-ups per second), then the whole
process's wake-ups per second and its share of one core.  The client has
no sound files here, and the server sends nothing after the login's "ping",
so every wake-up counted is the client's own.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
from scripted_server import ScriptedServer  # noqa: E402
from bench_proc import cpu_seconds, stop  # noqa: E402


def threads(pid):
    """{tid: (name, voluntary context switches)} of the process now."""
    out = {}
    base = "/proc/%d/task" % pid
    for tid in os.listdir(base):
        try:
            with open(os.path.join(base, tid, "comm")) as f:
                name = f.read().strip()
            with open(os.path.join(base, tid, "status")) as f:
                for line in f:
                    if line.startswith("voluntary_ctxt_switches:"):
                        out[int(tid)] = (name, int(line.split()[1]))
        except OSError:
            pass  # the thread ended meanwhile
    return out


def measure(pid, seconds):
    before, cpu0, t0 = threads(pid), cpu_seconds(pid), time.monotonic()
    time.sleep(seconds)
    after, cpu1, t1 = threads(pid), cpu_seconds(pid), time.monotonic()
    span = t1 - t0
    rows, total = [], 0
    for tid, (name, n) in sorted(after.items()):
        d = n - before.get(tid, (name, 0))[1]
        total += d
        rows.append("  %-16s tid %-7d %7.1f wake-ups/s" % (name, tid, d / span))
    print("per thread, over %.1f s:" % span)
    print("\n".join(rows))
    print("whole process: %.1f wake-ups/s, CPU %.2f %% of one core (%d threads)"
          % (total / span, (cpu1 - cpu0) / span * 100.0, len(after)))


def config(folder, port):
    with open(os.path.join(folder, "config-debug.ini"), "wb") as f:
        f.write(("language=fr\r\nserver.default=0\r\nmusic.on=0\r\n"
                 "server=Local,127.0.0.1,%d,(null),(null),(null),(null),(null),bench,benchpw\r\n"
                 % port).encode())


def login(server):
    server.accept()
    server.login()
    server.until_pong()


def run_headless(exe, seconds, settle):
    folder = tempfile.mkdtemp(prefix="kordo-idle-")
    server = ScriptedServer(error=RuntimeError)
    config(folder, server.port)
    proc = subprocess.Popen([exe, "--dir", folder], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    try:
        proc.stdin.write(b"answer 0|bench|benchpw\n")
        proc.stdin.flush()
        login(server)
        time.sleep(settle)
        measure(proc.pid, seconds)
    finally:
        server.stop()
        proc.stdin.close()
        proc.wait(timeout=30)
        shutil.rmtree(folder, ignore_errors=True)


def run_gtk(exe, seconds, settle):
    tmp = os.environ["KORDO_TEST_TMP"]
    folder = os.path.join(tmp, "idle")
    os.makedirs(folder)
    copy = os.path.join(folder, "kordo")
    shutil.copy(exe, copy)
    server = ScriptedServer(wait=30, accept_wait=30, error=RuntimeError)
    config(folder, server.port)
    proc = subprocess.Popen([copy], cwd="/", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        # The connection dialog opens with the remembered credentials: Enter.
        wid = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", "^Connexion$"],
                             capture_output=True, text=True, timeout=20).stdout.split()[0]
        subprocess.run(["xdotool", "windowfocus", "--sync", wid, "key", "Return"], timeout=20)
        login(server)
        time.sleep(settle)
        measure(proc.pid, seconds)
    finally:
        server.stop()
        stop(proc)


def run_tty(exe, seconds, settle):
    sys.path.insert(0, os.path.join(HERE, "..", "tests", "tty"))
    from tmux_term import Tmux
    folder = tempfile.mkdtemp(prefix="kordo-idle-")
    server = ScriptedServer(wait=30, accept_wait=30, error=RuntimeError)
    config(folder, server.port)
    pidfile = os.path.join(folder, "pid")
    env = {"SDL_AUDIODRIVER": "dummy", "TERM": "xterm-256color", "LANG": "C.UTF-8", "HOME": folder,
           "XDG_RUNTIME_DIR": folder}
    term = Tmux("idle", "sh -c 'echo $$ > %s; exec %s --dir %s'" % (pidfile, exe, folder), 80, 24, env)
    try:
        term.wait_for(lambda r: r and r[-1].startswith("Nom d'utilisateur:"), "the connection dialog")
        # The remembered login and password: Enter keeps each field.
        term.keys("Enter", "Enter")
        login(server)
        time.sleep(settle)
        with open(pidfile) as f:
            measure(int(f.read()), seconds)
    finally:
        server.stop()
        term.kill()
        shutil.rmtree(folder, ignore_errors=True)


def main():
    kind, exe = sys.argv[1], os.path.abspath(sys.argv[2])
    seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 10.0
    settle = 2.0  # start-up sounds and the login's own traffic are over
    {"headless": run_headless, "gtk": run_gtk, "tty": run_tty}[kind](exe, seconds, settle)


if __name__ == "__main__":
    main()
