#!/usr/bin/env python3
"""kordo.exe under Wine plays the practice server's game, by keys only.

  wine_practice.py --exe build-windows/kordo.exe --server build/server/kordo-server
                   [--artefacts DIR]

The environment is winenv.py's (Xvfb, a Wine prefix of kordo.exe's
architecture, a private PulseAudio, keys through xdotool, the test-double screen-reader library
recording what is spoken).  kordo-server runs on free 127.0.0.1 ports and
never takes port 80.  The program folder holds a copy of the server's
download area with its file times, so the login's freshness check finds
every file fresh and nothing is downloaded.

What a player does and hears, in order: the connection dialog filled by keys
with a new account (created at this first login), the window title, the
welcome spoken; arrow keys in the main menu (the list selection read back
from the window by win_probe.exe, Up at the top refused and the item said
again); "Morpion contre le serveur" opened by Enter; a whole game in the 3x3
grid, each cell reached by arrows and checked as selected before Enter, each
server move heard, Left at the row's start refused, the board in the list at
the end, "Vous avez gagné !" heard; the replay box read and answered No by
keys, "Retour au menu principal." heard; a chat line (Alt+C, typing with an
accented letter, Enter) heard back from the server; Alt+F4, exit status 0,
the saved configuration holding the login, the session log holding the game.

Every wait is bounded; the whole run is capped by WINE_PRACTICE_DEADLINE
seconds (default 170).
"""
import argparse
import datetime
import glob
import os
import re
import shutil
import subprocess
import sys
import time

from winenv import (WAIT, Failure, SpeechLog, build_double, build_probe, check, config_value, exe_arch,
                    make_program_folder, run_stage, start_client, wait_exit, write_config)

DEADLINE = float(os.environ.get("WINE_PRACTICE_DEADLINE", "170"))
NAME = "martin"
PASSWORD = "s3cret"
CHAT = "bonjour à tous"
MAIN_TITLE = "Le Kordo [%s]" % NAME
MAIN_MENU = ["Morpion contre le serveur", "Salon de discussion", "Atelier des touches"]


def start_server(env, server_bin, tmp):
    """kordo-server on ephemeral 127.0.0.1 ports; returns (game port, download
    area folder)."""
    area = os.path.join(os.path.dirname(os.path.abspath(server_bin)), "autodl")
    if not os.path.isdir(os.path.join(area, "sounds")):
        raise Failure("no download area at %s (the server build makes it)" % area)
    log_path = os.path.join(tmp, "server.log")
    log = open(log_path, "wb")
    env.add_process(subprocess.Popen(
        [server_bin, "--port", "0", "--http-port", "0", "--no-port-80", "--sounds", area,
         "--accounts", os.path.join(tmp, "accounts.txt"), "--verbose"],
        stdout=log, stderr=subprocess.STDOUT))
    rx = re.compile(rb"game on 127\.0\.0\.1:(\d+), downloads on http://127\.0\.0\.1:(\d+)/")
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        m = rx.search(open(log_path, "rb").read())
        if m:
            check(int(m.group(2)) != 80, "kordo-server leaves port 80 alone (downloads on %s)"
                  % m.group(2).decode())
            return int(m.group(1)), area
        time.sleep(0.1)
    raise Failure("kordo-server did not start")


def copy_download_area(area, folder):
    """The files the login's check lists, with their last-write times, so
    that the check finds them fresh."""
    shutil.copytree(os.path.join(area, "sounds"), os.path.join(folder, "sounds"))  # copy2 keeps times
    shutil.copy2(os.path.join(area, "kordoext.so"), folder)


class Window:
    """The main window's list as the probe reads it (what a screen reader
    follows): the selection and the item labels."""

    def __init__(self, env, probe, title):
        self.env, self.probe, self.title = env, probe, title

    def read(self):
        status, out = self.env.wine_output(self.probe, "list", self.title)
        if status != 0:
            return None
        lines = out.decode("utf-8").split("\n")
        sel, count = (int(x) for x in lines[0].split())
        return sel, lines[1:1 + count]

    def wait(self, pred, what, wait=WAIT):
        deadline = time.monotonic() + wait
        state = None
        while time.monotonic() < deadline:
            state = self.read()
            if state and pred(*state):
                return state
            time.sleep(0.2)
        raise Failure("%s: the list shows %r" % (what, state))

    def wait_selected(self, index, label, what):
        """Waits until item INDEX is selected and labelled LABEL (a pattern)."""
        self.wait(lambda sel, items: sel == index and index < len(items)
                  and re.fullmatch(label, items[index]) is not None, what)
        check(True, what)


def box_texts(env, probe, title):
    status, out = env.wine_output(probe, "texts", title)
    return out.decode("utf-8").splitlines() if status == 0 else []


def play(env, probe, dll, exe, server_bin, artefacts):
    env.start()
    port, area = start_server(env, server_bin, env.tmp)
    folder = make_program_folder(env, "app", exe, dll)
    copy_download_area(area, folder)
    write_config(folder, port)
    speech = SpeechLog(folder)
    proc = start_client(env, folder)
    try:
        dlg = env.find_window("^Connexion$", wait=60)
        env.type(dlg, NAME)  # the focus starts in the login field
        env.keys(dlg, "Tab")
        env.type(dlg, PASSWORD)
        env.keys(dlg, "Return")
        main = env.find_window("^%s$" % re.escape(MAIN_TITLE))
        check(env.title(main) == MAIN_TITLE, "window title %r after the first login" % MAIN_TITLE)
        speech.expect(re.escape("Bienvenue sur Le Kordo, %s ! Flèches pour choisir, Entrée pour valider."
                                % NAME))
        check(True, "the welcome is spoken")

        win = Window(env, probe, MAIN_TITLE)
        sel, items = win.wait(lambda sel, items: len(items) == 12, "the main menu")
        check(sel == 0 and items[:3] == MAIN_MENU, "main menu shown, first item selected")
        env.keys(main, "Down", "Down")
        win.wait_selected(2, MAIN_MENU[2], "Down twice selects the third item")
        env.keys(main, "Up", "Up")
        win.wait_selected(0, MAIN_MENU[0], "Up twice comes back to the first")
        env.keys(main, "Up")
        speech.expect(re.escape(MAIN_MENU[0]))
        check(True, "Up at the top is refused and the item is said again")

        env.keys(main, "Return")
        speech.expect(r"Morpion : vous jouez les croix\..*")
        win.wait(lambda sel, items: len(items) == 9, "the grid")
        win.wait_selected(4, "Case 5, vide", "the grid opens on the centre cell")

        # The server plays the centre, then blocks; 0, 8, 6, 3 wins against
        # it.  Arrows move by one cell (Left, Right) or one row of 3 (Up,
        # Down); after each move the server gives the cursor back.
        moves = [(("Up", "Left"), 0, 4), (("Down", "Down", "Right", "Right"), 8, 2),
                 (("Left", "Left"), 6, 7), (("Up",), 3, None)]
        for n, (arrows, cell, reply) in enumerate(moves):
            env.keys(main, *arrows)
            win.wait_selected(cell, r"Case %d, vide" % (cell + 1),
                              "%s reaches cell %d" % ("+".join(arrows), cell + 1))
            env.keys(main, "Return")
            if reply is None:
                break
            speech.expect(re.escape("Le serveur joue en case %d." % (reply + 1)))
            win.wait_selected(cell, r"Case %d, votre croix" % (cell + 1),
                              "cell %d taken, server heard in cell %d, cursor given back"
                              % (cell + 1, reply + 1))
            if n == 0:
                env.keys(main, "Left")
                speech.expect(re.escape("Case 1, votre croix"))
                win.wait_selected(0, r"Case 1, votre croix", "Left at the row's start is refused")
        speech.expect(re.escape("Vous avez gagné !"))
        check(True, "the win is spoken")
        board = win.read()[1]
        want = ["Case %d, %s" % (k + 1, "votre croix" if k in (0, 3, 6, 8) else
                                 "rond du serveur" if k in (2, 4, 7) else "vide") for k in range(9)]
        check(board == want, "the list shows the final board")

        box = env.find_window("^Morpion$")
        texts = box_texts(env, probe, "Morpion")
        check(any(t.endswith("|Voulez-vous rejouer ?") for t in texts), "the replay box asks the question")
        if artefacts:
            shot = os.path.join(artefacts, "wine-practice-won.png")
            if env.screenshot(shot):
                print("artefact " + shot, flush=True)
        env.keys(box, "Tab", "space")  # from Yes (the default) to No
        speech.expect(re.escape("Retour au menu principal."))
        check(True, "No in the replay box: back to the main menu")
        env.window_gone(box)
        win.wait(lambda sel, items: len(items) == 12 and items[0] == MAIN_MENU[0], "the main menu again")

        env.keys(main, "alt+c")
        env.type(main, CHAT)
        env.keys(main, "Return")
        speech.expect(re.escape("%s : %s" % (NAME, CHAT)))
        check(True, "the chat line comes back from the server")

        env.keys(main, "alt+F4")
        check(wait_exit(proc, "Alt+F4") == 0, "Alt+F4 ends the client with status 0")
    finally:
        if proc.poll() is None:
            proc.kill()

    fields = (config_value(folder, "server") or "").split(",")
    check(fields[1:3] == ["127.0.0.1", str(port)] and fields[8:10] == [NAME, PASSWORD],
          "the saved configuration holds the typed login (%s)" % ",".join(fields[:3] + fields[8:9]))
    logs = glob.glob(os.path.join(folder, "session-*.log"))
    today = datetime.date.today()
    names = {"session-%s.log" % (today + datetime.timedelta(days=d)).isoformat() for d in (-1, 0, 1)}
    check(len(logs) == 1 and os.path.basename(logs[0]) in names,
          "one session log, named for today: %s" % [os.path.basename(p) for p in logs])
    text = open(logs[0], "rb").read().decode("cp1252")
    for line in ("Le serveur joue en case 8.", "Vous avez gagné !", "%s : %s" % (NAME, CHAT)):
        check(line in text, "the session log holds %r" % line)
    check("chargement de" not in text, "fresh files: nothing was downloaded")
    accounts = open(os.path.join(env.tmp, "accounts.txt"), "rb").read().decode("cp1252")
    check(any(l.startswith(NAME + "|") for l in accounts.splitlines()), "the server created the account")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--server", required=True, help="the native kordo-server")
    ap.add_argument("--artefacts", default="")
    args = ap.parse_args()
    exe, server_bin = os.path.abspath(args.exe), os.path.abspath(args.server)
    artefacts = os.path.abspath(args.artefacts) if args.artefacts else ""
    if artefacts:
        os.makedirs(artefacts, exist_ok=True)
    t0 = time.monotonic()

    def body(env, tmp):
        dll = build_double(env)
        probe = build_probe(env)
        play(env, probe, dll, exe, server_bin, artefacts)
        print("wine practice test passed in %.0f s" % (time.monotonic() - t0), flush=True)

    return run_stage("kordo-wine-practice-", DEADLINE, body, dump=("app/stdout.txt", "server.log"),
                     arch=exe_arch(exe))


if __name__ == "__main__":
    sys.exit(main())
