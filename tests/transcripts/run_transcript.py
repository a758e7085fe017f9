#!/usr/bin/env python3
"""Runs one transcript: kordo-headless against a scripted server on 127.0.0.1.

A transcript is a text file of directives, one per line, run in order:

  # comment
  args: --speech voice          options for kordo-headless (before the start)
  config: <line>                a line of config-debug.ini, written before the
                                start; {port} is the scripted server's port
  file: <name>|<text>           writes a file into the program folder (\\r\\n escapes)
  sound: <name>|<synth args>    makes sounds/<name>.ogg with sox (mono 44100 Hz):
                                sox -n ... synth <synth args>
  start                         starts kordo-headless (implied by the first
                                player/expect/server/client directive)
  player: <command>             a line on the client's standard input
  close-input                   ends the client's standard input
  expect: <pattern>             the next event matching <pattern> arrives
                                (other events in between are allowed)
  server: accept                waits for the client's next connection
  server: close                 closes the current connection
  server: <line>                sends <line> + "\\n" on the current connection
  client: <pattern>             the next line the client sends that matches
  exit: <status>                the client exits with this status
  wait: <ms>                    the runner itself waits
  never: <pattern>              at the end: no event ever matched
  never-client: <pattern>       at the end: no client line ever matched
  has-file: <name>|<pattern>    at the end: the file's text matches (CP1252
                                bytes read as Latin-1; \\r and \\n escapes)
  restart                       waits for the exit, then starts again in the
                                same folder

Patterns match a whole line; "*" matches any run of characters and is the
only special character.  Every wait is bounded.
"""
import glob
import os
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from scripted_server import Lines, ScriptedServer, line_pattern as pattern  # noqa: E402

WAIT = float(os.environ.get("TRANSCRIPT_WAIT", "10"))


def unescape(s):
    return s.replace("\\r", "\r").replace("\\n", "\n")


def main():
    headless, path = sys.argv[1], sys.argv[2]
    with open(path, encoding="utf-8") as f:
        directives = [l.rstrip("\n") for l in f]
    folder = tempfile.mkdtemp(prefix="kordo-transcript-")
    server = ScriptedServer(wait=WAIT, accept_wait=WAIT + 20)  # reconnection waits up to 20 s
    state = {"proc": None, "events": None, "args": [], "config": []}
    never, never_client, has_file = [], [], []

    def start():
        if state["config"]:
            with open(os.path.join(folder, "config-debug.ini"), "wb") as f:
                for c in state["config"]:
                    f.write(c.replace("{port}", str(server.port)).encode("cp1252") + b"\r\n")
            state["config"] = []
        err = open(os.path.join(folder, "stderr.txt"), "ab")
        proc = subprocess.Popen([headless, "--dir", folder] + state["args"], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=err)
        events = Lines("events")
        threading.Thread(target=events.feed, args=(proc.stdout, lambda b: b.decode("utf-8")), daemon=True).start()
        state["proc"], state["events"] = proc, events

    def need():
        if state["proc"] is None:
            start()

    def wait_exit():
        proc = state["proc"]
        try:
            proc.stdin.close()
        except OSError:
            pass
        try:
            return proc.wait(timeout=WAIT + 20)
        except subprocess.TimeoutExpired:
            proc.kill()
            raise AssertionError("the client did not exit")

    all_events = []
    try:
        for n, d in enumerate(directives, 1):
            if not d.strip() or d.lstrip().startswith("#"):
                continue
            key, _, arg = d.partition(":")
            arg = arg[1:] if arg.startswith(" ") else arg
            key = key.strip()
            try:
                if d.strip() == "start":
                    start()
                elif d.strip() == "close-input":
                    need()
                    state["proc"].stdin.close()
                elif d.strip() == "restart":
                    wait_exit()
                    state["events"].drain()
                    all_events += state["events"].seen
                    state["proc"] = None
                    start()
                elif key == "args":
                    state["args"] = arg.split()
                elif key == "config":
                    state["config"].append(arg)
                elif key == "file":
                    name, _, text = arg.partition("|")
                    with open(os.path.join(folder, name), "wb") as f:
                        f.write(unescape(text).encode("cp1252"))
                elif key == "sound":
                    name, _, synth = arg.partition("|")
                    os.makedirs(os.path.join(folder, "sounds"), exist_ok=True)
                    subprocess.run(["sox", "-q", "-n", "-r", "44100", "-c", "1",
                                    os.path.join(folder, "sounds", name + ".ogg"), "synth"] + synth.split(),
                                   check=True, timeout=WAIT)
                elif key == "player":
                    need()
                    state["proc"].stdin.write(arg.encode("utf-8") + b"\n")
                    state["proc"].stdin.flush()
                elif key == "expect":
                    need()
                    state["events"].expect(pattern(arg), WAIT)
                elif key == "server":
                    need()
                    if arg == "accept":
                        server.accept()
                    elif arg == "close":
                        server.close()
                    else:
                        server.send(arg)
                elif key == "client":
                    need()
                    server.expect(pattern(arg))
                elif key == "exit":
                    status = wait_exit()
                    if status != int(arg):
                        raise AssertionError("exit status %d, expected %s" % (status, arg))
                elif key == "wait":
                    time.sleep(int(arg) / 1000.0)
                elif key == "never":
                    never.append(arg)
                elif key == "never-client":
                    never_client.append(arg)
                elif key == "has-file":
                    has_file.append(arg)
                else:
                    raise AssertionError("unknown directive")
            except (AssertionError, OSError) as e:
                raise AssertionError("%s:%d: %s\n  %s" % (path, n, d, e))
        if state["proc"] is not None and state["proc"].poll() is None:
            wait_exit()
        state["events"].drain()
        all_events += state["events"].seen
        server.close()
        for p in never:
            rx = pattern(p)
            hits = [e for e in all_events if rx.match(e)]
            if hits:
                raise AssertionError("%s: event %r seen: %s" % (path, p, hits[:3]))
        for p in never_client:
            rx = pattern(p)
            hits = [l for l in server.all_lines if rx.match(l)]
            if hits:
                raise AssertionError("%s: client line %r seen: %s" % (path, p, hits[:3]))
        for spec in has_file:
            name, _, p = spec.partition("|")
            files = glob.glob(os.path.join(folder, name))
            if not files:
                raise AssertionError("%s: no file %s" % (path, name))
            text = open(files[0], "rb").read().decode("cp1252", "replace")
            if not pattern(unescape(p)).match(text):
                raise AssertionError("%s: %s is %r" % (path, name, text[:400]))
    except AssertionError as e:
        print("FAIL", e)
        if state["proc"] is not None and state["proc"].poll() is None:
            state["proc"].kill()
        events = all_events + (state["events"].seen if state["events"] else [])
        print("events:", *events[-40:], sep="\n  ")
        try:
            print("stderr:", open(os.path.join(folder, "stderr.txt")).read()[-2000:])
        except OSError:
            pass
        return 1
    print("ok", os.path.basename(path))
    return 0


if __name__ == "__main__":
    sys.exit(main())
