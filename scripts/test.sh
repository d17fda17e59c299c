#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test three ways: a normal build (followed by
# the demonstration), one under AddressSanitizer + UndefinedBehaviorSanitizer, and the network
# service's tests under ThreadSanitizer; then cross-builds for Windows and runs those tests under Wine.
# Every step reports; a failing step says which and why, and the steps that do not need it still run.
# Tests and the demonstration run in a private network namespace (scripts/private-network.sh). The
# last line sums up the steps and tests that ran, passed, failed and were skipped. Exit status 0 only
# when every step ran and passed.
set -uo pipefail
cd "$(dirname "$0")/.."
mkdir -p build

jobs=${JOBS:-$(nproc)}
source scripts/config.sh
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

started=$SECONDS
steps_ran=0 steps_passed=0
failed_steps=() failed_step_names=() not_run_steps=()
tests_ran=0 tests_failed=0 tests_skipped=0
failed_tests=() skipped_tests=()
why=""  # set by a failing step: its cause in a few words

# Runs one step and reports it; returns the step's status.
step() {  # name command...
  local name=$1 begun=$SECONDS status=0
  shift
  why=""
  printf '\n=== %s\n' "$name"
  "$@" || status=$?
  steps_ran=$((steps_ran + 1))
  if ((status == 0)); then
    steps_passed=$((steps_passed + 1))
    echo "--- $name: ok ($((SECONDS - begun)) s)"
  else
    why=${why:-exit status $status}
    failed_steps+=("$name: $why")
    failed_step_names+=("$name")
    echo "--- $name: FAILED: $why"
  fi
  return "$status"
}
not_run() {  # name reason
  not_run_steps+=("$1")
  printf '\n=== %s: not run (%s)\n' "$1" "$2"
}

configure() {  # name cmake flags...
  local name=$1 log=build/$1.configure.log
  shift
  cmake -S . -B "build/$name" "${livemodule_config[@]}" "$@" > "$log" 2>&1 && return 0
  tail -n 20 "$log"
  why="cmake could not configure build/$name (all of it in $log)"
  return 1
}

build() {  # name [targets...]
  local name=$1 log=build/$1.build.log
  shift
  local targets=() progress=()
  [[ $# -gt 0 ]] && targets=(--target "$@") progress=(--no-percent)
  echo "    (the compiler's output goes to $log)"
  cmake --build "build/$name" -j "$jobs" "${targets[@]}" 2>&1 | tee "$log" | scripts/build-progress.sh "${progress[@]}"
  [[ ${PIPESTATUS[0]} == 0 ]] && return 0
  build_failed "$log" "the build of build/$name"
}
# Shows why a build failed and says so in `why`; returns 1.
build_failed() {  # log, what failed
  # With parallel jobs the first error is rarely among the last lines: show it first.
  echo "--- the build's first errors:"
  grep -m 10 -E '(error|Error [0-9]+)' "$1" || echo "    (none named; see the last lines)"
  echo "--- the build's last lines:"
  tail -n 15 "$1"
  why="$2 failed (all of it in $1)"
  return 1
}

# ctest's output, with the passing tests folded into a progress line every tenth of the run.
show_test_progress() {
  awk '
    /^ *Start +[0-9]+: / || /^Internal ctest changing into directory/ { next }
    match($0, /^ *[0-9]+\/[0-9]+ Test +#[0-9]+: .* Passed +[0-9.]+ sec$/) {
      split($1, at, "/"); done = at[1]; total = at[2]
      if (int(done * 10 / total) > int((done - 1) * 10 / total) || done == total)
        printf "    %d of %d tests done\n", done, total
      fflush(); next
    }
    { print; fflush() }'
}
run_tests() {  # name [ctest options...]
  local name=$1 log=build/$1.ctest.log status=0
  shift
  echo "    (ctest's whole output goes to $log)"
  scripts/private-network.sh ctest --test-dir "build/$name" --output-on-failure -j "$jobs" "$@" 2>&1 |
    tee "$log" | show_test_progress
  status=${PIPESTATUS[0]}
  # "100% tests passed, 0 tests failed out of 412": skipped tests count as passed there.
  local summary total failed
  summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [[ -z $summary ]]; then
    why="ctest ended with status $status before its summary (see $log)"
    return 1
  fi
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<< "$summary")
  failed=$(sed -E 's/.*, ([0-9]+) tests? failed.*/\1/' <<< "$summary")
  local skipped=() failures=() line
  while IFS= read -r line; do skipped+=("$name: $line"); done < <(
    sed -nE 's/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: ([^ ]+) .*\*\*\*Skipped.*/\1/p' "$log")
  while IFS= read -r line; do failures+=("$name: $line"); done < <(
    sed -n '/^The following tests FAILED:/,/^Errors while running/p' "$log" | sed -nE 's/^\s+[0-9]+ - (.*) \(.*\)$/\1/p')
  tests_ran=$((tests_ran + total))
  tests_failed=$((tests_failed + failed))
  tests_skipped=$((tests_skipped + ${#skipped[@]}))
  skipped_tests+=("${skipped[@]}")
  failed_tests+=("${failures[@]}")
  if ((${#skipped[@]})); then
    echo "    skipped (ctest's log shows why):"
    printf '      %s\n' "${skipped[@]}"
  fi
  ((status == 0 && failed == 0)) && return 0
  why="$failed of $total tests failed (their output is above and in $log)"
  return 1
}

demonstration() {
  local log=build/demonstration.log status=0
  echo "    (also kept in $log)"
  scripts/private-network.sh scripts/demonstrate.sh build/normal 2>&1 | tee "$log"
  status=${PIPESTATUS[0]}
  ((status == 0)) && return 0
  why="scripts/demonstrate.sh exited $status: $(sed -n 's/^demonstration failed: //p' "$log" | tail -n 1)"
  return 1
}

# One configuration: configure, build, test; each part needs the one before.
configuration() {  # name "cmake flags" "targets" [ctest options...]
  local name=$1 flags targets
  read -ra flags <<< "$2"
  read -ra targets <<< "$3"
  shift 3
  if ! step "$name: configure" configure "$name" "${flags[@]}"; then
    not_run "$name: build" "it is not configured"
    not_run "$name: tests" "it is not configured"
    return 1
  fi
  if ! step "$name: build" build "$name" "${targets[@]}"; then
    not_run "$name: tests" "it did not build"
    return 1
  fi
  step "$name: tests" run_tests "$name" "$@"
  return 0
}

step "dependencies" scripts/deps.sh
if configuration normal "-DCMAKE_BUILD_TYPE=RelWithDebInfo" ""; then
  step "demonstration" demonstration
else
  not_run "demonstration" "the normal build is missing"
fi
# The Windows build: its third-party libraries come from Debian's source packages (cached in
# build/windows/deps); its tests run under Wine against the normal build's catalogue server.
windows_build() {
  local log=build/windows.build.log
  echo "    (the compiler's output goes to $log)"
  scripts/build-windows.sh build/windows 2>&1 | tee "$log" | scripts/build-progress.sh
  [[ ${PIPESTATUS[0]} == 0 ]] && return 0
  build_failed "$log" "the Windows build"
}
windows_tests() {
  local log=build/windows.tests.log status=0 summary
  echo "    (also kept in $log)"
  scripts/private-network.sh scripts/test-windows.sh --no-build 2>&1 | tee "$log"
  status=${PIPESTATUS[0]}
  summary=$(sed -nE 's/^\|   tests: ([0-9]+) ran, [0-9]+ passed, ([0-9]+) failed, ([0-9]+) skipped$/\1 \2 \3/p' "$log")
  if [[ -z $summary ]]; then
    why="scripts/test-windows.sh exited $status before its summary (see $log)"
    return 1
  fi
  local total failed skipped line
  read -r total failed skipped <<< "$summary"
  tests_ran=$((tests_ran + total)) tests_failed=$((tests_failed + failed)) tests_skipped=$((tests_skipped + skipped))
  while IFS= read -r line; do failed_tests+=("windows: $line"); done < <(sed -nE 's/^ +FAILED: (.*)/\1/p; s/^\|   FAIL +(.*)/\1/p' "$log")
  while IFS= read -r line; do skipped_tests+=("windows: $line"); done < <(sed -nE 's/^ +SKIPPED: (.*)/\1/p' "$log")
  ((status == 0 && failed == 0)) && return 0
  why="$failed of $total Windows tests and checks failed (see above and $log)"
  return 1
}
if step "windows: build" windows_build; then
  if [[ -x build/normal/tools/catalogue-server/catalogue-server ]]; then
    step "windows: tests under Wine" windows_tests
  else
    not_run "windows: tests under Wine" "the normal build's catalogue server is missing"
  fi
else
  not_run "windows: tests under Wine" "the Windows build failed"
fi

configuration asan "-DCMAKE_BUILD_TYPE=Debug -DLIVEMODULE_SANITIZE=address,undefined" ""
configuration tsan "-DCMAKE_BUILD_TYPE=RelWithDebInfo -DLIVEMODULE_SANITIZE=thread" \
  "net_tests net_first_id common_tests" -L tsan

# Details first, then the one line that sums up.
((${#failed_steps[@]})) && { echo; echo "Failed steps:"; printf '  %s\n' "${failed_steps[@]}"; }
((${#failed_tests[@]})) && { echo "Failed tests:"; printf '  %s\n' "${failed_tests[@]}"; }
((${#skipped_tests[@]})) && { echo "Skipped tests:"; printf '  %s\n' "${skipped_tests[@]}"; }
verdict=PASSED
((${#failed_steps[@]} + ${#not_run_steps[@]})) && verdict=FAILED
list() { local IFS=';'; (($#)) && echo " ($*)" | sed 's/;/; /g'; }
echo
echo "=== test.sh $verdict in $(((SECONDS - started) / 60)) min $(((SECONDS - started) % 60)) s:" \
  "steps: $steps_ran ran, $steps_passed passed, ${#failed_steps[@]} failed$(list "${failed_step_names[@]}")," \
  "${#not_run_steps[@]} not run$(list "${not_run_steps[@]}");" \
  "tests: $tests_ran ran, $((tests_ran - tests_failed - tests_skipped)) passed, $tests_failed failed," \
  "$tests_skipped skipped$(list "${skipped_tests[@]}")"
[[ $verdict == PASSED ]]
