#!/usr/bin/env bash
# A filter for `cmake --build` output: a line per finished target with the build's percentage, and
# every warning and error line; the rest (one line per compiled file) is left to the build's log.
# With several --target goals make counts each goal from 0 to 100%: --no-percent leaves it out.
#   cmake --build DIR 2>&1 | tee DIR.build.log | scripts/build-progress.sh [--no-percent]
format='    [\1] built \2'
[[ ${1:-} == --no-percent ]] && format='    built \2'
grep --line-buffered -E '^\[ *[0-9]+%\] Built target |warning:|error:|Error [0-9]+' |
  sed -u -E "s/^\[ *([0-9]+%)\] Built target (.*)/$format/"
exit 0
