#!/usr/bin/env bash
# Cross-builds the 32-bit Windows client with MinGW-w64 (posix threads,
# static) and packs it with its sounds folder:
#   build-windows/kordo.exe  build-windows/kordo-win32.zip
# BUILD_DIR overrides the CMake build folder (default build-win).
set -euo pipefail
cd "$(dirname "$0")"
BUILD_DIR=${BUILD_DIR:-build-win}
OUT=build-windows
cmake -S . -B "$BUILD_DIR" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release -DKORDO_TESTS=OFF -DKORDO_BENCH=OFF >/dev/null
cmake --build "$BUILD_DIR" -j "${JOBS:-2}" --target kordo
mkdir -p "$OUT"
cp "$BUILD_DIR/src/app/win32/kordo.exe" "$OUT/kordo.exe"
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
