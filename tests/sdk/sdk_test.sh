#!/usr/bin/env bash
# The SDK as a module author gets it: installed from the build tree into a fresh prefix, a module
# and the author's template built from scratch folders against that prefix alone, packed with
# lm-pack, served by catalogue-server and fetched, installed and loaded by lm-host.
# usage: sdk_test.sh BUILD_DIR SOURCE_DIR PORT
set -euo pipefail
build=$1 source=$2 port=$3

work=$(mktemp -d "${TMPDIR:-/tmp}/lm-sdk-XXXXXX")
export XDG_DATA_HOME=$work/data  # the factory's temporary folders stay in the work folder
server=""
cleanup() {
  [[ -n $server ]] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  for log in "$work"/*.log "$work"/tree/logs/*.log; do
    [[ -f $log ]] && { echo "--- $log" >&2; tail -40 "$log" >&2; }
  done
  exit 1
}

sdk=$work/sdk
cmake --install "$build" --prefix "$sdk" > "$work/install.log" || fail "cmake --install"

# Nothing but the SDK prefix may be found: no package registries, no source tree.
build_alone() {  # name, folder
  cmake -S "$2" -B "$2/build" -DCMAKE_PREFIX_PATH="$sdk" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF \
        -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF > "$work/$1.configure.log" || fail "configuring $1"
  cmake --build "$2/build" > "$work/$1.build.log" || fail "building $1"
}

mkdir -p "$work/hello"
cp -r "$source/examples/hello_service" "$work/hello/"
cat > "$work/hello/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(hello_alone LANGUAGES CXX)
set(CMAKE_CXX_STANDARD 17)
find_package(LiveModule REQUIRED)
livemodule_add_module(hello_service SOURCES hello_service/HelloService.cpp)
target_compile_definitions(hello_service PRIVATE HELLO_SERVICE_VERSION="1.0.0")
CMAKE
build_alone hello_service "$work/hello"
cp -r "$source/examples/template" "$work/my_module"
build_alone my_module "$work/my_module"

catalogue=$work/catalogue
pack() {  # package folder
  "$sdk/bin/lm-pack" "$1" --out "$catalogue/packages" --manifest "$catalogue/manifest.json" --version 1 \
      >> "$work/pack.log" 2>&1 || fail "lm-pack $1"
}
pack "$work/hello/build/packages/hello_service"
pack "$work/my_module/build/packages/my_module"

"$sdk/bin/catalogue-server" --port "$port" --manifest "$catalogue/manifest.json" --packages "$catalogue/packages" \
    > "$work/server.log" 2>&1 &
server=$!
for _ in $(seq 100); do
  grep -q "serving" "$work/server.log" && break
  kill -0 "$server" 2>/dev/null || fail "catalogue-server did not start"
  sleep 0.1
done

cp -r "$sdk/share/LiveModule/root" "$work/tree"
"$sdk/bin/lm-host" --factory "$work/tree/modules/LiveModuleFactory/64bit/LiveModuleFactory.so" --env 1 --run-for 3 \
    > "$work/host.log" 2>&1 || fail "lm-host exited with $?"

for module in hello_service my_module; do
  grep -q "Load module success {id: $module," "$work"/tree/logs/*.log || fail "$module was not loaded"
done
echo "sdk: hello_service and my_module built against the installed SDK alone, packed, served, downloaded and loaded"
