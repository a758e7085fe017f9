#!/usr/bin/env bash
# Installs what is missing, builds, runs every test.
#   ./test.sh           everything: plain, ASan+UBSan, TSan, MinGW cross build,
#                       kordo.exe under Wine, fuzzing
#   QUICK=1 ./test.sh   the plain build and its tests only
# FUZZ_SECONDS sets how long each fuzz target runs (default 10).
set -euo pipefail
cd "$(dirname "$0")"
. scripts/deps.sh
kordo_install_deps
kordo_test_locale

JOBS=$(nproc)
FUZZ_SECONDS=${FUZZ_SECONDS:-10}

step() { printf '\n== %s\n' "$*"; }

build_and_test() {  # dir, extra cmake args...
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
  (cd "$dir" && ctest --output-on-failure -j "$JOBS" --timeout 300)
}

step "build and unit tests"
build_and_test build

if [ "${QUICK:-0}" = 1 ]; then exit 0; fi

step "AddressSanitizer + UndefinedBehaviorSanitizer"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  build_and_test build-asan -DKORDO_SANITIZE=address -DKORDO_BENCH=OFF

step "ThreadSanitizer"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  build_and_test build-tsan -DKORDO_SANITIZE=thread -DKORDO_BENCH=OFF

step "Debian package"
# Packaged from the plain build above; unpacked, linted and played.
tests/package/package_test.sh build

step "MinGW-w64 i686 cross build of the portable libraries"
cmake -S . -B build-mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release -DKORDO_CORE_ONLY=ON >/dev/null
cmake --build build-mingw -j "$JOBS"

step "kordo.exe under Wine"
# The cross build of the whole client, then the key-driven Wine tests: one
# against a scripted server, one playing the practice server built by the
# plain stage above.  Screenshots are left in build-windows/artefacts.
kordo_install_wine
JOBS=$JOBS ./build-windows.sh
python3 tests/win/wine_test.py --exe build-windows/kordo.exe --artefacts build-windows/artefacts
python3 tests/win/wine_practice.py --exe build-windows/kordo.exe --server build/server/kordo-server \
  --artefacts build-windows/artefacts

step "fuzz targets (${FUZZ_SECONDS}s each)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKORDO_FUZZ=ON -DKORDO_TESTS=OFF -DKORDO_BENCH=OFF >/dev/null
cmake --build build-fuzz -j "$JOBS"
for f in build-fuzz/tests/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  corpus="build-fuzz/corpus/$name"
  mkdir -p "$corpus"
  seeds="tests/fuzz/seeds/${name#fuzz_}"
  args=("$corpus")
  [ -d "$seeds" ] && args+=("$seeds")
  echo "-- $name"
  "$f" -max_total_time="$FUZZ_SECONDS" -rss_limit_mb=2048 -timeout=10 "${args[@]}" \
    > "build-fuzz/$name.log" 2>&1 || { tail -40 "build-fuzz/$name.log"; exit 1; }
  tail -1 "build-fuzz/$name.log"
done

echo
echo "All test stages passed."
