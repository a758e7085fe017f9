#!/usr/bin/env python3
"""kordo.exe under Wine, driven by keys, against a scripted server.

  wine_test.py --exe build-windows/kordo.exe [--artefacts DIR]

Sets up everything in a temporary folder: Xvfb, a 32-bit Wine prefix, a
private PulseAudio with a null sink (so the audio output opens), a scripted
server on 127.0.0.1, and a program folder with config-debug.ini naming it.
The test-double nvdaControllerClient32.dll is built here with the MinGW
compiler.  Keys go through xdotool to the focused X window (Wine's windows
are unmanaged: there is no window manager).

Run 1 (test double present): the connection dialog filled by keys, the
window title, menu moves with the select line, F8 (no key report, the sound
volume raised in the saved configuration), F1 reported as "key 112", an
input box and a message box answered by keys, the history saved through the
save dialog, the speech double selected and called cancel, speak, braille in
that order, the chat line (Alt+C, typing, Enter) arriving in CP1252,
Alt+F4 sending "quit" and a clean exit.  A screenshot of the
main window with a menu is left in the artefact folder.
Run 2 (no screen-reader library): start-up still reaches the connection
dialog, and Escape there ends the program with status 0.

Every wait is bounded; the whole run is capped by WINE_TEST_DEADLINE
seconds (default 240).
"""
import argparse
import os
import queue
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

WAIT = 20.0
DEADLINE = float(os.environ.get("WINE_TEST_DEADLINE", "240"))
SYSTEM_PYTHON = "/usr/bin/python3"  # has the GObject bindings for screenshots


class Failure(Exception):
    pass


class ScriptServer:
    """One listening socket on 127.0.0.1; lines the client sends go to a queue."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(2)
        self.sock.settimeout(WAIT)
        self.port = self.sock.getsockname()[1]
        self.conn = None
        self.lines = queue.Queue()
        self.seen = []

    def accept(self):
        try:
            self.conn, _ = self.sock.accept()
        except socket.timeout:
            raise Failure("the client did not connect within %.0fs" % WAIT)
        threading.Thread(target=self._read, args=(self.conn,), daemon=True).start()

    def _read(self, conn):
        buf = b""
        while True:
            try:
                data = conn.recv(4096)
            except OSError:
                data = b""
            if not data:
                self.lines.put(None)
                return
            buf += data
            while b"\n" in buf:
                line, buf = buf.split(b"\n", 1)
                self.lines.put(line.decode("cp1252"))

    def send(self, line):
        self.conn.sendall((line + "\n").encode("cp1252"))

    def expect(self, pattern, wait=WAIT):
        rx = re.compile(pattern)
        deadline = time.monotonic() + wait
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise Failure("no client line matching %r; seen %r" % (pattern, self.seen[-10:]))
            try:
                line = self.lines.get(timeout=left)
            except queue.Empty:
                continue
            if line is None:
                self.lines.put(None)
                raise Failure("connection closed before %r; seen %r" % (pattern, self.seen[-10:]))
            self.seen.append(line)
            if rx.fullmatch(line):
                return line

    def close(self):
        for s in (self.conn, self.sock):
            if s:
                try:
                    s.close()
                except OSError:
                    pass


class Env:
    def __init__(self, tmp):
        self.tmp = tmp
        self.procs = []
        self.env = dict(os.environ)
        run = os.path.join(tmp, "run")
        os.makedirs(run, mode=0o700)
        self.env.update({
            "HOME": tmp,
            "XDG_RUNTIME_DIR": run,
            "WINEPREFIX": os.path.join(tmp, "prefix"),
            "WINEARCH": "win32",
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=",  # no Mono/Gecko prompts
            "PULSE_SERVER": "unix:" + os.path.join(run, "pulse", "native"),
        })
        self.env.pop("WAYLAND_DISPLAY", None)

    def start_xvfb(self):
        r, w = os.pipe()
        p = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                             pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        self.procs.append(p)
        with os.fdopen(r) as f:
            display = f.readline().strip()
        if not display:
            raise Failure("Xvfb did not start")
        self.env["DISPLAY"] = ":" + display

    def start_pulse(self):
        subprocess.run(["pulseaudio", "--daemonize=yes", "--exit-idle-time=-1", "-n",
                        "--load=module-null-sink sink_name=kordo_null",
                        "--load=module-native-protocol-unix",
                        "--log-target=file:" + os.path.join(self.tmp, "pulse.log")],
                       env=self.env, check=True, timeout=30)
        sock = self.env["PULSE_SERVER"][5:]
        deadline = time.monotonic() + 10
        while not os.path.exists(sock):
            if time.monotonic() > deadline:
                raise Failure("PulseAudio did not start")
            time.sleep(0.1)

    def stop_pulse(self):
        subprocess.run(["pulseaudio", "--kill"], env=self.env, timeout=10,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def boot_wine(self):
        subprocess.run(["wineboot", "-i"], env=self.env, timeout=180,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        # Unmanaged windows: with a managed one every close stalls 2 s.
        subprocess.run(["wine", "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed",
                        "/d", "N", "/f"], env=self.env, timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=60)

    def xdo(self, *args, check=True):
        r = subprocess.run(["xdotool", *args], env=self.env, timeout=15, capture_output=True, text=True)
        if check and r.returncode != 0:
            raise Failure("xdotool %s failed: %s" % (" ".join(args), r.stderr.strip()))
        return r.stdout.strip()

    def find_window(self, name, wait=WAIT):
        deadline = time.monotonic() + wait
        while time.monotonic() < deadline:
            out = self.xdo("search", "--onlyvisible", "--name", name, check=False)
            if out:
                return out.split()[-1]
            time.sleep(0.2)
        raise Failure("no window named %r within %.0fs" % (name, wait))

    def window_gone(self, wid, wait=WAIT):
        deadline = time.monotonic() + wait
        while time.monotonic() < deadline:
            out = self.xdo("search", "--onlyvisible", "--name", ".", check=False)
            if wid not in out.split():
                return
            time.sleep(0.2)
        raise Failure("window %s still shown after %.0fs" % (wid, wait))

    def keys(self, wid, *keys):
        self.xdo("windowfocus", "--sync", wid)
        for k in keys:
            self.xdo("key", "--delay", "60", k)
            time.sleep(0.15)

    def type(self, wid, text):
        self.xdo("windowfocus", "--sync", wid)
        self.xdo("type", "--delay", "60", text)

    def title(self, wid):
        return self.xdo("getwindowname", wid)

    def screenshot(self, path):
        code = ("import gi; gi.require_version('Gdk','3.0'); from gi.repository import Gdk\n"
                "w=Gdk.get_default_root_window()\n"
                "pb=Gdk.pixbuf_get_from_window(w,0,0,w.get_width(),w.get_height())\n"
                "pb.savev(%r,'png',[],[])\n" % path)
        r = subprocess.run([SYSTEM_PYTHON, "-c", code], env=self.env, timeout=30, capture_output=True)
        return r.returncode == 0

    def close(self):
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=30,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.stop_pulse()
        for p in self.procs:
            p.terminate()
            try:
                p.wait(timeout=5)
            except subprocess.TimeoutExpired:
                p.kill()


def write_config(folder, port, sound_volume):
    lines = ["language=fr", "server.default=0", "sound.volume=%s" % sound_volume, "music.volume=0.5",
             "music.on=1",
             "server=Test,127.0.0.1,%d,http://127.0.0.1/about,http://127.0.0.1/register,"
             "http://127.0.0.1/lost,127.0.0.1,/autodl" % port]
    with open(os.path.join(folder, "config-debug.ini"), "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode("cp1252"))


def config_value(folder, key):
    with open(os.path.join(folder, "config-debug.ini"), "rb") as f:
        for line in f.read().decode("cp1252").splitlines():
            if line.startswith(key + "="):
                return line[len(key) + 1:]
    return None


def start_client(env, folder):
    out = open(os.path.join(folder, "stdout.txt"), "wb")
    return subprocess.Popen(["wine", os.path.join(folder, "kordo.exe")], cwd=folder, env=env.env,
                            stdout=out, stderr=subprocess.STDOUT)


def wait_exit(proc, what, wait=WAIT):
    try:
        return proc.wait(timeout=wait)
    except subprocess.TimeoutExpired:
        raise Failure("kordo.exe did not end after %s" % what)


def check(cond, what):
    if not cond:
        raise Failure(what)
    print("ok  " + what, flush=True)


def run_main_path(env, exe, dll, artefacts):
    folder = os.path.join(env.tmp, "app1")
    os.makedirs(folder)
    shutil.copy(exe, folder)
    shutil.copy(dll, os.path.join(folder, "nvdaControllerClient32.dll"))
    server = ScriptServer()
    write_config(folder, server.port, "0.5")
    proc = start_client(env, folder)
    try:
        dlg = env.find_window("^Connexion$", wait=60)
        # The focus starts in the login field.
        env.type(dlg, "joueur")
        env.keys(dlg, "Tab")
        env.type(dlg, "secret")
        env.keys(dlg, "Return")
        server.accept()
        server.send("challenge abc")
        login = server.expect(r"login joueur\|secret\|.*")
        print("login line: " + login, flush=True)
        server.send("status 1")
        main = env.find_window(r"^Le Kordo \[joueur\]$")
        check(env.title(main) == "Le Kordo [joueur]", "window title after connecting")

        server.send("menu 5|1|3|0|0|x|Jouer|jouer|null|null|Options|opts|null|null|Quitter|quit|null|null")
        time.sleep(1.0)
        if artefacts:
            shot = os.path.join(artefacts, "wine-main-window.png")
            if env.screenshot(shot):
                print("artefact " + shot, flush=True)
        env.keys(main, "Down", "Return")
        check(server.expect(r"select .*") == "select 5|1|opts", "Down then Enter selects the second item")

        # F8 is a command, never a key report; F1 is reported.
        env.keys(main, "F8", "F1")
        check(server.expect(r"key .*") == "key 112", "F1 reported as key 112, F8 not reported")

        # The chat line: Alt+C, typed text with an accented letter (CP1252 on
        # the wire), Enter.
        env.keys(main, "alt+c")
        env.type(main, "bonjour à tous")
        env.keys(main, "Return")
        check(server.expect(r"input 60003\|.*") == "input 60003|bonjour à tous",
              "chat line sent in CP1252")

        # Speech through the double: an interrupting message.
        server.send("sayi Bonjour interrompu")

        server.send("input 7|Nom|Votre nom ?|Paul")
        box = env.find_window("^Nom$")
        env.type(box, "Pierre")
        env.keys(box, "Return")
        check(server.expect(r"input .*") == "input 7|Pierre", "input box answered by keys")

        server.send("msgbox 3|Titre|Texte|4")
        box = env.find_window("^Titre$")
        env.keys(box, "Return")  # Yes is the default button
        check(server.expect(r"msgboxresp .*") == "msgboxresp 3|6", "message box answered Yes by Enter")

        server.send("say Ligne pour la sauvegarde")
        time.sleep(0.5)
        env.keys(main, "F12")
        save = env.find_window("^(Save As|Enregistrer sous)$")
        env.type(save, "histo.txt")
        env.keys(save, "Return")
        saved = os.path.join(folder, "histo.txt")
        deadline = time.monotonic() + WAIT
        while not os.path.exists(saved) and time.monotonic() < deadline:
            time.sleep(0.2)
        check(os.path.exists(saved) and b"Ligne pour la sauvegarde" in open(saved, "rb").read(),
              "history saved through the save dialog")

        main = env.find_window(r"^Le Kordo \[joueur\]$")
        env.keys(main, "alt+F4")
        check(server.expect(r"quit") == "quit", "closing the window sends quit")
        check(wait_exit(proc, "the window was closed") == 0, "exit status 0")
        check(not any(l.startswith("key 119") for l in server.seen), "F8 never reported")
        vol = float(config_value(folder, "sound.volume") or "0")
        check(vol > 0.5, "F8 raised the sound volume (saved %s)" % vol)

        calls_path = os.path.join(folder, "nvda-calls.txt")
        calls = open(calls_path, "rb").read().decode("utf-8").splitlines() if os.path.exists(calls_path) else []
        ordered = any(calls[i] == "cancel" and calls[i + 1] == "speak Bonjour interrompu"
                      and calls[i + 2] == "braille Bonjour interrompu" for i in range(len(calls) - 2))
        check(ordered, "NVDA double selected: cancel, speak, braille in that order")
    finally:
        if proc.poll() is None:
            proc.kill()
        server.close()


def run_without_reader(env, exe):
    folder = os.path.join(env.tmp, "app2")
    os.makedirs(folder)
    shutil.copy(exe, folder)
    server = ScriptServer()
    write_config(folder, server.port, "1")
    proc = start_client(env, folder)
    try:
        dlg = env.find_window("^Connexion$", wait=60)
        check(True, "start-up without a screen-reader library reaches the connection dialog")
        env.keys(dlg, "Escape")
        check(wait_exit(proc, "Escape in the connection dialog") == 0, "cancelled dialog ends with status 0")
    finally:
        if proc.poll() is None:
            proc.kill()
        server.close()


def build_double(tmp):
    src = os.path.join(os.path.dirname(os.path.abspath(__file__)), "nvda_double.c")
    dll = os.path.join(tmp, "nvdaControllerClient32.dll")
    subprocess.run(["i686-w64-mingw32-gcc", "-shared", "-O1", "-o", dll, src, "-Wl,--kill-at",
                    "-static-libgcc"], check=True, timeout=120)
    return dll


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--artefacts", default="")
    args = ap.parse_args()
    exe = os.path.abspath(args.exe)
    artefacts = os.path.abspath(args.artefacts) if args.artefacts else ""
    if artefacts:
        os.makedirs(artefacts, exist_ok=True)

    # A terminated run still tears down Xvfb, PulseAudio and Wine (finally).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    # A hard cap on the whole stage.
    signal.signal(signal.SIGALRM, lambda *_: (_ for _ in ()).throw(Failure("deadline reached")))
    signal.alarm(int(DEADLINE))

    tmp = tempfile.mkdtemp(prefix="kordo-wine-")
    env = Env(tmp)
    status = 0
    try:
        dll = build_double(tmp)
        env.start_xvfb()
        env.start_pulse()
        env.boot_wine()
        run_main_path(env, exe, dll, artefacts)
        run_without_reader(env, exe)
        print("wine tests passed", flush=True)
    except (Failure, subprocess.SubprocessError) as e:
        print("FAIL: %s" % e, flush=True)
        for name in ("app1", "app2"):
            p = os.path.join(tmp, name, "stdout.txt")
            if os.path.exists(p):
                print("--- %s stdout:\n%s" % (name, open(p, "rb").read().decode("latin-1")[-2000:]))
        status = 1
    finally:
        signal.alarm(0)
        env.close()
        if status == 0 or not os.environ.get("KEEP_WINE_TMP"):
            shutil.rmtree(tmp, ignore_errors=True)
    return status


if __name__ == "__main__":
    sys.exit(main())
