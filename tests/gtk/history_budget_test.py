#!/usr/bin/python3
# The desktop client's history view past its budget (a small one, set for
# the test by KORDO_HISTORY_BUDGET): the oldest messages leave the view
# whole, the newest stay in order, a player reading the view keeps the
# caret on the text it was on, and the session log keeps everything.  Run
# under with_desktop.sh, against a scripted server on 127.0.0.1.
#
# Usage: history_budget_test.py KORDO
import glob
import os
import subprocess
import sys

from desktop import (Server, check, focus_window, focused, keys, log_in, named, program_folder, report,  # noqa: E402
                     wait_for)

KORDO = sys.argv[1]
MAIN = "Le Kordo \\[alice\\]"
BUDGET = 20000


def line(i):
    return "Ligne %04d du flot, assez longue pour compter" % i


def main():
    server = Server()
    prog, exe = program_folder(KORDO, server.port)
    proc = subprocess.Popen([exe], cwd="/", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            env=dict(os.environ, KORDO_HISTORY_BUDGET=str(BUDGET)))
    try:
        _, frame = log_in(server)
        if frame is None:
            return
        history = named(frame, "Historique")
        focus_window(MAIN)

        def flood(first, count):
            server.conn.sendall("".join("say %s\n" % line(i) for i in range(first, first + count)).encode())
            return server.until_pong() is not None

        # Within the budget: everything is shown.
        check(flood(0, 150), "150 lines sent")
        text = history.queryText()
        check(text.getText(0, -1) == "".join("\r\n" + line(i) for i in range(150)), "150 lines shown")

        # A player reading the view, the caret on line 120, while the flood
        # goes past the budget.
        keys("alt+h")
        check(wait_for(lambda: focused(history), 3), "Alt+H: the history has the focus")
        start = text.getText(0, -1).index(line(120))
        text.setCaretOffset(start)
        check(wait_for(lambda: history.queryText().caretOffset == start, 3), "the caret on line 120")
        check(flood(150, 100), "100 more lines sent")

        shown = history.queryText().getText(0, -1)
        first = int(shown[len("\r\nLigne "):][:4]) if shown.startswith("\r\nLigne ") else -1
        check(first > 0 and shown == "".join("\r\n" + line(i) for i in range(first, 250)),
              "the oldest lines went whole, the newest stay in order (from line %d)" % first)
        # The budget counts each line's text and 64 bytes of bookkeeping.
        check(len(shown) + 64 * (250 - first) <= BUDGET,
              "the view is within the budget (%d lines, %d characters)" % (250 - first, len(shown)))
        caret = history.queryText().caretOffset
        check(shown[caret:].startswith(line(120)),
              "the reader's caret is still on line 120 (%r)" % shown[caret:caret + 20])

        # Not reading: the view follows the newest line.
        keys("alt+l")
        check(flood(250, 100), "100 more lines sent while the list has the focus")
        t = history.queryText()
        check(t.getText(0, -1).endswith("\r\n" + line(349)), "the newest line is shown")
        check(wait_for(lambda: history.queryText().caretOffset == history.queryText().characterCount, 3),
              "the caret at the end of the view")

        # The log keeps everything.
        proc.terminate()
        try:
            proc.wait(10)
        except subprocess.TimeoutExpired:
            pass
        logs = glob.glob(os.path.join(prog, "session-*.log"))
        log = open(logs[0], "rb").read().decode("cp1252") if logs else ""
        check(log.endswith("".join("\r\n" + line(i) for i in range(350))), "the session log keeps every line")
    finally:
        server.stop()
        if proc.poll() is None:
            proc.kill()
            proc.wait(5)


if __name__ == "__main__":
    main()
    sys.exit(report())
