#!/usr/bin/python3
# A whole session of the desktop client, played by keyboard through xdotool
# and checked through the accessibility bus (what Orca reads), against a
# scripted server on 127.0.0.1.  Run under with_desktop.sh.
#
# Usage: session_test.py KORDO X11_CLOSE SCREENSHOT.png
import os
import queue
import shutil
import socket
import subprocess
import sys
import threading
import time

import gi

gi.require_version("Gdk", "3.0")
from gi.repository import Gdk  # noqa: E402
import pyatspi  # noqa: E402

from desktop import (TMP, Events, check, dump, find, focus_window, focused, keys,  # noqa: E402
                     named, pump, role, rows, spoken, start_speech, wait_for, xdo, app_root, close_window, report)

KORDO, X11_CLOSE, SCREENSHOT = sys.argv[1:4]


# --- scripted server --------------------------------------------------------


class Server:
    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(1)
        self.sock.settimeout(20)
        self.port = self.sock.getsockname()[1]
        self.conn = None
        self.lines = queue.Queue()

    def accept(self):
        self.conn, _ = self.sock.accept()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        buf = b""
        while True:
            try:
                data = self.conn.recv(4096)
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
        self.conn.sendall(line.encode("cp1252") + b"\n")

    def expect(self, prefix, timeout=10.0):
        """The next line starting with `prefix` (others are skipped), or None."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            try:
                line = self.lines.get(timeout=0.05)
            except queue.Empty:
                pump(0)
                continue
            if line is None:
                return None
            if line.startswith(prefix):
                return line
        return None


# --- the session ----------------------------------------------------------------


def main():
    server = Server()
    prog = os.path.join(TMP, "prog")
    os.makedirs(prog)
    exe = os.path.join(prog, "kordo")
    shutil.copy(KORDO, exe)  # the program folder is the executable's folder
    with open(os.path.join(prog, "config-debug.ini"), "wb") as f:
        f.write(("language=fr\r\nserver.default=0\r\nsound.volume=1\r\nmusic.volume=0.5\r\nmusic.on=0\r\n"
                 "server=Local,127.0.0.1,%d,(null),(null),(null),(null),(null),alice,secret1\r\n"
                 % server.port).encode())
    daemon, heard, address = start_speech()
    env = dict(os.environ, SPEECHD_ADDRESS=address)
    log = open(os.path.join(TMP, "kordo.log"), "wb")
    proc = subprocess.Popen([exe], cwd="/", stdout=log, stderr=subprocess.STDOUT, env=env)
    try:
        run(server, proc, prog, heard)
    finally:
        daemon.terminate()
        daemon.wait(10)
        if proc.poll() is None:
            proc.kill()
            proc.wait(5)
        log.close()
        with open(os.path.join(TMP, "kordo.log"), "rb") as f:
            out = f.read().decode("utf-8", "replace")
        if out.strip():
            print("--- client output\n" + out[-4000:])


def run(server, proc, prog, heard):
    app = wait_for(app_root, 20)
    if not check(app is not None, "the client appears on the accessibility bus"):
        return

    # Connection dialog, filled by typing.
    dlg = wait_for(lambda: named(app, "Connexion", ("dialog",)))
    if not check(dlg is not None, "connection dialog 'Connexion' shown"):
        dump(app)
        return
    for text in ("Serveur: ", "Nom d'utilisateur: ", "Mot de passe: "):
        check(named(dlg, text, ("label",)) is not None, "connection dialog label %r" % text)
    for text in ("Connecter", "Mot de passe perdu ?", "Créer un compte"):
        check(named(dlg, text, ("push button",)) is not None, "connection dialog button %r" % text)
    check(find(dlg, lambda a: role(a) == "password text") is not None, "the password is hidden")
    focus_window("Connexion")
    login = wait_for(lambda: find(dlg, lambda a: role(a) == "text" and focused(a)), 5)
    check(login is not None and login.queryText().getText(0, -1) == "alice",
          "the login edit has the focus and the remembered login")
    keys("ctrl+a")
    xdo("type", "--delay", "40", "bob1")
    keys("Tab", "ctrl+a")
    xdo("type", "--delay", "40", "pass1")
    # The pointer off the client's windows: when the dialog goes, only the
    # client itself can make the main window active again.
    xdo("mousemove", "1000", "700")
    keys("Return")

    server.accept()
    server.send("challenge abc")
    line = server.expect("login ")
    check(line is not None and line.startswith("login bob1"), "login line carries the typed login: %r" % line)
    server.send("status 1")

    frame = wait_for(lambda: named(app, "Le Kordo [bob1]", ("frame",)))
    check(frame is not None, "window title 'Le Kordo [bob1]'")
    if frame is None:
        return

    # The accessible tree of the main window.
    history = named(frame, "Historique")
    check(history is not None and role(history) == "text", "history: read-only text named Historique")
    if history is not None:
        check(not history.getState().contains(pyatspi.STATE_EDITABLE), "history is not editable")
    lst = named(frame, "Menu")
    check(lst is not None and role(lst) == "list box", "menu: list box named Menu")
    label = named(frame, "Chat: ", ("label",))
    chat = find(frame, lambda a: role(a) in ("text", "entry") and a.name != "Historique"
                and any(r.getRelationType() == pyatspi.RELATION_LABELLED_BY for r in a.getRelationSet()))
    check(label is not None and chat is not None, "chat line labelled by the label 'Chat: '")
    if chat is not None:
        targets = [r.getTarget(0).name for r in chat.getRelationSet()
                   if r.getRelationType() == pyatspi.RELATION_LABELLED_BY]
        check(targets == ["Chat: "], "chat's labelled-by relation names 'Chat: ': %r" % targets)
    if lst is None or chat is None or history is None:
        return

    events = Events()
    server.send("say Bienvenue sur le serveur de test")
    server.send("menu 5|1|3|0|0|x|Jouer|play|null|null|Options|opts|null|null|Quitter|bye|null|null")
    check(wait_for(lambda: rows(lst) == ["Jouer", "Options", "Quitter"]), "menu rows named: %r" % rows(lst))
    check(wait_for(lambda: focused(lst.getChildAtIndex(0))), "the focus is on the selected row 'Jouer'")
    check(wait_for(lambda: "Bienvenue" in history.queryText().getText(0, -1)), "say line shown in the history")
    check(wait_for(lambda: "Bienvenue sur le serveur de test" in spoken(heard)),
          "say line after login spoken: the main window is active again once the connection dialog is gone")
    focus_window("Le Kordo \\[bob1\\]")

    # Arrow keys: the events a screen reader speaks.
    events.clear()
    keys("Down")
    check(events.wait("focus", "Options"), "Down: focus event on 'Options' (%r)" % events.seen)
    check(events.wait("active", "Options"), "Down: the list's active descendant becomes 'Options'")
    events.clear()
    keys("Up")
    check(events.wait("focus", "Jouer"), "Up: focus event on 'Jouer'")
    keys("Down")
    keys("Return")
    check(server.expect("select ") == "select 5|1|opts", "Enter sends 'select 5|1|opts'")

    # Type-ahead (flag 2) and a changed item.
    server.send("menu 6|1|3|0|2|x|Alpha|a|null|null|Bravo|b|null|null|Charlie|c|null|null")
    check(wait_for(lambda: rows(lst) == ["Alpha", "Bravo", "Charlie"]), "second menu shown")
    events.clear()
    keys("c")
    check(events.wait("focus", "Charlie"), "type-ahead 'c' moves to 'Charlie' with a focus event")
    server.send("uitem 1|Bis|b2|null|null")
    check(wait_for(lambda: rows(lst) == ["Alpha", "Bis", "Charlie"]), "uitem renames row 1: %r" % rows(lst))
    check(wait_for(lambda: focused(lst.getChildAtIndex(1))), "the changed item is selected and focused")

    # The screenshot: menu and history shown.
    pump(0.5)
    root = Gdk.get_default_root_window()
    shot = Gdk.pixbuf_get_from_window(root, 0, 0, root.get_width(), root.get_height())
    check(shot is not None and shot.savev(SCREENSHOT, "png", [], []), "screenshot saved to " + SCREENSHOT)

    # Tab order: list -> chat -> history -> list; Shift+Tab goes back.
    tab_order = []
    for key in ("Tab", "Tab", "Tab", "shift+Tab"):
        if key == "shift+Tab":
            # Shift held over the whole Tab press, as a player does; xdotool's
            # own combination lets Shift go before the Tab key-up.
            xdo("keydown", "shift", "key", "Tab", "keyup", "shift")
            pump(0.3)
        else:
            keys(key)
        pump(0.2)
        if focused(chat):
            tab_order.append("chat")
        elif focused(history):
            tab_order.append("history")
        elif any(focused(lst.getChildAtIndex(i)) for i in range(lst.childCount)) or focused(lst):
            tab_order.append("list")
        else:
            tab_order.append("?")
    check(tab_order == ["chat", "history", "list", "history"], "Tab order: %r" % tab_order)
    # With a screen reader the client itself names only the history.
    check(wait_for(lambda: spoken(heard).count("Historique") == 2, 5),
          "Tab into the history says 'Historique' (heard: %r)" % spoken(heard)[-200:])

    # Focus commands.
    for key, want in (("alt+c", chat), ("alt+h", history), ("alt+l", lst.getChildAtIndex(1))):
        keys(key)
        check(wait_for(lambda: focused(want), 3), "%s moves the focus to %s" % (key, want.name or role(want)))

    # Input box answered by typing.
    server.send("input 7|Nom|Votre nom ?|Paul")
    box = wait_for(lambda: named(app, "Nom", ("dialog",)))
    check(box is not None, "input box 'Nom' shown")
    if box is not None:
        check(named(box, "OK", ("push button",)) is not None and named(box, "Annuler", ("push button",)) is not None,
              "input box buttons OK and Annuler")
        focus_window("Nom")
        keys("ctrl+a")
        xdo("type", "--delay", "40", "Zoe")
        keys("Return")
        check(server.expect("input ") == "input 7|Zoe", "the input box answer is sent")

    # Message box answered Yes.
    server.send("msgbox 3|Titre|Texte|36")
    box = wait_for(lambda: named(app, "Titre", ("alert", "dialog")))
    if not check(box is not None, "message box 'Titre' shown"):
        dump(app)
    if box is not None:
        check(named(box, "Oui", ("push button",)) is not None and named(box, "Non", ("push button",)) is not None,
              "Yes/No box has Oui and Non")
        focus_window("Titre")
        keys("Return")
        check(server.expect("msgboxresp ") == "msgboxresp 3|6", "Yes answers 'msgboxresp 3|6'")

    # Closing the window says quit and saves the configuration.
    status = close_window(X11_CLOSE, "Le Kordo \\[bob1\\]", proc)
    check(server.expect("quit") == "quit", "closing the window sends 'quit'")
    check(status == 0, "the client ends with status 0 (%r)" % status)
    with open(os.path.join(prog, "config-debug.ini"), "rb") as f:
        conf = f.read().decode("cp1252")
    check(",bob1,pass1" in conf, "the configuration is saved with the typed credentials")


if __name__ == "__main__":
    main()
    sys.exit(report())
