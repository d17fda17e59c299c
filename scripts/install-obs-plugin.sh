#!/usr/bin/env bash
# Installs the LiveModule plug-in for the current user's OBS Studio, with a ready installation tree.
#   scripts/install-obs-plugin.sh [--build DIR] [--root DIR] [--replace-factory]
#   --build DIR        the build to install from (default: build/normal)
#   --root DIR         the installation tree (default: $LIVEMODULE_ROOT, else $XDG_DATA_HOME/LiveModule,
#                      else ~/.local/share/LiveModule); a root other than the default is written to
#                      $XDG_CONFIG_HOME/LiveModule/obs-plugin.ini (~/.config/...), where the plug-in reads it
#   --replace-factory  replace an installed factory (kept otherwise: it updates itself)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build/normal"
config_home=${XDG_CONFIG_HOME:-$HOME/.config}
data_home=${XDG_DATA_HOME:-$HOME/.local/share}
default_root="$data_home/LiveModule"
root=${LIVEMODULE_ROOT:-$default_root}
replace=0
while [[ $# -gt 0 ]]; do
  case "$1" in
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --root) root=$2; shift 2 ;;
    --replace-factory) replace=1; shift ;;
    *) sed -n '2,9p' "$0" >&2; exit 64 ;;
  esac
done
[[ $root == /* ]] || root="$PWD/$root"
plugin="$build/obs-plugin/livemodule.so"
factory="$build/root/modules/LiveModuleFactory/64bit"
for needed in "$plugin" "$factory/LiveModuleFactory.so" "$factory/Log.so" "$factory/FileOperation"; do
  [[ -f $needed ]] || { echo "install-obs-plugin: $needed is missing; build first (needs libobs-dev)" >&2; exit 1; }
done

# Where OBS looks for a user's plug-ins: <config>/obs-studio/plugins/<name>/bin/64bit/.
target="$config_home/obs-studio/plugins/livemodule/bin/64bit"
mkdir -p "$target"
install -m 0755 "$plugin" "$target/livemodule.so.new"
mv -f "$target/livemodule.so.new" "$target/livemodule.so"
echo "install-obs-plugin: plug-in in $target/"

installed="$root/modules/LiveModuleFactory/64bit"
if [[ -f $installed/LiveModuleFactory.so && $replace -eq 0 ]]; then
  echo "install-obs-plugin: kept the factory in $installed/ (it updates itself; --replace-factory replaces it)"
else
  # Assembled beside and renamed, so an interrupted install never leaves half a factory.
  mkdir -p "$root/modules" "$root/config" "$root/logs"
  rm -rf "$root/modules/LiveModuleFactory.install"
  mkdir -p "$root/modules/LiveModuleFactory.install/64bit"
  cp -p "$factory/LiveModuleFactory.so" "$factory/Log.so" "$factory/FileOperation" \
    "$root/modules/LiveModuleFactory.install/64bit/"
  rm -rf "$root/modules/LiveModuleFactory"
  mv "$root/modules/LiveModuleFactory.install" "$root/modules/LiveModuleFactory"
  echo "install-obs-plugin: factory in $installed/"
fi

if [[ $root != "$default_root" && -z ${LIVEMODULE_ROOT:-} ]]; then
  mkdir -p "$config_home/LiveModule"
  printf 'root = %s\n' "$root" > "$config_home/LiveModule/obs-plugin.ini"
  echo "install-obs-plugin: root recorded in $config_home/LiveModule/obs-plugin.ini"
fi
echo "install-obs-plugin: start OBS Studio; the factory logs to $root/logs/"
