#!/usr/bin/env python3
"""kordo.exe under Wine, driven by keys, against a scripted server.

  wine_test.py --exe build-windows/kordo.exe [--artefacts DIR]

The environment is winenv.py's (Xvfb, a Wine prefix of kordo.exe's
architecture, a private PulseAudio, keys through xdotool, the test-double
screen-reader library);
here a scripted server on 127.0.0.1 and a program folder with
config-debug.ini naming it.

Run 1 (test double present): the connection dialog filled by keys, the
window title, menu moves with the select line, F8 (no key report, the sound
volume raised in the saved configuration), F1 reported as "key 112", an
input box and a message box answered by keys, the history saved through the
save dialog ("Enregistrer sous"; a second save over the same file asks first),
the speech double selected and called cancel, speak, braille in
that order, the chat line (Alt+C, typing, Enter) arriving in CP1252,
Alt+F4 sending "quit" and a clean exit.  A screenshot of the
main window with a menu is left in the artefact folder.
Run 2 (no screen-reader library): start-up still reaches the connection
dialog, and Escape there ends the program with status 0.
Run 3 (the update): "newVersion" answered Yes, twice.  When the test can
take 127.0.0.1:80, the download area there first sends part of a body
without Content-Length and then goes silent: the client gives up after its
idle time-out, keeps the installer already in its folder and starts nothing
(only a file this download wrote whole is started).  The second time it
sends the installer (setup_probe.exe) whole, which is started with SW_SHOW.
Either way the client closes as when its window is closed: "quit" to the
server, status 0.
Run 4 (libraries of the other architecture): the NVDA library this build
loads first and an extension library are built for the other architecture;
both fail to load like missing ones.  Detection moves on to
nvdaControllerClient.dll (a double of the right architecture), which speaks;
the "dllq" call to the foreign library is not answered, one to a library of
the right architecture is; calls to the loaded screen-reader library under
its 8.3 alias or a hard link are not answered either, and the client ends
cleanly.

Before the runs, sock_check.exe tests the Winsock shim's receive time-out.

Every wait is bounded; the whole run is capped by WINE_TEST_DEADLINE
seconds (default 300).
"""
import argparse
import os
import queue
import re
import shutil
import socket
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from scripted_server import ScriptedServer  # noqa: E402
from winenv import (WAIT, Failure, ARCHES, SpeechLog, build_double, build_ext_double, build_setup_probe,
                    build_sock_check, check, config_value, exe_arch, make_program_folder, other_arch, run_stage,
                    start_client, wait_exit, write_config)

DEADLINE = float(os.environ.get("WINE_TEST_DEADLINE", "300"))
IDLE_TIMEOUT = 30  # the client's download idle time-out, in seconds


class ScriptServer(ScriptedServer):
    """The scripted server with the harness's bound and failure."""

    def __init__(self):
        super().__init__(wait=WAIT, error=Failure, backlog=2)


class StallingDownloads:
    """The download area on 127.0.0.1:80, as a server that stops sending: to
    the first request it answers a 200 head without Content-Length and part
    of a body, then keeps the connection open without a word until the
    client closes it.  To the second it sends `whole` with its length.
    Raises OSError when port 80 cannot be taken."""

    def __init__(self, whole):
        self.whole = whole
        self.sock = socket.socket()
        try:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            self.sock.bind(("127.0.0.1", 80))
            self.sock.listen(2)
        except OSError:
            self.sock.close()
            raise
        self.request = queue.Queue()
        self.given_up = threading.Event()
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        self._serve_one(stall=True)
        self._serve_one(stall=False)

    def _serve_one(self, stall):
        self.sock.settimeout(WAIT * 4)
        try:
            conn, _ = self.sock.accept()
        except OSError:
            return
        conn.settimeout(IDLE_TIMEOUT * 4)
        with conn:
            head = b""
            try:
                while b"\r\n\r\n" not in head:
                    data = conn.recv(4096)
                    if not data:
                        break
                    head += data
                self.request.put(head.split(b"\r\n")[0].decode("latin-1"))
                if not stall:
                    conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % len(self.whole) + self.whole)
                    return
                conn.sendall(b"HTTP/1.0 200 OK\r\n\r\npartial")
                while conn.recv(4096):
                    pass
                self.given_up.set()
            except OSError:
                pass

    def close(self):
        self.sock.close()


def run_update(env, exe, setup):
    folder = make_program_folder(env, "app3", exe)
    installer = os.path.join(folder, "setup.exe")
    shutil.copy(setup, installer)
    original = open(installer, "rb").read()
    started = os.path.join(folder, "started.txt")
    try:
        downloads = StallingDownloads(original)
    except OSError as e:
        downloads = None
        print("note: 127.0.0.1:80 not available (%s): the downloads are not tried" % e, flush=True)
    try:
        # First the stalled download (or none without port 80), then a whole one.
        for attempt in ("stalled", "whole") if downloads else ("none",):
            update_once(env, folder, downloads, attempt)
            if attempt == "whole":
                deadline = time.monotonic() + WAIT
                while not os.path.exists(started) and time.monotonic() < deadline:
                    time.sleep(0.2)
                time.sleep(0.5)  # the probe writes its one line, then ends
                shown = open(started).read().strip() if os.path.exists(started) else "not started"
                check(shown == "show 5", "the downloaded installer started with SW_SHOW (%s)" % shown)
                check(open(installer, "rb").read() == original, "the installer arrived whole")
            else:
                if downloads:
                    check(downloads.given_up.wait(WAIT), "the stalled download was given up")
                    check(open(installer, "rb").read() == original, "the installer in the folder was kept whole")
                check(not os.path.exists(started), "a failed download starts nothing")
    finally:
        if downloads:
            downloads.close()


def update_once(env, folder, downloads, attempt):
    server = ScriptServer()
    write_config(folder, server.port)
    proc = start_client(env, folder)
    try:
        log_in(env, server)
        server.send("newVersion *setup.exe")
        box = env.find_window("^Nouvelle version$")
        env.keys(box, "Return")  # Yes is the default button
        if downloads:
            try:
                line = downloads.request.get(timeout=WAIT)
            except queue.Empty:
                raise Failure("the installer was not requested from 127.0.0.1:80")
            check(line == "GET /autodl/setup.exe HTTP/1.0", "the installer requested (%s): %s" % (attempt, line))
        # The client closes once the download has ended (after the idle
        # time-out when the download area stalls).
        check(server.expect(r"quit", IDLE_TIMEOUT + 2 * WAIT) == "quit",
              "the update closes like the window: quit sent (%s)" % attempt)
        check(wait_exit(proc, "the update") == 0, "exit status 0 after the update (%s)" % attempt)
    finally:
        if proc.poll() is None:
            proc.kill()
        server.stop()


def run_sock_check(env, sock_check):
    status, out = env.wine_output(sock_check, wait=60)
    print(out.decode("utf-8", "replace"), end="", flush=True)
    check(status == 0, "Winsock shim: receive time-out and shut-down (sock_check.exe)")


def log_in(env, server):
    """Fills the connection dialog by keys (the focus starts in the login
    field), answers the login as the server and returns the main window."""
    dlg = env.find_window("^Connexion$", wait=60)
    env.type(dlg, "joueur")
    env.keys(dlg, "Tab")
    env.type(dlg, "secret")
    env.keys(dlg, "Return")
    server.accept()
    login = server.login()
    check(re.fullmatch(r"login joueur\|secret\|.*", login) is not None, "the login line carries what was typed")
    print("login line: " + login, flush=True)
    return env.find_window(r"^Le Kordo \[joueur\]$")


def run_main_path(env, exe, dll, artefacts):
    folder = make_program_folder(env, "app1", exe, dll)
    server = ScriptServer()
    write_config(folder, server.port, "0.5")
    proc = start_client(env, folder)
    try:
        main = log_in(env, server)
        check(env.title(main) == "Le Kordo [joueur]", "window title after connecting")

        server.send("menu 5|1|3|0|0|x|Jouer|jouer|null|null|Options|opts|null|null|Quitter|quit|null|null")
        time.sleep(1.0)
        if artefacts:
            shot = os.path.join(artefacts, "wine-main-window.png")
            if env.screenshot(shot):
                print("artefact " + shot, flush=True)
        env.keys(main, "Down", "Return")
        check(server.expect(r"select .*") == "select 5|1|opts", "Down then Enter selects the second item")

        # F8 is a command, never a key report; F1 is reported.
        env.keys(main, "F8", "F1")
        check(server.expect(r"key .*") == "key 112", "F1 reported as key 112, F8 not reported")

        # The chat line: Alt+C, typed text with an accented letter (CP1252 on
        # the wire), Enter.
        env.keys(main, "alt+c")
        env.type(main, "bonjour à tous")
        env.keys(main, "Return")
        check(server.expect(r"input 60003\|.*") == "input 60003|bonjour à tous",
              "chat line sent in CP1252")

        # Speech through the double: an interrupting message.
        server.send("sayi Bonjour interrompu")

        server.send("input 7|Nom|Votre nom ?|Paul")
        box = env.find_window("^Nom$")
        env.type(box, "Pierre")
        env.keys(box, "Return")
        check(server.expect(r"input .*") == "input 7|Pierre", "input box answered by keys")

        server.send("msgbox 3|Titre|Texte|4")
        box = env.find_window("^Titre$")
        env.keys(box, "Return")  # Yes is the default button
        check(server.expect(r"msgboxresp .*") == "msgboxresp 3|6", "message box answered Yes by Enter")

        server.send("say Ligne pour la sauvegarde")
        time.sleep(0.5)
        env.keys(main, "F12")
        save = env.find_window("^Enregistrer sous$")
        env.type(save, "histo.txt")
        env.keys(save, "Return")
        saved = os.path.join(folder, "histo.txt")
        check(wait_file_holds(saved, b"Ligne pour la sauvegarde"),
              "history saved through the save dialog titled \"Enregistrer sous\"")

        # Saving again under the same name asks first, in a box with the
        # dialog's title; Yes, its default button, replaces the file.
        server.send("say Seconde sauvegarde")
        time.sleep(0.5)
        main = env.find_window(r"^Le Kordo \[joueur\]$")
        env.keys(main, "F12")
        save = env.find_window("^Enregistrer sous$")
        env.type(save, "histo.txt")
        env.keys(save, "Return")
        ask = find_other_window(env, "^Enregistrer sous$", save)
        check(ask is not None, "saving over an existing file asks first")
        if ask is not None:
            env.keys(ask, "Return")
        check(wait_file_holds(saved, b"Seconde sauvegarde"), "the answer Yes replaced the file")

        main = env.find_window(r"^Le Kordo \[joueur\]$")
        env.keys(main, "alt+F4")
        check(server.expect(r"quit") == "quit", "closing the window sends quit")
        check(wait_exit(proc, "the window was closed") == 0, "exit status 0")
        check(not any(l.startswith("key 119") for l in server.seen), "F8 never reported")
        vol = float(config_value(folder, "sound.volume") or "0")
        check(vol > 0.5, "F8 raised the sound volume (saved %s)" % vol)

        calls_path = os.path.join(folder, "nvda-calls.txt")
        calls = open(calls_path, "rb").read().decode("utf-8").splitlines() if os.path.exists(calls_path) else []
        ordered = any(calls[i] == "cancel" and calls[i + 1] == "speak Bonjour interrompu"
                      and calls[i + 2] == "braille Bonjour interrompu" for i in range(len(calls) - 2))
        check(ordered, "NVDA double selected: cancel, speak, braille in that order")
    finally:
        if proc.poll() is None:
            proc.kill()
        server.stop()


def wait_file_holds(path, data, wait=WAIT):
    deadline = time.monotonic() + wait
    while time.monotonic() < deadline:
        if os.path.exists(path) and data in open(path, "rb").read():
            return True
        time.sleep(0.2)
    return False


def find_other_window(env, name, known, wait=WAIT):
    """A shown window named `name` other than `known`, or None."""
    deadline = time.monotonic() + wait
    while time.monotonic() < deadline:
        out = env.xdo("search", "--onlyvisible", "--name", name, check=False)
        others = [w for w in out.split() if w != known]
        if others:
            return others[-1]
        time.sleep(0.2)
    return None


def run_without_reader(env, exe):
    folder = make_program_folder(env, "app2", exe)
    server = ScriptServer()
    write_config(folder, server.port, "1")
    proc = start_client(env, folder)
    try:
        dlg = env.find_window("^Connexion$", wait=60)
        check(True, "start-up without a screen-reader library reaches the connection dialog")
        env.keys(dlg, "Escape")
        check(wait_exit(proc, "Escape in the connection dialog") == 0, "cancelled dialog ends with status 0")
    finally:
        if proc.poll() is None:
            proc.kill()
        server.stop()


def short_name(env, path):
    """The 8.3 name under which Wine also opens the file at PATH."""
    r = subprocess.run([*env.wine, "winepath", "-s", path], env=env.env, timeout=60, capture_output=True)
    name = r.stdout.decode("utf-8", "replace").strip().replace("/", "\\").rsplit("\\", 1)[-1]
    if r.returncode != 0 or not name:
        raise Failure("no 8.3 name for %s (%s)" % (path, r.stderr.decode("utf-8", "replace").strip()))
    return name


def run_foreign_libraries(env, exe, dll, foreign_dll, ext, foreign_ext):
    first = ARCHES[env.arch]["nvda"]
    folder = make_program_folder(env, "app4", exe, extra=(
        (foreign_dll, first), (dll, "nvdaControllerClient.dll"), (ext, "echo.dll"), (foreign_ext, "foreign.dll")))
    server = ScriptServer()
    write_config(folder, server.port)
    speech = SpeechLog(folder)
    proc = start_client(env, folder)
    try:
        main = log_in(env, server)
        server.send("sayi Architecture sans faute")
        speech.expect("Architecture sans faute")
        check(True, "an %s %s is passed over: nvdaControllerClient.dll speaks" % (other_arch(env.arch), first))
        server.send("dllq foreign.dll:echo|5|perdu")
        server.send("dllq echo.dll:echo|6|bien")
        check(server.expect(r"dllqr .*") == "dllqr 6|bien",
              "an %s extension library is not called; the next call is answered" % other_arch(env.arch))
        # The screen-reader library the client loaded, under other names that
        # no spelling check knows: its 8.3 alias and a hard link.  Its
        # "whoami" has the extension's form and would answer.
        reader = os.path.join(folder, "nvdaControllerClient.dll")
        alias = short_name(env, reader)
        check("~" in alias and alias.lower() != "nvdacontrollerclient.dll",
              "the screen-reader library has the 8.3 alias %s" % alias)
        os.link(reader, os.path.join(folder, "lien.dll"))
        server.send("dllq %s:whoami|7|x" % alias)
        server.send("dllq lien.dll:whoami|8|x")
        server.send("dllq echo.dll:echo|9|encore")
        check(server.expect(r"dllqr .*") == "dllqr 9|encore",
              "the loaded screen-reader library is not called as %s nor as a hard link" % alias)
        env.keys(main, "alt+F4")
        check(server.expect(r"quit") == "quit", "quit sent after the foreign libraries")
        check(wait_exit(proc, "the window was closed") == 0, "exit status 0 after the foreign libraries")
    finally:
        if proc.poll() is None:
            proc.kill()
        server.stop()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--artefacts", default="")
    args = ap.parse_args()
    exe = os.path.abspath(args.exe)
    artefacts = os.path.abspath(args.artefacts) if args.artefacts else ""
    if artefacts:
        os.makedirs(artefacts, exist_ok=True)

    arch = exe_arch(exe)

    def body(env, tmp):
        dll = build_double(env)
        foreign = other_arch(arch)
        foreign_dll = build_double(env, foreign, "nvda-double-%s.dll" % foreign)
        ext = build_ext_double(env)
        foreign_ext = build_ext_double(env, foreign, "ext-double-%s.dll" % foreign)
        setup = build_setup_probe(env)
        sock_check = build_sock_check(env)
        env.start()
        run_sock_check(env, sock_check)
        run_main_path(env, exe, dll, artefacts)
        run_without_reader(env, exe)
        run_update(env, exe, setup)
        run_foreign_libraries(env, exe, dll, foreign_dll, ext, foreign_ext)
        print("wine tests passed", flush=True)

    return run_stage("kordo-wine-", DEADLINE, body,
                     dump=("app1/stdout.txt", "app2/stdout.txt", "app3/stdout.txt", "app4/stdout.txt"), arch=arch)


if __name__ == "__main__":
    sys.exit(main())
