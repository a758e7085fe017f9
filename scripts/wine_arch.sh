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
# The probe is bounded.  First the kernel: a 32-bit Linux program of 96 bytes
# that only exits with status 42 (kernels without 32-bit support refuse it:
# "Exec format error"); installing 32-bit Wine is pointless without it.  Then
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

# An i386 ELF executable: header, one loadable segment, then
#   mov eax, 1; mov ebx, 42; int 0x80   (exit(42))
python3 - "$tmp/exit42" <<'EOF'
import os, struct, sys
base, code = 0x08048000, bytes([0xB8, 1, 0, 0, 0, 0xBB, 42, 0, 0, 0, 0xCD, 0x80])
size = 52 + 32 + len(code)
header = b"\x7fELF" + bytes([1, 1, 1, 0]) + bytes(8) + struct.pack(
    "<HHIIIIIHHHHHH", 2, 3, 1, base + 52 + 32, 52, 0, 0, 52, 32, 1, 0, 0, 0)
segment = struct.pack("<IIIIIIII", 1, 0, base, base, size, size, 5, 0x1000)
with open(sys.argv[1], "wb") as f:
    f.write(header + segment + code)
os.chmod(sys.argv[1], 0o755)
EOF
# Run by bash itself, not through timeout: execvp would hand a refused
# binary to /bin/sh.  The program ends at its first instructions.
status=0
err=$("$tmp/exit42" 2>&1) || status=$?
if [ "$status" -ne 42 ]; then
  choose_x86_64 "the kernel does not run 32-bit programs (status $status${err:+: ${err##*: }})"
fi
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
