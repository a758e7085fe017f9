# Sourced by run.sh and test.sh: installs the Debian packages the build and
# the tests need when they are missing.  As root it runs apt-get; otherwise it
# prints the one command to run and fails.

KORDO_PACKAGES=(
  cmake make g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-i686-posix
  libstb-dev libsdl2-dev libgtk-3-dev libspeechd-dev libbrlapi-dev
  speech-dispatcher speech-dispatcher-audio-plugins xvfb xdotool dbus dbus-x11 at-spi2-core python3-pyatspi gir1.2-atspi-2.0 python3-gi gir1.2-gtk-3.0 libx11-dev openbox orca
  pulseaudio sox libsox-fmt-all vorbis-tools zip nsis locales brltty
  tmux fenrir python3-speechd python3-pyte
  dpkg-dev file lintian desktop-file-utils appstream
)

kordo_install_deps() {
  local missing=()
  local p
  for p in "${KORDO_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages. Run as root:" >&2
    echo "  apt-get install -y ${missing[*]}" >&2
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
# (scripts/wine_arch.sh chooses it): separate from kordo_install_deps so that
# the other stages never pay for it.
#   i686    32-bit Wine, which needs the i386 architecture (about a minute on
#           a fresh machine), and the x86_64 C compiler for the test's
#           library of the other architecture
#   x86_64  64-bit Wine alone and the x86_64 MinGW-w64 compilers; no i386
#           package, as machines that take this path cannot run them
kordo_install_wine() {
  local arch=${1:-i686} need=() p
  case "$arch" in
    i686) need=(wine wine32:i386 gcc-mingw-w64-x86-64-posix) ;;
    x86_64) need=(wine wine64 g++-mingw-w64-x86-64-posix) ;;
    *) echo "kordo_install_wine: unknown architecture '$arch'" >&2; return 2 ;;
  esac
  local missing=()
  for p in "${need[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing for the Wine tests. Run as root:" >&2
    if [ "$arch" = i686 ]; then
      echo "  dpkg --add-architecture i386 && apt-get update && apt-get install -y ${missing[*]}" >&2
    else
      echo "  apt-get install -y ${missing[*]}" >&2
    fi
    return 1
  fi
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if [ "$arch" = i686 ]; then dpkg --add-architecture i386 || return 1; fi
  apt-get update -q >/dev/null || return 1
  apt-get install -y -q "${missing[@]}" >/dev/null || return 1
}
