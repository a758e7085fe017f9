#!/usr/bin/env bash
# Installs what is missing, builds, runs every test.
#   ./test.sh           everything: plain, ASan+UBSan, TSan, MinGW cross build,
#                       kordo.exe under Wine, fuzzing
#   QUICK=1 ./test.sh   the plain build and its tests only
# FUZZ_SECONDS sets how long each fuzz target runs (default 10).
# KORDO_WINE_ARCH (auto, i686, x86_64) chooses the Windows build the Wine
# tests run; see scripts/wine_arch.sh.
# Each stage starts by checking that the programs it calls are there (a
# missing one is named with its Debian package) and ends with its time; a
# failure ends the run with
#   FAILED stage: <stage>: <command> (status <n>)
set -eEuo pipefail
cd "$(dirname "$0")"

STAGE="" STAGE_START=$SECONDS TIMES=""
stage_end() {
  [ -n "$STAGE" ] || return 0
  local line
  line=$(printf '%5d s  %s' $((SECONDS - STAGE_START)) "$STAGE")
  TIMES+="$line"$'\n'
  echo "-- $line"
}
# step NAME [PROGRAM...]: starts a stage, after checking that the programs
# it calls are there (kordo_need names a missing one and its package).
step() {
  stage_end
  STAGE=$1 STAGE_START=$SECONDS
  printf '\n== %s\n' "$1"
  shift
  [ $# -eq 0 ] || kordo_need "$@" || fail "a program the stage calls is missing (see above)" 1
}
fail() {  # what failed, status
  trap - ERR
  printf '\nStage times:\n%s%5d s  %s (failed)\n' "$TIMES" $((SECONDS - STAGE_START)) "$STAGE"
  echo "FAILED stage: $STAGE: $1 (status $2)"
  exit "$2"
}
# Fires in the shell where the command failed (functions included: -E);
# the run has no subshells of its own, so it fires once.
trap 'fail "$BASH_COMMAND" $?' ERR

JOBS=$(nproc)
FUZZ_SECONDS=${FUZZ_SECONDS:-10}

. scripts/deps.sh
# What each stage calls, itself or through its tests (kordo_need checks
# them): all of it once the packages are in, and each stage's again before
# the stage.  The sanitizer stages run the build stage's tests.  The Wine
# stage's own programs come with its packages.
NEED_BUILD=(cmake ctest make cc c++ pkg-config sox gzip python3 /usr/bin/python3
  python3:gi python3:pyatspi typelib:Gtk-3.0 typelib:Gdk-3.0 typelib:Atspi-2.0
  Xvfb xdotool openbox dbus-run-session dbus-daemon dbus-send
  /usr/libexec/at-spi-bus-launcher speech-dispatcher spd-say brltty timeout
  orca tmux fenrir python3:speechd python3:pyte)
NEED_PACKAGE=(cpack dpkg-deb dpkg-shlibdeps file lintian desktop-file-validate appstreamcli
  /usr/bin/python3 Xvfb dbus-run-session)
NEED_MINGW=(i686-w64-mingw32-gcc-posix i686-w64-mingw32-g++-posix i686-w64-mingw32-windres
  i686-w64-mingw32-widl i686-w64-mingw32-objdump makensis zip)
NEED_MINGW64=(x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-g++-posix
  x86_64-w64-mingw32-windres x86_64-w64-mingw32-widl x86_64-w64-mingw32-objdump)
NEED_WINE=(wine wineserver wineboot Xvfb xdotool pulseaudio python3)
NEED_FUZZ=(clang clang++)

step "packages"
# Without root this prints the one apt-get command for the whole run, the
# Wine stage's packages included, and stops.
kordo_install_deps wine || fail "packages missing (see above)" 1
kordo_test_locale
need=("${NEED_BUILD[@]}")
[ "${QUICK:-0}" = 1 ] ||
  need+=("${NEED_PACKAGE[@]}" "${NEED_MINGW[@]}" "${NEED_FUZZ[@]}")
kordo_need "${need[@]}" || fail "a program the run calls is missing (see above)" 1

build_and_test() {  # dir, extra cmake args...
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
  ctest --test-dir "$dir" --output-on-failure -j "$JOBS" --timeout 300
}

step "build and unit tests" "${NEED_BUILD[@]}"
build_and_test build

if [ "${QUICK:-0}" = 1 ]; then
  stage_end
  exit 0
fi

step "AddressSanitizer + UndefinedBehaviorSanitizer" "${NEED_BUILD[@]}"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  build_and_test build-asan -DKORDO_SANITIZE=address -DKORDO_BENCH=OFF

step "ThreadSanitizer" "${NEED_BUILD[@]}"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  build_and_test build-tsan -DKORDO_SANITIZE=thread -DKORDO_BENCH=OFF

step "Debian package" "${NEED_PACKAGE[@]}"
# Packaged from the plain build above; unpacked, linted and played.
tests/package/package_test.sh build

step "Windows build for Wine: probe and packages"
# The i686 client is the release build, made on every machine.  The Wine
# tests run it where this machine runs 32-bit Windows programs; elsewhere
# they run the same client built for x86_64 in 64-bit Wine.
WINE_ARCH=$(scripts/wine_arch.sh)
kordo_install_wine "$WINE_ARCH"

# One cross build per architecture: kordo.exe links every portable library,
# so building it compiles and checks them all as well.
builds=i686
[ "$WINE_ARCH" = i686 ] || builds+=" and $WINE_ARCH"
need=("${NEED_MINGW[@]}")
[ "$WINE_ARCH" = i686 ] || need+=("${NEED_MINGW64[@]}")
step "MinGW-w64 cross build of kordo.exe and the portable libraries: $builds" "${need[@]}"
JOBS=$JOBS ./build-windows.sh i686
WINE_OUT=build-windows
if [ "$WINE_ARCH" = x86_64 ]; then
  JOBS=$JOBS ./build-windows.sh x86_64
  WINE_OUT=build-windows/x86_64
fi

# The tests build their helpers with the MinGW C compiler of the build under
# test, and of the other architecture for the i686 one.
need=("${NEED_WINE[@]}" "$WINE_ARCH-w64-mingw32-gcc")
if [ "$WINE_ARCH" = i686 ]; then need+=(x86_64-w64-mingw32-gcc); else need+=(/usr/lib/wine/wine64); fi
step "kordo.exe ($WINE_ARCH) under Wine" "${need[@]}"
# The key-driven Wine tests: one against a scripted server, one playing the
# practice server built by the plain stage above, then the installer
# (install, play, uninstall).  Screenshots are left in build-windows/artefacts.
python3 tests/win/wine_test.py --exe "$WINE_OUT/kordo.exe" --artefacts build-windows/artefacts
python3 tests/win/wine_practice.py --exe "$WINE_OUT/kordo.exe" --server build/server/kordo-server \
  --artefacts build-windows/artefacts
python3 tests/win/wine_install.py --setup "$WINE_OUT/kordo-setup.exe" --server build/server/kordo-server
# Our NVDA controller client against a stand-in NVDA, and sapi5.dll on
# Wine's own voice, through kordo.exe and a probe of the speech unit.
WINE_BUILD=build-win
[ "$WINE_ARCH" = x86_64 ] && WINE_BUILD=build-win64
cmake --build "$WINE_BUILD" -j "$JOBS" --target nvda_standin speech_probe
python3 tests/win/nvda_test.py --exe "$WINE_OUT/kordo.exe" --build "$WINE_BUILD"

step "fuzz targets (${FUZZ_SECONDS}s each)" "${NEED_FUZZ[@]}"
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
  status=0
  "$f" -max_total_time="$FUZZ_SECONDS" -rss_limit_mb=2048 -timeout=10 "${args[@]}" \
    > "build-fuzz/$name.log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    tail -40 "build-fuzz/$name.log"
    fail "$f (see build-fuzz/$name.log)" "$status"
  fi
  tail -1 "build-fuzz/$name.log"
done
stage_end

printf '\nStage times:\n%s' "$TIMES"
echo "All test stages passed."
