#!/usr/bin/env bash
# Cross-builds the Windows client with MinGW-w64 (posix threads, static).
#   ./build-windows.sh [i686|x86_64]     default: $KORDO_WIN_ARCH, else i686
# i686 is the release build, packed with its sounds folder:
#   build-windows/kordo.exe  build-windows/kordo-win32.zip
# x86_64 is built for the Wine tests of machines that cannot run 32-bit
# programs; it goes to its own folder so that the i686 files stay:
#   build-windows/x86_64/kordo.exe
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
cmake -S . -B "$BUILD_DIR" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$ARCH.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DKORDO_TESTS=OFF -DKORDO_BENCH=OFF >/dev/null
cmake --build "$BUILD_DIR" -j "${JOBS:-2}" --target kordo
mkdir -p "$OUT"
cp "$BUILD_DIR/src/app/win32/kordo.exe" "$OUT/kordo.exe"
if [ "$ARCH" = x86_64 ]; then
  echo "$OUT/kordo.exe"
  exit 0
fi
# The sounds folder ships next to the program; the client fetches missing
# files itself, so an empty folder is a valid package.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/kordo/sounds"
cp "$OUT/kordo.exe" "$stage/kordo/"
if [ -d server/assets/sounds ]; then cp -r server/assets/sounds/. "$stage/kordo/sounds/"; fi
rm -f "$OUT/kordo-win32.zip"
(cd "$stage" && zip -qr - kordo) > "$OUT/kordo-win32.zip"
echo "$OUT/kordo.exe  $OUT/kordo-win32.zip"
