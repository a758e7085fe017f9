#!/usr/bin/env bash
# Runs a command on a private desktop: its own Xvfb display, a private D-Bus
# session bus and the accessibility bus, in a temporary HOME, and tears them
# all down afterwards.  Usage: with_desktop.sh COMMAND [ARGS...]
# Every wait is bounded; the whole run is limited to KORDO_DESKTOP_LIMIT seconds (default 150).
set -euo pipefail

tmp=$(mktemp -d "${TMPDIR:-/tmp}/kordo-gtk.XXXXXX")
xvfb=
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

export HOME="$tmp/home" XDG_RUNTIME_DIR="$tmp/run" XDG_CONFIG_HOME="$tmp/home/.config"
export XDG_CACHE_HOME="$tmp/home/.cache" XDG_DATA_HOME="$tmp/home/.local/share"
export GSETTINGS_BACKEND=memory
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
# The client opens its audio device through SDL: no sound card in tests.
export SDL_AUDIODRIVER=dummy
# No Speech Dispatcher is reached by the client, nor started on demand
# (the spawned daemon reads the user's configuration first).
export SPEECHD_ADDRESS="unix_socket:$tmp/no-speechd"
mkdir -p "$XDG_CONFIG_HOME/speech-dispatcher"
echo "DisableAutoSpawn" >"$XDG_CONFIG_HOME/speech-dispatcher/speechd.conf"
export KORDO_TEST_TMP="$tmp"
unset WAYLAND_DISPLAY NO_AT_BRIDGE

# Xvfb picks a free display and writes its number on fd 3.  -noreset: by
# default the server resets when its last client leaves (the accessibility
# bus launcher does, early), and a client connecting meanwhile may be refused.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do [ -s "$tmp/display" ] && break; sleep 0.1; done
[ -s "$tmp/display" ] || { echo "Xvfb did not start" >&2; cat "$tmp/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -1 "$tmp/display")"

here=$(cd "$(dirname "$0")" && pwd)
status=0
timeout -k 5 "${KORDO_DESKTOP_LIMIT:-150}" dbus-run-session -- bash "$here/in_session.sh" "$@" || status=$?
if [ "$status" != 0 ]; then
  # What the display server said, for failures that come from it.
  kill -0 "$xvfb" 2>/dev/null && echo "Xvfb on $DISPLAY still runs" || echo "Xvfb on $DISPLAY is gone"
  tail -20 "$tmp/xvfb.log"
fi
exit "$status"
