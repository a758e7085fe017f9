#!/usr/bin/env python3
"""The installer under Wine: install, play, uninstall, all silently.

  wine_install.py --setup build-windows/kordo-setup.exe --server build/server/kordo-server

The environment is winenv.py's, for the installer's architecture.  Steps:
- "kordo-setup.exe /S" installs for the current user, without a window, into
  %LOCALAPPDATA%\\Programs\\Le Kordo: kordo.exe, sounds\\, LISEZMOI.txt,
  LICENCES.txt, licences\\, uninstall.exe; the Start-menu shortcut "Le Kordo"
  points at kordo.exe there; the uninstall entry is in HKCU; the player then
  puts a file of their own in sounds\\;
- the installed client, started by that shortcut's target, logs in to the
  practice server by keys and the welcome is heard (the test-double
  screen-reader library is added as nvdaControllerClient.dll, the NVDA
  library tried last, so any controller library the package ships is tried
  first and must let detection go on when NVDA is not running); the
  installer started again meanwhile, as the update does, waits for the
  client, which Alt+F4 ends with status 0, then replaces the program;
- the installer cut short while it writes the new program (a file size
  limit) fails and leaves the installed kordo.exe as it was;
- "uninstall.exe /S" started while the client runs removes nothing until
  the client ends; then it removes what the package installed, by name, the
  shortcut and the uninstall entry, and keeps config-debug.ini, the session
  log and the player's own file in sounds\\;
- installed again, "uninstall.exe /S /PURGE" removes the configuration and
  the log as well, and still keeps the player's file.

Every wait is bounded; the whole run is capped by WINE_INSTALL_DEADLINE
seconds (default 240).
"""
import argparse
import glob
import os
import re
import resource
import shutil
import subprocess
import sys
import time

from winenv import (WAIT, Failure, SpeechLog, build_double, check, exe_arch, run_stage, start_client,
                    wait_exit, write_config)
from wine_practice import start_server

DEADLINE = float(os.environ.get("WINE_INSTALL_DEADLINE", "240"))
APP = "Le Kordo"
UNINST_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\LeKordo"
INSTALLED = ["kordo.exe", "uninstall.exe", "LISEZMOI.txt", "LICENCES.txt", "licences", "sounds"]
OWN_MUSIC = b"OggS ma musique a moi"


def wine_text(env, *args):
    """Standard output of a Wine console command, stripped."""
    r = subprocess.run([*env.wine, *args], env=env.env, timeout=60, capture_output=True)
    return r.stdout.decode("utf-8", "replace").strip()


def unix_path(env, win_path):
    return wine_text(env, "winepath", "-u", win_path)


def install_folder(env):
    local = wine_text(env, "cmd", "/c", "echo", "%LOCALAPPDATA%")
    if not local or "%" in local:
        raise Failure("no %%LOCALAPPDATA%% in the prefix (%r)" % local)
    return local + "\\Programs\\" + APP


def run_quietly(env, argv, what, wait=120):
    r = subprocess.run([*env.wine, *argv], env=env.env, timeout=wait, capture_output=True)
    check(r.returncode == 0, "%s: status %d" % (what, r.returncode))


def wait_until(pred, wait=WAIT):
    """The uninstaller copies itself away and returns at once: its work is
    waited for by its effects.  Whether PRED came true within WAIT s."""
    deadline = time.monotonic() + wait
    while time.monotonic() < deadline:
        if pred():
            return True
        time.sleep(0.2)
    return pred()


def shortcut_target(lnk):
    """The target path a shell link holds, read from its link-info block's
    local base path (the ANSI one): enough to show where it points."""
    data = open(lnk, "rb").read()
    if data[:4] != b"\x4c\x00\x00\x00":
        raise Failure("%s is not a shell link" % lnk)
    flags = int.from_bytes(data[20:24], "little")
    pos = 76
    if flags & 1:  # HasLinkTargetIDList
        pos += 2 + int.from_bytes(data[pos:pos + 2], "little")
    if not flags & 2:  # HasLinkInfo
        raise Failure("%s holds no link info" % lnk)
    info = data[pos:]
    base = int.from_bytes(info[16:20], "little")
    return info[base:info.index(b"\0", base)].decode("cp1252")


def uninstall_entry(env):
    r = subprocess.run([*env.wine, "reg", "query", UNINST_KEY], env=env.env, timeout=60, capture_output=True)
    return r.stdout.decode("utf-8", "replace") if r.returncode == 0 else ""


def package_files(folder):
    """Every file and folder under FOLDER, as paths relative to it."""
    found = set()
    for root, dirs, files in os.walk(folder):
        for n in dirs + files:
            found.add(os.path.relpath(os.path.join(root, n), folder))
    return found


def interrupted_install(env, setup, folder):
    """The installer cut short while it copies the program: every file it
    writes is capped below kordo.exe's size, so the write of the new program
    ends it half-way, as a full disk or a killed installer would.  The
    installed kordo.exe carries a mark first, which only the old file has."""
    exe = os.path.join(folder, "kordo.exe")
    with open(exe, "ab") as f:
        f.write(b"KORDO-INSTALLED")
    installed = open(exe, "rb").read()
    cap = os.path.getsize(exe) // 3

    # The cap must bind the installer alone: a wineserver or a system
    # process it started would inherit it and could not write the registry.
    # So they are started before it, without the cap, and kept running
    # until it has ended.  (They would hold a captured output open: none.)
    quiet = {"env": env.env, "stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
    subprocess.run(["wineserver", "-p"], timeout=30, **quiet)
    subprocess.run([*env.wine, "cmd", "/c", "ver"], timeout=60, **quiet)

    def capped():
        resource.setrlimit(resource.RLIMIT_FSIZE, (cap, cap))
    try:
        r = subprocess.run([*env.wine, setup, "/S"], timeout=120, preexec_fn=capped, **quiet)
    finally:
        subprocess.run(["wineserver", "-k"], timeout=30, **quiet)
    check(r.returncode != 0, "the installer cut short while copying the program fails (status %d)" % r.returncode)
    check(os.path.exists(exe) and open(exe, "rb").read() == installed,
          "and leaves the installed client whole where it was")


def uninstall_waits_for_client(env, folder, uninstaller):
    """The uninstaller started while the client runs removes nothing until
    the client ends, then removes the package."""
    proc = start_client(env, folder)
    try:
        dlg = env.find_window("^Connexion$", wait=60)
        # Not waited for: it hands over to a copy of itself, which holds
        # a captured output open until it ends.
        subprocess.Popen([*env.wine, uninstaller, "/S"], env=env.env, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
        time.sleep(4)
        kept = [n for n in ("kordo.exe", "LISEZMOI.txt", "licences", "uninstall.exe")
                if os.path.exists(os.path.join(folder, n))]
        check(len(kept) == 4, "the uninstaller waits while the client runs (still there: %s)" % kept)
        env.keys(dlg, "Escape")
        check(wait_exit(proc, "Escape in the connection dialog") == 0, "the client ends with status 0")
    finally:
        if proc.poll() is None:
            proc.kill()


def body(env, setup, server_bin):
    env.start()
    win_folder = install_folder(env)
    folder = unix_path(env, win_folder)
    menu = unix_path(env, wine_text(env, "cmd", "/c", "echo", "%APPDATA%")
                     + "\\Microsoft\\Windows\\Start Menu\\Programs\\" + APP + ".lnk")

    run_quietly(env, [setup, "/S"], "silent install")
    missing = [n for n in INSTALLED if not os.path.exists(os.path.join(folder, n))]
    check(not missing, "installed into %s (missing: %s)" % (win_folder, missing))
    check(os.listdir(os.path.join(folder, "licences")) != [], "licence texts installed")
    check(os.path.exists(menu), "Start-menu shortcut \"%s\"" % APP)
    target = shortcut_target(menu)
    check(target.lower() == (win_folder + "\\kordo.exe").lower(), "the shortcut starts %s" % target)
    entry = uninstall_entry(env)
    check("uninstall.exe" in entry and "/S" in entry, "uninstall entry for the current user")
    installed = package_files(folder)
    # The player's own music beside the game's sounds.
    own = os.path.join(folder, "sounds", "ma-musique.ogg")
    with open(own, "wb") as f:
        f.write(OWN_MUSIC)

    port, area = start_server(env, server_bin, env.tmp)
    # The server's files with their times, so that its freshness check finds
    # nothing to download.
    shutil.copytree(os.path.join(area, "sounds"), os.path.join(folder, "sounds"), dirs_exist_ok=True)
    shutil.copy2(os.path.join(area, "kordoext.so"), folder)
    shutil.copy(build_double(env), os.path.join(folder, "nvdaControllerClient.dll"))
    write_config(folder, port)
    speech = SpeechLog(folder)
    proc = start_client(env, folder)
    try:
        dlg = env.find_window("^Connexion$", wait=60)
        env.type(dlg, "lucie")
        env.keys(dlg, "Tab")
        env.type(dlg, "s3cret")
        env.keys(dlg, "Return")
        main = env.find_window(r"^Le Kordo \[lucie\]$")
        speech.expect(re.escape("Bienvenue sur Le Kordo, lucie ! Flèches pour choisir, Entrée pour valider."))
        check(True, "the installed client logs in and the welcome is heard")
        # As in an update: the installer starts while the client still runs
        # (its program cannot be replaced yet) and waits for it to end.
        update = subprocess.Popen([*env.wine, setup, "/S"], env=env.env, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        time.sleep(3)
        check(update.poll() is None, "the installer waits while the client runs")
        env.keys(main, "alt+F4")
        check(wait_exit(proc, "Alt+F4") == 0, "the installed client ends with status 0")
        try:
            status = update.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            update.kill()
            raise Failure("the installer did not end after the client did")
        check(status == 0 and os.path.exists(os.path.join(folder, "kordo.exe"))
              and not os.path.exists(os.path.join(folder, "kordo.exe.new")),
              "then it puts the new program in place (status %d)" % status)
    finally:
        if proc.poll() is None:
            proc.kill()
    logs = glob.glob(os.path.join(folder, "session-*.log"))
    check(len(logs) == 1 and os.path.exists(os.path.join(folder, "config-debug.ini")),
          "configuration and session log written in the program folder")

    interrupted_install(env, setup, folder)

    uninstaller = win_folder + "\\uninstall.exe"
    uninstall_waits_for_client(env, folder, uninstaller)
    left_over = lambda: sorted(n for n in installed | {"kordo.exe.new"}  # noqa: E731
                               if os.path.exists(os.path.join(folder, n)) and n != "sounds")
    check(wait_until(lambda: not left_over()), "then it removes what the package installed (left: %s)"
          % left_over())
    check(wait_until(lambda: not os.path.exists(menu)), "the shortcut is removed")
    check(wait_until(lambda: uninstall_entry(env) == ""), "the uninstall entry is removed")
    check(os.path.exists(own) and open(own, "rb").read() == OWN_MUSIC,
          "the player's own sounds\\ma-musique.ogg is kept")
    left = sorted(os.listdir(folder))
    check(os.path.exists(os.path.join(folder, "config-debug.ini")) and os.path.exists(logs[0]),
          "configuration and log kept; left: %s" % left)

    run_quietly(env, [setup, "/S"], "silent install over the kept files")
    check(os.path.exists(os.path.join(folder, "kordo.exe")), "installed again")
    for added in ("nvdaControllerClient.dll", "nvda-calls.txt", "kordoext.so", "stdout.txt"):
        os.remove(os.path.join(folder, added))
    for downloaded in os.listdir(os.path.join(area, "sounds")):
        os.remove(os.path.join(folder, "sounds", downloaded))
    run_quietly(env, [uninstaller, "/S", "/PURGE"], "silent uninstall with /PURGE")
    only_own = lambda: package_files(folder) == {"sounds", os.path.join("sounds", "ma-musique.ogg")}  # noqa: E731
    check(wait_until(only_own), "/PURGE also removes the configuration and the log, and keeps the player's "
          "file (left: %s)" % sorted(package_files(folder)))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--setup", required=True, help="kordo-setup.exe")
    ap.add_argument("--server", required=True, help="the native kordo-server")
    args = ap.parse_args()
    setup, server_bin = os.path.abspath(args.setup), os.path.abspath(args.server)
    t0 = time.monotonic()

    def run(env, tmp):
        body(env, setup, server_bin)
        print("wine install test passed in %.0f s" % (time.monotonic() - t0), flush=True)

    return run_stage("kordo-wine-install-", DEADLINE, run, dump=("server.log",), arch=exe_arch(setup))


if __name__ == "__main__":
    sys.exit(main())
