#!/usr/bin/env python3
"""kordo-headless told to end by a signal (a `kill`, Ctrl+C, the terminal
gone) while its input stays open: it closes as when the player closes the
main window -- "quit" to the server, the configuration and the session log
written, status 0 -- at once, even with a message box up.  A signal it was
started with ignored (nohup) stays ignored.

  headless_signals.py KORDO_HEADLESS
"""
import glob
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from scripted_server import Lines, ScriptedServer  # noqa: E402

HEADLESS = sys.argv[1]
failures = []


def check(ok, what):
    print(("ok     " if ok else "FAILED ") + what)
    if not ok:
        failures.append(what)


def session(name, sig, ignored, box):
    server = ScriptedServer(wait=15)
    folder = tempfile.mkdtemp(prefix="kordo-signals-")
    conf = os.path.join(folder, "config-debug.ini")
    written = b"server=Test,127.0.0.1,%d\r\n" % server.port
    with open(conf, "wb") as f:
        f.write(written)

    def dispositions():
        for s in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            signal.signal(s, signal.SIG_IGN if s == ignored else signal.SIG_DFL)

    proc = subprocess.Popen([HEADLESS, "--dir", folder], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, preexec_fn=dispositions)
    events = Lines("events")
    threading.Thread(target=events.feed, args=(proc.stdout, lambda b: b.decode("utf-8", "replace")),
                     daemon=True).start()
    try:
        events.expect(lambda l: l.startswith("dialog connection"), 15)
        proc.stdin.write(b"answer 0|alice|secret1\n")
        proc.stdin.flush()
        server.accept()
        server.login()
        server.send("say Avant le signal")
        server.until_pong()
        if box:
            server.send("msgbox 0|Titre|Une question")
            events.expect(lambda l: l.startswith("dialog msgbox"), 15)
        t0 = time.monotonic()
        proc.send_signal(sig)
        if ignored == sig:
            time.sleep(1.0)
            check(proc.poll() is None, "%s: an ignored signal leaves the client running" % name)
            proc.stdin.close()
            check(proc.wait(10) == 0, "%s: the end of input closes it as usual afterwards" % name)
            return
        try:
            status = proc.wait(10)
        except subprocess.TimeoutExpired:
            status = None
        took = time.monotonic() - t0
        check(status == 0 and took < 5, "%s: the client ends with status 0 (%r, after %.2f s)" % (name, status, took))
        check(server.expect("quit", wait=2) == "quit", "%s: 'quit' reaches the server" % name)
        with open(conf, "rb") as f:
            saved = f.read()
        check(saved != written and b",alice,secret1" in saved,
              "%s: the configuration is written again (%r)" % (name, saved[:80]))
        logs = glob.glob(os.path.join(folder, "session-*.log"))
        log = open(logs[0], "rb").read() if logs else b""
        check(b"\r\nAvant le signal" in log, "%s: the session log holds the line said (%r)" % (name, log[-40:]))
    except AssertionError as e:
        check(False, "%s: %s" % (name, e))
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait(5)
        server.stop()
        shutil.rmtree(folder, ignore_errors=True)


def main():
    cases = (
        ("SIGTERM", signal.SIGTERM, None, False),
        ("SIGTERM with a message box up", signal.SIGTERM, None, True),
        ("SIGINT", signal.SIGINT, None, False),
        ("SIGHUP", signal.SIGHUP, None, False),
        ("SIGHUP ignored (nohup)", signal.SIGHUP, signal.SIGHUP, False),
    )
    for case in cases:
        session(*case)
    print("%d failure(s)" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
