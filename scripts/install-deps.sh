#!/usr/bin/env bash
# Installs every Debian package Tarnel needs to build, test and run. Only missing packages are
# installed, so a second run costs a few dpkg queries. `install-deps.sh bench` also installs what
# the benchmarks compare against or profile with (mkvmerge, perf).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  libavformat-dev libavcodec-dev libavfilter-dev libswscale-dev libswresample-dev libavutil-dev
  libavcodec-extra
  libsdl2-dev
  qt6-base-dev qt6-qpa-plugins fonts-dejavu-core
  xvfb xauth
  dbus
  appstream desktop-file-utils
  libsimpleini-dev
  libjpeg62-turbo-dev
  libgtest-dev libgmock-dev
  libcli11-dev
  nlohmann-json3-dev
  parallel
)
bench_packages=(mkvtoolnix linux-perf handbrake-cli)
if [[ ${1:-} == bench ]]; then
  packages+=("${bench_packages[@]}")
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
