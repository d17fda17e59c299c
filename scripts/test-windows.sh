#!/usr/bin/env bash
# Builds the Windows binaries (scripts/build-windows.sh) and checks them under Wine, headless:
#   1. the factory library's exports and imports (objdump);
#   2. the Windows test programs, when the build made them;
#   3. an end-to-end run of lm-host.exe against the Linux catalogue-server on loopback: the first
#      start downloads, installs and loads the sample modules; a timer cycle hot-loads an update
#      while the host runs; the exit gives the End line; the Begin line carries lm-host.exe's own
#      ProductVersion;
#   4. the factory's self-update in lm-host.exe: a catalogue offering a newer factory package, -2,
#      the handover to the packaged factory in the same start, and the repair of a start killed
#      half-way through a handover.
# Prints a summary and exits non-zero when a check failed.
#   scripts/test-windows.sh [--no-build] [--keep]
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build/windows
linux_build=$here/build/normal
no_build=0 keep=0
for arg in "$@"; do
  case $arg in
    --no-build) no_build=1 ;;
    --keep) keep=1 ;;
    *) echo "usage: test-windows.sh [--no-build] [--keep]" >&2; exit 64 ;;
  esac
done
started=$SECONDS
results=()
failed=0
tests_ran=0 tests_failed=0 tests_skipped=0  # googletest's tests, and every other check as one test
record() {  # status, text
  if [[ $1 == 0 ]]; then results+=("ok    $2"); else results+=("FAIL  $2"); failed=1; fi
}
check() {  # text, command...: records whether the command succeeds
  local text=$1
  shift
  tests_ran=$((tests_ran + 1))
  if "$@"; then record 0 "$text"; else record 1 "$text"; tests_failed=$((tests_failed + 1)); fi
}

if [[ $no_build == 0 ]]; then
  "$here/scripts/build-windows.sh" "$build"
  # The catalogue server is a Linux program: from the Linux build, configured as the tests configure it.
  if [[ ! -f $linux_build/CMakeCache.txt ]]; then
    "$here/scripts/deps.sh"
    # shellcheck source=config.sh
    source "$here/scripts/config.sh"
    cmake -S "$here" -B "$linux_build" "${livemodule_config[@]}" >/dev/null
  fi
  cmake --build "$linux_build" -j2 --target catalogue-server >/dev/null
fi

# Wine, headless and quiet, in a prefix of its own made once per build folder.
export WINEPREFIX=$build/wine-prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  echo "== Preparing the Wine prefix"
  wineboot -i >/dev/null 2>&1
  # The boot leaves its server running a few seconds, and only its end writes the registry;
  # starting the run's own server beside it would fail.
  wineserver -w
fi
wineserver -p 60  # keeps one server for every program of the run
trap 'wineserver -k 2>/dev/null || true' EXIT
winpath() { echo "Z:${1//\//\\}"; }

echo "== 1. LiveModuleFactory.dll: exports and imports"
dll=$build/root/modules/LiveModuleFactory/64bit/LiveModuleFactory.dll
dump=$(x86_64-w64-mingw32-objdump -p "$dll")
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | tail -n +2 | grep -oE '\] [A-Za-z_]+' | cut -c3- | tr '\n' ' ')
imports=$(grep 'DLL Name:' <<<"$dump" | awk '{print $3}' | tr '\n' ' ')
echo "    exports: $exports"
echo "    imports: $imports"
check "factory exports exactly LoadLiveModuleFactory, UnloadLiveModuleFactory and the test hook" \
  test "$exports" == "LiveModuleTestFireUpdateTimer LoadLiveModuleFactory UnloadLiveModuleFactory "
system_dlls=" ADVAPI32.dll bcrypt.dll CRYPT32.dll IPHLPAPI.DLL KERNEL32.dll msvcrt.dll ole32.dll SHELL32.dll USER32.dll VERSION.dll wlanapi.dll WS2_32.dll "
foreign=""
for name in $imports; do [[ $system_dlls == *" $name "* ]] || foreign+="$name "; done
check "factory imports only system DLLs${foreign:+ (not: $foreign)}" test -z "$foreign"

echo "== 2. Test programs under Wine"
shopt -s nullglob
programs=("$build"/tests/*/*_tests.exe)
[[ ${#programs[@]} -gt 0 ]] || echo "    (none built)"
count() {  # googletest's summary line pattern, output file: the number it gives, else 0
  sed -nE "s/$1/\\1/p" "$2" | tail -n 1 | grep . || echo 0
}
for program in "${programs[@]}"; do
  name=$(basename "$program" .exe)
  out=$build/$name.out status=0
  (cd "$(dirname "$program")" && wine "$program" --gtest_brief=1) > "$out" 2>&1 || status=$?
  ran=$(count '^\[==========\] ([0-9]+) tests? from .* ran\..*' "$out")
  failed=$(count '^\[  FAILED  \] ([0-9]+) tests?, listed below:' "$out")
  skipped=$(count '^\[  SKIPPED \] ([0-9]+) tests?, listed below:' "$out")
  # A program that ends before its summary counts as one failed test.
  [[ $status != 0 && $failed == 0 ]] && failed=1 && ran=$((ran + 1))
  tests_ran=$((tests_ran + ran)) tests_failed=$((tests_failed + failed)) tests_skipped=$((tests_skipped + skipped))
  echo "    $name: $ran ran, $((ran - failed - skipped)) passed, $failed failed, $skipped skipped"
  sed -nE 's/^\[  (FAILED|SKIPPED) \] ([A-Za-z0-9_]+\.[A-Za-z0-9_/]+).*/      \1: \2/p' "$out" | sort -u
  [[ $status != 0 ]] && { echo "    --- last lines of $out"; tail -n 20 "$out" | sed 's/^/    /'; }
  record $status "$name"
done

echo "== 3. lm-host.exe under Wine against the catalogue server"
source "$here/scripts/windows-e2e.sh"
check "end-to-end: download, install, load, host dependencies, hot update by a timer cycle, exit" run_end_to_end

echo "== 4. lm-host.exe hands over to a new factory package"
check "factory handover: -2, library released, folder replaced, the new factory starts in the same run" run_handover
check "interrupted factory handover (killed at old-set-aside): the next start repairs it and hands over" \
  run_interrupted_handover
check "factory handover killed at each other step: the next start runs the new factory, nothing left over" \
  run_killed_handovers

echo
echo "+-------------------------------------------------------------------------------"
echo "| Windows build under Wine ($(wine --version))"
for line in "${results[@]}"; do echo "|   $line"; done
echo "|   time: $((SECONDS - started)) s"
echo "|   tests: $tests_ran ran, $((tests_ran - tests_failed - tests_skipped)) passed, $tests_failed failed, $tests_skipped skipped"
echo "+-------------------------------------------------------------------------------"
exit $failed
