#!/usr/bin/env bash
# The Debian package, from a build folder (default: build, the plain build
# of test.sh, whose programs are then already built):
#   builds it with CPack; checks its control fields; unpacks it into a
#   temporary root (dpkg-deb -x); runs lintian on it (no error allowed) and
#   desktop-file-validate and appstreamcli on its files; checks the four
#   programs' --help, --version and unknown-option answers; has the unpacked
#   kordo-headless log in to the unpacked kordo-server with a temporary HOME
#   (play_unpacked.py); and starts the unpacked kordo on a private display,
#   where its connection dialog must show (desktop_unpacked.py).
# Usage: tests/package/package_test.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
build=$(cd "$src" && mkdir -p "${1:-build}" && cd "${1:-build}" && pwd)
JOBS=${JOBS:-$(nproc)}

tmp=$(mktemp -d "${TMPDIR:-/tmp}/kordo-package.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

[ -f "$build/CMakeCache.txt" ] || cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# cpack builds the folder's default target, one job at a time: build it
# here in parallel first (nothing to do after test.sh's plain stage).
cmake --build "$build" -j "$JOBS" >"$tmp/build.log" 2>&1 || { tail -30 "$tmp/build.log" >&2; fail "build"; }
rm -f "$build"/package/kordo_*.deb
(cd "$build" && cpack -G DEB >"$tmp/cpack.log" 2>&1) || { cat "$tmp/cpack.log" >&2; fail "cpack"; }
debs=("$build"/package/kordo_*.deb)
[ -f "${debs[0]}" ] || fail "cpack made no kordo_*.deb"
deb=${debs[0]}
echo "package: $deb ($(du -k "$deb" | cut -f1) KiB)"

# Control fields: the computed library dependencies, Speech Dispatcher, Orca.
field() { dpkg-deb -f "$deb" "$1"; }
depends=$(field Depends)
for want in speech-dispatcher libgtk-3-0 libspeechd2 libsdl2 libc6; do
  [[ $depends == *"$want"* ]] || fail "Depends lacks $want: $depends"
done
[[ $(field Suggests) == *orca* ]] || fail "Suggests lacks orca: $(field Suggests)"

root="$tmp/root"
dpkg-deb -x "$deb" "$root"
for f in usr/bin/kordo usr/bin/kordo-headless usr/bin/kordo-tty usr/bin/kordo-server \
         usr/share/applications/kordo.desktop usr/share/metainfo/fr.lekordo.Kordo.metainfo.xml \
         usr/share/icons/hicolor/scalable/apps/kordo.svg \
         usr/share/man/man6/kordo.6.gz usr/share/man/man6/kordo-headless.6.gz \
         usr/share/man/man6/kordo-tty.6.gz \
         usr/share/man/man6/kordo-server.6.gz usr/share/doc/kordo/copyright \
         usr/share/kordo/autodl/sounds/mustart.ogg usr/share/kordo/autodl/kordoext.so; do
  [ -e "$root/$f" ] || fail "the package lacks /$f"
done

echo "-- lintian"
# Errors fail the stage; warnings are shown (the README lists the ones kept).
status=0
lintian --fail-on error --tag-display-limit 0 "$deb" >"$tmp/lintian.log" 2>&1 || status=$?
grep -v 'running with root privileges' "$tmp/lintian.log" || true
[ "$status" = 0 ] || fail "lintian reports errors (status $status)"

echo "-- desktop-file-validate, appstreamcli validate"
desktop-file-validate "$root/usr/share/applications/kordo.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$root/usr/share/metainfo/fr.lekordo.Kordo.metainfo.xml" ||
  fail "appstreamcli validate"
grep -q '^Name=Le Kordo$' "$root/usr/share/applications/kordo.desktop" || fail "desktop entry name"

echo "-- command lines"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
for p in kordo kordo-headless kordo-tty kordo-server; do
  exe="$root/usr/bin/$p"
  out=$(env -u DISPLAY "$exe" --version) || fail "$p --version"
  [ "$out" = "$p $version" ] || fail "$p --version said: $out"
  out=$(env -u DISPLAY "$exe" --help) || fail "$p --help"
  [[ $out == usage:\ $p* && $out == *--version* ]] || fail "$p --help said: $out"
  status=0
  env -u DISPLAY "$exe" --no-such-option >"$tmp/out" 2>"$tmp/err" </dev/null || status=$?
  [ "$status" = 2 ] || fail "$p --no-such-option: status $status"
  [ ! -s "$tmp/out" ] && [ "$(wc -l <"$tmp/err")" = 1 ] && grep -q -- '--no-such-option' "$tmp/err" ||
    fail "$p --no-such-option: not a one-line error: $(cat "$tmp/out" "$tmp/err")"
done
echo "ok: --help, --version and an unknown option on all four programs"

echo "-- the unpacked programs"
python3 "$here/play_unpacked.py" "$root"
"$src/tests/gtk/with_desktop.sh" /usr/bin/python3 "$here/desktop_unpacked.py" "$root"
