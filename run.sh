#!/usr/bin/env bash
# Plays Le Kordo against the practice server on this machine:
#   installs the missing Debian packages, builds (Release), starts
#   kordo-server on 127.0.0.1:1321 (downloads on port 80 when run as root),
#   prepares the game folder run/ and starts the client.  Without a display
#   (or without the desktop client) it plays a scripted tour through
#   kordo-headless and prints what the player hears and sees.
#   ./run.sh --tty  plays in this terminal with kordo-tty instead (for a
#                   console screen reader; Alt+Q closes it)
# Ctrl+C stops everything this script started.
#   BUILD=dir   build folder (default build-run)
#   TOUR=1      play the scripted tour even when a display is present
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD
BUILD=${BUILD:-build-run}
TTY=0
case "${1:-}" in
  --tty) TTY=1 ;;
  "") ;;
  *) echo "usage: ./run.sh [--tty]" >&2; exit 2 ;;
esac

. scripts/deps.sh
kordo_install_deps

echo "== build ($BUILD, Release)"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DKORDO_TESTS=OFF -DKORDO_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j "$(nproc)" >/dev/null

started=()
cleanup() {
  local p
  for p in "${started[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${started[@]}"; do wait "$p" 2>/dev/null || true; done
}
trap cleanup EXIT
trap 'echo; echo "Arrêt."; exit 130' INT TERM

SERVER="$BUILD/server/kordo-server"
mkdir -p run/sounds

if (exec 3<>/dev/tcp/127.0.0.1/1321) 2>/dev/null; then
  echo "Port 1321 is already taken (a kordo-server left running?). Stop it and try again." >&2
  exit 1
fi
echo "== kordo-server on 127.0.0.1:1321 (log: run/server.log)"
"$SERVER" --accounts run/kordo-accounts.txt >run/server.log 2>&1 &
started+=($!)
for _ in $(seq 50); do
  (exec 3<>/dev/tcp/127.0.0.1/1321) 2>/dev/null && break
  kill -0 "${started[0]}" 2>/dev/null || { cat run/server.log >&2; exit 1; }
  sleep 0.1
done
head -1 run/server.log

# The client fetches its files from port 80 only.  When the server could not
# take it (not root, or port taken), give the game folder its files here.
if ! grep -q 'downloads on http://127.0.0.1:80/' run/server.log; then
  cp -p "$BUILD"/server/autodl/sounds/*.ogg run/sounds/ 2>/dev/null || true
  cp -p "$BUILD"/server/autodl/kordoext.so run/
fi

# Configuration: the practice server, with a ready-made account (created on
# the first login).  Format: server=name,host,port,about,register,lost
# password,download host,download base,login,password.
web=http://localhost
printf 'language=fr\r\nserver.default=0\r\nsound.volume=1\r\nmusic.volume=0.5\r\nmusic.on=1\r\nserver=Kordo local,127.0.0.1,1321,%s/about.php,%s/register.php,%s/lostpassword.php,localhost,/autodl,joueur,kordo\r\n' \
  "$web" "$web" "$web" > run/config-debug.ini

find_bin() { find "$BUILD" -name "$1" -type f -perm -u+x 2>/dev/null | head -1; }
KORDO=$(find_bin kordo)
HEADLESS=$(find_bin kordo-headless)

if [ "$TTY" = 1 ]; then
  KORDO_TTY=$(find_bin kordo-tty)
  [ -n "$KORDO_TTY" ] || { echo "kordo-tty is not built." >&2; exit 1; }
  echo "== kordo-tty (Alt+Q pour quitter)"
  # In the foreground: it reads the keys of this terminal.  Ctrl+C is a game
  # key there; the script's cleanup stops the server when it ends.
  "$KORDO_TTY" --dir run || true
  exit 0
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -n "$KORDO" ] && [ "${TOUR:-0}" != 1 ]; then
  # The desktop client's program folder is its own folder.
  cp "$KORDO" run/kordo
  echo "== kordo (fermez la fenêtre ou Ctrl+C pour arrêter)"
  (cd run && exec ./kordo) &
  started+=($!)
  wait "${started[-1]}" || true
  exit 0
fi

if [ -z "$HEADLESS" ]; then
  [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && echo "The desktop client (kordo) is not built yet."
  echo "kordo-headless is not built yet on this branch: no scripted tour."
  echo "The practice server keeps running on 127.0.0.1:1321; Ctrl+C stops it."
  wait "${started[0]}"
  exit 0
fi

echo "== tour guidé avec kordo-headless (ce que le joueur entend et voit)"
scripts/tour.sh "$HEADLESS" "$BUILD" run
echo "== fin du tour (journal du serveur : run/server.log)"
