#!/usr/bin/env bash
# The main job: installs what is missing, builds what the demonstration needs, and runs it.
#   scripts/demo.sh [--keep]     --keep leaves the demonstration's installation tree for inspection
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
source scripts/config.sh
build=build/normal
echo "Building into $build ..."
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${livemodule_config[@]}" > /dev/null
cmake --build "$build" -j "$(nproc)" --target LiveModuleFactory Log FileOperation lm-host catalogue-server lm-pack \
  hello_service hello_client downloader downloader_v2 web_panel > "$build.demo-build.log" ||
  { tail -40 "$build.demo-build.log"; exit 1; }
exec scripts/demonstrate.sh "$build" "$@"
