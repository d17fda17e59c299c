#!/usr/bin/env bash
# Installs the Debian packages the project needs; does nothing when they are all present.
set -euo pipefail

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
  iproute2                              # tests that run in their own network namespace bring up loopback
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
