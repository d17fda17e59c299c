#!/usr/bin/env bash
# The demonstration, on loopback, with an already built tree:
#   scripts/demonstrate.sh BUILD_DIR [--keep]
# It lays out a fresh installation tree, packs the sample modules and serves them from the catalogue
# server, starts lm-host twice (first start: everything is downloaded, installed and loaded; second
# start: the installed modules load in zorder and talk to each other), publishes a fixed release of
# one module while the host runs, has a timer cycle fetch it and hot-load it, and ends the host.
# Nothing is left running; --keep leaves the tree for inspection.
set -euo pipefail

build=$(cd "${1:?usage: demonstrate.sh BUILD_DIR [--keep]}" && pwd)
shift
keep=0
[[ ${1:-} == --keep ]] && keep=1

port=18600  # the default catalogue server (environment 0) of test and demonstration builds
tools=$build/tools
work=$(mktemp -d /tmp/livemodule-demo.XXXXXX)
root=$work/root
modules=$root/modules
packages=$work/packages
manifest=$packages/catalogue.json
server_pid=""
host_pid=""
started=$SECONDS

cleanup() {
  local status=$?
  [[ -n $host_pid ]] && kill -TERM "$host_pid" 2>/dev/null && wait "$host_pid" 2>/dev/null
  [[ -n $server_pid ]] && kill -TERM "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  if [[ $keep == 1 ]]; then
    echo "The tree is kept in $work"
  else
    rm -rf "$work"
  fi
  exit $status
}
trap cleanup EXIT

step() { printf '\n== %s\n' "$*"; }
log_file() { ls "$root"/logs/*.log 2>/dev/null | head -n1; }
fail() {
  printf '\ndemonstration failed: %s\n' "$*" >&2
  local log
  log=$(log_file)
  [[ -n $log ]] && { echo "--- last log lines ($log)"; tail -n 15 "$log"; } >&2
  exit 1
}
# Waits until FILE holds TEXT, for at most SECONDS.
wait_for() {
  local file=$1 text=$2 seconds=$3 deadline=$((SECONDS + $3))
  until [[ -f $file ]] && grep -qF -- "$text" "$file"; do
    ((SECONDS < deadline)) || fail "no \"$text\" in $file within $seconds s"
    sleep 0.1
  done
}
# The modules' own lines and lm-host's from a host's output, indented.
show_output() { grep -E '^\[|^lm-host' "$1" | sed 's/^/    /' || true; }

start_host() {  # output file
  "$tools/host/lm-host" --factory "$modules/LiveModuleFactory/64bit/LiveModuleFactory.so" --env 0 > "$1" 2>&1 &
  host_pid=$!
}
stop_host() {  # sets host_status
  kill -TERM "$host_pid"
  host_status=0
  wait "$host_pid" || host_status=$?
  host_pid=""
}

# A progress display of the package downloads until the update has finished.
show_downloads() {
  local names=() sizes=() name
  for zip in "$packages"/*.zip; do
    name=$(basename "$zip" .zip)
    [[ $name == LiveModuleFactory ]] && continue
    names+=("$name")
    sizes+=("$(stat -c %s "$zip")")
  done
  local drawn=0 tty=0 reported=()
  [[ -t 1 ]] && tty=1
  local deadline=$((SECONDS + 60))
  while :; do
    local finished=0 log
    log=$(log_file)
    [[ -n $log ]] && grep -qF "Modules update finished" "$log" && finished=1
    ((tty && drawn)) && printf '\033[%dA' "${#names[@]}"
    for i in "${!names[@]}"; do
      local name=${names[$i]} size=${sizes[$i]} have=0 percent=0
      if [[ -f $modules/Temp/$name.pkg.download ]]; then
        have=$(stat -c %s "$modules/Temp/$name.pkg.download" 2>/dev/null || echo 0)
      elif [[ -f $modules/Temp/$name.zip || -d $modules/$name || -d $modules/WebPlugins/$name ]] ||
           ([[ -n $log ]] && grep -qF "Module download finished {module: $name}" "$log"); then
        have=$size
      fi
      percent=$((have * 100 / size))
      local bar
      bar=$(printf '%*s' $((percent / 4)) '' | tr ' ' '#')
      if ((tty)); then
        printf '    %-14s [%-25s] %3d%% of %d bytes\033[K\n' "$name" "$bar" "$percent" "$size"
      elif ((percent == 100)) && [[ " ${reported[*]} " != *" $name "* ]]; then
        printf '    %-14s [%-25s] 100%% of %d bytes\n' "$name" "$bar" "$size"
        reported+=("$name")
      fi
    done
    drawn=1
    ((finished)) && break
    ((SECONDS < deadline)) || fail "the downloads did not finish within 60 s"
    sleep 0.1
  done
}

# name version pairs recorded in ModuleInfo.
recorded_modules() {
  grep -o '"moduleName": "[^"]*", "name": "[^"]*", "version": -\?[0-9]*' "$modules/ModuleInfo" |
    sed -E 's/.*"name": "([^"]*)", "version": (-?[0-9]*)/\1 \2/'
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
    { cat "$work/pack.out"; fail "lm-pack refused $1"; }
  echo "    $(basename "$1") $3 (zorder $2)"
}
pack "$build/packages/hello_client" 1 1
pack "$build/packages/hello_service" 2 1
pack "$build/packages/downloader" 3 1
pack "$build/packages/web_panel" 4 1

step "3. The catalogue server on http://127.0.0.1:$port/ (slowed a little so downloads can be watched)"
"$tools/catalogue-server/catalogue-server" --port "$port" --manifest "$manifest" --packages "$packages" \
  --chunk-delay-ms 40 > "$work/server.out" 2>&1 &
server_pid=$!
wait_for "$work/server.out" "serving" 10

step "4. First start: the factory queries the catalogue, downloads, installs and loads every module"
start_host "$work/host1.out"
show_downloads
wait_for "$work/host1.out" "[downloader 1.0.0] cannot start" 20
show_output "$work/host1.out"
stop_host
[[ $host_status == 0 ]] || fail "the first host exited with $host_status"
echo "    installed: $(recorded_modules | grep -v LiveModuleFactory | tr '\n' ' ')"
[[ -f $modules/WebPlugins/web_panel/web_panel.webdll ]] && echo "    web_panel is a web plug-in: it went to modules/WebPlugins/"

step "5. Second start: the installed modules load in zorder and talk to each other and to net_request"
start_host "$work/host2.out"
wait_for "$work/host2.out" "lm-host: factory started" 20
log=$(log_file)
# Modules are initialised in registry order, which is zorder once the start-up scan is sorted.
load_order=$(grep -oE '^\[[a-z_]+ ?[0-9.]*\] (initialised|cannot start)' "$work/host2.out" |
  sed -E 's/^\[([a-z_]+).*/\1/' | awk '!seen[$0]++' | tr '\n' ' ')
echo "    initialised in zorder: $load_order"
show_output "$work/host2.out"

step "6. Publishing downloader 2.0.0, which fixes the start, while the host runs; a timer cycle fetches it"
pack "$build/packages-v2/downloader" 3 2
kill -USR1 "$host_pid"
wait_for "$log" "Module download finished {module: downloader}" 30
wait_for "$work/host2.out" "[downloader 2.0.0] request" 30
wait_for "$work/host2.out" "finished with code 0" 30
grep -E 'Modules update begin|Module download (begin|finished) \{module: downloader|Load module success \{id: downloader' "$log" |
  tail -n 4 | sed -E 's/^[0-9: .-]+\[[a-z]+\] /    log: /'
sed -n '/lm-host: update cycle requested/,$p' "$work/host2.out" | show_output /dev/stdin

step "7. The host exits"
stop_host
[[ $host_status == 0 ]] || fail "the host exited with $host_status"
wait_for "$log" "[LiveModuleFactory] obs exit" 5
wait_for "$log" "[LiveModuleFactory] End!!!!!!!!!!!!!!!!!!" 5
echo "    lm-host exited 0"
grep -E 'obs exit|End!' "$log" | tail -n 2 | sed -E 's/^[0-9: .-]+\[[a-z]+\] /    log: /'
show_output "$work/host2.out" | grep -E 'uninitialised|unloaded' || true
kill -TERM "$server_pid" && wait "$server_pid" 2>/dev/null || true
server_pid=""

starts=$(grep -c "\[LiveModuleFactory\] Begin {" "$log")
ends=$(grep -c "\[LiveModuleFactory\] End!" "$log")
cat <<SUMMARY

+-------------------------------------------------------------------------------
| Summary
|   installed (ModuleInfo):  $(recorded_modules | grep -v LiveModuleFactory | tr '\n' ',' | sed 's/,$//; s/,/, /g')
|   web plug-ins:            $(ls "$modules/WebPlugins" 2>/dev/null | tr '\n' ' ')
|   initialised in zorder:   $load_order
|   hot update:              downloader 1.0.0 (failed to start) -> 2.0.0, fetched by a timer
|                            cycle and loaded while the host ran
|   exit:                    the host exited 0; log has $starts start and $ends end lines
|   log:                     $log$([[ $keep == 1 ]] || echo " (removed; --keep keeps it)")
|   time:                    $((SECONDS - started)) s
+-------------------------------------------------------------------------------
SUMMARY
