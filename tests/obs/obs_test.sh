#!/usr/bin/env bash
# The factory inside the real OBS Studio: OBS under Xvfb with a window manager and software OpenGL,
# a fresh user folder, the plug-in installed by scripts/install-obs-plugin.sh, the catalogue on
# loopback. Runs in its own network namespace; leaves nothing running; fails when OBS misbehaves.
#   obs_test.sh SOURCE_DIR BUILD_DIR PORT
set -uo pipefail
if [[ -z ${LMTEST_IN_NETNS:-} ]]; then
  # root needs only a network namespace; others get a user namespace to own one
  userns=-r; [[ $(id -u) == 0 ]] && userns=
  exec unshare $userns -n env LMTEST_IN_NETNS=1 bash -c 'ip link set lo up && exec "$0" "$@"' "$0" "$@"
fi
source_dir=$1 build=$2 port=$3
work=$(mktemp -d /tmp/lm-obs-test.XXXXXX)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; wait "${pids[i]}" 2>/dev/null; done
  [[ -n ${LMTEST_KEEP:-} ]] && echo "kept $work" || rm -rf "$work"
}
trap cleanup EXIT
export HOME=$work/home
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME LIVEMODULE_ROOT LIVEMODULE_ENV DISPLAY WAYLAND_DISPLAY
mkdir -p "$HOME"
obs_out=$work/obs1.out
root=$HOME/.local/share/LiveModule

fail() {
  echo "FAIL: $*"
  echo "--- OBS output (last 40 lines)"; tail -n 40 "$obs_out" 2>/dev/null
  echo "--- factory log (last 40 lines)"; tail -n 40 "$root"/logs/*.log 2>/dev/null
  exit 1
}
# Waits up to SECONDS for a fixed text in a file.
wait_for() {  # file text seconds
  local deadline=$((SECONDS + $3))
  until grep -qF -- "$2" "$1" 2>/dev/null; do
    ((SECONDS < deadline)) || fail "no '$2' in $(basename "$1") within $3 s"
    [[ -n ${obs_pid:-} ]] && ! kill -0 "$obs_pid" 2>/dev/null && fail "OBS ended while waiting for '$2'"
    sleep 0.2
  done
}
factory_log() { cat "$root"/logs/*.log 2>/dev/null; }

echo "== packages and catalogue on 127.0.0.1:$port"
packages=$work/packages manifest=$work/manifest.json
mkdir -p "$packages" "$work/factory-package/LiveModuleFactory/64bit"
# The factory's next release (another product version text) as its package.
cp "$build/tests/handover/next/LiveModuleFactory.so" "$work/factory-package/LiveModuleFactory/64bit/"
(cd "$work/factory-package" && cmake -E tar cf "$packages/LiveModuleFactory.zip" --format=zip LiveModuleFactory) ||
  fail "cannot zip the factory package"
printf '{"error": 0, "data": [{"name": "LiveModuleFactory", "orgname": "LiveModuleFactory.zip", "resver": "5", "pfile": "{base}packages/LiveModuleFactory.zip"}]}' > "$manifest"
pack() {  # folder order version
  "$build/tools/lm-pack/lm-pack" "$1" --out "$packages" --manifest "$manifest" --order "$2" --version "$3" \
    > "$work/pack.out" 2>&1 || { cat "$work/pack.out"; fail "lm-pack refused $1"; }
  grep -q "loads in hosts on Qt .*5.15.8" "$work/pack.out" || { cat "$work/pack.out"; fail "$1 does not load in OBS"; }
}
pack "$build/tests/obs/v1/obs_probe_a" 2 1
pack "$build/tests/obs/v1/obs_probe_b" 1 1
pack "$build/tests/obs/v1/obs_probe_c" 3 1
pack "$build/packages/hello_service" 4 1
pack "$build/packages/hello_client" 5 1
"$build/tools/catalogue-server/catalogue-server" --port "$port" --manifest "$manifest" --packages "$packages" \
  > "$work/server.out" 2>&1 &
pids+=($!)
wait_for "$work/server.out" "serving" 10

echo "== plug-in installed by the documented command"
"$source_dir/scripts/install-obs-plugin.sh" --build "$build" > "$work/install.out" 2>&1 || { cat "$work/install.out"; fail "install"; }
[[ -f $HOME/.config/obs-studio/plugins/livemodule/bin/64bit/livemodule.so ]] || fail "the plug-in is not where OBS looks"
printf '[General]\nUpdateIntervalInMin=1\n' > "$root/global.ini"
# A fresh user whose first-run questions are answered: no auto-configuration wizard.
mkdir -p "$HOME/.config/obs-studio"
printf '[General]\nFirstRun=true\nLastVersion=486539266\n' > "$HOME/.config/obs-studio/global.ini"

echo "== Xvfb, window manager"
# Xvfb picks a free display; another user's server appearing at the same moment can take it, so
# a display without a working window manager is given up and another one started.
start_display() {
  : > "$work/display"
  exec 5> "$work/display"
  Xvfb -displayfd 5 -screen 0 1280x800x24 -nolisten tcp > "$work/xvfb.out" 2>&1 &
  xvfb_pid=$!
  exec 5>&-
  for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
  [[ -s $work/display ]] || return 1
  export DISPLAY=:$(head -n1 "$work/display")
  openbox > "$work/openbox.out" 2>&1 &
  openbox_pid=$!
  for _ in $(seq 100); do wmctrl -m > /dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}
for attempt in 1 2 3; do
  start_display && break
  kill "${openbox_pid:-}" "$xvfb_pid" 2>/dev/null
  wait "${openbox_pid:-}" "$xvfb_pid" 2>/dev/null
  openbox_pid=
  ((attempt < 3)) || fail "no display with a window manager: $(cat "$work/xvfb.out" "$work/openbox.out")"
done
pids+=("$xvfb_pid" "$openbox_pid")

export LIBGL_ALWAYS_SOFTWARE=1
start_obs() {  # output file
  obs_out=$1
  obs > "$obs_out" 2>&1 &
  obs_pid=$!
  pids+=($obs_pid)
  wait_for "$obs_out" "[LiveModule] factory started" 90
}
# Closes OBS's main window through the window manager, as a user does, and expects exit status 0.
close_obs() {  # how many exits the factory log should show by now
  local wid deadline status
  deadline=$((SECONDS + 30))
  until wid=$(wmctrl -l | grep -E ' OBS [0-9]' | head -n1 | cut -d' ' -f1); [[ -n $wid ]]; do
    ((SECONDS < deadline)) || fail "no OBS window: $(wmctrl -l)"
    sleep 0.2
  done
  wmctrl -i -c "$wid"
  deadline=$((SECONDS + 60))
  while kill -0 "$obs_pid" 2>/dev/null && ((SECONDS < deadline)); do sleep 0.2; done
  kill -0 "$obs_pid" 2>/dev/null && fail "OBS did not exit within 60 s of the close"
  wait "$obs_pid"
  status=$?
  obs_pid=
  [[ $status == 0 ]] || fail "OBS exited with $status"
  [[ $1 == - ]] && return
  log=$(factory_log)
  [[ $(grep -cF "[LiveModuleFactory] obs exit" <<< "$log") == "$1" ]] || fail "no '[LiveModuleFactory] obs exit' for this run"
  [[ $(grep -v '^[[:space:]]*$' <<< "$log" | tail -n 1) == *"[LiveModuleFactory] End!!!!!!!!!!!!!!!!!!"* ]] ||
    fail "the factory log does not end with the End line"
}
begin_versions() { factory_log | grep -o 'Begin {[^}]*}' | grep -oE 'verison: [^ ]+' | cut -d' ' -f2 | tr '\n' ' '; }
obs_version=$(obs --version 2>/dev/null | grep -oE '[0-9]+\.[0-9]+\.[0-9]+' | head -n1)

echo "== OBS Studio with a root that holds no factory: one line in OBS's log, OBS runs on"
LIVEMODULE_ROOT=$work/empty-root obs > "$work/obs0.out" 2>&1 &
obs_pid=$!
pids+=($obs_pid)
obs_out=$work/obs0.out
wait_for "$obs_out" "[LiveModule] live modules are off for this run, OBS continues: cannot load the factory: $work/empty-root/modules/LiveModuleFactory/64bit/LiveModuleFactory.so" 90
grep -qF "; factory log: $work/empty-root/logs/LiveModule_" "$obs_out" || fail "the failure line lacks the factory log's path"
[[ $(grep -c '\[LiveModule\]' "$obs_out") == 1 ]] || fail "more than one plug-in line for the failed start"
wait_for "$obs_out" "==== Startup complete" 60
close_obs -

echo "== OBS Studio, first start: the factory updates itself, modules arrive"
start_obs "$work/obs1.out"
grep -q "obs version: $obs_version[^,]*, Qt Version: 5_15_8_0" <<< "$(factory_log)" ||
  fail "no Begin line with OBS $obs_version and Qt tag 5_15_8_0"
[[ $(begin_versions) == "1.0.0.5 1.0.0.6-next " ]] || fail "Begin lines show '$(begin_versions)', not the old then the new factory"
grep -qF "[LiveModule] the factory from the package has started" "$obs_out" || fail "the plug-in did not hand over"
[[ ! -e $root/modules/Temp/LiveModuleFactory.zip && ! -e $root/modules/LiveModuleFactory.old ]] || fail "handover leftovers"
cmp -s "$root/modules/LiveModuleFactory/64bit/LiveModuleFactory.so" "$build/tests/handover/next/LiveModuleFactory.so" ||
  fail "the installed factory is not the new release"
echo "   self-update in one start: Begin lines $(begin_versions)"
wait_for "$obs_out" "[probe] obs_probe_a 1 initialised on the main thread (host $obs_version" 60
wait_for "$obs_out" "[probe] obs_probe_b 1 initialised on the main thread" 60
wait_for "$obs_out" "[probe] obs_probe_c 1 refuses to start" 60
wait_for "$obs_out" "[hello_service] initialised (host $obs_version" 60
close_obs 1

echo "== second start: installed modules on OBS's main thread in zorder, net_request on the main thread"
start_obs "$work/obs2.out"
[[ $(begin_versions) == "1.0.0.5 1.0.0.6-next 1.0.0.6-next " ]] || fail "Begin lines show '$(begin_versions)'"
wait_for "$obs_out" "[probe] obs_probe_a net_request result" 20
order=$(grep -oE '^\[(probe\] obs_probe_[abc]|hello_[a-z]+\]) [^ ]* ?(initialised|refuses)' "$obs_out" | grep -oE 'obs_probe_[abc]|hello_[a-z]+' | tr '\n' ' ')
[[ $order == "obs_probe_b obs_probe_a obs_probe_c hello_service hello_client " ]] || fail "modules started as '$order', not in zorder"
[[ $(grep -c 'initialised on another thread' "$obs_out") == 0 ]] || fail "a module was initialised off the main thread"
grep -qE '^\[probe\] obs_probe_a net_request result 0 \([1-9][0-9]* bytes\) on the main thread' "$obs_out" ||
  fail "the net_request result did not arrive on the main thread"

echo "== a timer cycle hot-loads the fixed obs_probe_c"
pack "$build/tests/obs/v2/obs_probe_c" 3 2
wait_for "$obs_out" "[probe] obs_probe_c 2 initialised on the main thread" 150
close_obs 2

obs_log=$(ls -t "$HOME/.config/obs-studio/logs/"*.txt | head -n1)
grep -E '\[LiveModule\] (live modules are off|ignored|the new factory cannot)|livemodule.*(fail|not loaded)' "$obs_log" &&
  fail "OBS's log shows a plug-in error"
grep -qF "[LiveModule] factory started" "$obs_log" || fail "OBS's own log lacks the plug-in's start line"
echo "PASS: OBS $obs_version ran the factory, its self-update, the modules and the hot update, and exited 0 twice"
