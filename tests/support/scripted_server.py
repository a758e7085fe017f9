"""The scripted game server of the Python-driven tests: one listening socket
on 127.0.0.1 (an ephemeral port), one client connection at a time, lines
sent and read in CP1252 as the game protocol has them.  The test plays the
server's side line by line: accept, the login handshake, send, expect.

Importers put this folder on sys.path themselves:

    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))

Lines also serves for other line streams (kordo-headless's events), and
free_port() and wait_listening() for the tests that start a server program
rather than play one.

Every wait is bounded.  A failed wait raises the `error` class the server
was made with (AssertionError unless the harness has its own), with the
lines skipped meanwhile in the message.
"""
import queue
import re
import socket
import threading
import time


def free_port():
    """A port of 127.0.0.1 that was free at the time of the call."""
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    p = s.getsockname()[1]
    s.close()
    return p


def wait_listening(port, proc, wait=10.0):
    """True once 127.0.0.1:`port` accepts a connection; False when the
    process `proc` ends first or after `wait` seconds."""
    deadline = time.monotonic() + wait
    while True:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return True
        except OSError:
            if time.monotonic() > deadline or proc.poll() is not None:
                return False
            time.sleep(0.05)


def line_pattern(p):
    """A whole-line pattern where "*" matches any run of characters and is
    the only special character."""
    return re.compile("^" + ".*".join(re.escape(part) for part in p.split("*")) + "$", re.S)


def _matcher(match):
    if callable(match):
        return match
    rx = re.compile(match) if isinstance(match, str) else match
    return lambda line: rx.fullmatch(line) is not None


def _describe(match):
    if isinstance(match, str):
        return repr(match)
    return repr(getattr(match, "pattern", match))


class Lines:
    """Lines fed by a reader thread, taken in order by expect(), which skips
    the lines that do not match.  `seen` holds every line taken (matching or
    skipped), in order.  The end of the input is a None in the queue; it
    stays there, so every later wait sees it."""

    def __init__(self, name, error=AssertionError, idle=None):
        self.name = name
        self.error = error
        self.idle = idle  # called about every 50 ms while a wait goes on
        self.q = queue.Queue()
        self.seen = []

    def feed(self, reader, decode):
        """Reader thread body: each line of the binary file `reader`,
        decoded, without its "\\n"."""
        for raw in reader:
            self.q.put(decode(raw).rstrip("\n"))
        self.q.put(None)

    def _get(self, deadline):
        """The next line, None at the end, or TimeoutError at `deadline`."""
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise TimeoutError
            try:
                line = self.q.get(timeout=min(left, 0.05) if self.idle else left)
            except queue.Empty:
                if self.idle:
                    self.idle()
                continue
            if line is None:
                self.q.put(None)
            return line

    def expect(self, match, wait):
        """The next line that `match` accepts: a callable, a compiled
        pattern or a regular expression (either must match the whole
        line)."""
        accept = _matcher(match)
        deadline = time.monotonic() + wait
        skipped = []
        while True:
            try:
                line = self._get(deadline)
            except TimeoutError:
                raise self.error("%s: no %s within %.0fs; skipped: %s"
                                 % (self.name, _describe(match), wait, skipped[-15:]))
            if line is None:
                raise self.error("%s ended before %s; skipped: %s" % (self.name, _describe(match), skipped[-15:]))
            self.seen.append(line)
            if accept(line):
                return line
            skipped.append(line)

    def drain(self):
        """Takes the lines already queued into `seen`, without waiting."""
        while True:
            try:
                line = self.q.get_nowait()
            except queue.Empty:
                return
            if line is None:
                self.q.put(None)
                return
            self.seen.append(line)


class ScriptedServer:
    """`port` is the listening port; `lines` the current connection's
    client lines; `all_lines` those of the connections closed so far."""

    def __init__(self, wait=10.0, accept_wait=None, error=AssertionError, idle=None, backlog=8):
        self.wait = wait  # default bound of expect() and until_pong()
        self.accept_wait = wait if accept_wait is None else accept_wait
        self.error = error
        self.idle = idle
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(backlog)
        self.port = self.sock.getsockname()[1]
        self.conn = None
        self.lines = Lines("client lines", error, idle)
        self.all_lines = []

    @property
    def seen(self):
        """The client lines taken so far, of every connection."""
        return self.all_lines + self.lines.seen

    def accept(self, wait=None):
        """Waits for the client's next connection; the current one, if any,
        is closed first."""
        self.close()
        wait = self.accept_wait if wait is None else wait
        self.sock.settimeout(wait)
        try:
            self.conn, _ = self.sock.accept()
        except socket.timeout:
            raise self.error("the client did not connect within %.0fs" % wait)
        self.lines = Lines("client lines", self.error, self.idle)
        f = self.conn.makefile("rb")
        threading.Thread(target=self.lines.feed, args=(f, lambda b: b.decode("cp1252", "replace")),
                         daemon=True).start()

    def send(self, line):
        """Sends `line` and its "\\n"."""
        self.conn.sendall(line.encode("cp1252", "replace") + b"\n")

    def expect(self, match, wait=None):
        """The client's next line that `match` accepts (see Lines.expect);
        the lines before it are skipped.  The other methods wait through
        self.lines, so a harness may give expect() its own meaning."""
        return self.lines.expect(match, self.wait if wait is None else wait)

    def login(self, challenge="abc", status="1"):
        """The login handshake once the client is connected: the challenge,
        the client's "login ..." line (returned), then the status."""
        self.send("challenge " + challenge)
        line = self.lines.expect(lambda l: l.startswith("login "), self.wait)
        self.send("status " + status)
        return line

    def until_pong(self, wait=None):
        """Sends "ping" and returns the lines the client sent before its
        "pong".  The client answers on its receive thread, so whatever its
        UI thread sent before is in the list."""
        before = len(self.lines.seen)
        self.send("ping")
        self.lines.expect("pong", self.wait if wait is None else wait)
        return self.lines.seen[before:-1]

    def close(self):
        """Closes the current connection; the lines it had left go to
        `all_lines`.  The listening socket stays."""
        if self.conn:
            try:
                self.conn.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            self.conn.close()
            self.lines.drain()
            self.all_lines += self.lines.seen
            self.lines = Lines("client lines", self.error, self.idle)
            self.conn = None

    def stop(self):
        """Closes the connection and the listening socket."""
        self.close()
        self.sock.close()
