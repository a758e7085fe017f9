#!/usr/bin/python3
# A whole session of the desktop client, played by keyboard (and a few
# mouse clicks) through xdotool and checked through the accessibility bus
# (what Orca reads), against a scripted server on 127.0.0.1; before it, a
# start with no audio device, and after it a short self-voicing session.
# Run under with_desktop.sh.
#
# Usage: session_test.py KORDO X11_CLOSE SCREENSHOT.png
import os
import shutil
import subprocess
import sys

import gi

gi.require_version("Gdk", "3.0")
from gi.repository import Gdk  # noqa: E402
import pyatspi  # noqa: E402

from desktop import (TMP, Events, Server, ancestor, check, dump, extents, find, focus_window,  # noqa: E402
                     focused, install_link_recorder, keys, named, other_window, pump, role, rows, spoken,
                     start_speech, wait_for, window_id, xdo, app_root, close_window, report)

KORDO, X11_CLOSE, SCREENSHOT = sys.argv[1:4]


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
    # Entries select nothing when they get the focus (a setting players
    # may have): what Alt+C selects is then the client's own doing.
    os.makedirs(os.path.join(os.environ["XDG_CONFIG_HOME"], "gtk-3.0"), exist_ok=True)
    with open(os.path.join(os.environ["XDG_CONFIG_HOME"], "gtk-3.0", "settings.ini"), "w") as f:
        f.write("[Settings]\ngtk-entry-select-on-focus=false\n")
    links = install_link_recorder()
    fatal_audio(exe, prog)
    daemon, heard, address = start_speech()
    env = dict(os.environ, SPEECHD_ADDRESS=address)
    log = open(os.path.join(TMP, "kordo.log"), "wb")
    proc = subprocess.Popen([exe], cwd="/", stdout=log, stderr=subprocess.STDOUT, env=env)
    try:
        run(server, proc, prog, heard, links)
        if proc.poll() is not None:
            self_voicing(exe, prog, heard, address)
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


def fatal_audio(exe, prog):
    """A start with no audio device: the "Fatal error" box, then status 2,
    and the configuration is not written."""
    conf = os.path.join(prog, "config-debug.ini")
    with open(conf, "rb") as f:
        before = f.read()
    env = dict(os.environ, SDL_AUDIODRIVER="kordo-no-such-driver")
    proc = subprocess.Popen([exe], cwd="/", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    try:
        app = wait_for(app_root, 20)
        box = app and wait_for(lambda: named(app, "Fatal error", ("alert", "dialog")))
        if check(box is not None, "no audio device: the 'Fatal error' box"):
            check(named(box, "Unable to open audio device", ("label",)) is not None,
                  "the box says 'Unable to open audio device'")
            focus_window("Fatal error")
            keys("Return")
        try:
            status = proc.wait(10)
        except subprocess.TimeoutExpired:
            status = None
        check(status == 2, "no audio device: status 2 (%r)" % status)
        with open(conf, "rb") as f:
            check(f.read() == before, "no audio device: the configuration is not written")
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait(5)
    wait_for(lambda: app_root() is None, 5)


def self_voicing(exe, prog, heard, address):
    """No screen reader: once the player turns the client's voice on
    (Ctrl+F6), Tab says where the focus goes, the list's item included."""
    subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
                    "org.freedesktop.DBus.Properties.Set", "string:org.a11y.Status",
                    "string:ScreenReaderEnabled", "variant:boolean:false"],
                   stdout=subprocess.DEVNULL, timeout=10)
    server = Server()
    with open(os.path.join(prog, "config-debug.ini"), "wb") as f:
        f.write(("language=fr\r\nserver=Local,127.0.0.1,%d,(null),(null),(null),(null),(null),alice,secret1\r\n"
                 % server.port).encode())
    proc = subprocess.Popen([exe], cwd="/", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            env=dict(os.environ, SPEECHD_ADDRESS=address))
    try:
        app = wait_for(app_root, 20)
        if not check(app is not None and wait_for(lambda: named(app, "Connexion", ("dialog",))) is not None,
                     "self-voicing: the connection dialog"):
            return
        focus_window("Connexion")
        keys("Return")  # the remembered login
        server.accept()
        server.login()
        title = "Le Kordo [alice]"
        frame = wait_for(lambda: named(app, title, ("frame",)))
        if not check(frame is not None, "self-voicing: the main window"):
            return
        lst = named(frame, "Menu")
        server.send("menu 1|1|2|1|0|x|Premier|p|null|null|Second|s|null|null")
        check(wait_for(lambda: rows(lst) == ["Premier", "Second"]), "self-voicing: the menu is shown")
        focus_window("Le Kordo \\[alice\\]")
        mark = len(spoken(heard))
        keys("ctrl+F6")
        check(wait_for(lambda: "Voix SAPI activ\u00e9e" in spoken(heard)[mark:], 5), "Ctrl+F6 turns the voice on")
        for want in ("Chat", "Historique", "Second"):
            mark = len(spoken(heard))
            keys("Tab")
            check(wait_for(lambda: want in spoken(heard)[mark:], 5),
                  "self-voicing: Tab says %r (heard %r)" % (want, spoken(heard)[mark:]))
        check(close_window(X11_CLOSE, "Le Kordo \\[alice\\]", proc) == 0,
              "self-voicing: the client ends with status 0")
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait(5)


def selected_row(lst):
    for i in range(lst.childCount):
        row = lst.getChildAtIndex(i)
        if row.getState().contains(pyatspi.STATE_SELECTED):
            return row
    return None


def run(server, proc, prog, heard, links):
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
    line = server.login()
    check(line is not None and line.startswith("login bob1"), "login line carries the typed login: %r" % line)

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
    check("Chat" not in spoken(heard), "with a screen reader, Tab into the chat line says nothing itself")

    # Focus commands.
    for key, want in (("alt+c", chat), ("alt+h", history), ("alt+l", lst.getChildAtIndex(1))):
        keys(key)
        check(wait_for(lambda: focused(want), 3), "%s moves the focus to %s" % (key, want.name or role(want)))

    steps_in_the_main_window(server, app, frame, history, lst, label, chat, heard, links)

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
    # Yes/No/Cancel with the second button the default: Enter answers No;
    # then Escape answers an OK/Cancel box with Cancel.
    for line, title, key, answer in (("msgbox 4|Choix|Continuer ?|291", "Choix", "Return", "msgboxresp 4|7"),
                                     ("msgbox 5|Annulable|Texte|1", "Annulable", "Escape", "msgboxresp 5|2")):
        server.send(line)
        if check(wait_for(lambda: named(app, title, ("alert", "dialog"))) is not None, "message box %r" % title):
            focus_window(title)
            keys(key)
            check(server.expect("msgboxresp ") == answer, "%s in box %r answers %r" % (key, title, answer))

    # Closing the window says quit and saves the configuration.
    status = close_window(X11_CLOSE, "Le Kordo \\[bob1\\]", proc)
    check(server.expect("quit") == "quit", "closing the window sends 'quit'")
    check(status == 0, "the client ends with status 0 (%r)" % status)
    with open(os.path.join(prog, "config-debug.ini"), "rb") as f:
        conf = f.read().decode("cp1252")
    check(",bob1,pass1" in conf, "the configuration is saved with the typed credentials")


def steps_in_the_main_window(server, app, frame, history, lst, label, chat, heard, links):
    main_title = "Le Kordo \\[bob1\\]"
    check(server.until_pong() is not None, "the client answers ping")

    # A menu that chooses on every change the list itself reports (flag 4):
    # the client's own selections (the menu, a changed item, arrows) choose
    # nothing; the player's type-ahead chooses at once.
    server.send("menu 8|1|3|0|6|x|Alpha|a|null|null|Bravo|b|null|null|Charlie|c|null|null")
    check(wait_for(lambda: rows(lst) == ["Alpha", "Bravo", "Charlie"]), "flag-4 menu shown: %r" % rows(lst))
    server.send("uitem 1|Bis|b2|null|null")
    check(wait_for(lambda: rows(lst) == ["Alpha", "Bis", "Charlie"]), "flag-4 menu: item changed")
    keys("Down")
    check(wait_for(lambda: focused(lst.getChildAtIndex(2))), "flag-4 menu: Down reaches 'Charlie'")
    sent = server.until_pong()
    check(sent == [], "flag-4 menu: the client's selections choose nothing (sent %r)" % sent)
    keys("a")
    sent = server.until_pong()
    check(sent == ["select 8|0|a"], "flag-4 menu: type-ahead 'a' chooses 'Alpha' once (sent %r)" % sent)

    # Mouse clicks on rows (a menu that stays open, keys in context): a left
    # click chooses the row, a right click reports the Applications key.
    server.send("menu 9|1|3|0|9|x|Un|u1|null|null|Deux|d2|null|null|Trois|t3|null|null")
    check(wait_for(lambda: rows(lst) == ["Un", "Deux", "Trois"]), "flag-9 menu shown: %r" % rows(lst))
    for index, button, want in ((2, "1", ["select 9|2|t3"]), (1, "3", ["kem 93|9|1|d2"])):
        row = lst.getChildAtIndex(index)
        # New rows are placed when the list is next laid out.
        wait_for(lambda: row.getState().contains(pyatspi.STATE_SHOWING) and extents(row)[2] > 0, 3)
        pump(0.2)
        x, y, w, h = extents(row, pyatspi.DESKTOP_COORDS)
        xdo("mousemove", str(x + w // 2), str(y + h // 2), "click", button)
        pump(0.3)
        sent = server.until_pong()
        check(sent == want, "button %s on row %d sends %r (sent %r)" % (button, index, want, sent))
        check(wait_for(lambda: focused(lst.getChildAtIndex(index)), 3), "the clicked row %d has the focus" % index)

    # The chat line holds 3999 characters; Alt+C selects all of them.
    keys("alt+c")
    text = "".join(str(i % 10) for i in range(4100))
    chat.queryEditableText().setTextContents(text)
    check(wait_for(lambda: chat.queryText().characterCount == 3999, 3),
          "the chat line keeps 3999 of 4100 characters (%d)" % chat.queryText().characterCount)
    keys("alt+h", "alt+c")
    check(wait_for(lambda: focused(chat) and chat.queryText().getSelection(0)[:2] == (0, 3999), 3),
          "Alt+C selects the whole chat line (focused %r, selection %r)"
          % (focused(chat), chat.queryText().getSelection(0)[:2]))
    keys("Return")
    check(server.expect("input 60003|") == "input 60003|" + text[:3999], "Enter sends the 3999 characters")

    # A resize puts the focus back on the list, and the controls follow the
    # shared layout of the new client area.
    keys("alt+h")
    check(wait_for(lambda: focused(history), 3), "Alt+H: the history has the focus")
    xdo("windowsize", window_id(main_title), "801", "600")
    check(wait_for(lambda: focused(selected_row(lst)), 5), "after a resize the focus is on the list's row")
    panes = {"history": ancestor(history, "scroll pane"), "list": ancestor(lst, "scroll pane"),
             "label": label, "chat": chat}
    want = {"history": (10, 10, 390, 540), "list": (410, 10, 390, 540), "label": (10, 555, 50, 40),
            "chat": (60, 555, 731, 40)}

    def geometry():
        got = {k: extents(a) for k, a in panes.items()}
        # A GTK label is never narrower than its text ("Chat: " may need a
        # few pixels more than 50); it is placed as the others are.
        x, y, w, h = got["label"]
        got["label"] = (x, y, 50 if w >= 50 else w, h)
        return got
    check(wait_for(lambda: geometry() == want, 5), "the layout of an 801x600 client area: %r" % geometry())

    # Another program active: a plain "say" line is shown but not spoken, a
    # "sayurg" line is spoken.  The main window getting the focus back puts
    # it on the list, wherever it was.
    keys("alt+c")
    other = other_window("Autre programme")
    try:
        focus_window("Autre programme")
        check(wait_for(lambda: not frame.getState().contains(pyatspi.STATE_ACTIVE), 5),
              "the main window is inactive")
        server.send("say Muet, fen\u00eatre inactive")
        server.send("sayurg Urgent, fen\u00eatre inactive")
        check(wait_for(lambda: "Urgent, fen\u00eatre inactive" in spoken(heard)), "sayurg spoken while inactive")
        check(wait_for(lambda: "Muet, fen\u00eatre inactive" in history.queryText().getText(0, -1)),
              "say shown while inactive")
        pump(0.3)
        check("Muet" not in spoken(heard), "say not spoken while inactive")
        focus_window(main_title)
        check(wait_for(lambda: focused(selected_row(lst)), 5),
              "focus back on the list when the window is active again")
    finally:
        other.destroy()
        pump(0.2)

    # A flood of say lines sent at once reaches the history in runs of many
    # lines: every line is shown, in order; with the focus elsewhere the
    # caret follows the text to its end, and a player reading the history
    # keeps the place.
    for reading, focus in ((False, "alt+l"), (True, "alt+h")):
        keys(focus)
        if reading:
            keys("ctrl+Home")
            check(wait_for(lambda: focused(history) and history.queryText().caretOffset == 0, 3),
                  "flood: the reader's caret at the start of the history")
        before = history.queryText().characterCount
        lines = ["Flot %d ligne %s" % (i, "lue" if reading else "vue") for i in range(500)]
        server.conn.sendall("".join("say %s\n" % line for line in lines).encode())
        check(server.until_pong() is not None, "flood: the client answers ping after it")
        text = history.queryText()
        got = text.getText(before, -1)
        check(got == "".join("\r\n" + line for line in lines),
              "flood (reading %s): every line in the history, in order (%d characters, ends %r)"
              % (reading, len(got), got[-40:]))
        want = 0 if reading else text.characterCount
        check(wait_for(lambda: history.queryText().caretOffset == want, 3),
              "flood (reading %s): the caret at %d (%d)" % (reading, want, history.queryText().caretOffset))
    keys("alt+l")

    # Links: Enter in the history opens the http:// word under the caret
    # with the desktop's handler; any other word, https:// included, is a
    # key for the server.
    server.send("say voir http://exemple.test/a")
    server.send("say securise https://secure.test/b")
    check(wait_for(lambda: "secure.test/b" in history.queryText().getText(0, -1)), "two addresses in the history")
    server.until_pong()
    keys("alt+h", "Left", "Left", "Return")
    sent = server.until_pong()
    check(sent == ["kem 13|9|1|d2"],
          "Enter on an https:// word is reported, in the menu's context (sent %r)" % sent)
    keys("Up", "End", "Left", "Return")

    def opened():
        with open(links) as f:
            return f.read()
    check(wait_for(lambda: opened() == "http://exemple.test/a\n", 10),
          "Enter on the http:// word opens it with the default handler")
    sent = server.until_pong()
    check(sent == [], "a link opened is not reported (sent %r)" % sent)

    # The save dialog (F12): the history's text in CP1252 with CR LF, and
    # saving over the file asks first.
    path = os.path.join(TMP, "historique.txt")
    for attempt in (1, 2):
        keys("F12")
        dlg = wait_for(lambda: named(app, "Enregistrer sous"))
        if not check(dlg is not None, "F12 shows 'Enregistrer sous' (%d)" % attempt):
            dump(app)
            return
        check(named(dlg, "Fichier texte") is not None, "the dialog offers the filter 'Fichier texte'")
        focus_window("Enregistrer sous")
        xdo("type", "--delay", "20", path)
        # Enter once the name is in (the chooser completes names as they
        # are typed, and reads the folders they name).
        check(wait_for(lambda: find(dlg, lambda a: role(a) == "text" and focused(a)
                                    and a.queryText().getText(0, -1) == path), 5) is not None,
              "the file name typed in")
        pump(0.3)
        keys("Return")
        if attempt == 2:
            confirm = wait_for(lambda: find(app, lambda a: role(a) == "alert"), 5)
            check(confirm is not None and find(confirm, lambda a: "historique.txt" in a.name) is not None,
                  "saving over the file asks first")
            keys("Return")
        want = history.queryText().getText(0, -1).encode("cp1252")

        def saved():
            try:
                with open(path, "rb") as f:
                    return f.read()
            except OSError:
                return None
        check(wait_for(lambda: saved() == want, 5), "the file holds the history's text (%d)" % attempt)
        if attempt == 1:
            data = saved() or b""
            check(data.startswith(b"\r\nBienvenue sur le serveur de test\r\n") and b"fen\xeatre" in data,
                  "CR LF before each message, CP1252 bytes: %r" % data[:60])
            server.send("say Seconde sauvegarde")
            check(wait_for(lambda: "Seconde sauvegarde" in history.queryText().getText(0, -1)), "one more line")
    focus_window(main_title)


if __name__ == "__main__":
    main()
    sys.exit(report())
