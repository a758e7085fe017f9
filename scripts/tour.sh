#!/usr/bin/env bash
# The scripted tour of run.sh: two kordo-headless players against the
# practice server already running on 127.0.0.1:1321, what the first one
# hears and sees printed as readable French lines.
#   scripts/tour.sh HEADLESS BUILD GAMEDIR
# GAMEDIR holds the first player's configuration (run.sh writes it); the
# second player, "amie", gets GAMEDIR/amie.
set -euo pipefail
HEADLESS=$1
BUILD=$2
GAME=$3
friend=
trap '[ -n "$friend" ] && kill "$friend" 2>/dev/null; wait 2>/dev/null || true' EXIT

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

mkdir -p "$GAME"/amie/sounds
sed 's/,joueur,kordo/,amie,kordo/' "$GAME"/config-debug.ini > "$GAME"/amie/config-debug.ini
# Her files come ready (same dates as the server's: nothing to fetch).
cp -p "$BUILD"/server/autodl/sounds/*.ogg "$GAME"/amie/sounds/ 2>/dev/null || true
cp -p "$BUILD"/server/autodl/kordoext.so "$GAME"/amie/
( friend_tour | "$HEADLESS" --dir "$GAME"/amie 2>"$GAME"/amie/headless.log | grep --line-buffered '^speak ' | grep --line-buffered -v 'Téléchargement' |
  sed -u 's/^speak [01] /  [amie entend] /' ) &
friend=$!

tour | "$HEADLESS" --dir "$GAME" 2>"$GAME"/headless.log | readable
wait "$friend" 2>/dev/null || true
friend=
