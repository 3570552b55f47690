#!/usr/bin/env bash
# make release: every release file of one build kind (the stand-in's, or that of the image given with
# FIRMWARE_SYX) in dist/ at the project's root: the Debian package, the Windows program, its installer
# and its portable zip, with SHA256SUMS beside them as sha256sum -c reads it. The files are those of
# make package and make windows, which build them and run all their checks; nothing is built again.
#   release.sh [--files-only]
# --files-only is passed on to both: the files without the checks (make reproducible builds so).
set -euo pipefail

top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"

# shellcheck source=tools/lib/common.sh
source "$top/tools/lib/common.sh"
began=$(date +%s)

if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    echo "SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH: the dates in the files are $(date -u -d "@$SOURCE_DATE_EPOCH" '+%F %T') UTC"
else
    echo "SOURCE_DATE_EPOCH is not set: the files carry today's dates and times"
fi

step "make package"
tools/package/package.sh "$@"
package_took=$(( $(date +%s) - began ))

step "make windows"
tools/windows/windows.sh "$@"
windows_took=$(( $(date +%s) - began - package_took ))

# Both builds' facts: one version, one kind of image, and the names of their files.
# shellcheck source=/dev/null
deb_facts=$(source build-package/cantora-facts.sh && echo "$CANTORA_VERSION $CANTORA_STANDIN $CANTORA_DEB_FILE")
# shellcheck source=/dev/null
windows_facts=$(source build-windows/release/cantora-facts.sh && echo "$CANTORA_VERSION $CANTORA_STANDIN $CANTORA_WINDOWS_NAME")
read -r version standin deb <<< "$deb_facts"
read -r windows_version windows_standin windows <<< "$windows_facts"
if [ "$version $standin" != "$windows_version $windows_standin" ]; then
    fail "the package is version $version (stand-in: $standin), the Windows files $windows_version (stand-in: $windows_standin)"
fi

step "The release files in dist/"
rm -rf dist
mkdir dist
cp "build-package/$deb" dist/
for file in "$windows.exe" "$windows.msi" "$windows-portable.zip"; do
    cp "build-windows/dist/$file" dist/
done
(cd dist && sha256sum -- * > SHA256SUMS && cat SHA256SUMS && sha256sum --quiet -c SHA256SUMS)
ls -l dist | tail -n +2
echo "version $version$([ "$standin" -eq 0 ] || echo ", with the stand-in image"); make package: $package_took s, make windows: $windows_took s"

step "PASS"
