#!/usr/bin/python3
"""The unpacked package's kordo starts on the test display: its connection
dialog appears, as a screen reader finds it, and its game folder is the XDG
data folder; a second start with --dir uses (and makes) the folder given.
Run under tests/gtk/with_desktop.sh.

  desktop_unpacked.py ROOT
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "gtk"))
from desktop import (TMP, app_root, check, dump, focus_window, keys, named, report, wait_for)  # noqa: E402


def start(kordo, args, game, what):
    """Starts kordo, checks its dialog and that its configuration is in
    `game`, then closes the dialog with Escape: the client must end with 0."""
    proc = subprocess.Popen([kordo] + args, cwd="/", stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    try:
        app = wait_for(app_root, 20)
        if not check(app is not None, "%s: kordo appears on the accessibility bus" % what):
            return
        dlg = wait_for(lambda: named(app, "Connexion", ("dialog",)))
        if not check(dlg is not None, "%s: its connection dialog 'Connexion' is shown" % what):
            dump(app)
            return
        check(named(dlg, "Connecter", ("push button",)) is not None, "%s: with its 'Connecter' button" % what)
        check(os.path.isfile(os.path.join(game, "config-debug.ini")), "%s: its configuration is in %s" % (what, game))
        focus_window("Connexion")
        keys("Escape")
        try:
            status = proc.wait(15)
        except subprocess.TimeoutExpired:
            status = None
        check(status == 0, "%s: Escape closes the dialog, the client ends with status 0 (%r)" % (what, status))
    finally:
        if proc.poll() is None:
            proc.kill()
        out = proc.communicate(timeout=10)[0].decode("utf-8", "replace").strip()
        if out:
            print("--- kordo output\n" + out[-2000:])
        wait_for(lambda: app_root() is None, 5)


def main():
    kordo = os.path.join(os.path.abspath(sys.argv[1]), "usr", "bin", "kordo")
    start(kordo, [], os.path.join(os.environ["XDG_DATA_HOME"], "kordo"), "installed")
    chosen = os.path.join(TMP, "chosen", "folder")
    start(kordo, ["--dir", chosen], chosen, "--dir")
    return report()


if __name__ == "__main__":
    sys.exit(main())
