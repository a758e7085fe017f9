#!/usr/bin/python3
# The desktop client told to end by a signal, as a desktop logout, `kill` or
# Ctrl+C in its terminal does: it closes as when the player closes the main
# window ("quit" to the server, the configuration and the session log
# written, status 0), promptly.  A signal it was started with ignored (nohup
# for SIGHUP) stays ignored.  Run under with_desktop.sh, against a scripted
# server on 127.0.0.1.
#
# Usage: signal_test.py KORDO X11_CLOSE
import glob
import os
import signal
import subprocess
import sys
import time

from desktop import Server, app_root, check, close_window, log_in, program_folder, report, wait_for

KORDO, X11_CLOSE = sys.argv[1:3]
MAIN = "Le Kordo \\[alice\\]"


def session(name, sig, ignored):
    """One run: log in, have a line said, then `sig` (which the client was
    started ignoring when `ignored` is it)."""
    server = Server()
    prog, exe = program_folder(KORDO, server.port)
    conf = os.path.join(prog, "config-debug.ini")
    with open(conf, "rb") as f:
        written = f.read()
    for log in glob.glob(os.path.join(prog, "session-*.log")):
        os.remove(log)

    def dispositions():
        # The client starts with the test's dispositions made explicit:
        # default, or ignored for the case that says so.
        for s in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            signal.signal(s, signal.SIG_IGN if s == ignored else signal.SIG_DFL)
    proc = subprocess.Popen([exe], cwd="/", stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, preexec_fn=dispositions)
    try:
        if log_in(server, name + ": ")[1] is None:
            return
        server.send("say Avant le signal")
        check(server.until_pong() is not None, "%s: the client answers ping" % name)

        t0 = time.monotonic()
        proc.send_signal(sig)
        if ignored == sig:
            time.sleep(1.5)
            check(proc.poll() is None, "%s: an ignored signal leaves the client running" % name)
            status = close_window(X11_CLOSE, MAIN, proc)
            check(status == 0, "%s: the window closes as usual afterwards (%r)" % (name, status))
            return
        try:
            status = proc.wait(10)
        except subprocess.TimeoutExpired:
            status = None
        took = time.monotonic() - t0
        check(status == 0, "%s: the client ends with status 0 (%r, after %.2f s)" % (name, status, took))
        check(server.expect("quit", timeout=2) == "quit", "%s: 'quit' reaches the server" % name)
        with open(conf, "rb") as f:
            saved = f.read()
        check(saved != written and b",alice,secret1" in saved,
              "%s: the configuration is written again (%r)" % (name, saved[:80]))
        logs = glob.glob(os.path.join(prog, "session-*.log"))
        log = open(logs[0], "rb").read() if logs else b""
        check(log.endswith(b"\r\nAvant le signal"), "%s: the session log holds the line said (%r)" % (name, log[-40:]))
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait(5)
        server.stop()
        wait_for(lambda: app_root() is None, 5)


def main():
    cases = (
        ("SIGTERM", signal.SIGTERM, None),
        ("SIGINT", signal.SIGINT, None),
        ("SIGHUP", signal.SIGHUP, None),
        ("SIGHUP ignored (nohup)", signal.SIGHUP, signal.SIGHUP),
    )
    for name, sig, ignored in cases:
        session(name, sig, ignored)


if __name__ == "__main__":
    main()
    sys.exit(report())
