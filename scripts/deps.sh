# Sourced by run.sh, test.sh, build-windows.sh and scripts/wine_arch.sh:
# installs the Debian packages the build and the tests need when they are
# missing, and checks that the programs a step is about to call are there.
# As root it runs apt-get; otherwise it prints the one command to run and
# fails.  A minimal Debian 12 (apt and the essential packages only) is enough
# to start from.

# Everything run.sh and test.sh use but Wine (see kordo_install_wine).
KORDO_PACKAGES=(
  # build tools and libraries
  cmake make g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libstb-dev libsdl2-dev libgtk-3-dev libspeechd-dev libbrlapi-dev libx11-dev
  # fuzzing
  clang libclang-rt-14-dev
  # Windows cross build: compilers, widl, the installer
  g++-mingw-w64-i686-posix mingw-w64-tools nsis zip
  # Python and the modules the tests import
  python3 python3-gi python3-pyatspi gir1.2-atspi-2.0 gir1.2-gtk-3.0
  # desktop, speech and braille tests
  xvfb xdotool dbus dbus-x11 at-spi2-core openbox orca
  speech-dispatcher speech-dispatcher-audio-plugins brltty locales
  # terminal tests: a multiplexer, a console screen reader and its Python
  tmux fenrir python3-speechd python3-pyte
  # sound
  pulseaudio sox libsox-fmt-all vorbis-tools
  # Debian package and its checks
  dpkg-dev file lintian desktop-file-utils appstream
)

# The package that brings each program, Python module ("python3:MODULE") or
# GObject typelib ("typelib:NAME-VERSION") the scripts and tests call, for
# kordo_need.  A name with a slash is an absolute path.
declare -gA KORDO_PROVIDER=(
  [cmake]=cmake [ctest]=cmake [cpack]=cmake [make]=make
  [cc]=gcc [c++]=g++ [pkg-config]=pkg-config [gzip]=gzip [timeout]=coreutils
  [clang]=clang [clang++]=clang
  [i686-w64-mingw32-gcc]=gcc-mingw-w64-i686-posix
  [i686-w64-mingw32-gcc-posix]=gcc-mingw-w64-i686-posix
  [i686-w64-mingw32-g++-posix]=g++-mingw-w64-i686-posix
  [i686-w64-mingw32-windres]=binutils-mingw-w64-i686
  [i686-w64-mingw32-objdump]=binutils-mingw-w64-i686
  [i686-w64-mingw32-widl]=mingw-w64-tools
  [x86_64-w64-mingw32-gcc]=gcc-mingw-w64-x86-64-posix
  [x86_64-w64-mingw32-gcc-posix]=gcc-mingw-w64-x86-64-posix
  [x86_64-w64-mingw32-g++-posix]=g++-mingw-w64-x86-64-posix
  [x86_64-w64-mingw32-windres]=binutils-mingw-w64-x86-64
  [x86_64-w64-mingw32-objdump]=binutils-mingw-w64-x86-64
  [x86_64-w64-mingw32-widl]=mingw-w64-tools
  [makensis]=nsis [zip]=zip
  [python3]=python3 [/usr/bin/python3]=python3
  [python3:gi]=python3-gi [python3:pyatspi]=python3-pyatspi
  [typelib:Gtk-3.0]=gir1.2-gtk-3.0 [typelib:Gdk-3.0]=gir1.2-gtk-3.0
  [typelib:Atspi-2.0]=gir1.2-atspi-2.0
  [Xvfb]=xvfb [xdotool]=xdotool [openbox]=openbox
  [dbus-run-session]=dbus-daemon [dbus-daemon]=dbus-daemon [dbus-send]=dbus-bin
  [/usr/libexec/at-spi-bus-launcher]=at-spi2-core
  [speech-dispatcher]=speech-dispatcher [spd-say]=speech-dispatcher [brltty]=brltty
  [pulseaudio]=pulseaudio [sox]=sox [localedef]=libc-bin
  [dpkg-deb]=dpkg [dpkg-shlibdeps]=dpkg-dev [file]=file [lintian]=lintian
  [desktop-file-validate]=desktop-file-utils [appstreamcli]=appstream
  [orca]=orca [tmux]=tmux [fenrir]=fenrir
  [python3:speechd]=python3-speechd [python3:pyte]=python3-pyte
  [wine]=wine [wineserver]=wine [wineboot]=wine [/usr/lib/wine/wine64]=wine64
)

# kordo_need NAME...: succeeds when every program (or module, typelib) named
# is present; otherwise names each missing one with the package that brings
# it, on standard error, and fails.  Names missing from KORDO_PROVIDER are a
# mistake of the caller and fail as well.
kordo_need() {
  local name missing=0 found
  for name in "$@"; do
    case "$name" in
      python3:*)
        found=0
        /usr/bin/python3 -c "import ${name#python3:}" >/dev/null 2>&1 && found=1 ;;
      typelib:*)
        local t=${name#typelib:}
        found=0
        /usr/bin/python3 -c "import gi; gi.require_version('${t%-*}', '${t##*-}')" \
          >/dev/null 2>&1 && found=1 ;;
      */*) found=0; [ -x "$name" ] && found=1 ;;
      *) found=0; command -v "$name" >/dev/null 2>&1 && found=1 ;;
    esac
    [ "$found" = 1 ] && continue
    missing=1
    if [ -n "${KORDO_PROVIDER[$name]:-}" ]; then
      echo "Missing: $name (Debian package ${KORDO_PROVIDER[$name]})" >&2
    else
      echo "Missing: $name (no package known for it in scripts/deps.sh)" >&2
    fi
  done
  return "$missing"
}

# Missing packages of the list, on standard output.
kordo_missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

# The Wine tests' packages for a build (scripts/wine_arch.sh chooses it):
#   i686    32-bit Wine, which needs the i386 architecture (about a minute on
#           a fresh machine), and the x86_64 C compiler for the test's
#           library of the other architecture
#   x86_64  64-bit Wine alone and the x86_64 MinGW-w64 compilers; no i386
#           package, as machines that take this path cannot run them
kordo_wine_packages() {
  case "$1" in
    i686) echo wine wine32:i386 gcc-mingw-w64-x86-64-posix ;;
    x86_64) echo wine wine64 g++-mingw-w64-x86-64-posix ;;
    *) echo "kordo_wine_packages: unknown architecture '$1'" >&2; return 2 ;;
  esac
}

# Whether this kernel runs 32-bit x86 programs: a 96-byte i386 program that
# only exits with status 42 (kernels without 32-bit support refuse it with
# "Exec format error").  Run by bash itself, not through timeout: execvp
# would hand a refused binary to /bin/sh.  What was found goes to
# KORDO_KERNEL_32BIT_WHY.
kordo_kernel_runs_32bit() {
  local dir status=0 err
  dir=$(mktemp -d)
  # ELF header, one loadable segment, then
  #   mov eax, 1; mov ebx, 42; int 0x80   (exit(42))
  printf '%b' \
    '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
    '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
    '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' \
    '\x00\x00\x00\x00' \
    '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' \
    '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' \
    '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$dir/exit42"
  chmod 755 "$dir/exit42"
  err=$("$dir/exit42" 2>&1) || status=$?
  rm -rf "$dir"
  if [ "$status" -eq 42 ]; then
    KORDO_KERNEL_32BIT_WHY="the kernel runs 32-bit programs"
    return 0
  fi
  KORDO_KERNEL_32BIT_WHY="the kernel does not run 32-bit programs (status $status${err:+: ${err##*: }})"
  return 1
}

# kordo_install_deps [wine]: installs the missing packages of KORDO_PACKAGES.
# Without root it cannot; it then prints the one command that installs what
# the caller will need, and fails.  With "wine" (test.sh) that command also
# holds the Wine tests' packages, which root installs only when their stage
# comes (kordo_install_wine): both Wine builds' where this kernel runs 32-bit
# programs (the stage probes 32-bit Wine before it chooses), the x86_64
# build's elsewhere.
kordo_install_deps() {
  local missing=() wine=() root=0
  mapfile -t missing < <(kordo_missing_packages "${KORDO_PACKAGES[@]}")
  [ "$(id -u)" -eq 0 ] && root=1
  if [ "$root" = 0 ] && [ "${1:-}" = wine ]; then
    local arch=${KORDO_WINE_ARCH:-auto}
    if [ "$arch" = auto ]; then
      arch=x86_64
      kordo_kernel_runs_32bit && arch="i686 x86_64"
    fi
    local a p all=" "
    for a in $arch; do
      for p in $(kordo_wine_packages "$a"); do
        case "$all" in *" $p "*) ;; *) all+="$p " ;; esac
      done
    done
    # shellcheck disable=SC2086
    mapfile -t wine < <(kordo_missing_packages $all)
  fi
  [ $((${#missing[@]} + ${#wine[@]})) -eq 0 ] && return 0
  if [ "$root" = 0 ]; then
    # Wine comes with its recommended packages, as kordo_install_wine has it.
    local cmd="apt-get update"
    [ ${#missing[@]} -eq 0 ] || cmd+=" && apt-get install -y --no-install-recommends ${missing[*]}"
    [ ${#wine[@]} -eq 0 ] || cmd+=" && apt-get install -y ${wine[*]}"
    case " ${wine[*]} " in *":i386 "*) cmd="dpkg --add-architecture i386 && $cmd" ;; esac
    echo "Missing packages. Run as root, then run this again:" >&2
    echo "  $cmd" >&2
    return 1
  fi
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q >/dev/null || return 1
  apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null || return 1
}

# A French locale, whose decimal point is a comma: the tests check that
# texts written with numbers (configuration, statistics) do not follow the
# C locale the desktop front-end switches to.  Those tests skip without it.
kordo_test_locale() {
  locale -a 2>/dev/null | grep -qi '^fr_FR\.utf-\?8$' && return 0
  [ "$(id -u)" -eq 0 ] || { echo "No fr_FR.UTF-8 locale: the decimal-comma tests will skip" >&2; return 0; }
  localedef -i fr_FR -f UTF-8 fr_FR.UTF-8 >/dev/null 2>&1 ||
    echo "Could not generate fr_FR.UTF-8: the decimal-comma tests will skip" >&2
  return 0
}

# Wine for the Windows test stage only, for the build that stage tests
# (kordo_wine_packages): separate from kordo_install_deps so that the other
# stages never pay for it.
kordo_install_wine() {
  local arch=${1:-i686} need
  need=$(kordo_wine_packages "$arch") || return 2
  local missing=()
  # shellcheck disable=SC2086
  mapfile -t missing < <(kordo_missing_packages $need)
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing for the Wine tests. Run as root, then run this again:" >&2
    if [ "$arch" = i686 ]; then
      echo "  dpkg --add-architecture i386 && apt-get update && apt-get install -y ${missing[*]}" >&2
    else
      echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
    fi
    return 1
  fi
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if [ "$arch" = i686 ]; then dpkg --add-architecture i386 || return 1; fi
  apt-get update -q >/dev/null || return 1
  apt-get install -y -q "${missing[@]}" >/dev/null || return 1
}
