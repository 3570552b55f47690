#!/usr/bin/env bash
# make release: every release file of one build kind (the stand-in's, or that of the image given with
# FIRMWARE_SYX) in dist/ at the project's root: the Debian package, the Windows program, its installer
# and its portable zip, with SHA256SUMS beside them as sha256sum -c reads it. The files are those of
# make package and make windows, which build them and run all their checks; nothing is built again.
#   release.sh [--files-only]
# --files-only is passed on to both: the files without the checks (make reproducible builds so).
# SIGN_CERT, SIGN_KEY, SIGN_TIMESTAMP_URL and GPG_KEY sign the release (tools/lib/sign.sh): the
# Windows program and installer with Authenticode, SHA256SUMS with a detached SHA256SUMS.asc. A key
# that is named but missing or wrong stops the release before anything is built; dist/ holds the
# release only once every file is made and signed.
set -euo pipefail

top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"

# shellcheck source=tools/lib/common.sh
source "$top/tools/lib/common.sh"
# shellcheck source=tools/lib/sign.sh
source "$top/tools/lib/sign.sh"
began=$(date +%s)

rm -rf dist dist.partial
signing_preflight

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
mkdir dist.partial
cp "build-package/$deb" dist.partial/
for file in "$windows.exe" "$windows.msi" "$windows-portable.zip"; do
    cp "build-windows/dist/$file" dist.partial/
done
(cd dist.partial && sha256sum -- * > SHA256SUMS && cat SHA256SUMS && sha256sum --quiet -c SHA256SUMS)
if openpgp_wanted; then
    sign_sums dist.partial
    gpg --batch --verify dist.partial/SHA256SUMS.asc dist.partial/SHA256SUMS 2>&1 | grep -E '^gpg: (Good|using)' || true
fi
mv dist.partial dist
ls -l dist | tail -n +2
echo "version $version$([ "$standin" -eq 0 ] || echo ", with the stand-in image"); make package: $package_took s, make windows: $windows_took s"

step "PASS"
