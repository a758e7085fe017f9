#!/usr/bin/python3
# The keyboard of the desktop client after Alt+Tab, under a real window
# manager (openbox) on the test display.  Alt goes down in the client; the
# window manager takes the Tab and Alt's release, and the client never sees
# Alt come up.  Back in the client (by Alt+Tab, then by a click), Down and
# Enter must choose in the menu, a letter must be a letter (not Alt+C), and
# the chat line must send what is typed.
# Run under with_desktop.sh.
#
# Usage: alt_tab_test.py KORDO OPENBOX
import os
import shutil
import subprocess
import sys

import pyatspi

from desktop import (TMP, Server, app_root, check, extents, focused, keys, named, other_window, pump,  # noqa: E402
                     report, rows, wait_for, window_id, xdo)

KORDO, OPENBOX = sys.argv[1:3]
MAIN = "Le Kordo \\[alice\\]"


def start_window_manager():
    """Openbox with its default bindings (Alt+Tab: next window); returns the
    process once it manages the display, or None."""
    ready = os.path.join(TMP, "openbox-ready")
    wm = subprocess.Popen([OPENBOX, "--sm-disable", "--startup", "touch " + ready],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if wait_for(lambda: os.path.exists(ready), 15):
        return wm
    wm.kill()
    wm.wait(5)
    return None


def activate(title):
    """Gives window `title` the focus through the window manager."""
    wid = window_id(title)
    if wid:
        xdo("windowactivate", "--sync", wid)
        pump(0.3)
    return wid


def active_title():
    out = subprocess.run(["xdotool", "getactivewindow", "getwindowname"], capture_output=True, text=True,
                         timeout=10).stdout
    return out.strip()


def alt_tab():
    """Alt held over one Tab, as a player switches windows: the window
    manager grabs the keyboard at the Tab and keeps Alt's release."""
    xdo("keydown", "--delay", "80", "alt", "key", "--delay", "80", "Tab", "keyup", "alt")
    pump(0.5)


def main():
    wm = start_window_manager()
    if not check(wm is not None, "openbox manages the test display"):
        return
    server = Server()
    prog = os.path.join(TMP, "prog")
    os.makedirs(prog)
    exe = os.path.join(prog, "kordo")
    shutil.copy(KORDO, exe)
    with open(os.path.join(prog, "config-debug.ini"), "wb") as f:
        f.write(("language=fr\r\nmusic.on=0\r\n"
                 "server=Local,127.0.0.1,%d,(null),(null),(null),(null),(null),alice,secret1\r\n"
                 % server.port).encode())
    proc = subprocess.Popen([exe], cwd="/", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    other = None
    try:
        app = wait_for(app_root, 20)
        if not check(app is not None and wait_for(lambda: named(app, "Connexion", ("dialog",))) is not None,
                     "the connection dialog"):
            return
        activate("Connexion")
        keys("Return")  # the remembered login
        server.accept()
        check(server.login() is not None, "the client logs in")
        frame = wait_for(lambda: named(app, "Le Kordo [alice]", ("frame",)))
        if not check(frame is not None, "the main window"):
            return
        lst = named(frame, "Menu")
        other = other_window("Autre programme")
        activate(MAIN)
        check(wait_for(lambda: active_title() == "Le Kordo [alice]", 5), "the main window is active")
        server.send("menu 5|1|3|0|0|x|Jouer|play|null|null|Options|opts|null|null|Quitter|bye|null|null")
        check(wait_for(lambda: rows(lst) == ["Jouer", "Options", "Quitter"]), "the menu is shown")
        check(wait_for(lambda: focused(lst.getChildAtIndex(0))), "the focus is on 'Jouer'")

        # Away and back by Alt+Tab.
        alt_tab()
        check(wait_for(lambda: active_title() == "Autre programme", 5),
              "Alt+Tab makes the other window active (%r)" % active_title())
        alt_tab()
        check(wait_for(lambda: active_title() == "Le Kordo [alice]", 5),
              "Alt+Tab again makes the client active (%r)" % active_title())
        keys("Down")
        check(wait_for(lambda: focused(lst.getChildAtIndex(1)), 3), "back by Alt+Tab: Down moves to 'Options'")
        keys("Return")
        sent = server.until_pong()
        check(sent == ["select 5|1|opts"], "back by Alt+Tab: Enter chooses 'Options' (sent %r)" % sent)

        # Away by Alt+Tab, back by a click in the list.
        server.send("menu 6|1|2|0|0|x|Un|u|null|null|Deux|d|null|null")
        check(wait_for(lambda: rows(lst) == ["Un", "Deux"]), "a second menu")
        alt_tab()
        check(wait_for(lambda: active_title() == "Autre programme", 5), "Alt+Tab away again")
        row = lst.getChildAtIndex(0)
        x, y, w, h = extents(row, pyatspi.DESKTOP_COORDS)
        xdo("mousemove", str(x + w // 2), str(y + h // 2), "click", "1")
        check(wait_for(lambda: active_title() == "Le Kordo [alice]", 5), "a click makes the client active")
        sent = server.until_pong()
        check(sent == ["select 6|0|u"], "the click chooses 'Un' (sent %r)" % sent)
        # The menu is gone with the choice; C is a letter, not Alt+C (which
        # would move the focus to the chat line and report nothing).
        keys("c")
        sent = server.until_pong()
        check(sent == ["key 67"], "back by a click: C is reported as a letter (sent %r)" % sent)
        # Tab from the list to the chat line, some text, Enter.
        keys("Tab")
        xdo("type", "--delay", "40", "salut")
        keys("Return")
        sent = server.until_pong()
        check(sent == ["input 60003|salut"], "the chat line sends what is typed (sent %r)" % sent)
    finally:
        if other is not None:
            other.destroy()
        if proc.poll() is None:
            proc.kill()
            proc.wait(5)
        wm.terminate()
        try:
            wm.wait(5)
        except subprocess.TimeoutExpired:
            wm.kill()
            wm.wait(5)


if __name__ == "__main__":
    main()
    sys.exit(report())
