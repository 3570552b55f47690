#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (or those named as arguments), and
# nothing when all are present.
set -euo pipefail
# shellcheck source=tools/lib/common.sh
source "$(dirname "$0")/../lib/common.sh"

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
export DEBIAN_FRONTEND=noninteractive
as_root apt-get update -q
as_root apt-get install -y -q --no-install-recommends "${missing[@]}"
