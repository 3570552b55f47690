#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (or those named as arguments), and
# nothing when all are present.
set -euo pipefail

packages=(g++ cmake ninja-build pkg-config make juce-modules-source xvfb xauth
          libgtest-dev libbenchmark-dev fonts-dejavu-core openbox xdotool x11-utils
          imagemagick libasound2-dev librsvg2-bin)
[ $# -gt 0 ] && packages=("$@")

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
    [ "$status" = "installed" ] || missing+=("$p")
done

[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
