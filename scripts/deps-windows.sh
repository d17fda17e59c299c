#!/usr/bin/env bash
# Installs what the Windows cross-build and its Wine test run need, all from Debian 12; does nothing
# when everything is present. Also makes Debian's source packages reachable (a deb-src line for the
# mirror already configured), so the build can compile minizip from Debian's zlib source.
set -euo pipefail

packages=(
  cmake make dpkg-dev                             # build; dpkg-source unpacks the source package
  autoconf automake libtool                       # libsodium's source package has no configure script
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools  # cross compiler (posix threads)
  libz-mingw-w64-dev                              # zlib for mingw; minizip is built from its source
  nlohmann-json3-dev                              # header-only JSON, used as is
  googletest                                      # sources of googletest, compiled for the Windows tests
  wine64 wine                                     # running the Windows programs and tests
)

sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
apt_get() { DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=900 "$@"; }

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [[ ${#missing[@]} -gt 0 ]]; then
  echo "Installing: ${missing[*]}"
  apt_get update -qq
  apt_get install -y -qq --no-install-recommends "${missing[@]}"
fi

# deb-src for the same mirrors and suites as the deb lines, in a file of its own, once.
sources=/etc/apt/sources.list.d/debian.sources
src_sources=/etc/apt/sources.list.d/livemodule-deb-src.sources
if [[ -f $sources && ! -f $src_sources ]] && ! grep -q '^Types:.*deb-src' "$sources"; then
  sed 's/^Types: deb$/Types: deb-src/' "$sources" | $sudo tee "$src_sources" >/dev/null
  apt_get update -qq
fi
