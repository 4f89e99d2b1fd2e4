#!/usr/bin/env bash
# Installs everything the build, the tests and the benchmarks need on a fresh
# Debian 12 machine. Safe to run again: it only installs what is missing.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive

packages=(
  # native build and tests
  build-essential cmake ninja-build pkg-config git
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  # the window toolkits decode the portal logo with the IJG libjpeg API
  libjpeg62-turbo-dev
  clang clang-format libclang-rt-14-dev llvm
  # Windows lane: 32-bit MinGW cross compiler, resource compiler and Wine;
  # dpkg-dev unpacks the distribution's sources of the libraries that the
  # lane cross-builds (scripts/mingw-libs.sh)
  dpkg-dev
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  wine wine32:i386
  # signed updates: libsodium (Ed25519, SHA-256) natively; autotools to
  # cross-build it from its source package for the Windows lane
  libsodium-dev autoconf automake libtool
  # binary deltas: libzstd for the applier and brfdelta; the zstd and xdelta3
  # programs are the references the delta sizes are measured against
  libzstd-dev zstd xdelta3
  # windows under a virtual display
  xvfb xauth xdotool
  # end-to-end runs and benchmarks against a real web server, and a real
  # proxy in front of it
  nginx-light curl tinyproxy
  # the update benchmark measures peak memory with python3
  python3
  # the GTK window: toolkit, web view, the portal logo's JPEG decoder, and the
  # accessibility bus its tests drive the window through
  libgtk-3-dev libwebkit2gtk-4.1-dev libjpeg62-turbo-dev
  dbus at-spi2-core libatspi2.0-dev fonts-dejavu-core
  # the demo's terms program and its screenshots on a virtual display
  python3-gi gir1.2-gtk-3.0
)

# Another apt run (an unattended upgrade, a second setup) holds the dpkg lock:
# wait for it instead of failing.
apt_get() {
  $SUDO apt-get -o DPkg::Lock::Timeout=600 -qq "$@"
}

missing=()
# The Windows lane builds its libraries from the distribution's own source
# packages: add the source entries of the same archive once.
need_update=
if ! ls /etc/apt/sources.list.d/brinefall-src.* >/dev/null 2>&1; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      $SUDO tee /etc/apt/sources.list.d/brinefall-src.sources >/dev/null
  elif [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list |
      $SUDO tee /etc/apt/sources.list.d/brinefall-src.list >/dev/null
  fi
  need_update=1
fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  need_update=1
fi
if [ -n "$need_update" ]; then
  apt_get update
fi
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  apt_get update
  apt_get install -y --no-install-recommends "${missing[@]}" >/dev/null
fi
echo "setup: all build and test dependencies are present"
