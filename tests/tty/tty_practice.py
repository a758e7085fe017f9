#!/usr/bin/env python3
"""kordo-tty in tmux against the practice server, played by keys as a
player would, on a 40-column terminal; the screen is read back and checked
for what a screen reader must read, in order.  Then the terminal's settings
come back after a normal end, SIGTERM and a crash.

  tty_practice.py KORDO_TTY KORDO_SERVER

The server runs on free ports of 127.0.0.1 and never takes port 80: the
player's folder gets the server's download area beforehand."""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "support"))
sys.path.insert(0, here)
from scripted_server import free_port, wait_listening  # noqa: E402
from tmux_term import Tmux, in_order  # noqa: E402

COLUMNS = 40


def player_folder(root, server_bin, port):
    folder = os.path.join(root, "player")
    area = os.path.join(os.path.dirname(os.path.abspath(server_bin)), "autodl")
    shutil.copytree(os.path.join(area, "sounds"), os.path.join(folder, "sounds"))
    shutil.copy2(os.path.join(area, "kordoext.so"), folder)
    with open(os.path.join(folder, "config-debug.ini"), "wb") as f:
        f.write(b"server=Practice,127.0.0.1,%d\r\n" % port)
    return folder


def client_command(tty, folder, root, tag):
    """kordo-tty, then its exit status and the terminal's settings as the
    shell finds them, written where the test reads them."""
    out = os.path.join(root, tag + ".after")
    return ("%s --dir %s; echo \"EXIT=$?\" > %s; stty -a | tr ' ;' '\\n\\n' | "
            "grep -x -e -icanon -e icanon -e -echo -e echo -e -isig -e isig >> %s; echo DONE; sleep 60"
            % (tty, folder, out, out)), out


def read_after(path, timeout=20.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if os.path.exists(path):
            text = open(path).read().split()
            if len(text) >= 4:
                return text
        time.sleep(0.1)
    raise AssertionError("kordo-tty did not end (%s)" % path)


def check_restored(after, what):
    if after[1:] != ["icanon", "isig", "echo"] and sorted(after[1:]) != sorted(["icanon", "isig", "echo"]):
        raise AssertionError("%s: the terminal was left as %s" % (what, after[1:]))


def login(term):
    term.wait_last("Nom d'utilisateur:")
    term.type("alice1")
    term.keys("Tab")
    term.type("secret1")
    term.keys("Enter")


def play(term):
    login(term)
    term.wait_row("Morpion contre le serveur")
    term.keys("Down")
    term.wait_last("Salon de discussion")
    term.keys("Up")
    term.wait_last("Morpion contre le serveur")
    term.keys("Up")  # past the top: the item again, with the bounds sound
    term.wait_for(lambda r: r[-2:] == ["Morpion contre le serveur"] * 2, "the refused move's item")
    term.keys("Enter")
    term.wait_row("Menu, 9 \u00e9l\u00e9ments")
    term.keys("C-Home")
    term.wait_last("Case 1, vide")
    term.keys("Enter")
    term.wait_for(lambda r: any(x.startswith("Le serveur joue en case") for x in r), "the server's move")
    term.keys("Escape")
    term.wait_for(lambda r: r[-2:] == ["Menu, 12 \u00e9l\u00e9ments", "Morpion contre le serveur"],
                  "the main menu again")
    # A message box: its buttons named, answered by a key.
    term.keys(*["Down"] * 6)
    term.wait_last("Une question")
    term.keys("Enter")
    term.wait_last("R\u00e9ponse :")
    term.type("o")
    term.wait_row("Tant mieux, une partie vous attend.")
    # An input box: a prompt line with its default, edited in place.
    term.keys("Up")
    term.wait_last("Votre nom")
    term.keys("Enter")
    term.wait_for(lambda r: r[-1].startswith("> "), "the input prompt")
    term.keys("End")
    term.type("-tty")
    term.keys("Enter")
    term.wait_for(lambda r: any(x.startswith("Enchant\u00e9, ") for x in r), "the new name")
    # The chat line.
    term.keys("Tab")
    term.wait_last("Chat:")
    term.type("bonjour \u00e0 tous")
    term.wait_last("Chat: bonjour \u00e0 tous")
    term.keys("Enter")
    term.wait_for(lambda r: r[-2].endswith(" : bonjour \u00e0 tous") and r[-1] == "Chat:", "the chat line")
    rows_at_40 = term.rows()
    # Wider: lines wrap at the new width.
    term.resize(70, 30)
    time.sleep(0.5)
    long_text = "un message assez long pour depasser quarante colonnes"
    term.type(long_text)
    term.keys("Enter")
    term.wait_for(lambda r: any(x.endswith(" : " + long_text) for x in r), "a line wrapped at 70 columns")
    return rows_at_40


def main():
    tty, server_bin = sys.argv[1], sys.argv[2]
    root = tempfile.mkdtemp(prefix="kordo-tty-")
    port, http_port = free_port(), free_port()
    log = open(os.path.join(root, "server.log"), "w+b")
    server = subprocess.Popen([server_bin, "--port", str(port), "--http-port", str(http_port), "--no-port-80",
                               "--accounts", os.path.join(root, "accounts.txt")],
                              stdout=log, stderr=subprocess.STDOUT)
    env = {"SDL_AUDIODRIVER": "dummy", "TERM": "xterm-256color", "LANG": "C.UTF-8",
           "HOME": root, "XDG_RUNTIME_DIR": root}
    terms = []
    try:
        if not wait_listening(port, server):
            raise AssertionError("the server did not start")
        folder = player_folder(root, server_bin, port)

        command, after_file = client_command(tty, folder, root, "play")
        term = Tmux("play", command, COLUMNS, 50, env)
        terms.append(term)
        rows = play(term)
        wrong = [r for r in rows if len(r) > COLUMNS]
        if wrong:
            raise AssertionError("rows wider than the terminal: %r" % wrong)
        missing = in_order(rows, [
            "Connexion",
            "Le Kordo [alice1]",
            "Bienvenue sur Le Kordo, alice1 ! Fl\u00e8ches",
            "Menu, 12 \u00e9l\u00e9ments",
            "Morpion contre le serveur",
            "Salon de discussion",
            "Morpion contre le serveur",
            "Menu, 9 \u00e9l\u00e9ments",
            "Case 5, vide",
            "Morpion : vous jouez les croix.",
            "Case 1, vide",
            "Case 1, votre croix",
            lambda r: r.startswith("Le serveur joue en case "),
            "Menu, 12 \u00e9l\u00e9ments",
            "Une question",
            "Question",
            "Aimez-vous le morpion ?",
            "Oui (O), Non (N). Entr\u00e9e : Oui.",
            "Oui",
            "Tant mieux, une partie vous attend.",
            "Votre nom",
            lambda r: r.startswith("> ") and r.endswith("-tty"),
            lambda r: r.startswith("Enchant\u00e9, ") and r.endswith("-tty !"),
            lambda r: r.endswith(" : bonjour \u00e0 tous"),
            "Chat:",
        ])
        if missing:
            raise AssertionError("not on the screen in order: %r\n%s" % (missing, "\n".join(rows)))
        # A long message wraps at a blank: every word is there, none cut.
        welcome = " ".join(rows[rows.index("Bienvenue sur Le Kordo, alice1 ! Fl\u00e8ches"):][:3])
        if "Fl\u00e8ches pour choisir, Entr\u00e9e pour valider." not in welcome:
            raise AssertionError("the welcome was cut: %r" % welcome)
        term.keys("M-q")
        after = read_after(after_file)
        if after[0] != "EXIT=0":
            raise AssertionError("kordo-tty ended with %s" % after[0])
        check_restored(after, "after Alt+Q")

        # Signals: SIGTERM ends the client in order, a crash ends it; the
        # terminal is restored either way.
        for sig, tag in ((signal.SIGTERM, "term"), (signal.SIGSEGV, "segv")):
            command, after_file = client_command(tty, folder, root, tag)
            t = Tmux(tag, command, COLUMNS, 20, env)
            terms.append(t)
            t.wait_for(lambda r: r and r[-1].startswith("Nom d'utilisateur:"), "the connection dialog")
            pids = subprocess.run(["pgrep", "-P", str(t.shell_pid())], stdout=subprocess.PIPE).stdout.split()
            if len(pids) != 1:
                raise AssertionError("kordo-tty's process not found: %r" % pids)
            os.kill(int(pids[0]), sig)
            after = read_after(after_file)
            if sig == signal.SIGTERM and after[0] != "EXIT=0":
                raise AssertionError("SIGTERM: kordo-tty ended with %s" % after[0])
            if sig == signal.SIGSEGV and after[0] == "EXIT=0":
                raise AssertionError("a crash ended with status 0")
            check_restored(after, signal.Signals(sig).name)
    except AssertionError as e:
        print("FAIL", e)
        log.seek(0)
        print("server log:", log.read().decode("utf-8", "replace")[-2000:])
        return 1
    finally:
        for t in terms:
            t.kill()
        server.terminate()
        server.wait(timeout=10)
        shutil.rmtree(root, ignore_errors=True)
    print("ok: login, menus, grid move, message box, input box, chat, resize; terminal restored after "
          "Alt+Q, SIGTERM and SIGSEGV")
    return 0


if __name__ == "__main__":
    sys.exit(main())
