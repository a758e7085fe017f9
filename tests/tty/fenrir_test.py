#!/usr/bin/env python3
"""A real console screen reader reads kordo-tty: Debian's Fenrir in its
emulated-terminal mode (-e: Fenrir runs the client in a pseudo-terminal of
its own and reads that screen), inside tmux, speaking to a private
speech-dispatcher whose only voice writes each message to a file.  Against
a scripted server: in a menu, Down must make Fenrir say the new item, and a
"say" line longer than the terminal is wide must be heard whole.

  fenrir_test.py KORDO_TTY

Skips (status 77) when fenrir or speech-dispatcher is not installed."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "support"))
sys.path.insert(0, here)
from scripted_server import ScriptedServer  # noqa: E402
from tmux_term import Tmux  # noqa: E402

FENRIR = "/usr/bin/fenrir"
SPEECHD = "/usr/bin/speech-dispatcher"

FENRIR_SETTINGS = """[sound]
enabled=False
driver=dummyDriver
[speech]
enabled=True
driver=speechdDriver
module=recorder
voice=
language=
rate=0.5
pitch=0.5
capitalPitch=0.9
volume=1.0
autoReadIncoming=True
[braille]
enabled=False
driver=dummyDriver
[screen]
driver=ptyDriver
encoding=auto
screenUpdateDelay=0.05
[keyboard]
driver=ptyDriver
keyboardLayout=pty
charEcho=False
charDeleteEcho=False
wordEcho=False
interruptOnKeyPress=False
doubleTapTimeout=0.2
[general]
debugLevel=0
debugMode=File
debugFile={dir}/fenrir.log
punctuationProfile=default
punctuationLevel=some
respectPunctuationPause=True
newLinePause=True
autoSpellCheck=False
emoticons=False
shell={shell}
[focus]
cursor=True
highlight=False
[remote]
enable=False
[barrier]
enabled=False
[review]
lineBreak=True
endOfScreen=True
leaveReviewOnCursorChange=True
leaveReviewOnScreenChange=True
[promote]
enabled=False
[time]
enabled=False
"""


def start_speechd(d):
    heard = os.path.join(d, "heard.txt")
    with open(os.path.join(d, "recorder.conf"), "w") as f:
        f.write("GenericExecuteSynth \"printf '%%s\\\\n' \\'$DATA\\' >> %s\"\n" % heard)
        f.write('GenericLanguage "fr" "fr" "utf-8"\nAddVoice "fr" "MALE1" "recorder"\n')
    with open(os.path.join(d, "speechd.conf"), "w") as f:
        f.write('AddModule "recorder" "sd_generic" "%s/recorder.conf"\n' % d)
        f.write('DefaultModule recorder\nDefaultLanguage "fr"\nAudioOutputMethod "libao"\n')
    daemon = subprocess.Popen([SPEECHD, "-s", "-t", "0", "-C", d, "-S", d + "/sock", "-P", d + "/pid"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              env=dict(os.environ, HOME=d, XDG_RUNTIME_DIR=d, XDG_CONFIG_HOME=d))
    deadline = time.monotonic() + 10
    while not os.path.exists(d + "/sock"):
        if time.monotonic() > deadline or daemon.poll() is not None:
            raise AssertionError("speech-dispatcher did not start")
        time.sleep(0.05)
    return daemon, heard


def heard_text(heard):
    try:
        with open(heard, encoding="utf-8", errors="replace") as f:
            return f.read()
    except OSError:
        return ""


def words(text):
    return " ".join(re.findall(r"\w+", text))


def wait_heard(heard, phrase, since, timeout=15.0):
    """Waits until `phrase` (compared word by word) is heard after the first
    `since` characters of the recording."""
    want = words(phrase)
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if want in words(heard_text(heard)[since:]):
            return
        time.sleep(0.1)
    raise AssertionError("Fenrir did not say %r; it said:\n%s" % (phrase, heard_text(heard)[since:][-2000:]))


def main():
    tty = os.path.abspath(sys.argv[1])
    for p in (FENRIR, SPEECHD, "/usr/bin/python3"):
        if not os.path.exists(p):
            print("SKIP: %s is not installed" % p)
            return 77
    root = tempfile.mkdtemp(prefix="kordo-fenrir-")
    server = ScriptedServer(wait=15.0, accept_wait=30.0)
    daemon = None
    term = None
    try:
        daemon, heard = start_speechd(root)
        folder = os.path.join(root, "player")
        os.makedirs(folder)
        with open(os.path.join(folder, "config-debug.ini"), "wb") as f:
            f.write(b"server=Test,127.0.0.1,%d,http://x/a,http://x/r,http://x/l,localhost,/autodl,"
                    b"bobby1,secret1\r\n" % server.port)
        shell = "env SDL_AUDIODRIVER=dummy %s --dir %s" % (tty, folder)
        settings = os.path.join(root, "fenrir.conf")
        with open(settings, "w") as f:
            f.write(FENRIR_SETTINGS.format(dir=root, shell=shell))
        env = {"SPEECHD_ADDRESS": "unix_socket:%s/sock" % root, "HOME": root, "XDG_RUNTIME_DIR": root,
               "XDG_CONFIG_HOME": root, "LANG": "C.UTF-8", "TERM": "xterm-256color"}
        term = Tmux("fenrir", "%s -e -s %s; sleep 60" % (FENRIR, settings), 80, 24, env)
        term.wait_for(lambda r: r and r[-1].startswith("Nom d'utilisateur:"), "the connection dialog", 30)
        wait_heard(heard, "Nom d'utilisateur", 0)
        term.keys("Enter")
        server.accept()
        server.login()
        server.send("menu 7|1|3|0|0|0|Premier choix|a|null|null|Deuxi\u00e8me choix|b|null|null|"
                    "Troisi\u00e8me choix|c|null|null")
        term.wait_row("Premier choix")
        wait_heard(heard, "Premier choix", 0)

        since = len(heard_text(heard))
        term.keys("Down")
        term.wait_row("Deuxi\u00e8me choix")
        wait_heard(heard, "Deuxi\u00e8me choix", since)

        since = len(heard_text(heard))
        sentence = ("Le serveur vous annonce une longue nouvelle : la partie de morpion commence dans "
                    "une minute, rejoignez vite le salon de discussion pour y participer.")
        server.send("say " + sentence)
        wait_heard(heard, sentence, since)
        print("Fenrir said:\n  " + "\n  ".join(heard_text(heard).strip().split("\n")[-8:]))
        term.keys("M-q")
        server.expect("quit")
    except AssertionError as e:
        print("FAIL", e)
        if term:
            print("screen:\n" + "\n".join(term.rows()[-20:]))
        return 1
    finally:
        if term:
            term.kill()
        server.stop()
        if daemon:
            daemon.terminate()
            daemon.wait(timeout=10)
        shutil.rmtree(root, ignore_errors=True)
    print("ok: Fenrir said the item after Down and the whole say line")
    return 0


if __name__ == "__main__":
    sys.exit(main())
