#!/usr/bin/env bash
# The demonstration, on loopback, with an already built tree:
#   scripts/demonstrate.sh BUILD_DIR [--keep]
# It lays out a fresh installation tree, packs the sample modules and serves them from the catalogue
# server, starts lm-host twice (first start: everything is downloaded, installed and loaded; second
# start: the installed modules load in zorder and talk to each other), publishes a fixed release of
# one module while the host runs, has a timer cycle fetch it and hot-load it, and ends the host.
# Nothing is left running; --keep leaves the tree for inspection.
#
# Every wait is for an event (a line in a file, a file, a process's end) with a time limit; a
# failure says what did not happen, shows what the failing program said, and exits with its own code:
#   2 usage, or a program missing from BUILD_DIR     5 lm-host did not start, or ended on its own
#   3 lm-pack refused a sample module                6 an awaited event did not happen in time
#   4 the catalogue server did not start             7 lm-host exited with a failure when stopped
#   8 a command of this script failed unexpectedly (its line and command are named)
set -eEuo pipefail
shopt -s nullglob

usage() { echo "usage: demonstrate.sh BUILD_DIR [--keep]" >&2; exit 2; }
[[ $# -ge 1 && -d $1 ]] || usage
build=$(cd "$1" && pwd)
shift
keep=0
[[ ${1:-} == --keep ]] && keep=1

port=18600  # the default catalogue server (environment 0) of test and demonstration builds
tools=$build/tools
for program in host/lm-host catalogue-server/catalogue-server lm-pack/lm-pack; do
  [[ -x $tools/$program ]] || { echo "demonstration: $tools/$program is missing; build it first (scripts/demo.sh does)" >&2; exit 2; }
done
work=$(mktemp -d /tmp/livemodule-demo.XXXXXX)
root=$work/root
modules=$root/modules
packages=$work/packages
manifest=$packages/catalogue.json
server_pid=""
host_pid=""
host_out=""
started=$SECONDS

cleanup() {
  local status=$?
  trap - ERR
  set +e
  [[ -n $host_pid ]] && kill -TERM "$host_pid" 2>/dev/null && wait "$host_pid" 2>/dev/null
  [[ -n $server_pid ]] && kill -TERM "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  if [[ $keep == 1 || $status != 0 ]]; then
    echo "The tree is kept in $work"
  else
    rm -rf "$work"
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'fail 8 "line $LINENO: \"$BASH_COMMAND\" failed with status $?"' ERR

step() { printf '\n== %s\n' "$*"; }
log_file() {  # the factory's newest log file (one a day), or nothing before it has written one
  local newest="" file
  for file in "$root"/logs/*.log; do
    [[ -z $newest || $file -nt $newest ]] && newest=$file
  done
  echo "$newest"
}
# Exits with CODE after saying WHY, what the programs said and the log's last lines.
fail() {
  local code=$1
  shift
  trap - ERR
  set +e
  printf '\ndemonstration failed: %s\n' "$*" >&2
  [[ -n $host_out && -s $host_out ]] && { echo "--- lm-host's output ($host_out)"; tail -n 20 "$host_out"; } >&2
  local log
  log=$(log_file)
  [[ -n $log ]] && { echo "--- last log lines ($log)"; tail -n 15 "$log"; } >&2
  exit "$code"
}
# Ends with code 5 or 4 when lm-host or the catalogue server has ended on its own, showing why.
check_running() {  # what we were waiting for
  local status=0
  if [[ -n $host_pid ]] && ! kill -0 "$host_pid" 2>/dev/null; then
    wait "$host_pid" || status=$?
    host_pid=""
    fail 5 "lm-host ended with status $status before $1"
  fi
  if [[ -n $server_pid ]] && ! kill -0 "$server_pid" 2>/dev/null; then
    wait "$server_pid" || status=$?
    server_pid=""
    echo "--- the catalogue server's output ($work/server.out)" >&2
    cat "$work/server.out" >&2
    fail 4 "the catalogue server ended with status $status before $1"
  fi
}
# Waits until FILE holds TEXT after its first FROM bytes, for at most SECONDS.
wait_for() {  # file text seconds [from]
  local file=$1 text=$2 seconds=$3 from=${4:-0} deadline=$((SECONDS + $3))
  # grep reads to the end (no -q), so tail never meets a closed pipe.
  until [[ -f $file ]] && tail -c +$((from + 1)) "$file" | grep -F -- "$text" > /dev/null; do
    check_running "\"$text\" appeared in $file"
    ((SECONDS < deadline)) || fail 6 "no \"$text\" in $file within $seconds s"
    sleep 0.05
  done
}
wait_for_log() {  # seconds; sets log to the log file's path once the factory has made it
  local deadline=$((SECONDS + $1))
  log=$(log_file)
  until [[ -n $log ]]; do
    check_running "the factory wrote its log in $root/logs/"
    ((SECONDS < deadline)) || fail 6 "the factory wrote no log in $root/logs/ within $1 s"
    sleep 0.05
    log=$(log_file)
  done
}
size_of() { [[ -f $1 ]] && stat -c %s "$1" || echo 0; }
# The modules' own lines and lm-host's from a host's output, indented.
show_output() { grep -E '^\[|^lm-host' "$1" | sed 's/^/    /' || true; }

start_host() {  # output file
  host_out=$1
  "$tools/host/lm-host" --factory "$modules/LiveModuleFactory/64bit/LiveModuleFactory.so" --env 0 > "$1" 2>&1 &
  host_pid=$!
}
stop_host() {  # sets host_status
  kill -TERM "$host_pid"
  host_status=0
  wait "$host_pid" || host_status=$?
  host_pid=""
  [[ $host_status == 0 ]] || fail 7 "lm-host exited with $host_status when asked to stop"
}
start_server() {  # extra catalogue-server options
  "$tools/catalogue-server/catalogue-server" --port "$port" --manifest "$manifest" --packages "$packages" "$@" \
    > "$work/server.out" 2>&1 &
  server_pid=$!
  wait_for "$work/server.out" "serving" 30
}
stop_server() {
  kill -TERM "$server_pid"
  wait "$server_pid" || true
  server_pid=""
}

kib() { printf '%d.%d KiB' $(($1 / 1024)) $(($1 % 1024 * 10 / 1024)); }
now_ms() { local t=${EPOCHREALTIME//[!0-9]/}; echo $((t / 1000)); }

# A progress display of the package downloads (bytes and rate) until the update has finished.
show_downloads() {  # log file
  local log=$1 names=() sizes=() begun=() ended=() name zip
  for zip in "$packages"/*.zip; do
    name=$(basename "$zip" .zip)
    [[ $name == LiveModuleFactory ]] && continue
    names+=("$name")
    sizes+=("$(stat -c %s "$zip")")
    begun+=(0)
    ended+=(0)
  done
  local drawn=0 tty=0 first now
  [[ -t 1 ]] && tty=1
  first=$(now_ms)
  local deadline=$((SECONDS + 60))
  while :; do
    local finished=0
    grep -qF "Modules update finished" "$log" && finished=1
    now=$(now_ms)
    ((tty && drawn)) && printf '\033[%dA' "${#names[@]}"
    for i in "${!names[@]}"; do
      local name=${names[$i]} size=${sizes[$i]} have=0
      if [[ -f $modules/Temp/$name.pkg.download ]]; then
        have=$(size_of "$modules/Temp/$name.pkg.download")
        ((begun[i])) || begun[i]=$now
      elif [[ -f $modules/Temp/$name.zip || -d $modules/$name || -d $modules/WebPlugins/$name ]] ||
           grep -qF "Module download finished {module: $name}" "$log"; then
        have=$size
      fi
      local was_done=${ended[$i]}
      ((have >= size && !ended[i])) && ended[i]=$now
      ((begun[i])) || begun[i]=$first
      local until=$now
      ((ended[i])) && until=${ended[$i]}
      local elapsed=$((until - begun[i] > 0 ? until - begun[i] : 1)) percent=$((have * 100 / size))
      local bar line
      bar=$(printf '%*s' $((percent / 4)) '' | tr ' ' '#')
      line=$(printf '    %-14s [%-25s] %3d%%  %s of %s  %s/s' "$name" "$bar" "$percent" "$(kib "$have")" \
        "$(kib "$size")" "$(kib $((have * 1000 / elapsed)))")
      if ((tty)); then
        printf '%s\033[K\n' "$line"
      elif ((ended[i] && !was_done)); then
        echo "$line"
      fi
    done
    drawn=1
    ((finished)) && break
    check_running "the package downloads finished"
    ((SECONDS < deadline)) || fail 6 "the downloads did not finish within 60 s (no \"Modules update finished\" in $log)"
    sleep 0.1
  done
}

# name version pairs recorded in ModuleInfo, the factory's own entry left out.
recorded_modules() {
  grep -o '"moduleName": "[^"]*", "name": "[^"]*", "version": -\?[0-9]*' "$modules/ModuleInfo" |
    sed -E 's/.*"name": "([^"]*)", "version": (-?[0-9]*)/\1 \2/' | grep -v '^LiveModuleFactory ' || true
}

step "1. A fresh installation tree in $root"
mkdir -p "$modules/LiveModuleFactory/64bit" "$root/config" "$packages"
# The factory makes its per-installation temporary folder one level deep, under the user's data
# folder + Temp + the root's parent folder; the demonstration brings its own data folder.
export XDG_DATA_HOME=$work/data
mkdir -p "$XDG_DATA_HOME/Temp/$(basename "$work")"
cp "$build/root/modules/LiveModuleFactory/64bit/"{LiveModuleFactory.so,Log.so,FileOperation} "$modules/LiveModuleFactory/64bit/"
printf '[General]\nUpdateIntervalInMin=1\n' > "$root/global.ini"
# What the downloader module fetches once it runs: 2 MiB served by the catalogue server.
head -c $((2 << 20)) /dev/urandom > "$packages/sample-media.bin"
echo "http://127.0.0.1:$port/packages/sample-media.bin" > "$root/config/downloader.url"
echo "    factory, log library and copy program in modules/LiveModuleFactory/64bit/; global.ini: update every minute"

step "2. Packing the sample modules with lm-pack and publishing them in the catalogue"
pack() {  # folder, order, version
  "$tools/lm-pack/lm-pack" "$1" --out "$packages" --manifest "$manifest" --order "$2" --version "$3" > "$work/pack.out" 2>&1 ||
    { cat "$work/pack.out" >&2; fail 3 "lm-pack refused $1"; }
  echo "    $(basename "$1") $3 (zorder $2)"
}
pack "$build/packages/hello_client" 1 1
pack "$build/packages/hello_service" 2 1
pack "$build/packages/downloader" 3 1
pack "$build/packages/web_panel" 4 1

# Slowed for the first start only, so that the largest package takes about 2 s to arrive.
largest=0
for zip in "$packages"/*.zip; do size=$(stat -c %s "$zip"); ((size > largest)) && largest=$size; done
chunk_delay=$((2000 / ((largest + 16383) / 16384)))
step "3. The catalogue server on http://127.0.0.1:$port/ (16 KiB every $chunk_delay ms, so downloads can be watched)"
start_server --chunk-delay-ms "$chunk_delay"
sed 's/^/    /' "$work/server.out"

step "4. First start: the factory queries the catalogue, downloads, installs and loads every module"
start_host "$work/host1.out"
wait_for_log 60
show_downloads "$log"
wait_for "$work/host1.out" "[downloader 1.0.0] cannot start" 60
show_output "$work/host1.out"
stop_host
echo "    installed: $(recorded_modules | tr '\n' ' ')"
[[ -f $modules/WebPlugins/web_panel/web_panel.webdll ]] && echo "    web_panel is a web plug-in: it went to modules/WebPlugins/"

step "5. Second start, the server at full speed: the installed modules load in zorder and talk to each other"
stop_server
start_server
log_mark=$(size_of "$log")
start_host "$work/host2.out"
wait_for "$work/host2.out" "lm-host: factory started" 60
previous_log=$log
wait_for_log 10
[[ $log == "$previous_log" ]] || log_mark=0  # a new day, a new file
# Modules are initialised in registry order, which is zorder once the start-up scan is sorted; a
# module whose Initialize fails is logged and unloaded, and is no part of that list.
failed=$(tail -c +$((log_mark + 1)) "$log" | sed -nE 's/.*Module initialize failed \{ id: ([a-z_]+) \}.*/\1/p')
load_order=$(sed -nE 's/^\[([a-z_]+)( [0-9.]+)?\] initialised.*/\1/p' "$work/host2.out" | awk '!seen[$0]++' |
  grep -vxF -f <(echo "$failed") | tr '\n' ' ' || true)
echo "    initialised in zorder: $load_order"
[[ -n $failed ]] && echo "    failed to initialise: $failed"
show_output "$work/host2.out"

step "6. Publishing downloader 2.0.0, which fixes the start, while the host runs; a timer cycle fetches it"
pack "$build/packages-v2/downloader" 3 2
out_mark=$(size_of "$work/host2.out")
log_mark=$(size_of "$log")
kill -USR1 "$host_pid"
wait_for "$log" "Module download finished {module: downloader}" 60 "$log_mark"
wait_for "$work/host2.out" "[downloader 2.0.0] request" 60 "$out_mark"
wait_for "$work/host2.out" "finished with code 0" 60 "$out_mark"
tail -c +$((log_mark + 1)) "$log" |
  grep -E 'Modules update begin|Module download (begin|finished) \{module: downloader|Load module success \{id: downloader' |
  sed -E 's/^[0-9: .-]+\[[a-z]+\] /    log: /' || true
tail -c +$((out_mark + 1)) "$work/host2.out" | show_output /dev/stdin

step "7. The host exits"
log_mark=$(size_of "$log")
out_mark=$(size_of "$work/host2.out")
stop_host
wait_for "$log" "[LiveModuleFactory] obs exit" 10 "$log_mark"
wait_for "$log" "[LiveModuleFactory] End!!!!!!!!!!!!!!!!!!" 10 "$log_mark"
echo "    lm-host exited 0"
tail -c +$((log_mark + 1)) "$log" | grep -E 'obs exit|End!' | sed -E 's/^[0-9: .-]+\[[a-z]+\] /    log: /' || true
tail -c +$((out_mark + 1)) "$work/host2.out" | show_output /dev/stdin
stop_server

starts=$(grep -c "\[LiveModuleFactory\] Begin {" "$log" || true)
ends=$(grep -c "\[LiveModuleFactory\] End!" "$log" || true)
cat <<SUMMARY

+-------------------------------------------------------------------------------
| Summary
|   installed (ModuleInfo):  $(recorded_modules | tr '\n' ',' | sed 's/,$//; s/,/, /g')
|   web plug-ins:            $(ls "$modules/WebPlugins" 2>/dev/null | tr '\n' ' ')
|   initialised in zorder:   $load_order
|   hot update:              downloader 1.0.0 (failed to start) -> 2.0.0, fetched by a timer
|                            cycle and loaded while the host ran
|   exit:                    the host exited 0; log has $starts start and $ends end lines
|   log:                     $log$([[ $keep == 1 ]] || echo " (removed; --keep keeps it)")
|   time:                    $((SECONDS - started)) s
+-------------------------------------------------------------------------------
SUMMARY
