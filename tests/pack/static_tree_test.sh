#!/usr/bin/env bash
# lm-pack publishes into a static catalogue tree, nginx serves it as it is on the default catalogue
# port, and a host installs and loads the module from it. Runs in its own network namespace.
#   static_tree_test.sh BUILD_DIR PORT
set -uo pipefail
if [[ -z ${LMTEST_IN_NETNS:-} ]]; then
  # root needs only a network namespace; others get a user namespace to own one
  userns=-r; [[ $(id -u) == 0 ]] && userns=
  exec unshare $userns -n env LMTEST_IN_NETNS=1 bash -c 'ip link set lo up && exec "$0" "$@"' "$0" "$@"
fi
build=$1 port=$2
work=$(mktemp -d /tmp/lm-static-tree.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  tail -n 20 "$work"/*.out "$work"/nginx/error.log "$work"/root/logs/*.log 2>/dev/null
  exit 1
}
wait_for() {  # file text seconds
  local deadline=$((SECONDS + $3))
  until grep -qF -- "$2" $1 2>/dev/null; do ((SECONDS < deadline)) || fail "no '$2' within $3 s"; sleep 0.1; done
}

tree=$work/tree
base=http://127.0.0.1:$port/
"$build/tools/lm-pack/lm-pack" "$build/packages/hello_service" --tree "$tree" --base "$base" --version 3 > "$work/pack.out" 2>&1 ||
  fail "lm-pack refused"
grep -q "GNU-unique" "$work/pack.out" && fail "a library built by livemodule_add_module carries GNU-unique symbols"
[[ -f $tree/packages/hello_service.zip && -f $tree/orbit/pcPlugin/getPlugins ]] || fail "the tree lacks its files: $(find "$tree")"
grep -qF "\"pfile\":\"${base}packages/hello_service.zip\"" <(tr -d ' \n' < "$tree/orbit/pcPlugin/getPlugins") ||
  fail "the package URL is not absolute: $(cat "$tree/orbit/pcPlugin/getPlugins")"

# nginx as a plain process of this test: no daemon, no workers, every path its own.
mkdir -p "$work/nginx"
cat > "$work/nginx/nginx.conf" <<CONF
daemon off;
user $(id -un) $(id -gn);
master_process off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events {}
http {
  access_log $work/nginx/access.log;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server { listen 127.0.0.1:$port; root $tree; }
}
CONF
nginx -p "$work/nginx" -e "$work/nginx/error.log" -c "$work/nginx/nginx.conf" > "$work/nginx.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do curl -sf -o /dev/null "${base}packages/hello_service.zip" && break; sleep 0.1; done
curl -sf -o /dev/null "${base}packages/hello_service.zip" || fail "nginx does not serve the tree"

# A fresh installation tree; env 0 asks the default server, which this build puts on the port.
root=$work/root
mkdir -p "$root/modules/LiveModuleFactory/64bit"
cp "$build/root/modules/LiveModuleFactory/64bit/"{LiveModuleFactory.so,Log.so,FileOperation} "$root/modules/LiveModuleFactory/64bit/"
export XDG_DATA_HOME=$work/data
"$build/tools/host/lm-host" --factory "$root/modules/LiveModuleFactory/64bit/LiveModuleFactory.so" --env 0 > "$work/host.out" 2>&1 &
host=$!
pids+=($host)
wait_for "$root/logs/*.log" "Load module success {id: hello_service" 30
kill -TERM "$host"
wait "$host"
status=$?
[[ $status == 0 ]] || fail "lm-host exited with $status"
tr -d ' ' < "$root/modules/ModuleInfo" | grep -qF '"name":"hello_service","version":3' ||
  fail "the record lacks hello_service 3: $(cat "$root/modules/ModuleInfo")"
grep -q 'GET /orbit/pcPlugin/getPlugins?did=' "$work/nginx/access.log" || fail "nginx never saw the catalogue query"
echo "PASS: a host installed hello_service 3 from a static tree served by nginx"
