#!/usr/bin/env bash
# Prepares a fresh Debian 12 machine (as root) to build and test the installer.
# Safe to run again: every step checks before it changes anything.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

if [ "$(id -u)" != 0 ]; then
  echo "setup: run as root (it installs packages with apt-get)" >&2
  exit 1
fi

# Dependency sources come from Debian's source packages.
if ! grep -rqs 'deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
      > /etc/apt/sources.list.d/installer-deb-src.sources
  else
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list > /etc/apt/sources.list.d/installer-deb-src.list
  fi
  apt_update_needed=1
fi

packages=(
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64
  wine wine64 xvfb xdotool x11-utils imagemagick
  fonts-wqy-microhei locales
  cmake ninja-build make g++ clang libclang-rt-14-dev
  googletest nginx-light curl python3 dpkg-dev xz-utils
  # Test certificates and signed test packages.
  openssl osslsigncode
  # Reading the resources of built programs (the branding tool's tests).
  icoutils
  # The player's HTTP proxy in the network-fault tests.
  tinyproxy
  # The reference client of the connection-count benchmark (not needed by the tests).
  aria2
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] || [ -n "${apt_update_needed:-}" ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  [ ${#missing[@]} -gt 0 ] && apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The wine server locale: zh_CN.UTF-8 gives the GBK code page.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN.utf8$'; then
  sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen
fi

# Third-party sources, unpacked into an ignored folder of the clone.
third="$top/third_party"
mkdir -p "$third"
fetch() { # fetch <source package> <folder glob>
  local pkg=$1 glob=$2
  if ! compgen -G "$third/$glob" > /dev/null; then
    (cd "$third" && apt-get source -q --download-only "$pkg" && dpkg-source -x --no-check "$pkg"_*.dsc && rm -f "$pkg"_*)
  fi
}
fetch lua5.3 'lua5.3-*'
fetch lua-lpeg 'lua-lpeg-*'
fetch lua-cjson 'lua-cjson-*'
fetch libjsoncpp 'libjsoncpp-*'
fetch googletest 'googletest-*'
echo "setup: done"
