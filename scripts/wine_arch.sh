#!/usr/bin/env bash
# Chooses which Windows build the Wine stage of ./test.sh tests on this
# machine and prints it alone on standard output: "i686" or "x86_64".  What
# it found goes to standard error.
#
#   KORDO_WINE_ARCH=auto (default)   probe: i686 where this machine runs a
#                                    32-bit Windows program under Wine, else
#                                    x86_64
#   KORDO_WINE_ARCH=i686 | x86_64    no probe: that build, whatever the
#                                    machine (a forced build that cannot run
#                                    here fails the stage)
#
# The probe is bounded.  First the kernel (kordo_kernel_runs_32bit in
# scripts/deps.sh): installing 32-bit Wine is pointless without it.  Then
# 32-bit Wine itself, installed here: an i686 console program run in a
# throwaway 32-bit prefix, for at most KORDO_WINE_PROBE_SECONDS (default 120;
# a new prefix takes some 20 s to set up).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh

say() { echo "Wine probe: $*" >&2; }

forced=${KORDO_WINE_ARCH:-auto}
case "$forced" in
  i686 | x86_64)
    say "KORDO_WINE_ARCH=$forced: no probe; testing the $forced build"
    echo "$forced"
    exit 0 ;;
  auto) ;;
  *)
    say "KORDO_WINE_ARCH='$forced' is not auto, i686 or x86_64"
    exit 2 ;;
esac

tmp=$(mktemp -d)
trap 'WINEPREFIX="$tmp/prefix" wineserver -k >/dev/null 2>&1 || true; rm -rf "$tmp"' EXIT

choose_x86_64() {
  say "$1; testing the x86_64 build in 64-bit Wine"
  echo x86_64
  exit 0
}

kordo_kernel_runs_32bit || choose_x86_64 "$KORDO_KERNEL_32BIT_WHY"
say "the kernel runs 32-bit programs"

kordo_install_wine i686 >&2 || { say "32-bit Wine could not be installed"; exit 1; }
i686-w64-mingw32-gcc -O1 -mconsole -static-libgcc -o "$tmp/win_probe.exe" tests/win/win_probe.c
seconds=${KORDO_WINE_PROBE_SECONDS:-120}
# Without arguments win_probe.exe prints its usage and ends with status 2:
# both show that the program ran.
status=0
out=$(env HOME="$tmp" WINEPREFIX="$tmp/prefix" WINEARCH=win32 WINEDEBUG=-all \
  WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY= timeout "$seconds" wine "$tmp/win_probe.exe" 2>&1) || status=$?
if [ "$status" -ne 2 ] || ! grep -q "usage: win_probe" <<<"$out"; then
  if [ "$status" -eq 124 ]; then why="no answer within ${seconds}s"; else why="status $status: $(tail -1 <<<"$out")"; fi
  choose_x86_64 "32-bit Wine could not run an i686 program ($why)"
fi
say "32-bit Wine runs an i686 program; testing the i686 build"
echo i686
