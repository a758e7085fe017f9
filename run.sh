#!/usr/bin/env bash
# Plays Le Kordo against the practice server on this machine:
#   installs the missing Debian packages, builds (Release), starts
#   kordo-server on 127.0.0.1:1321 (downloads on port 80 when run as root),
#   prepares the game folder run/ and starts the client.  Without a display
#   (or without the desktop client) it plays a scripted tour through
#   kordo-headless and prints what the player hears and sees.
# Ctrl+C stops everything this script started.
#   BUILD=dir   build folder (default build-run)
#   TOUR=1      play the scripted tour even when a display is present
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD
BUILD=${BUILD:-build-run}

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

# The scripted tour: the player's actions, one per line (see the headless
# front-end's input commands); waits let the server's answers arrive.
tour() {
  cat <<'T'
sleep 300
answer 0|joueur|kordo
sleep 2500
keydown 40 list
sleep 300
keydown 40 list
sleep 300
keydown 38 list
sleep 300
keydown 38 list
sleep 300
keydown 38 list
sleep 300
keydown 13 list
sleep 800
keydown 13 list
sleep 800
keydown 39 list
sleep 300
keydown 27 list
sleep 800
type Bonjour tout le monde !
keydown 13 chat
sleep 500
type //who
keydown 13 chat
sleep 500
keydown 40 list
sleep 200
keydown 40 list
sleep 200
keydown 40 list
sleep 200
keydown 40 list
sleep 200
keydown 13 list
sleep 1200
keydown 40 list
sleep 200
keydown 13 list
sleep 500
answer Camille
sleep 500
keydown 40 list
sleep 200
keydown 13 list
sleep 500
answer 6
sleep 800
T
}

# A second player, "amie", in her own game folder: she greets the room and
# whispers to the first player, so the chat has someone to talk to.
friend_tour() {
  cat <<'T'
sleep 100
answer 0|amie|kordo
sleep 5500
type Salut tout le monde, qui veut jouer ?
keydown 13 chat
sleep 3000
type //@joueur On fait une partie de morpion ?
keydown 13 chat
sleep 9000
T
}

# Events to readable lines.  Every event is "<kind> <rest>", text last.
# (A shell loop rather than awk: some awks read a pipe in blocks, which would
# hold the lines back and mix up the order of the two players' lines.)
readable() {
  local line kind rest
  while IFS= read -r line; do
    kind=${line%% *}
    rest=${line#"$kind"}
    rest=${rest# }
    case $kind in
      ready) ;;
      speak) echo "  parole     : ${rest#[01] }" ;;
      history)
        while [[ $rest == '\r\n'* ]]; do rest=${rest#'\r\n'}; done
        echo "  écran      : $rest" ;;
      sound) echo "  son        : $rest" ;;
      music) echo "  musique    : $rest" ;;
      music-fade) echo "  musique    : fondu de $rest" ;;
      list-reset) echo "  liste      : (vidée)" ;;
      list-add) echo "  liste      : + $rest" ;;
      list-del) echo "  liste      : - n°$rest" ;;
      list-select) echo "  liste      : sélection n°$rest" ;;
      chat-text) echo "  discussion : [$rest]" ;;
      dialog) echo "  dialogue   : $rest" ;;
      title) echo "  titre      : $rest" ;;
      focus) echo "  focus      : $rest" ;;
      browse) echo "  navigateur : $rest" ;;
      execute) echo "  exécute    : $rest" ;;
      quit) echo "  fin        : $rest" ;;
      *) echo "  $line" ;;
    esac
  done
}

mkdir -p run/amie/sounds
sed 's/,joueur,kordo/,amie,kordo/' run/config-debug.ini > run/amie/config-debug.ini
# Her files come ready (same dates as the server's: nothing to fetch).
cp -p "$BUILD"/server/autodl/sounds/*.ogg run/amie/sounds/ 2>/dev/null || true
cp -p "$BUILD"/server/autodl/kordoext.so run/amie/
( friend_tour | "$HEADLESS" --dir run/amie 2>run/amie/headless.log | grep --line-buffered '^speak ' | grep --line-buffered -v 'Téléchargement' |
  sed -u 's/^speak [01] /  [amie entend] /' ) &
started+=($!)

echo "== tour guidé avec kordo-headless (ce que le joueur entend et voit)"
tour | "$HEADLESS" --dir run 2>run/headless.log | readable
wait "${started[-1]}" 2>/dev/null || true
echo "== fin du tour (journal du serveur : run/server.log)"
