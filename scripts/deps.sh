#!/usr/bin/env bash
# Installs the Debian packages the project needs and the one locale its tests use; does nothing when
# they are all present. apt's and dpkg's output goes to build/deps.log, whose path is printed.
set -euo pipefail
cd "$(dirname "$0")/.."

# One package list: append what a new part needs, with a word on why.
packages=(
  cmake g++ make pkg-config             # build
  libcurl4-openssl-dev                  # HTTP transport of the network service
  nlohmann-json3-dev                    # catalogue and ModuleInfo parsing
  zlib1g-dev libminizip-dev             # zip packages
  libglib2.0-dev                        # the UI thread's main loop and its timers
  libcpp-httplib-dev libssl-dev libbrotli-dev  # catalogue server and test servers (httplib's flags need both); OpenSSL EVP for package checks
  googletest libgtest-dev libgmock-dev  # tests
  curl openssl                          # benchmark comparison; test certificates
  libobs-dev obs-studio                 # the OBS Studio plug-in and the real host it runs in
  xvfb openbox wmctrl libgl1-mesa-dri   # the test inside OBS: display, window manager, software OpenGL
  nginx-light                           # the static catalogue tree test
  locales                               # the GBK locale of the code page tests
  iproute2 util-linux                   # ip and unshare: tests run in a private network namespace
)
# Locales the tests switch to, generated when missing (name, source, charmap).
locale_name=zh_CN.GBK locale_source=zh_CN locale_charmap=GBK

sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
log=build/deps.log

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [[ ${#missing[@]} -gt 0 ]]; then
  mkdir -p build
  echo "Installing ${#missing[@]} Debian packages: ${missing[*]}"
  echo "  (apt's output goes to $PWD/$log)"
  apt_options=(-o DPkg::Lock::Timeout=900 -y --no-install-recommends)
  if ! { $sudo apt-get -o DPkg::Lock::Timeout=900 update &&
         DEBIAN_FRONTEND=noninteractive $sudo apt-get "${apt_options[@]}" install "${missing[@]}"; } > "$log" 2>&1; then
    echo "deps.sh: apt-get failed; its last lines (all of them in $PWD/$log):" >&2
    tail -n 15 "$log" >&2
    exit 1
  fi
  echo "  done"
fi

# locale -a lists codeset names in lower case without the dash: zh_CN.gbk.
if ! locale -a 2>/dev/null | grep -qix "${locale_name%%.*}\.$(tr -d - <<< "$locale_charmap")"; then
  echo "Generating the locale $locale_name"
  $sudo localedef -i "$locale_source" -f "$locale_charmap" "$locale_name" ||
    { echo "deps.sh: localedef could not build $locale_name" >&2; exit 1; }
fi
