"""Helpers for tests that drive the desktop client by keyboard (xdotool) and
read it back through the accessibility bus, as a screen reader would, with
a private speech-dispatcher recording what the client says.  They run under
with_desktop.sh, which provides the display, the buses and KORDO_TEST_TMP."""
import os
import shutil
import subprocess
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import GLib  # noqa: E402
import pyatspi  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from scripted_server import ScriptedServer  # noqa: E402

TMP = os.environ["KORDO_TEST_TMP"]
failures = []


def check(cond, what):
    print(("ok - " if cond else "FAIL - ") + what, flush=True)
    if not cond:
        failures.append(what)
    return cond


def pump(seconds):
    """Runs the GLib loop that delivers AT-SPI events for `seconds`."""
    end = time.monotonic() + seconds
    ctx = GLib.MainContext.default()
    while time.monotonic() < end:
        while ctx.pending():
            ctx.iteration(False)
        time.sleep(0.01)


def wait_for(pred, timeout=10.0):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            v = pred()
        except Exception:  # accessibles come and go while the UI changes
            v = None
        if v:
            return v
        pump(0.05)
    return None


# --- desktop helpers ----------------------------------------------------------


def xdo(*args):
    subprocess.run(["xdotool", *args], check=False, timeout=20)


def keys(*names):
    xdo("key", "--delay", "60", *names)
    pump(0.3)


def window_id(name):
    out = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", "^" + name + "$"],
                         capture_output=True, text=True, timeout=15).stdout.split()
    return out[0] if out else None


def focus_window(name):
    wid = window_id(name)
    if wid:
        xdo("windowfocus", "--sync", wid)
        pump(0.3)
    return wid


def app_root():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        a = desktop.getChildAtIndex(i)
        if a is not None and a.name == "kordo":
            return a
    return None


def find(root, pred):
    return pyatspi.findDescendant(root, lambda a: a is not None and pred(a), breadth_first=True)


def role(a):
    return a.getRoleName()


def focused(a):
    return a.getState().contains(pyatspi.STATE_FOCUSED)


def named(root, name, roles=None):
    return find(root, lambda a: a.name == name and (roles is None or role(a) in roles))


def rows(lst):
    return [lst.getChildAtIndex(i).name for i in range(lst.childCount)]


def dump(a, depth=0):
    if a is None or depth > 12:
        return
    print("  " * depth + "%s %r" % (role(a), a.name))
    for i in range(a.childCount):
        dump(a.getChildAtIndex(i), depth + 1)


class Events:
    """Focus and active-descendant events, as a screen reader hears them."""

    def __init__(self):
        self.seen = []
        pyatspi.Registry.registerEventListener(self._on, "object:state-changed:focused",
                                               "object:active-descendant-changed")

    def _on(self, ev):
        try:
            if ev.type.startswith("object:state-changed:focused"):
                if ev.detail1:
                    self.seen.append(("focus", role(ev.source), ev.source.name))
            else:
                child = ev.any_data
                self.seen.append(("active", role(ev.source), child.name if child else ""))
        except Exception:
            pass

    def clear(self):
        pump(0.2)
        self.seen = []

    def wait(self, kind, name, timeout=5.0):
        return wait_for(lambda: any(e[0] == kind and e[2] == name for e in self.seen), timeout)


# --- scripted server ----------------------------------------------------------


class Server(ScriptedServer):
    """The scripted server of the desktop tests: its waits keep the GLib loop
    running (AT-SPI events arrive meanwhile), and a line that does not come
    is None, for check() to report."""

    def __init__(self):
        super().__init__(wait=10.0, accept_wait=20, idle=lambda: pump(0))

    def expect(self, prefix, timeout=10.0):
        """The next line starting with `prefix` (others are skipped), or None."""
        try:
            return super().expect(lambda line: line.startswith(prefix), timeout)
        except AssertionError:
            return None

    def login(self):
        """The login handshake; the client's login line, or None."""
        try:
            return super().login()
        except AssertionError:
            return None

    def until_pong(self, timeout=10.0):
        """The lines the client sent before its "pong" to a "ping" (None when
        no pong came)."""
        try:
            return super().until_pong(timeout)
        except AssertionError:
            return None


def program_folder(kordo, port, name="prog"):
    """A program folder TMP/`name` holding a copy of the client (its program
    folder is its executable's folder) and a configuration naming the
    scripted server on `port`, with the remembered login alice/secret1.
    Returns (folder, executable)."""
    prog = os.path.join(TMP, name)
    os.makedirs(prog, exist_ok=True)
    exe = os.path.join(prog, "kordo")
    shutil.copy(kordo, exe)
    with open(os.path.join(prog, "config-debug.ini"), "wb") as f:
        f.write(("language=fr\r\nmusic.on=0\r\n"
                 "server=Local,127.0.0.1,%d,(null),(null),(null),(null),(null),alice,secret1\r\n" % port).encode())
    return prog, exe


def log_in(server, what=""):
    """The client just started with the remembered login: its connection
    dialog confirmed with Enter, the login played by `server`.  Returns the
    client's accessible application and its main window "Le Kordo [alice]",
    or None for the window, each step reported (prefixed with `what`)."""
    app = wait_for(app_root, 20)
    if not check(app is not None and wait_for(lambda: named(app, "Connexion", ("dialog",))) is not None,
                 what + "the connection dialog"):
        return app, None
    focus_window("Connexion")
    keys("Return")
    server.accept()
    if not check(server.login() is not None, what + "the client logs in"):
        return app, None
    frame = wait_for(lambda: named(app, "Le Kordo [alice]", ("frame",)))
    check(frame is not None, what + "the main window")
    return app, frame


# --- speech ----------------------------------------------------------------------


def start_speech():
    """A private speech-dispatcher whose only voice appends each message to a
    file, and the accessibility bus saying that a screen reader runs: the
    client then speaks through its screen-reader back-end.  Returns the
    daemon, the file and the address for the client."""
    d = os.path.join(TMP, "spd")
    os.makedirs(d)
    heard = os.path.join(d, "heard.txt")
    with open(os.path.join(d, "recorder.conf"), "w") as f:
        f.write("GenericExecuteSynth \"printf '%%s\\\\n' \\'$DATA\\' >> %s\"\n" % heard)
        f.write('GenericLanguage "fr" "fr" "utf-8"\nAddVoice "fr" "MALE1" "recorder"\n')
    with open(os.path.join(d, "speechd.conf"), "w") as f:
        f.write('AddModule "recorder" "sd_generic" "%s/recorder.conf"\n' % d)
        f.write('DefaultModule recorder\nDefaultLanguage "fr"\nAudioOutputMethod "libao"\n')
    daemon = subprocess.Popen(["/usr/bin/speech-dispatcher", "-s", "-t", "0", "-C", d, "-S", d + "/sock",
                               "-P", d + "/pid"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_for(lambda: os.path.exists(d + "/sock"), 10)
    subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
                    "org.freedesktop.DBus.Properties.Set", "string:org.a11y.Status",
                    "string:ScreenReaderEnabled", "variant:boolean:true"],
                   stdout=subprocess.DEVNULL, timeout=10)
    return daemon, heard, "unix_socket:" + d + "/sock"


def spoken(heard):
    try:
        with open(heard, encoding="utf-8", errors="replace") as f:
            return f.read()
    except OSError:
        return ""


def other_window(title):
    """A window of this process, titled `title`, off the client's windows
    (bottom right of the screen): focusing it makes the client inactive, as
    another program would.  The caller destroys it."""
    gi.require_version("Gtk", "3.0")
    from gi.repository import Gtk
    w = Gtk.Window(title=title)
    w.set_default_size(150, 100)
    w.move(860, 660)
    w.show_all()
    pump(0.3)
    return w


def install_link_recorder():
    """Makes a stand-in program the desktop's default handler of http and
    https addresses (through the XDG files GIO reads, in the private HOME);
    it appends each address it is given to the returned file.  Call it
    before the client starts."""
    record = os.path.join(TMP, "opened-links.txt")
    script = os.path.join(TMP, "record-link")
    with open(script, "w") as f:
        f.write("#!/bin/sh\nprintf '%%s\\n' \"$1\" >> '%s'\n" % record)
    os.chmod(script, 0o755)
    apps = os.path.join(os.environ["XDG_DATA_HOME"], "applications")
    os.makedirs(apps, exist_ok=True)
    with open(os.path.join(apps, "kordo-link-recorder.desktop"), "w") as f:
        f.write("[Desktop Entry]\nType=Application\nName=Link recorder\nExec=%s %%u\nNoDisplay=true\n"
                "MimeType=x-scheme-handler/http;x-scheme-handler/https;\n" % script)
    os.makedirs(os.environ["XDG_CONFIG_HOME"], exist_ok=True)
    with open(os.path.join(os.environ["XDG_CONFIG_HOME"], "mimeapps.list"), "w") as f:
        f.write("[Default Applications]\nx-scheme-handler/http=kordo-link-recorder.desktop\n"
                "x-scheme-handler/https=kordo-link-recorder.desktop\n")
    return record


def extents(a, coords=pyatspi.WINDOW_COORDS):
    """(x, y, width, height) of accessible `a`."""
    e = a.queryComponent().getExtents(coords)
    return (e.x, e.y, e.width, e.height)


def ancestor(a, role_name):
    """`a` or its nearest ancestor with the role `role_name`."""
    while a is not None and role(a) != role_name:
        a = a.parent
    return a


def close_window(x11_close, title, proc):
    """Closes the window `title` (a regular expression) as its close box
    does, with the X11_CLOSE helper; returns the client's exit status, or
    None when it has not ended within 15 s."""
    subprocess.run([x11_close, window_id(title) or "0"], timeout=10)
    try:
        return proc.wait(15)
    except subprocess.TimeoutExpired:
        return None


def report():
    """Prints the outcome of every check() and returns the exit status."""
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("all checks passed")
    return 0
