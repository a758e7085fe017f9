#!/usr/bin/python3
# What Orca itself says while a player moves in a server menu of the
# desktop client, and when the server changes the selected item.  Orca runs
# on the test's private desktop with its debug log, whose "SPEECH OUTPUT"
# lines are what it speaks; its voice is the tests' private
# speech-dispatcher with its recording module.  Run under with_desktop.sh.
#
# Usage: orca_test.py KORDO ORCA_LOG (where Orca's debug log is left)
import os
import re
import shutil
import subprocess
import sys

from desktop import (TMP, Server, check, focus_window, keys, log_in, named, program_folder, pump, report,  # noqa: E402
                     rows, spoken, start_speech, wait_for)

KORDO, ORCA_LOG = sys.argv[1:3]
MAIN = "Le Kordo \\[alice\\]"

# Orca's own start-up, as /usr/bin/orca does it with --debug-file, less two
# steps meant for a player's session that misfire on a machine shared by
# several test runs: the process is not renamed "orca" (other runs' clients
# would take it for their screen reader), and no other "orca" process of the
# user is looked for (another run's Orca would stop this one from starting,
# and --replace would kill it).  The log is written line by line, so that
# what Orca said can be read as it says it.
LAUNCHER = """
import sys
from orca import debug
debug.debugLevel = debug.LEVEL_ALL
debug.eventDebugLevel = debug.LEVEL_OFF
debug.debugFile = open(sys.argv[1], "w", buffering=1)
from orca import orca
manager = orca.getSettingsManager()
manager.activate(sys.argv[2], {})
sys.path.insert(0, manager.getPrefsDir())
sys.exit(orca.main())
"""


class Orca:
    def __init__(self, address):
        self.log = os.path.join(TMP, "orca-debug.txt")
        prefs = os.path.join(TMP, "orca-prefs")
        os.makedirs(prefs)
        self.proc = subprocess.Popen(["/usr/bin/python3", "-c", LAUNCHER, self.log, prefs],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                     env=dict(os.environ, SPEECHD_ADDRESS=address))
        self.mark = 0

    def said(self):
        """Everything Orca has said, one utterance a line, in order."""
        try:
            with open(self.log, encoding="utf-8", errors="replace") as f:
                text = f.read()
        except OSError:
            return []
        # "SPEECH OUTPUT: 'text'", a voice name maybe, then the voice's settings.
        return re.findall(r"SPEECH OUTPUT: '(.*)'(?: voice=\S+)? ?\{[^\n]*\}$", text, re.M)

    def since(self):
        """What Orca said since the last call to since() or clear()."""
        return self.said()[self.mark:]

    def clear(self):
        pump(0.5)
        self.mark = len(self.said())

    def wait(self, pred, timeout=8.0):
        """Waits for `pred` on what was said since the mark, then for Orca to
        settle; returns what was said."""
        wait_for(lambda: pred(self.since()), timeout)
        pump(1.0)
        return self.since()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(5)


def main():
    daemon, heard, address = start_speech()
    orca = Orca(address)
    server = Server()
    _, exe = program_folder(KORDO, server.port)
    proc = None
    try:
        if not check(wait_for(lambda: orca.said(), 30) is not None, "Orca starts and speaks (%r)" % orca.said()):
            return
        proc = subprocess.Popen([exe], cwd="/", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                env=dict(os.environ, SPEECHD_ADDRESS=address))
        _, frame = log_in(server)
        if frame is None:
            return
        lst = named(frame, "Menu")
        server.send("menu 3|1|4|1|0|x|Jouer|play|null|null|Options|opts|null|null|"
                    "R\u00e8gles du jeu|rules|null|null|Quitter|bye|null|null")
        check(wait_for(lambda: rows(lst) == ["Jouer", "Options", "R\u00e8gles du jeu", "Quitter"]),
              "the menu is shown")
        focus_window(MAIN)
        said = orca.wait(lambda s: any("Options" in u for u in s))
        check(any("Options" in u for u in said), "Orca reads the selected item 'Options' (%r)" % said)

        # The player's moves.
        for key, item in (("Down", "R\u00e8gles du jeu"), ("Up", "Options"), ("Down", "R\u00e8gles du jeu")):
            orca.clear()
            keys(key)
            said = orca.wait(lambda s: any(item in u for u in s))
            check(said == [item + "."], "%s: Orca says %r, once, and nothing else (%r)" % (key, item, said))

        # The server changes the selected item: Orca reads the new text, once,
        # and nothing else twice.
        orca.clear()
        server.send("uitem 2|Retour au salon|back|null|i")
        check(wait_for(lambda: rows(lst) == ["Jouer", "Options", "Retour au salon", "Quitter"]),
              "the item is changed in the list (%r)" % rows(lst))
        said = orca.wait(lambda s: any("Retour au salon" in u for u in s))
        check(said == ["Retour au salon."],
              "uitem on the selected item: Orca says 'Retour au salon', once, and nothing else (%r)" % said)
        # The client, which leaves the list to the screen reader, does not
        # say it too: the one voice heard it once.
        check(spoken(heard).count("Retour au salon") == 1,
              "the voice heard 'Retour au salon' once (%r)" % spoken(heard)[-200:])

        # A change to another item selects it (as the server means it): Orca
        # reads that item once.
        orca.clear()
        server.send("uitem 0|Jouer vite|play|null|i")
        check(wait_for(lambda: rows(lst)[0] == "Jouer vite"), "another item is changed")
        said = orca.wait(lambda s: any("Jouer vite" in u for u in s))
        check(said == ["Jouer vite."], "uitem on another item: Orca says 'Jouer vite', once (%r)" % said)
        # Moves go on as before.
        orca.clear()
        keys("Down")
        said = orca.wait(lambda s: any("Options" in u for u in s))
        check(said == ["Options."], "Down after the changes: Orca says 'Options', once (%r)" % said)
    finally:
        if proc is not None and proc.poll() is None:
            proc.kill()
            proc.wait(5)
        orca.stop()
        daemon.terminate()
        daemon.wait(10)
        if os.path.exists(orca.log):
            shutil.copy(orca.log, ORCA_LOG)


if __name__ == "__main__":
    main()
    sys.exit(report())
