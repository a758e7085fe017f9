"""A terminal for the kordo-tty tests: a private tmux server (its own
socket, so nothing of the user's tmux is touched) running one command in a
pane of a given size.  Keys go in with send-keys, the screen comes out with
capture-pane, scrollback included.  Every wait is bounded."""
import os
import subprocess
import time


class Tmux:
    def __init__(self, name, command, columns=80, rows=24, env=None):
        self.socket = "kordo-%s-%d" % (name, os.getpid())
        self.env = dict(os.environ, **(env or {}))
        self.env.pop("TMUX", None)
        self._tmux("-f", "/dev/null", "new-session", "-d", "-x", str(columns), "-y", str(rows), command)
        self._tmux("set-option", "-g", "history-limit", "5000")

    def _tmux(self, *args, check=True):
        return subprocess.run(["tmux", "-L", self.socket] + list(args), env=self.env, check=check,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=20).stdout.decode(
                                  "utf-8", "replace")

    def keys(self, *names):
        """Named keys as tmux knows them ("Down", "C-Home", "M-q", "BTab")."""
        for n in names:
            self._tmux("send-keys", n)
            time.sleep(0.15)

    def type(self, text):
        self._tmux("send-keys", "-l", "--", text)
        time.sleep(0.15)

    def raw(self, data):
        """Bytes as a terminal would send them (hex through send-keys -H)."""
        self._tmux("send-keys", "-H", *["%02x" % b for b in data])
        time.sleep(0.15)

    def rows(self):
        """Every row of the pane and its scrollback, as shown (wrapped rows
        stay apart), without the blank rows at the end."""
        out = self._tmux("capture-pane", "-p", "-S", "-", "-E", "-").split("\n")
        while out and not out[-1].strip():
            out.pop()
        return [r.rstrip() for r in out]

    def resize(self, columns, rows):
        self._tmux("resize-window", "-x", str(columns), "-y", str(rows))

    def shell_pid(self):
        return int(self._tmux("display-message", "-p", "#{pane_pid}").strip())

    def wait_for(self, pred, what, timeout=15.0):
        """Waits until pred(rows) holds; raises AssertionError with the
        screen when it does not within `timeout` seconds."""
        deadline = time.monotonic() + timeout
        while True:
            rows = self.rows()
            if pred(rows):
                return rows
            if time.monotonic() > deadline:
                raise AssertionError("no %s within %.0fs; the screen:\n%s" % (what, timeout, "\n".join(rows[-40:])))
            time.sleep(0.1)

    def wait_row(self, text, timeout=15.0):
        """Waits for a row equal to `text`; returns its index."""
        rows = self.wait_for(lambda rows: text in rows, repr(text), timeout)
        return len(rows) - 1 - rows[::-1].index(text)

    def wait_last(self, text, timeout=15.0):
        """Waits until the last non-blank row is `text`."""
        self.wait_for(lambda rows: rows and rows[-1] == text, "last row %r" % text, timeout)

    def kill(self):
        self._tmux("kill-server", check=False)


def in_order(rows, wanted):
    """The first of `wanted` (each a row, or a callable on a row) that does
    not come after the ones before it in `rows`, or None when all do."""
    i = 0
    for w in wanted:
        match = w if callable(w) else (lambda r, w=w: r == w)
        while i < len(rows) and not match(rows[i]):
            i += 1
        if i == len(rows):
            return w
        i += 1
    return None
