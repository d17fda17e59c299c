#!/usr/bin/env bash
# A filter for `cmake --build` output: a line per finished target with the build's percentage, and
# every warning and error line; the rest (one line per compiled file) is left to the build's log.
#   cmake --build DIR 2>&1 | tee DIR.build.log | scripts/build-progress.sh
grep --line-buffered -E '^\[ *[0-9]+%\] Built target |warning:|error:|Error [0-9]+' |
  sed -u -E 's/^\[ *([0-9]+%)\] Built target (.*)/    [\1] built \2/'
exit 0
