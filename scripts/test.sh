#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test three ways: a normal build (followed by
# the demonstration), one under AddressSanitizer + UndefinedBehaviorSanitizer, and the network
# service's tests under ThreadSanitizer. Exit status 0 only when all pass.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

jobs=${JOBS:-$(nproc)}
source scripts/config.sh

run() {  # name, cmake flags..., [-- targets...] ; the tests labelled $LABEL when set, else all
  local name=$1; shift
  local cmake_flags=() targets=()
  while [[ $# -gt 0 && $1 != -- ]]; do cmake_flags+=("$1"); shift; done
  [[ $# -gt 0 ]] && shift
  targets=("$@")
  local ctest_flags=()
  [[ -n ${LABEL:-} ]] && ctest_flags=(-L "$LABEL")
  echo "=== $name build"
  cmake -S . -B "build/$name" "${livemodule_config[@]}" "${cmake_flags[@]}" > "build/$name.configure.log"
  local build_flags=()
  [[ ${#targets[@]} -gt 0 ]] && build_flags=(--target "${targets[@]}")
  cmake --build "build/$name" -j "$jobs" "${build_flags[@]}" > "build/$name.build.log" ||
    { tail -50 "build/$name.build.log"; return 1; }
  echo "=== $name tests"
  (cd "build/$name" && ctest --output-on-failure -j "$jobs" "${ctest_flags[@]}")
}

mkdir -p build
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run normal -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "=== demonstration"
scripts/demonstrate.sh build/normal
run asan -DCMAKE_BUILD_TYPE=Debug -DLIVEMODULE_SANITIZE=address,undefined
LABEL=tsan run tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLIVEMODULE_SANITIZE=thread -- net_tests net_first_id common_tests
echo "=== all tests passed"
