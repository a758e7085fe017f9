#!/usr/bin/python3
"""The desktop client against the real practice server, played by keyboard.

  gtk_practice.py KORDO KORDO_HEADLESS KORDO_SERVER X11_CLOSE

Runs under tests/gtk/with_desktop.sh (display, session bus, accessibility
bus).  A private speech-dispatcher records what the client says; the
accessibility bus tells what a screen reader reads.  Two headless players
share the server with the desktop player.

The desktop player logs in by typing in the connection dialog, hears the
welcome, moves in the main menu, wins a game of tic-tac-toe in the grid by
arrow keys (the server's play is deterministic: win, else block, else the
centre, else a corner), declines the replay in the message box, answers the
name input box and the question box, chats with both headless players
(a whisper reaches only its addressee), and closes the window; its
configuration and session log are then on disk.  When the server could take
port 80 (the only port the client downloads from), the login's "checkfile"
must have fetched the sounds and the extension library, a second check must
fetch nothing, and the fetched extension must answer.
"""
import glob
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "gtk"))
sys.path.insert(0, HERE)
from desktop import (TMP, Events, app_root, check, dump, failures, find, focus_window, focused,  # noqa: E402
                     keys, named, pump, role, rows, spoken, start_speech, wait_for, xdo, close_window, report)
from e2e_practice import Player, start_server  # noqa: E402

KORDO, HEADLESS, SERVER, X11_CLOSE = sys.argv[1:5]
NAME, PASSWORD = "camille", "secret3"


def main():
    server, server_log, port, downloads = start_server(SERVER, TMP)
    prog = os.path.join(TMP, "prog")
    os.makedirs(prog)
    exe = os.path.join(prog, "kordo")
    shutil.copy(KORDO, exe)  # the program folder is the executable's folder
    with open(os.path.join(prog, "config-debug.ini"), "wb") as f:
        f.write(b"server=Practice,127.0.0.1,%d\r\n" % port)
    daemon, heard, address = start_speech()
    env = dict(os.environ, SPEECHD_ADDRESS=address)
    log = open(os.path.join(TMP, "kordo.log"), "wb")
    proc = subprocess.Popen([exe], cwd="/", stdout=log, stderr=subprocess.STDOUT, env=env)
    players = []
    try:
        run(proc, prog, heard, port, downloads, players)
    except AssertionError as e:  # from a headless player's expectation
        check(False, str(e))
    finally:
        for p in players:
            if p.proc.poll() is None:
                p.proc.kill()
        if proc.poll() is None:
            proc.kill()
            proc.wait(5)
        daemon.terminate()
        daemon.wait(10)
        server.terminate()
        server.wait(10)
        log.close()
        if failures:
            with open(os.path.join(TMP, "kordo.log"), "rb") as f:
                print("--- client output\n" + f.read().decode("utf-8", "replace")[-3000:])
            server_log.seek(0)
            print("--- server output\n" + server_log.read().decode("utf-8", "replace")[-3000:])
            print("--- heard\n" + spoken(heard)[-3000:])
            for p in players:
                p.events.drain()
                print("--- %s events" % p.name, *p.events.seen[-20:], sep="\n  ")


def login(app):
    dlg = wait_for(lambda: named(app, "Connexion", ("dialog",)), 20)
    if not check(dlg is not None, "connection dialog 'Connexion' shown"):
        dump(app)
        return False
    focus_window("Connexion")
    edit = wait_for(lambda: find(dlg, lambda a: role(a) == "text" and focused(a)), 5)
    check(edit is not None, "the login edit has the focus")
    keys("ctrl+a")
    xdo("type", "--delay", "40", NAME)
    keys("Tab", "ctrl+a")
    xdo("type", "--delay", "40", PASSWORD)
    keys("Return")
    return True


def say_heard(heard, text, what, timeout=10):
    return check(wait_for(lambda: text in spoken(heard), timeout) is not None, "%s: heard %r" % (what, text))


def play_grid(lst, events, heard):
    """Wins against the server: cells 1, 9, 7 then 4, each reached by arrows
    from where the cursor is.  Returns once the game is over."""
    grid = wait_for(lambda: len(rows(lst)) == 9 and rows(lst)[0] == "Case 1, vide" and rows(lst), 10)
    if not check(grid is not None, "the grid has nine empty cells: %r" % rows(lst)):
        return False
    say_heard(heard, "Morpion : vous jouez les croix", "the game's opening")
    check(wait_for(lambda: focused(lst.getChildAtIndex(4)), 5), "the cursor starts on the centre cell")
    # (arrows from the cursor, the cell they reach, the server's answer)
    moves = [(("Up", "Left"), "Case 1, vide", "Le serveur joue en case 5."),
             (("Down", "Down", "Right", "Right"), "Case 9, vide", "Le serveur joue en case 3."),
             (("Left", "Left"), "Case 7, vide", "Le serveur joue en case 8."),
             (("Up",), "Case 4, vide", None)]
    for arrows, cell, answer in moves:
        events.clear()
        for a in arrows:
            keys(a)
        check(events.wait("focus", cell), "%s reach %r (%r)" % ("+".join(arrows), cell, events.seen[-3:]))
        keys("Return")
        k = int(cell.split()[1].rstrip(",")) - 1
        mine = "Case %d, votre croix" % (k + 1)
        check(wait_for(lambda: rows(lst)[k] == mine, 5), "the played cell reads %r" % mine)
        if answer:
            say_heard(heard, answer, "the server's move")
            check(wait_for(lambda: focused(lst.getChildAtIndex(k)), 5), "the cursor is back on %r" % mine)
    board = rows(lst)
    check(sum("votre croix" in r for r in board) == 4 and sum("rond du serveur" in r for r in board) == 3,
          "the board holds four crosses and three rounds: %r" % board)
    return say_heard(heard, "Vous avez gagn\u00e9 !", "the win")


def answer_box(app, title, button):
    """Presses `button` of the message box `title` by keys: Tab to it, then Enter."""
    box = wait_for(lambda: named(app, title, ("alert", "dialog")), 10)
    if not check(box is not None, "message box %r shown" % title):
        return
    focus_window(title)
    target = named(box, button, ("push button",))
    for _ in range(4):
        if target is not None and focused(target):
            break
        keys("Tab")
    check(target is not None and focused(target), "the button %r has the focus" % button)
    keys("Return")


def run(proc, prog, heard, port, downloads, players):
    app = wait_for(app_root, 20)
    if not check(app is not None, "the client appears on the accessibility bus") or not login(app):
        return
    frame = wait_for(lambda: named(app, "Le Kordo [%s]" % NAME, ("frame",)), 15)
    if not check(frame is not None, "window title 'Le Kordo [%s]'" % NAME):
        return
    say_heard(heard, "Bienvenue sur Le Kordo, %s !" % NAME, "the welcome")
    lst = named(frame, "Menu")
    history = named(frame, "Historique")
    if not check(lst is not None and history is not None, "the list and the history are on the bus"):
        return
    check(wait_for(lambda: rows(lst)[:2] == ["Morpion contre le serveur", "Salon de discussion"]),
          "the main menu is shown: %r" % rows(lst)[:3])
    events = Events()
    focus_window("Le Kordo \\[%s\\]" % NAME)
    check(wait_for(lambda: focused(lst.getChildAtIndex(0)), 5), "the focus is on the first item")

    events.clear()
    keys("Down")
    check(events.wait("focus", "Salon de discussion"), "Down: focus on 'Salon de discussion'")
    keys("Up")
    check(events.wait("focus", "Morpion contre le serveur"), "Up: focus back on 'Morpion contre le serveur'")

    if downloads:
        # The login's check: every sound, both musics and the extension.
        sounds = os.path.join(prog, "sounds")
        check(wait_for(lambda: len(glob.glob(os.path.join(sounds, "*.ogg"))) >= 24, 30),
              "checkfile fetched the game's sounds: %d" % len(glob.glob(os.path.join(sounds, "*.ogg"))))
        check(wait_for(lambda: os.path.exists(os.path.join(prog, "kordoext.so")), 10),
              "checkfile fetched the extension library")
        files = glob.glob(os.path.join(sounds, "*.ogg")) + [os.path.join(prog, "kordoext.so")]
        before = {p: os.stat(p).st_mtime_ns for p in files}
        fetched = spoken(heard).count("chargement de")
        keys("ctrl+End", "Up", "Up")
        check(events.wait("focus", "V\u00e9rifier les fichiers du jeu"), "Ctrl+End, Up, Up: the check item")
        keys("Return")
        say_heard(heard, "V\u00e9rification des fichiers du jeu.", "the second check")
        # The server answers in order: the extension's reply comes after the
        # check's downloads, if any.
        keys("Up", "Up")
        check(events.wait("focus", "Extension du client"), "Up, Up: the extension item")
        keys("Return")
        say_heard(heard, "L'extension a r\u00e9pondu", "the fetched extension answers")
        after = {p: os.stat(p).st_mtime_ns for p in files}
        check(before == after and spoken(heard).count("chargement de") == fetched,
              "the second check fetched nothing")
    else:
        print("# port 80 not available to the server: downloads not checked")

    # A game of tic-tac-toe, won, and the replay declined.  Down first, so
    # that Ctrl+Home moves the focus wherever the steps above left it.
    events.clear()
    keys("Down")
    wait_for(lambda: any(e[0] == "focus" for e in events.seen))
    events.clear()
    keys("ctrl+Home")
    check(events.wait("focus", "Morpion contre le serveur"), "Ctrl+Home: the game's item")
    keys("Return")
    if play_grid(lst, events, heard):
        answer_box(app, "Morpion", "Non")
        say_heard(heard, "Retour au menu principal.", "declining the replay")
        check(wait_for(lambda: rows(lst)[:1] == ["Morpion contre le serveur"], 5),
              "the main menu is back: %r" % rows(lst)[:2])
    focus_window("Le Kordo \\[%s\\]" % NAME)

    # The name input box, then the question box answered Yes.
    events.clear()
    keys("ctrl+Home", *["Down"] * 5)
    check(events.wait("focus", "Votre nom"), "the name item")
    keys("Return")
    box = wait_for(lambda: named(app, "Votre nom", ("dialog",)), 10)
    if check(box is not None, "the input box 'Votre nom' shown"):
        focus_window("Votre nom")
        keys("ctrl+a")
        xdo("type", "--delay", "40", "Cami")
        keys("Return")
        say_heard(heard, "Enchant\u00e9, Cami !", "the name answered")
    focus_window("Le Kordo \\[%s\\]" % NAME)
    keys("Down")
    check(events.wait("focus", "Une question"), "the question item")
    keys("Return")
    answer_box(app, "Question", "Oui")
    say_heard(heard, "Tant mieux, une partie vous attend.", "the question answered Yes")
    focus_window("Le Kordo \\[%s\\]" % NAME)

    # Chat with two headless players.
    for name in ("alice1", "bobby2"):
        p = Player(HEADLESS, TMP, name, port)
        players.append(p)
        p.expect("dialog connection 0 Practice")
        p.do("answer 0|%s|pw%s" % (name, name))
        p.expect("speak 0 Bienvenue sur Le Kordo, %s !*" % name)
    alice, bob = players
    alice.do("type bonjour a tous")
    alice.do("keydown 13 chat")
    say_heard(heard, "alice1 : bonjour a tous", "a headless player's chat line")
    check(wait_for(lambda: "alice1 : bonjour a tous" in history.queryText().getText(0, -1), 5) is not None,
          "the chat line is in the history")
    bob.expect("history *alice1 : bonjour a tous")
    keys("alt+c")
    chat = wait_for(lambda: find(frame, lambda a: role(a) in ("text", "entry") and focused(a)
                                 and a.name != "Historique"), 5)
    check(chat is not None, "Alt+C: the chat line has the focus")
    for text in ("salut alice", "//@alice1 un secret", "//who"):
        xdo("type", "--delay", "30", text)
        keys("Return")
    alice.expect("history *Cami : salut alice")
    bob.expect("history *Cami : salut alice")
    alice.expect("history *Cami vous chuchote : un secret")
    say_heard(heard, "Chuchot\u00e9 \u00e0 alice1 : un secret", "the whisper acknowledged")
    say_heard(heard, "Connect\u00e9s : ", "the list of players")
    who = spoken(heard)[spoken(heard).rfind("Connect\u00e9s : "):].split("\n")[0]
    check(all(n in who for n in ("Cami", "alice1", "bobby2")), "every player is listed: %r" % who)
    # Bob's next line reaches everyone after the whisper: he has not heard it.
    bob.do("type a bientot")
    bob.do("keydown 13 chat")
    say_heard(heard, "bobby2 : a bientot", "the second headless player's line")
    alice.expect("history *bobby2 : a bientot")
    bob.expect("history *bobby2 : a bientot")
    check(not any("vous chuchote" in e for e in bob.events.seen), "the whisper did not reach the third player")
    for p in players:
        check(p.close() == 0, "%s closes with status 0" % p.name)

    # Closing the window: "quit", status 0, configuration and log on disk.
    check(close_window(X11_CLOSE, "Le Kordo \\[%s\\]" % NAME, proc) == 0, "the client ends with status 0")
    with open(os.path.join(prog, "config-debug.ini"), "rb") as f:
        conf = f.read().decode("cp1252")
    check(",%s,%s" % (NAME, PASSWORD) in conf, "the configuration is saved with the typed credentials")
    logs = glob.glob(os.path.join(prog, "session-*.log"))
    check(len(logs) == 1, "a session log is written: %r" % logs)
    if logs:
        with open(logs[0], "rb") as f:
            text = f.read().decode("cp1252")
        check("Vous avez gagn\u00e9 !" in text and "Cami : salut alice" in text,
              "the session log holds the game and the chat")
    pump(0)


if __name__ == "__main__":
    main()
    sys.exit(report())
