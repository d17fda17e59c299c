#!/usr/bin/env bash
# The main job: installs what is missing, builds what the demonstration needs, and runs it in a
# private network namespace (scripts/private-network.sh).
#   scripts/demo.sh [--keep]     --keep leaves the demonstration's installation tree for inspection
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p build
scripts/deps.sh || { echo "demo.sh: the Debian packages could not be installed (see above)" >&2; exit 1; }
source scripts/config.sh
build=build/normal
echo "Configuring $build (cmake's output goes to $build.configure.log)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${livemodule_config[@]}" > "$build.configure.log" 2>&1 ||
  { tail -n 20 "$build.configure.log"; echo "demo.sh: cmake could not configure $build" >&2; exit 1; }
echo "Building what the demonstration needs (the compiler's output goes to $build.demo-build.log)"
if ! cmake --build "$build" -j "$(nproc)" --target LiveModuleFactory Log FileOperation lm-host catalogue-server \
     lm-pack hello_service hello_client downloader downloader_v2 web_panel 2>&1 | tee "$build.demo-build.log" |
     scripts/build-progress.sh --no-percent; then
  tail -n 30 "$build.demo-build.log"
  echo "demo.sh: the build failed (all of it in $build.demo-build.log)" >&2
  exit 1
fi
exec scripts/private-network.sh scripts/demonstrate.sh "$build" "$@"
