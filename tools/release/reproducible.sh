#!/usr/bin/env bash
# make reproducible: builds the release files twice and compares them byte for byte. Each build is a
# fresh clone of the last commit (the committed state only: changes not committed are not built) at a
# path of another length, run one after the other (so at different times), in another time zone and
# with another umask, and makes its files as make release does, without the checks (--files-only);
# each sets SOURCE_DATE_EPOCH itself, as any clone's make does. Both are unsigned, whatever keys the
# environment names (make signing-check shows that a signed file differs only by its signature). FIRMWARE_SYX, when given, is given to
# both. On a difference it names the file and where it first differs (diffoscope when the machine has
# it, cmp and tools/release/first-difference.py otherwise) and keeps both builds' files in
# build-reproducible/. Exit code 0 only when every file is the same.
set -euo pipefail

top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"

# shellcheck source=tools/lib/common.sh
source "$top/tools/lib/common.sh"
began=$(date +%s)

image=""
[ -z "${FIRMWARE_SYX:-}" ] || image=$(realpath "$FIRMWARE_SYX")
commit=$(git rev-parse --short HEAD)
[ -z "$(git status --porcelain --untracked-files=no)" ] ||
    echo "note: the tree has changes not committed; both builds are of commit $commit without them"

work=$(mktemp -d)
keep=$top/build-reproducible
trap 'rm -rf "$work"' EXIT
rm -rf "$keep"

# build NUMBER FOLDER TZ UMASK: a clone of the commit in FOLDER, its release files in $work/NUMBER.
build() {
    local start log=$work/build-$1.log
    step "Build $1: commit $commit in $2, TZ=$3, umask $4"
    start=$(date +%s)
    git clone -q "$top" "$2"
    if ! (cd "$2" && umask "$4" && env -u SOURCE_DATE_EPOCH -u MAKEFLAGS -u MAKELEVEL -u MFLAGS \
                  -u SIGN_CERT -u SIGN_KEY -u SIGN_TIMESTAMP_URL -u GPG_KEY TZ="$3" \
              make --no-print-directory release RELEASE_ARGS=--files-only FIRMWARE_SYX="$image") > "$log" 2>&1; then
        failure_logs=("60:$log:build $1's log")
        fail "build $1 did not finish"
    fi
    grep -E '^(SOURCE_DATE_EPOCH|version )' "$log" || true
    cp -r "$2/dist" "$work/$1"
    rm -rf "$2"
    echo "built in $(( $(date +%s) - start )) s"
}
build 1 "$work/a/cantora" UTC0 022
build 2 "$work/second-build-at-a-longer-path/cantora-2-updater" JST-9 002

step "The two builds compared"
failed=0
names=$( (cd "$work/1" && ls) )
if [ "$names" != "$(cd "$work/2" && ls)" ]; then
    echo "FAIL: the builds made different files:"
    diff <(echo "$names") <(cd "$work/2" && ls) || true
    failed=1
fi
while read -r name; do
    first=$work/1/$name
    second=$work/2/$name
    [ -f "$second" ] || continue
    if cmp -s "$first" "$second"; then
        echo "same: $name ($(sha256sum < "$first" | cut -c 1-16)...)"
        continue
    fi
    failed=1
    echo "DIFFERS: $name"
    if command -v diffoscope > /dev/null; then
        diffoscope --text - "$first" "$second" | head -n 80 || true
    else
        cmp "$first" "$second" || true
        echo "  where they differ:"
        /usr/bin/python3 tools/release/first-difference.py "$first" "$second" | sed 's/^/    /' || true
    fi
done <<< "$names"

if [ "$failed" -ne 0 ]; then
    mkdir -p "$keep"
    cp -r "$work/1" "$keep/first"
    cp -r "$work/2" "$keep/second"
    fail "the two builds differ; their files are in ${keep#"$top/"}/"
fi
step "PASS: the two builds of $commit made the same files"
