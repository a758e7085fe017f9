#!/usr/bin/env bash
# Cross-builds the Windows client with MinGW-w64 (posix threads, static) and
# packs it.
#   ./build-windows.sh [i686|x86_64]     default: $KORDO_WIN_ARCH, else i686
# i686 is the release build:
#   build-windows/kordo.exe          and the speech libraries built with it
#   build-windows/kordo-win32.zip    the folder "kordo": kordo.exe, the speech
#                                    libraries built with it, sounds\,
#                                    LISEZMOI.txt, LICENCES.txt, licences\
#   build-windows/kordo-setup.exe    the per-user installer of the same files
# x86_64 is built for the Wine tests of machines that cannot run 32-bit
# programs; it goes to its own folder so that the i686 files stay:
#   build-windows/x86_64/kordo.exe, kordo-setup.exe (a 64-bit installer)
# BUILD_DIR overrides the CMake build folder (default build-win for i686,
# build-win64 for x86_64).
set -euo pipefail
cd "$(dirname "$0")"
ARCH=${1:-${KORDO_WIN_ARCH:-i686}}
case "$ARCH" in
  i686) BUILD_DIR=${BUILD_DIR:-build-win}; OUT=build-windows ;;
  x86_64) BUILD_DIR=${BUILD_DIR:-build-win64}; OUT=build-windows/x86_64 ;;
  *) echo "build-windows.sh: unknown architecture '$ARCH' (i686 or x86_64)" >&2; exit 2 ;;
esac
# The programs the build calls, each named with its Debian package when
# missing (scripts/deps.sh installs them all but the x86_64 compilers, which
# come with the Wine tests' packages).
. scripts/deps.sh
kordo_need cmake make makensis zip "$ARCH-w64-mingw32-gcc-posix" "$ARCH-w64-mingw32-g++-posix" \
  "$ARCH-w64-mingw32-windres" "$ARCH-w64-mingw32-widl" "$ARCH-w64-mingw32-objdump"
# The build also checks the files it packs without running them: imports
# of system DLLs only, and the speech libraries' exports against what the
# client's loader looks up (cmake/check_windows_binaries.cmake).
cmake -S . -B "$BUILD_DIR" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$ARCH.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DKORDO_TESTS=OFF -DKORDO_BENCH=OFF >/dev/null
cmake --build "$BUILD_DIR" -j "${JOBS:-2}" --target kordo-package
mkdir -p "$OUT"

# The package folder, as the zip and the installer hold it.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
pkg="$stage/kordo"
mkdir -p "$pkg/sounds" "$pkg/licences"
# kordo.exe and its libraries also go to $OUT, for the tests.  A library
# keeps the name the client loads it by, without the "lib" prefix that
# MinGW builds give by default.
while IFS= read -r f; do
  [ -n "$f" ] || continue
  name=$(basename "$f")
  case "$name" in lib*.dll) name=${name#lib} ;; esac
  cp "$f" "$pkg/$name"
  cp "$f" "$OUT/$name"
done < "$BUILD_DIR/package-files.txt"
# The sounds folder ships next to the program; the client fetches missing
# files itself, so an empty folder is a valid package.
if [ -d server/assets/sounds ]; then cp -r server/assets/sounds/. "$pkg/sounds/"; fi
# Texts for Notepad: CRLF line ends, UTF-8 with its byte-order mark.
crlf() { printf '\xEF\xBB\xBF'; sed 's/$/\r/' "$1"; }
crlf resources/windows/LISEZMOI.txt > "$pkg/LISEZMOI.txt"
crlf resources/windows/LICENCES.txt > "$pkg/LICENCES.txt"
# The licences of what kordo.exe links statically, as the Debian packages
# of the compilers state them.
crlf "/usr/share/doc/mingw-w64-$( [ "$ARCH" = i686 ] && echo i686 || echo x86-64 )-dev/copyright" \
  > "$pkg/licences/mingw-w64.txt"
crlf /usr/share/doc/gcc-mingw-w64-base/copyright > "$pkg/licences/gcc-runtime.txt"
crlf /usr/share/doc/libstb-dev/copyright > "$pkg/licences/stb.txt"

# What the uninstaller removes, made from the staged package itself so that it
# never drifts from what was installed: a Delete line per file, then an RMDir
# line per folder, deepest first (an RMDir without /r removes only an empty
# folder, so files the player keeps there stay).
list="$stage/package-list.nsh"
nsis_line() {  # Delete|RMDir ./a/b -> Delete "$INSTDIR\a\b", "$" doubled for NSIS
  local p=${2#./}
  case "$p" in *'"'* | *$'\n'* | *$'\r'* | *'`'*)
    echo "build-windows.sh: the package file '$p' cannot be named in the installer" >&2
    exit 1 ;;
  esac
  p=${p//\$/\$\$}
  printf '%s "$INSTDIR\\%s"\r\n' "$1" "${p//\//\\}" >> "$list"
}
: > "$list"
while IFS= read -r f; do nsis_line Delete "$f"; done < <(cd "$pkg" && find . -mindepth 1 -type f | LC_ALL=C sort)
while IFS= read -r d; do nsis_line RMDir "$d"; done < <(cd "$pkg" && find . -mindepth 1 -type d | LC_ALL=C sort -r)

makensis -V2 -INPUTCHARSET UTF8 -DSTAGE="$pkg" -DPACKAGE_LIST="$list" \
  -DOUTFILE="$PWD/$OUT/kordo-setup.exe" -DARCH="$ARCH" resources/windows/kordo.nsi >/dev/null
if [ "$ARCH" = x86_64 ]; then
  echo "$OUT/kordo.exe  $OUT/kordo-setup.exe"
  exit 0
fi
rm -f "$OUT/kordo-win32.zip"
(cd "$stage" && zip -qr - kordo) > "$OUT/kordo-win32.zip"
echo "$OUT/kordo.exe  $OUT/kordo-win32.zip  $OUT/kordo-setup.exe"
