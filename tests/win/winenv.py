"""The environment the Wine tests drive kordo.exe in.

Everything lives in one temporary folder: Xvfb, a Wine prefix, a private
PulseAudio with a null sink (so the audio output opens), and the program
folders.  The prefix, the Wine loader and the MinGW compiler follow the
architecture of the kordo.exe under test (exe_arch): i686 runs in a 32-bit
prefix, x86_64 in a 64-bit one started by the 64-bit loader alone, so that
machines that cannot run 32-bit programs can run it.  Helper programs (the
test-double screen-reader library, the window probe) are built here for
that architecture.  Keys go through
xdotool to the focused X window (Wine's windows are unmanaged: there is no
window manager).

run_stage() wraps a test body: a hard deadline, SIGTERM handling, and the
teardown of every process started here whatever happens.
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

WAIT = 20.0
SYSTEM_PYTHON = "/usr/bin/python3"  # has the GObject bindings for screenshots
HERE = os.path.dirname(os.path.abspath(__file__))


class Failure(Exception):
    pass


# What each architecture of kordo.exe needs: the PE machine field, the Wine
# prefix kind, the MinGW target and the NVDA controller library it loads.
ARCHES = {
    "i686": {"machine": 0x14C, "winearch": "win32", "triple": "i686-w64-mingw32",
             "nvda": "nvdaControllerClient32.dll"},
    "x86_64": {"machine": 0x8664, "winearch": "win64", "triple": "x86_64-w64-mingw32",
               "nvda": "nvdaControllerClient64.dll"},
}
WINE64 = "/usr/lib/wine/wine64"  # Debian's 64-bit loader; it has no command of its own


def exe_arch(path):
    """The architecture ("i686" or "x86_64") of the Windows program or
    library at PATH, read from its PE header."""
    with open(path, "rb") as f:
        head = f.read(4096)
    if head[:2] != b"MZ" or len(head) < 0x40:
        raise Failure("%s is not a Windows program" % path)
    pe = int.from_bytes(head[0x3C:0x40], "little")
    if head[pe:pe + 4] != b"PE\0\0":
        raise Failure("%s has no PE header" % path)
    machine = int.from_bytes(head[pe + 4:pe + 6], "little")
    for name, a in ARCHES.items():
        if a["machine"] == machine:
            return name
    raise Failure("%s: unknown machine 0x%x" % (path, machine))


def other_arch(arch):
    return "x86_64" if arch == "i686" else "i686"


class Env:
    def __init__(self, tmp, arch="i686"):
        self.tmp = tmp
        self.arch = arch
        self.procs = []
        self.env = dict(os.environ)
        run = os.path.join(tmp, "run")
        os.makedirs(run, mode=0o700)
        self.env.update({
            "HOME": tmp,
            "XDG_RUNTIME_DIR": run,
            "WINEPREFIX": os.path.join(tmp, "prefix"),
            "WINEARCH": ARCHES[arch]["winearch"],
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=",  # no Mono/Gecko prompts
            "PULSE_SERVER": "unix:" + os.path.join(run, "pulse", "native"),
        })
        self.env.pop("WAYLAND_DISPLAY", None)
        # Debian's "wine" command runs the 32-bit loader whenever it is
        # installed; the 64-bit prefix is started by the 64-bit loader, which
        # also starts the prefix's other programs (WINELOADER).
        if arch == "x86_64":
            self.wine = [WINE64]
            self.env["WINELOADER"] = WINE64
        else:
            self.wine = ["wine"]

    def start_xvfb(self):
        r, w = os.pipe()
        # -noreset: no server reset when the last client leaves, which would
        # may refuse a client connecting at that moment.
        p = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                              "-noreset"],
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
        self._quietly(["pulseaudio", "--kill"], 10)

    def _quietly(self, argv, wait):
        # Teardown goes on whatever one step does (a tool missing, a hang).
        try:
            subprocess.run(argv, env=self.env, timeout=wait, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        except (OSError, subprocess.SubprocessError):
            pass

    def boot_wine(self):
        subprocess.run([*self.wine, "wineboot", "-i"], env=self.env, timeout=180,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        # Unmanaged windows: with a managed one every close stalls 2 s.
        subprocess.run([*self.wine, "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed",
                        "/d", "N", "/f"], env=self.env, timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=60)

    def start(self):
        self.start_xvfb()
        self.start_pulse()
        self.boot_wine()

    def add_process(self, proc):
        """A process of the test's own (a server) that close() ends."""
        self.procs.append(proc)
        return proc

    def wine_output(self, exe, *args, wait=WAIT):
        """Runs a console program of the prefix; its standard output, bytes."""
        r = subprocess.run([*self.wine, exe, *args], env=self.env, timeout=wait, capture_output=True)
        return r.returncode, r.stdout

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
        # Wine first: kordo.exe then no longer talks to the servers below.
        self._quietly(["wineserver", "-k"], 30)
        self.stop_pulse()
        for p in self.procs:
            if p.poll() is None:
                p.terminate()
            try:
                p.wait(timeout=5)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait(timeout=5)


def build_mingw(arch, src_name, out, *flags):
    """Builds tests/win/SRC_NAME with the MinGW C compiler of ARCH into OUT."""
    src = os.path.join(HERE, src_name)
    subprocess.run([ARCHES[arch]["triple"] + "-gcc", "-O1", "-o", out, src, "-static-libgcc", *flags],
                   check=True, timeout=120)
    return out


def build_double(env, arch=None, name="nvda-double.dll"):
    """The test-double NVDA controller library (see nvda_double.c) for ARCH
    (default: the environment's); make_program_folder gives it its name."""
    return build_mingw(arch or env.arch, "nvda_double.c", os.path.join(env.tmp, name),
                       "-shared", "-Wl,--kill-at")


def build_ext_double(env, arch=None, name="ext-double.dll"):
    """The test-double extension library (see ext_double.c) for ARCH."""
    return build_mingw(arch or env.arch, "ext_double.c", os.path.join(env.tmp, name),
                       "-shared", "-Wl,--kill-at")


def build_probe(env):
    """win_probe.exe (see win_probe.c)."""
    return build_mingw(env.arch, "win_probe.c", os.path.join(env.tmp, "win_probe.exe"), "-mconsole")


def build_setup_probe(env):
    """setup_probe.exe, the stand-in installer (see setup_probe.c)."""
    return build_mingw(env.arch, "setup_probe.c", os.path.join(env.tmp, "setup_probe.exe"), "-mwindows")


def build_sock_check(env):
    """sock_check.exe (see sock_check.cpp), built with the client's own
    Winsock shim and the client's Windows compile settings."""
    src = os.path.join(os.path.dirname(os.path.dirname(HERE)), "src")
    out = os.path.join(env.tmp, "sock_check.exe")
    subprocess.run([ARCHES[env.arch]["triple"] + "-g++-posix", "-std=c++20", "-O1", "-DWIN32_LEAN_AND_MEAN", "-DNOMINMAX",
                    "-D_WIN32_WINNT=0x0600", "-I", src, "-o", out, os.path.join(HERE, "sock_check.cpp"),
                    os.path.join(src, "platform", "sockets_win32.cpp"), "-static", "-lws2_32"],
                   check=True, timeout=300)
    return out


def write_config(folder, port, sound_volume="1", extra=()):
    """config-debug.ini naming one server on 127.0.0.1:PORT.  Its web pages
    and download host are 127.0.0.1 as well (the client downloads from port
    80 of that host)."""
    lines = ["language=fr", "server.default=0", "sound.volume=%s" % sound_volume, "music.volume=0.5",
             "music.on=1",
             "server=Test,127.0.0.1,%d,http://127.0.0.1/about,http://127.0.0.1/register,"
             "http://127.0.0.1/lost,127.0.0.1,/autodl" % port, *extra]
    with open(os.path.join(folder, "config-debug.ini"), "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode("cp1252"))


def config_value(folder, key):
    with open(os.path.join(folder, "config-debug.ini"), "rb") as f:
        for line in f.read().decode("cp1252").splitlines():
            if line.startswith(key + "="):
                return line[len(key) + 1:]
    return None


def make_program_folder(env, name, exe, dll=None, extra=()):
    """A program folder under the temporary folder holding kordo.exe and, when
    DLL is given, the test-double screen-reader library under the name that
    kordo.exe of this architecture loads first.  EXTRA: (path, file name)
    pairs copied in as well."""
    folder = os.path.join(env.tmp, name)
    os.makedirs(folder)
    shutil.copy(exe, folder)
    if dll:
        shutil.copy(dll, os.path.join(folder, ARCHES[env.arch]["nvda"]))
    for path, file_name in extra:
        shutil.copy(path, os.path.join(folder, file_name))
    return folder


def start_client(env, folder):
    out = open(os.path.join(folder, "stdout.txt"), "wb")
    return subprocess.Popen([*env.wine, os.path.join(folder, "kordo.exe")], cwd=folder, env=env.env,
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


class SpeechLog:
    """The calls the test-double screen-reader library recorded in the program
    folder ("cancel", "speak TEXT", "braille TEXT"), read as they grow.
    expect() consumes: each pattern is looked for after the last match, so a
    series of expect() calls checks the order of what was spoken."""

    def __init__(self, folder):
        self.path = os.path.join(folder, "nvda-calls.txt")
        self.pos = 0  # index of the first call not yet consumed

    def calls(self):
        try:
            with open(self.path, "rb") as f:
                data = f.read()
        except FileNotFoundError:
            return []
        # A line still being written has no "\n" yet.
        return [l.decode("utf-8", "replace") for l in data.split(b"\n")[:-1]]

    def spoken(self):
        return [c[6:] for c in self.calls() if c.startswith("speak ")]

    def expect(self, pattern, wait=WAIT):
        """Waits for "speak TEXT" with TEXT matching PATTERN whole; returns TEXT."""
        rx = re.compile(pattern)
        deadline = time.monotonic() + wait
        while True:
            calls = self.calls()
            for i in range(self.pos, len(calls)):
                if calls[i].startswith("speak ") and rx.fullmatch(calls[i][6:]):
                    self.pos = i + 1
                    return calls[i][6:]
            if time.monotonic() > deadline:
                raise Failure("nothing spoken matching %r within %.0fs; last spoken %r"
                              % (pattern, wait, self.spoken()[-6:]))
            time.sleep(0.1)


def run_stage(prefix, deadline, body, dump=(), arch="i686"):
    """Runs BODY(env, tmp) in a fresh environment for kordo.exe of ARCH,
    capped at DEADLINE seconds.
    On failure prints the reason and the end of each file named in DUMP
    (paths relative to the temporary folder), and returns 1; 0 on success.
    The environment is torn down either way, also on SIGTERM; the temporary
    folder is kept after a failure when KEEP_WINE_TMP is set."""
    # A terminated run still tears down Xvfb, PulseAudio, Wine and the
    # servers (the finally below).
    def on_term(*_):
        print("FAIL: terminated", flush=True)
        sys.exit(1)

    signal.signal(signal.SIGTERM, on_term)

    def on_alarm(*_):
        raise Failure("deadline of %ds reached" % deadline)

    signal.signal(signal.SIGALRM, on_alarm)
    signal.alarm(int(deadline))
    tmp = tempfile.mkdtemp(prefix=prefix)
    env = Env(tmp, arch)
    print("kordo.exe for %s in a %s Wine prefix" % (arch, ARCHES[arch]["winearch"]), flush=True)
    status = 0
    try:
        body(env, tmp)
    except (Failure, subprocess.SubprocessError, OSError) as e:
        print("FAIL: %s" % e, flush=True)
        for rel in dump:
            p = os.path.join(tmp, rel)
            if os.path.exists(p):
                print("--- %s:\n%s" % (rel, open(p, "rb").read().decode("latin-1")[-2000:]))
        status = 1
    finally:
        signal.alarm(0)
        env.close()
        if status == 0 or not os.environ.get("KEEP_WINE_TMP"):
            shutil.rmtree(tmp, ignore_errors=True)
        elif status:
            print("kept " + tmp, flush=True)
    return status
