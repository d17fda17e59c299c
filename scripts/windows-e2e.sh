# The end-to-end run of lm-host.exe under Wine, sourced by scripts/test-windows.sh, which sets
# build, linux_build, keep, WINEPREFIX and winpath. run_end_to_end returns 0 when every step held.
#
# A fresh installation tree with the Windows factory; the sample modules zipped and listed in a
# catalogue that the Linux catalogue-server serves on the default environment's loopback port. The
# first host start downloads, installs and loads them; the second publishes downloader 2.0.0 while
# it runs and has a timer cycle (the test hook, asked for through a file) fetch and hot-load it;
# then the host is told to exit. The host program runs from a folder of its own, so the files the
# tree keeps for beside it (MainProgramDeps) can be seen arriving there.

e2e_port=18600  # the default catalogue server (environment 0) of test builds

e2e_fail() {
  printf '    failed: %s\n' "$*" >&2
  local log
  log=$(ls "$e2e_root"/logs/*.log 2>/dev/null | head -n1 || true)
  [[ -n $log ]] && { echo "    --- last log lines"; tail -n 15 "$log" | sed 's/^/    /'; } >&2
  return 1
}

# Waits until FILE holds TEXT, for at most SECONDS.
e2e_wait_for() {
  local file=$1 text=$2 deadline=$((SECONDS + $3))
  until [[ -f $file ]] && grep -qF -- "$text" "$file"; do
    ((SECONDS < deadline)) || { e2e_fail "no \"$text\" in $(basename "$file") within $3 s"; return 1; }
    sleep 0.2
  done
}

# Zips package folder $1 (its top folder named after the module) into the catalogue's packages.
e2e_zip() {
  (cd "$(dirname "$1")" && cmake -E tar cf "$e2e_packages/$(basename "$1").zip" --format=zip "$(basename "$1")")
}

# The catalogue answer: the factory at version $e2e_factory_version (0 unless set: nobody downloads
# it), then "name:order:version" entries.
e2e_manifest() {
  local entries="{\"name\": \"LiveModuleFactory\", \"orgname\": \"LiveModuleFactory.zip\", \"resver\": \"${e2e_factory_version:-0}\", \"pfile\": \"{base}packages/LiveModuleFactory.zip\"}"
  local item name order version
  for item in "$@"; do
    IFS=: read -r name order version <<<"$item"
    entries+=", {\"name\": \"$name\", \"orgname\": \"$name.zip\", \"resver\": \"$version\", \"pfile\": \"{base}packages/$name.zip\","
    entries+=" \"disabled\": 0, \"preinstall\": 1, \"order\": \"$order\", \"require_client_version\": \"0\", \"identify\": 0, \"ext\": \"{}\"}"
  done
  # Written beside and renamed, so the server never reads half an answer.
  echo "{\"error\": 0, \"data\": [$entries]}" > "$e2e_packages/catalogue.json.new"
  mv "$e2e_packages/catalogue.json.new" "$e2e_packages/catalogue.json"
}

e2e_start_host() {  # output file, extra arguments
  local out=$1
  shift
  rm -f "$e2e_work/exit"
  wine "$e2e_work/host/lm-host.exe" --factory "$(winpath "$e2e_modules/LiveModuleFactory/64bit/LiveModuleFactory.dll")" \
    --env 0 --exit-when "$(winpath "$e2e_work/exit")" "$@" > "$out" 2>&1 &
  e2e_host_pid=$!
}

e2e_stop_host() {  # fails unless the host exits 0 within 30 s
  touch "$e2e_work/exit"
  local deadline=$((SECONDS + 30))
  while kill -0 "$e2e_host_pid" 2>/dev/null; do
    ((SECONDS < deadline)) || { kill -KILL "$e2e_host_pid"; e2e_fail "the host did not exit within 30 s"; return 1; }
    sleep 0.2
  done
  local status=0
  wait "$e2e_host_pid" || status=$?
  e2e_host_pid=""
  [[ $status == 0 ]] || { e2e_fail "the host exited with $status"; return 1; }
}

e2e_cleanup() {
  [[ -n ${e2e_host_pid:-} ]] && kill -KILL "$e2e_host_pid" 2>/dev/null
  [[ -n ${e2e_server_pid:-} ]] && kill -TERM "$e2e_server_pid" 2>/dev/null && wait "$e2e_server_pid" 2>/dev/null
  if [[ $keep == 1 ]]; then echo "    the tree is kept in $e2e_work"; else rm -rf "$e2e_work"; fi
  e2e_host_pid="" e2e_server_pid=""
}

e2e_show() { grep -E '^\[|^lm-host' "$1" | tr -d '\r' | sed 's/^/    /' || true; }

run_end_to_end() {
  e2e_work=$(mktemp -d /tmp/livemodule-windows.XXXXXX)
  e2e_root=$e2e_work/root
  e2e_modules=$e2e_root/modules
  e2e_packages=$e2e_work/packages
  local status=0
  run_end_to_end_steps || status=$?
  e2e_cleanup
  return $status
}

run_end_to_end_steps() {
  mkdir -p "$e2e_modules/LiveModuleFactory/64bit" "$e2e_root/config" "$e2e_packages" "$e2e_work/host" \
    "$e2e_modules/MainProgramDeps/64bit/6_3_1_0"
  cp "$build/tools/host/lm-host.exe" "$e2e_work/host/"
  echo "needed beside the host" > "$e2e_modules/MainProgramDeps/64bit/6_3_1_0/host-dependency.txt"
  cp "$build/root/modules/LiveModuleFactory/64bit/"{LiveModuleFactory.dll,Log.dll,FileOperation.exe} \
    "$e2e_modules/LiveModuleFactory/64bit/"
  printf '[General]\nUpdateIntervalInMin=1\n' > "$e2e_root/global.ini"
  # The per-installation temporary folder is made one level deep under Local AppData\Temp.
  mkdir -p "$WINEPREFIX/drive_c/users/$(id -un)/AppData/Local/Temp/$(basename "$e2e_work")"
  head -c $((1 << 20)) /dev/urandom > "$e2e_packages/sample-media.bin"
  echo "http://127.0.0.1:$e2e_port/packages/sample-media.bin" > "$e2e_root/config/downloader.url"
  local id
  for id in hello_client hello_service downloader web_panel; do e2e_zip "$build/packages/$id"; done
  e2e_manifest hello_client:1:1 hello_service:2:1 downloader:3:1 web_panel:4:1

  "$linux_build/tools/catalogue-server/catalogue-server" --port "$e2e_port" --manifest "$e2e_packages/catalogue.json" \
    --packages "$e2e_packages" > "$e2e_work/server.out" 2>&1 &
  e2e_server_pid=$!
  e2e_wait_for "$e2e_work/server.out" "serving" 10 || return 1

  echo "  first start: download, install, load"
  e2e_start_host "$e2e_work/host1.out"
  e2e_wait_for "$e2e_work/host1.out" "lm-host: factory started" 120 || return 1
  local log
  log=$(ls "$e2e_root"/logs/*.log | head -n1)
  e2e_wait_for "$log" "Modules update finished" 60 || return 1
  e2e_wait_for "$e2e_work/host1.out" "[downloader 1.0.0] cannot start" 30 || return 1
  e2e_show "$e2e_work/host1.out"
  e2e_stop_host || return 1
  [[ -f $e2e_work/host/host-dependency.txt ]] || { e2e_fail "FileOperation.exe did not copy the host dependency"; return 1; }
  echo "    FileOperation.exe copied MainProgramDeps\64bit\6_3_1_0\host-dependency.txt beside lm-host.exe"
  for id in hello_client hello_service downloader; do
    [[ -f $e2e_modules/$id/64bit/${id}_6_3_1_0.dll ]] || { e2e_fail "$id is not installed"; return 1; }
  done
  [[ -f $e2e_modules/WebPlugins/web_panel/web_panel.webdll ]] || { e2e_fail "web_panel is not in WebPlugins"; return 1; }
  echo "    installed: hello_client, hello_service, downloader (1.0.0); web_panel in WebPlugins"

  echo "  second start: the installed modules load; downloader 2.0.0 is published and hot-loaded"
  e2e_start_host "$e2e_work/host2.out" --update-when "$(winpath "$e2e_work/update")"
  e2e_wait_for "$e2e_work/host2.out" "lm-host: factory started" 120 || return 1
  e2e_zip "$build/packages-v2/downloader"
  e2e_manifest hello_client:1:1 hello_service:2:1 downloader:3:2 web_panel:4:1
  touch "$e2e_work/update"
  e2e_wait_for "$log" "Module download finished {module: downloader}" 60 || return 1
  e2e_wait_for "$e2e_work/host2.out" "[downloader 2.0.0] request" 60 || return 1
  e2e_wait_for "$e2e_work/host2.out" "finished with code 0" 60 || return 1
  e2e_stop_host || return 1
  e2e_show "$e2e_work/host2.out"
  e2e_wait_for "$log" "[LiveModuleFactory] obs exit" 5 || return 1
  e2e_wait_for "$log" "[LiveModuleFactory] End!!!!!!!!!!!!!!!!!!" 5 || return 1
  local begin
  begin=$(grep -F "[LiveModuleFactory] Begin {" "$log" | tail -n 1 | sed -E 's/^[0-9: .-]+\[[a-z]+\] //' | tr -d '\r')
  echo "    log: $begin"
  grep -E 'Module download finished \{module: downloader|Load module success \{id: downloader|obs exit|End!' "$log" |
    tail -n 4 | tr -d '\r' | sed -E 's/^[0-9: .-]+\[[a-z]+\] /    log: /'
  [[ $begin == *"obs version: 30.0.0,"* ]] || { e2e_fail "the Begin line lacks lm-host.exe's version 30.0.0"; return 1; }
}

# The factory's self-update under Wine (tools/handover in lm-host.exe): the catalogue lists the
# factory at version 5, its package holding only 64bit\LiveModuleFactory.dll of a second build that
# differs in its version text (build/tests/handover/next). The first start gets -2, releases the library,
# replaces the factory's folder and starts the new factory in the same process; then a start killed
# with the factory's folder set aside (--abort-at-handover old-set-aside) is repaired by the next.
e2e_next_version=1.0.0.6-next

# A fresh tree beside a running catalogue server that offers the next factory and hello_client.
e2e_handover_tree() {
  e2e_work=$(mktemp -d /tmp/livemodule-windows.XXXXXX)
  e2e_root=$e2e_work/root
  e2e_modules=$e2e_root/modules
  e2e_packages=$e2e_work/packages
  mkdir -p "$e2e_modules/LiveModuleFactory/64bit" "$e2e_packages" "$e2e_work/host" "$e2e_work/next/LiveModuleFactory/64bit"
  cp "$build/tools/host/lm-host.exe" "$e2e_work/host/"
  cp "$build/root/modules/LiveModuleFactory/64bit/"{LiveModuleFactory.dll,Log.dll,FileOperation.exe} \
    "$e2e_modules/LiveModuleFactory/64bit/"
  mkdir -p "$WINEPREFIX/drive_c/users/$(id -un)/AppData/Local/Temp/$(basename "$e2e_work")"
  cp "$build/tests/handover/next/LiveModuleFactory.dll" "$e2e_work/next/LiveModuleFactory/64bit/"
  e2e_zip "$e2e_work/next/LiveModuleFactory"
  e2e_zip "$build/packages/hello_client"
  e2e_factory_version=5 e2e_manifest hello_client:1:1
  "$linux_build/tools/catalogue-server/catalogue-server" --port "$e2e_port" --manifest "$e2e_packages/catalogue.json" \
    --packages "$e2e_packages" > "$e2e_work/server.out" 2>&1 &
  e2e_server_pid=$!
  e2e_wait_for "$e2e_work/server.out" "serving" 10
}

# One start that leaves at once (--run-for 0); its exit status in e2e_status.
e2e_run_host() {  # output file, extra arguments
  local out=$1
  shift
  e2e_status=0
  timeout 180 wine "$e2e_work/host/lm-host.exe" \
    --factory "$(winpath "$e2e_modules/LiveModuleFactory/64bit/LiveModuleFactory.dll")" \
    --env 0 --run-for 0 "$@" >> "$out" 2>&1 || e2e_status=$?
}

# The version texts of the factory's Begin lines, space-separated, oldest first.
e2e_begin_versions() {
  cat "$e2e_root"/logs/*.log 2>/dev/null | tr -d '\r' | grep -F '[LiveModuleFactory] Begin {' |
    sed -E 's/.*verison: ([^ ]*) \}.*/\1/' | tr '\n' ' ' | sed 's/ $//'
}

# The new factory in place, Log.dll and FileOperation.exe kept, nothing of the handover left.
e2e_handover_settled() {
  cmp -s "$e2e_modules/LiveModuleFactory/64bit/LiveModuleFactory.dll" "$build/tests/handover/next/LiveModuleFactory.dll" ||
    { e2e_fail "the factory in place is not the packaged one"; return 1; }
  local kept gone
  for kept in Log.dll FileOperation.exe; do
    [[ -f $e2e_modules/LiveModuleFactory/64bit/$kept ]] || { e2e_fail "$kept, which the package leaves out, is gone"; return 1; }
  done
  for gone in LiveModuleFactory.old LiveModuleFactory.new Temp/LiveModuleFactory.zip Temp/LiveModuleFactory; do
    [[ ! -e $e2e_modules/$gone ]] || { e2e_fail "modules/$gone is left"; return 1; }
  done
  echo "    settled: the packaged LiveModuleFactory.dll in place beside Log.dll and FileOperation.exe;" \
    "no LiveModuleFactory.old, .new or Temp\\LiveModuleFactory(.zip)"
}

e2e_expect_text() {  # file, text
  grep -qF -- "$2" "$1" || { e2e_fail "no \"$2\" in $(basename "$1")"; return 1; }
}

# Runs the steps given in a fresh handover tree, removed afterwards.
e2e_in_handover_tree() {
  local status=0
  e2e_handover_tree && "$@" || status=$?
  e2e_cleanup
  return $status
}

run_handover() { e2e_in_handover_tree run_handover_steps; }

run_handover_steps() {
  local out=$e2e_work/handover.out
  echo "  a start that gets -2 and hands over to the packaged factory"
  e2e_run_host "$out"
  e2e_show "$out"
  [[ $e2e_status == 0 ]] || { e2e_fail "the host exited with $e2e_status"; return 1; }
  e2e_expect_text "$out" "lm-host: a new factory package is waiting; handing over to it" || return 1
  e2e_expect_text "$out" "lm-host: the factory from the package has started" || return 1
  ! grep -qF "stays mapped" "$out" || { e2e_fail "the released factory DLL stayed loaded"; return 1; }
  local versions
  versions=$(e2e_begin_versions)
  echo "    Begin lines' versions: $versions"
  [[ $versions == "1.0.0.5 $e2e_next_version" ]] || { e2e_fail "Begin versions are \"$versions\""; return 1; }
  e2e_handover_settled || return 1
  echo "  the next start runs the new factory and hands over nothing"
  : > "$out"
  e2e_run_host "$out"
  [[ $e2e_status == 0 ]] || { e2e_fail "the host exited with $e2e_status"; return 1; }
  ! grep -qF "handing over" "$out" || { e2e_fail "the second start handed over again"; return 1; }
  versions=$(e2e_begin_versions)
  [[ $versions == *" $e2e_next_version $e2e_next_version" ]] || { e2e_fail "Begin versions are \"$versions\""; return 1; }
  echo "    Begin lines' versions: $versions"
}

run_interrupted_handover() { e2e_in_handover_tree run_interrupted_handover_steps; }

# A start killed at every other step of the handover: whatever it left, the next start ends with the
# new factory running and nothing of the handover left.
run_killed_handovers() {
  local step
  for step in released staged new-in-place package-removed new-started; do
    e2e_in_handover_tree run_killed_handover_steps "$step" || return 1
  done
}

run_killed_handover_steps() {  # step
  local out=$e2e_work/killed.out
  e2e_run_host "$out" --abort-at-handover "$1"
  [[ $e2e_status == 137 ]] || { e2e_show "$out"; e2e_fail "the host exited with $e2e_status, not 137 (killed at $1)"; return 1; }
  out=$e2e_work/next-start.out
  e2e_run_host "$out"
  [[ $e2e_status == 0 ]] || { e2e_show "$out"; e2e_fail "after a kill at $1 the next start exited with $e2e_status"; return 1; }
  local versions
  versions=$(e2e_begin_versions)
  echo "    killed at $1; Begin lines' versions: $versions"
  [[ $versions == *" $e2e_next_version" ]] || { e2e_fail "after a kill at $1 the Begin versions are \"$versions\""; return 1; }
  e2e_handover_settled >/dev/null
}

run_interrupted_handover_steps() {
  local out=$e2e_work/killed.out step=old-set-aside
  echo "  a start killed at the handover step $step (the factory's folder renamed to .old)"
  e2e_run_host "$out" --abort-at-handover "$step"
  e2e_show "$out"
  [[ $e2e_status == 137 ]] || { e2e_fail "the host exited with $e2e_status, not 137 (killed at $step)"; return 1; }
  [[ ! -e $e2e_modules/LiveModuleFactory && -d $e2e_modules/LiveModuleFactory.old && -d $e2e_modules/LiveModuleFactory.new ]] ||
    { e2e_fail "the kill did not leave the factory's folder set aside"; return 1; }
  echo "    left: LiveModuleFactory.old and .new, no LiveModuleFactory"
  out=$e2e_work/repaired.out
  echo "  the next start repairs it and hands over"
  e2e_run_host "$out"
  e2e_show "$out"
  [[ $e2e_status == 0 ]] || { e2e_fail "the host exited with $e2e_status"; return 1; }
  e2e_expect_text "$out" "lm-host: an interrupted factory update was repaired" || return 1
  e2e_expect_text "$out" "lm-host: the factory from the package has started" || return 1
  local versions
  versions=$(e2e_begin_versions)
  echo "    Begin lines' versions: $versions"
  [[ $versions == *" $e2e_next_version" ]] || { e2e_fail "Begin versions are \"$versions\""; return 1; }
  e2e_handover_settled
}
