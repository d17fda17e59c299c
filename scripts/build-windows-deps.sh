#!/usr/bin/env bash
# Builds the third-party libraries the Windows build needs and Debian does not package for mingw,
# from Debian's own source packages: minizip (zlib's contrib/minizip, against libz-mingw-w64-dev),
# libcurl (static, Schannel for TLS) and libsodium (static, minimal: Ed25519 for the package
# signatures); for the test programs, cpp-httplib's single header (Debian's package ships it split
# into a header and a Linux library). Sources and results are cached under DIR, so a second run does nothing.
#   build-windows-deps.sh DIR     installs into DIR/prefix
set -euo pipefail

out=$(realpath -m "${1:?usage: build-windows-deps.sh DIR}")
here=$(cd "$(dirname "$0")/.." && pwd)
toolchain=$here/cmake/mingw-w64-x86_64.cmake
prefix=$out/prefix
src=$out/src
mkdir -p "$prefix/include" "$prefix/lib" "$src"
triple=x86_64-w64-mingw32

# Unpacks Debian's source package with its patches applied; tries the newest version first and
# falls back to older ones the mirror still serves.
fetch_source() {
  local package=$1 folder=$2
  [[ -d $src/$folder ]] && return 0
  local versions
  versions=$(apt-cache showsrc "$package" | sed -n 's/^Version: //p' | sort -rV | uniq)
  (
    cd "$src"
    for version in $versions; do
      if apt-get source -qq --download-only "$package=$version" >/dev/null 2>&1; then
        dpkg-source -x --no-check ./"${package}_${version#*:}.dsc" "$folder" >/dev/null
        exit 0
      fi
    done
    echo "build-windows-deps: cannot fetch the source of $package" >&2
    exit 1
  )
}

if [[ ! -f $prefix/lib/libminizip.a ]]; then
  fetch_source zlib zlib
  echo "build-windows-deps: minizip"
  minizip=$src/zlib/contrib/minizip
  build=$out/minizip-build
  mkdir -p "$build"
  for file in ioapi unzip zip; do
    $triple-gcc-posix -O2 -c "$minizip/$file.c" -o "$build/$file.o" -I "$minizip"
  done
  $triple-ar rcs "$prefix/lib/libminizip.a" "$build"/*.o
  mkdir -p "$prefix/include/minizip"
  cp "$minizip"/{ioapi,unzip,zip}.h "$prefix/include/minizip/"
fi

if [[ ! -f $prefix/lib/libcurl.a ]]; then
  fetch_source curl curl
  echo "build-windows-deps: libcurl"
  cmake -S "$src/curl" -B "$out/curl-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF \
    -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF \
    -DCURL_USE_LIBSSH2=OFF -DUSE_LIBIDN2=OFF -DUSE_NGHTTP2=OFF -DHTTP_ONLY=ON -DCURL_DISABLE_LDAP=ON \
    -DENABLE_MANUAL=OFF -DCURL_CA_PATH=none -DCURL_CA_BUNDLE=none >/dev/null
  cmake --build "$out/curl-build" -j2 >/dev/null
  cmake --install "$out/curl-build" >/dev/null
fi

if [[ ! -f $prefix/lib/libsodium.a ]]; then
  fetch_source libsodium libsodium
  echo "build-windows-deps: libsodium"
  # Debian's source carries no generated configure script.
  [[ -x $src/libsodium/configure ]] || (cd "$src/libsodium" && autoreconf -i >/dev/null 2>&1)
  build=$out/libsodium-build
  mkdir -p "$build"
  (
    cd "$build"
    "$src/libsodium/configure" --host=$triple --prefix="$prefix" CC=$triple-gcc-posix --enable-static \
      --disable-shared --enable-minimal --disable-ssp --disable-pie >/dev/null
    make -j2 >/dev/null
    make install >/dev/null
  )
fi

if [[ ! -f $prefix/include/httplib.h ]]; then
  fetch_source cpp-httplib cpp-httplib
  cp "$src/cpp-httplib/httplib.h" "$prefix/include/httplib.h"
fi
