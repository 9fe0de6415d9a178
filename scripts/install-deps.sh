#!/usr/bin/env bash
# Installs the Debian packages the build, the editor and the tests need. Idempotent and
# quiet: when everything is present it prints nothing and touches nothing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libgtk2.0-dev libgdk-pixbuf2.0-dev libcairo2-dev libglib2.0-dev
  libsuitesparse-dev libopenblas0-pthread libpng-dev libjpeg-dev
  libgtest-dev libbenchmark-dev
  xvfb xauth xdotool x11-utils imagemagick strace
  help2man man-db parallel rsync
  libgimp2.0-dev gimp
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
