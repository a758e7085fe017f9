#!/usr/bin/python3
"""The unpacked package's kordo starts on the test display: its connection
dialog appears, as a screen reader finds it, and its game folder is the
XDG data folder.  Run under tests/gtk/with_desktop.sh.

  desktop_unpacked.py ROOT
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "gtk"))
from desktop import (app_root, check, dump, focus_window, keys, named, report, wait_for)  # noqa: E402


def main():
    kordo = os.path.join(os.path.abspath(sys.argv[1]), "usr", "bin", "kordo")
    game = os.path.join(os.environ["XDG_DATA_HOME"], "kordo")
    proc = subprocess.Popen([kordo], cwd="/", stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    try:
        app = wait_for(app_root, 20)
        if check(app is not None, "the unpacked kordo appears on the accessibility bus"):
            dlg = wait_for(lambda: named(app, "Connexion", ("dialog",)))
            if not check(dlg is not None, "its connection dialog 'Connexion' is shown"):
                dump(app)
            else:
                check(named(dlg, "Connecter", ("push button",)) is not None, "with its 'Connecter' button")
                check(os.path.isfile(os.path.join(game, "config-debug.ini")),
                      "its configuration is in %s" % game)
                focus_window("Connexion")
                keys("Escape")
                try:
                    status = proc.wait(15)
                except subprocess.TimeoutExpired:
                    status = None
                check(status == 0, "Escape closes the dialog and the client ends with status 0 (%r)" % status)
    finally:
        if proc.poll() is None:
            proc.kill()
        out = proc.communicate(timeout=10)[0].decode("utf-8", "replace").strip()
        if out:
            print("--- kordo output\n" + out[-2000:])
    return report()


if __name__ == "__main__":
    sys.exit(main())
