#!/usr/bin/env bash
# Installs what Velmora needs to build, run and test on Debian 12 (bookworm).
# Safe to run again: packages already present are skipped.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  cimg-dev libx11-dev
  imagemagick
  googletest libgtest-dev libbenchmark-dev
  xvfb xdotool x11-utils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
