#!/usr/bin/env python3
"""Soak of kordo-headless against a hostile server on 127.0.0.1.

  bench/bench_hostile_soak.py build-rel/src/app/headless/kordo-headless [--seconds 600] [--seed N]

The server logs the client in, then sends for the given time (default ten
minutes) a random mix of real lines and of the lines a hostile server uses:
many spellings of one sound name, Windows device names, huge volumes, pans
and pitches, quick music changes, "preload" of missing files, "uitem" on a
25,000-item menu, "say" with NUL bytes, "dllq" into the client's own
libraries, "newVersion" naming the configuration, "checkfile" of missing
files, floods of "ping", and phases where it stops reading (the client must
give the connection up and reconnect).  It also spams "play" of two 302 s
stereo sounds (over the sample cap together), floods "uitem" far past the
end of the menu, floods empty lines, and now and then has the client start
a download from an HTTP server on 127.0.0.1:80 that trickles a byte a
second, then closes the game connection: the client must give it up and say
so at once (skipped when port 80 cannot be taken).  The player's side
answers every dialog.  At a random moment of the last tenth the player closes
the window (or, with --sigterm, the client gets SIGTERM).

Meanwhile it measures what the player feels: the time from a key (F9, F10
and F11 in turn, which the client reports as "key 120" to "key 122") to its
line reaching the server, and from a "say" to its speech event, as p50 and
p99.

Reports: peak RSS (VmHWM), open descriptors after the login and before the
close, CPU used, the time from the close (or SIGTERM) to the exit, the
largest delay between a "ping" and its "pong", the key and say latencies,
and the time from a server close during a download to the client's notice.
Targets: RSS under 150 MB, descriptors back to their start, exit within 2 s,
every ping answered within 1 s (pings sent while the server itself stops
reading are not counted: the client cannot answer a server that does not
read), p99 of both latencies under 100 ms, the notice within 1 s.
"""
import argparse
import collections
import os
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from bench_proc import cpu_seconds  # noqa: E402

# The long sounds are made once and kept here between runs (sox and oggenc
# take some 20 s for each).
CACHE = os.path.join(tempfile.gettempdir(), "kordo-soak-sounds")


def rss_peak_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for l in f:
            if l.startswith("VmHWM:"):
                return int(l.split()[1])
    return 0


def fd_list(pid):
    out = []
    for n in os.listdir("/proc/%d/fd" % pid):
        try:
            out.append(os.readlink("/proc/%d/fd/%s" % (pid, n)))
        except OSError:
            pass
    return sorted(out)


def fd_count(pid):
    # The music streams read their files while they play (the current one
    # and those fading): not counted as a leak.
    return len([f for f in fd_list(pid) if not f.endswith(".ogg")])


def percentile(values, p):
    if not values:
        return float("nan")
    v = sorted(values)
    return v[min(len(v) - 1, int(round(p / 100.0 * (len(v) - 1))))]


class Trickle:
    """An HTTP server on 127.0.0.1:80 that answers a request for a "trickle"
    file with a header and then one byte a second: a download that never
    ends.  Any other file is not found, at once, as with no server there."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", 80))
        self.sock.listen(8)
        self.requests = 0
        self.alive = True
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while self.alive:
            try:
                c, _ = self.sock.accept()
            except OSError:
                return
            threading.Thread(target=self.trickle, args=(c,), daemon=True).start()

    def trickle(self, c):
        try:
            c.settimeout(5)
            request = c.recv(4096)
            if b"/trickle" not in request.split(b"\r\n", 1)[0]:
                c.sendall(b"HTTP/1.0 404 Not Found\r\n\r\n")
                return
            self.requests += 1
            c.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 1000000\r\n\r\n")
            while self.alive:
                c.sendall(b"x")
                time.sleep(1.0)
        except OSError:
            pass
        finally:
            c.close()

    def close(self):
        self.alive = False
        self.sock.close()


class Conn:
    """One logged-in connection; a reader thread matches pongs to pings and
    key reports to the keys the player pressed."""

    def __init__(self, sock, stats, keys):
        self.sock = sock
        self.stats = stats
        self.keys = keys
        self.pings = collections.deque()
        self.lock = threading.Lock()
        self.reading = True
        self.alive = True
        threading.Thread(target=self.reader, daemon=True).start()

    def reader(self):
        buf = b""
        while self.alive:
            if not self.reading:
                time.sleep(0.05)
                continue
            try:
                self.sock.settimeout(0.2)
                data = self.sock.recv(65536)
            except socket.timeout:
                continue
            except OSError:
                break
            if not data:
                break
            buf += data
            while b"\n" in buf:
                line, buf = buf.split(b"\n", 1)
                if line.startswith(b"key ") or line.startswith(b"kem "):
                    self.keys.arrived(time.monotonic(), line[4:].split(b"|")[0])
                if line == b"pong":
                    with self.lock:
                        if self.pings:
                            sent, counted = self.pings.popleft()
                            if counted:
                                self.stats["max_ping"] = max(self.stats["max_ping"], time.monotonic() - sent)
                                self.stats["pongs"] += 1
        self.alive = False

    def send(self, data, timeout=2.0):
        try:
            self.sock.settimeout(timeout)
            self.sock.sendall(data)
            return True
        except OSError:
            self.alive = False
            return False

    def ping(self, counted=True):
        with self.lock:
            self.pings.append((time.monotonic(), counted))
        return self.send(b"ping\n")


class Pending:
    """Marks sent and not yet seen, in order; each one seen gives a latency.
    A mark passed over by a later one was lost (a key pressed while a dialog
    was up or the connection down): counted apart, not as a latency."""

    def __init__(self):
        self.lock = threading.Lock()
        self.sent = collections.deque()
        self.latencies = []
        self.lost = 0

    def sent_now(self, mark):
        with self.lock:
            self.sent.append((mark, time.monotonic()))

    def arrived(self, now, mark):
        with self.lock:
            if all(m != mark for m, _ in self.sent):
                return
            while self.sent:
                m, t = self.sent.popleft()
                if m == mark:
                    self.latencies.append(now - t)
                    return
                self.lost += 1

    def forget(self):
        with self.lock:
            self.sent.clear()


def accept_login(listener, timeout=60):
    listener.settimeout(timeout)
    c, _ = listener.accept()
    c.sendall(b"challenge abc\n")
    c.settimeout(10)
    buf = b""
    while b"\n" not in buf:
        d = c.recv(4096)
        if not d:
            raise OSError("closed during login")
        buf += d
    c.sendall(b"status 1\n")
    return c


def hostile_line(rng, menu_size):
    k = rng.randrange(20)
    if k == 17:
        return b"play %s\n" % rng.choice([b"long", b"long2"])
    if k == 18:
        return b"uitem 2147483647|x\n" * rng.randrange(1, 400)
    if k == 19:
        return b"\n" * rng.randrange(1, 4000)
    spell = ["./door", "././door", ".//door", "door/.", "sub//door", "DOOR", "door"]
    if k == 0:
        return b"play %s\n" % rng.choice(spell).encode()
    if k == 1:
        return b"play %s\n" % rng.choice([b"COM1", b"LPT1", b"CON", b"NUL", b"AUX", b"PRN", b"com1.x"])
    if k == 2:
        return b"play door %s %s %s\n" % (rng.choice([b"1e39", b"3.4e38", b"-1e39", b"nan", b"1"]),
                                         rng.choice([b"1e39", b"-5", b"0"]),
                                         rng.choice([b"-1e39", b"1e39", b"0", b"-48"]))
    if k == 3:
        return b"music %s\n" % rng.choice([b"left", b"right"])
    if k == 4:
        return b"preload " + b" ".join(b"missing%d" % rng.randrange(10 ** 9) for _ in range(50)) + b"\n"
    if k == 5:
        i = rng.randrange(menu_size)
        return b"uitem  %d|item %d changed|v|null|null\n" % (i, i)
    if k == 6:
        return b"say nul\x00inside\x00\n"
    if k == 7:
        return b"dllq %s:nvdaController_speakText|1|x\n" % rng.choice([b"jfwapi.dll", b"nvdaControllerClient32.dll", b"sapi5.dll"])
    if k == 8:
        return b"newVersion *config-debug.ini\n"
    if k == 9:
        return b"checkfile sounds/missing%d.ogg\n" % rng.randrange(1000)
    if k == 10:
        return b"say Bonjour \xe0 tous\n"
    if k == 11:
        return b"sayi Un message\n"
    if k == 12:
        return b"play door 0.5 0.2 0\n"
    if k == 13:
        return b"input 7|Titre|Votre nom|x\n"
    if k == 14:
        return b"msgbox 0|Titre|Texte\n"
    if k == 15:
        return b"play door 1 -%d 0\n" % rng.randrange(2, 40)
    return b"moveM 5|%d\n" % rng.randrange(menu_size)


def big_menu(n):
    items = b"".join(b"|item %d|v%d|null|null" % (i, i) for i in range(n))
    return b"menu 5|1|%d|0|0|x%s\n" % (n, items)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("headless")
    ap.add_argument("--seconds", type=float, default=600)
    ap.add_argument("--seed", type=int, default=int(time.time()))
    ap.add_argument("--rate", type=int, default=200, help="lines per second")
    ap.add_argument("--sigterm", action="store_true", help="end the client with SIGTERM rather than a close")
    a = ap.parse_args()
    rng = random.Random(a.seed)

    folder = tempfile.mkdtemp(prefix="kordo-soak-")
    os.makedirs(os.path.join(folder, "sounds"))
    sox = shutil.which("sox")
    if sox:
        s = os.path.join(folder, "sounds")
        subprocess.run([sox, "-q", "-n", "-r", "44100", "-c", "1", s + "/door.ogg", "synth", "0.3", "sine", "440"], check=False)
        for name, hz in (("left", 330), ("right", 550)):
            subprocess.run([sox, "-q", "-n", "-r", "44100", "-c", "2", "%s/%s.ogg" % (s, name), "synth", "20", "sine", str(hz)], check=False)
        os.makedirs(CACHE, exist_ok=True)
        for name, hz in (("long", 220), ("long2", 260)):
            cached = os.path.join(CACHE, name + ".ogg")
            if not os.path.exists(cached):
                subprocess.run([sox, "-q", "-n", "-r", "44100", "-c", "2", cached + ".tmp.ogg", "synth", "302",
                                "sine", str(hz), "sine", str(hz * 3 // 2)], check=False)
                if os.path.exists(cached + ".tmp.ogg"):
                    os.rename(cached + ".tmp.ogg", cached)
            if os.path.exists(cached):
                shutil.copy(cached, os.path.join(s, name + ".ogg"))
    try:
        trickle = Trickle()
    except OSError as e:
        trickle = None
        print("port 80 not available (%s): no trickling download" % e)
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    port = listener.getsockname()[1]
    with open(os.path.join(folder, "config-debug.ini"), "wb") as f:
        f.write(b"server=Soak,127.0.0.1,%d\r\npassword=secret\r\n" % port)

    proc = subprocess.Popen([a.headless, "--dir", folder], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    stdin_lock = threading.Lock()
    keys, says = Pending(), Pending()
    notice = {"waiting": None, "delays": []}

    def player(cmd):
        with stdin_lock:
            try:
                proc.stdin.write(cmd)
                proc.stdin.flush()
            except (BrokenPipeError, ValueError):
                pass

    def events():
        for line in proc.stdout:
            if line.startswith(b"speak "):
                text = line[len(b"speak 0 "):].rstrip(b"\n")
                if text.startswith(b"soak-mark "):
                    says.arrived(time.monotonic(), text)
                elif notice["waiting"] is not None and "déconnecté du serveur".encode() in text:
                    notice["delays"].append(time.monotonic() - notice["waiting"])
                    notice["waiting"] = None
            if line.startswith(b"dialog connection"):
                player(b"answer 0|soak|secret\n")
            elif line.startswith(b"dialog update"):
                player(b"answer 7\n")
            elif line.startswith(b"dialog input"):
                player(b"cancel\n")
            elif line.startswith(b"dialog msgbox"):
                player(b"answer 1\n")
            elif line.startswith(b"dialog error"):
                player(b"answer 1\n")

    threading.Thread(target=events, daemon=True).start()
    stats = {"max_ping": 0.0, "pongs": 0, "reconnections": 0, "stalls": 0, "lines": 0, "trickles": 0}
    conn = Conn(accept_login(listener), stats, keys)
    menu_size = 25000
    conn.send(big_menu(menu_size), timeout=30)
    time.sleep(1.0)
    fds_start = fd_count(proc.pid)

    t_end = time.monotonic() + a.seconds
    close_at = t_end - rng.uniform(0, a.seconds / 10)
    next_ping = time.monotonic()
    # The connection is lost now and then, by a stall or by a close during
    # a download, one at a time: two losses within 23 s of each other end
    # the client (it gives up a server that keeps dropping it).
    next_loss = time.monotonic() + rng.uniform(20, 60)
    losses = ["stall", "trickle"] if trickle is not None else ["stall"]
    next_probe = time.monotonic() + 1.0
    mark = 0
    while time.monotonic() < close_at:
        now = time.monotonic()
        if not conn.alive:
            # The client gave the connection up (or we lost it): it reconnects.
            try:
                conn.sock.close()
            except OSError:
                pass
            keys.forget()
            says.forget()
            try:
                conn = Conn(accept_login(listener, timeout=60), stats, keys)
            except OSError:
                break
            stats["reconnections"] += 1
            conn.send(big_menu(menu_size), timeout=30)
            continue
        kind = losses[(stats["stalls"] + stats["trickles"]) % len(losses)]
        if now >= next_loss and kind == "stall":
            # Stop reading and flood pings: the client's sends fill the
            # socket; it must close the connection as lost, not freeze.
            stats["stalls"] += 1
            conn.reading = False
            flood = b"ping\n" * 200000
            t_stall = time.monotonic() + 12
            while conn.alive and time.monotonic() < t_stall:
                with conn.lock:
                    for _ in range(200000):
                        conn.pings.append((time.monotonic(), False))
                if not conn.send(flood, timeout=1.0):
                    break
            conn.alive = False
            next_loss = time.monotonic() + rng.uniform(40, 90)
            continue
        if now >= next_loss and kind == "trickle":
            # A download that never ends, then the server goes: the client
            # must drop the download and say the connection is lost at once.
            stats["trickles"] += 1
            before = trickle.requests
            conn.send(b"checkfile sounds/trickle%d.ogg\n" % rng.randrange(10 ** 9))
            t_wait = time.monotonic() + 5
            while trickle.requests == before and time.monotonic() < t_wait:
                time.sleep(0.05)
            time.sleep(0.5)
            notice["waiting"] = time.monotonic()
            try:
                conn.sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            conn.alive = False
            next_loss = time.monotonic() + rng.uniform(40, 90)
            continue
        if now >= next_probe:
            # What the player feels: a reported key, and a message spoken.
            mark += 1
            # F9, F10, F11 in turn, so that a key lost is told from a late one.
            code = b"%d" % (120 + mark % 3)
            keys.sent_now(code)
            player(b"keydown %s list\nkeyup %s list\n" % (code, code))
            says.sent_now(b"soak-mark %d" % mark)
            conn.send(b"say soak-mark %d\n" % mark)
            next_probe = now + rng.uniform(0.5, 1.5)
        if now >= next_ping:
            conn.ping()
            next_ping = now + 0.5
        burst = b"".join(hostile_line(rng, menu_size) for _ in range(max(1, a.rate // 20)))
        conn.send(burst)
        stats["lines"] += max(1, a.rate // 20)
        time.sleep(0.05)

    time.sleep(1.0)  # let the last pongs come back
    fds_end = fd_count(proc.pid)
    fds_end_list = fd_list(proc.pid)
    rss = rss_peak_kb(proc.pid)
    cpu = cpu_seconds(proc.pid)
    t_close = time.monotonic()
    if a.sigterm:
        proc.send_signal(signal.SIGTERM)
    else:
        with stdin_lock:
            proc.stdin.close()
    try:
        proc.wait(timeout=30)
        exit_s = time.monotonic() - t_close
    except subprocess.TimeoutExpired:
        proc.kill()
        exit_s = float("inf")
    conn.alive = False
    listener.close()
    if trickle is not None:
        trickle.close()
    wall = t_close - (t_end - a.seconds)
    print("seed %d, %.0f s, %d lines, %d pings answered, %d stalls, %d trickling downloads, %d reconnections" %
          (a.seed, wall, stats["lines"], stats["pongs"], stats["stalls"], stats["trickles"], stats["reconnections"]))
    print("peak RSS        %.1f MB" % (rss / 1024.0))
    music = len([f for f in fds_end_list if f.endswith(".ogg")])
    print("open fds        %d after login, %d before the close (music files besides: %d)" % (fds_start, fds_end, music))
    if fds_end > fds_start:
        print("                " + " ".join(f.replace(folder, "<dir>") for f in fds_end_list))
    print("CPU             %.1f s (%.1f %% of one core)" % (cpu, 100.0 * cpu / wall))
    print("close to exit   %.3f s (exit status %s)" % (exit_s, proc.returncode))
    print("max ping delay  %.3f s" % stats["max_ping"])
    k, v = keys.latencies, says.latencies
    print("key to server   p50 %.1f ms, p99 %.1f ms (%d keys)" % (1e3 * percentile(k, 50), 1e3 * percentile(k, 99), len(k)))
    print("say to speech   p50 %.1f ms, p99 %.1f ms (%d says)" % (1e3 * percentile(v, 50), 1e3 * percentile(v, 99), len(v)))
    print("                lost while a dialog was up or the connection down: %d keys, %d says" % (keys.lost, says.lost))
    nd = notice["delays"]
    if trickle is not None:
        print("close during a download to the notice: max %.3f s (%d of %d closes heard)" %
              (max(nd) if nd else float("nan"), len(nd), stats["trickles"]))
    shutil.rmtree(folder, ignore_errors=True)
    ok = (rss < 150 * 1024 and exit_s <= 2.0 and stats["max_ping"] <= 1.0 and fds_end <= fds_start
          and k and v and percentile(k, 99) < 0.1 and percentile(v, 99) < 0.1
          and (trickle is None or (len(nd) == stats["trickles"] and (not nd or max(nd) <= 1.0))))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
