#!/usr/bin/env bash
# Runs the demonstration N times in a row, each in its own private network namespace, and counts the
# runs that exited 0; the output of a failed run is kept. With --busy, one low-priority busy loop per
# core runs meanwhile, so the runs meet a loaded machine.
#   scripts/repeat-demonstration.sh [--busy] N BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
busy=0
[[ ${1:-} == --busy ]] && { busy=1; shift; }
[[ $# == 2 && $1 =~ ^[0-9]+$ ]] || { echo "usage: repeat-demonstration.sh [--busy] N BUILD_DIR" >&2; exit 64; }
runs=$1 build=$2
loops=()
stop_loops() { for pid in "${loops[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap stop_loops EXIT
if ((busy)); then
  for _ in $(seq "$(nproc)"); do nice -n 19 sh -c 'while :; do :; done' & loops+=($!); done
  echo "busy loops: ${loops[*]}"
fi
logs=$(mktemp -d /tmp/livemodule-repeat.XXXXXX)
passed=0
for run in $(seq "$runs"); do
  begun=$SECONDS status=0
  scripts/private-network.sh scripts/demonstrate.sh "$build" > "$logs/run$run.log" 2>&1 || status=$?
  if ((status == 0)); then
    passed=$((passed + 1))
    rm "$logs/run$run.log"
    echo "run $run: exit 0 ($((SECONDS - begun)) s)"
  else
    echo "run $run: exit $status: $(sed -n 's/^demonstration failed: //p' "$logs/run$run.log") (output in $logs/run$run.log)"
  fi
done
((passed == runs)) && rmdir "$logs"
echo "$passed of $runs runs exited 0"
((passed == runs))
