#!/usr/bin/env bash
# Cross-builds the Windows x64 binaries into build/windows (or $1): LiveModuleFactory.dll, Log.dll,
# FileOperation.exe and lm-host.exe in the installation tree root/, the sample module packages, and
# (with LIVEMODULE_BUILD_TESTS=ON, the default) the test programs. Configured like the Linux test
# build: catalogue servers on loopback and the update hook exported.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$here/build/windows}")
tests=${LIVEMODULE_BUILD_TESTS:-ON}

"$here/scripts/deps-windows.sh"
"$here/scripts/build-windows-deps.sh" "$build/deps"

# shellcheck source=config.sh
source "$here/scripts/config.sh"
cmake -S "$here" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLIVEMODULE_WIN32_DEPS="$build/deps/prefix" \
  -DLIVEMODULE_BUILD_TESTS="$tests" "${livemodule_config[@]}" >/dev/null
cmake --build "$build" -j2
