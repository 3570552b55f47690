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

# A package named NAME/bookworm-backports comes from Debian's backports, whose source is added once.
missing=()
backports=0
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "${p%%/*}" 2>/dev/null || true)
    [ "$status" = "installed" ] || missing+=("$p")
    [ "$status" = "installed" ] || [ "${p#*/}" != "bookworm-backports" ] || backports=1
done

[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if [ "$backports" -eq 1 ] && ! grep -rqs bookworm-backports /etc/apt/sources.list /etc/apt/sources.list.d/; then
    # From the mirror the machine already takes bookworm from.
    mirror=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 'Created-By: Packages' |
                 awk '$2 == "bookworm" { print $1; exit }')
    [ -n "$mirror" ] || { echo "No source of bookworm to take its backports from"; exit 1; }
    printf '%s\n' "Types: deb" "URIs: $mirror" "Suites: bookworm-backports" "Components: main" \
        "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" |
        as_root tee /etc/apt/sources.list.d/bookworm-backports.sources > /dev/null
fi
as_root apt-get update -q
as_root apt-get install -y -q --no-install-recommends "${missing[@]}"
