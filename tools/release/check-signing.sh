#!/usr/bin/env bash
# make signing-check: make release, signed with keys made for this run alone (a self-signed
# code-signing certificate and an OpenPGP key in a keyring of its own), and the signatures checked:
# - a key that does not match its certificate, and an OpenPGP key not in the keyring, each stop the
#   release before anything is built, with nothing left in dist/;
# - osslsigncode verifies the program and the installer, gpg verifies SHA256SUMS.asc, and each of the
#   three fails once one byte of what it signs is changed;
# - the signed program, stripped of its signature, is the unsigned program byte for byte, and so is the
#   signed installer, but for its signature's streams; the installer and the zip carry the signed
#   program.
# The signed installer installs and uninstalls under Wine within make release's own checks.
#   check-signing.sh [--files-only]      (--files-only is passed on to make release: no checks there)
set -euo pipefail

top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"

# shellcheck source=tools/lib/common.sh
source "$top/tools/lib/common.sh"
began=$(date +%s)

tools/deps/deps.sh openssl gnupg unzip python3-olefile osslsigncode/bookworm-backports

keys=$(mktemp -d)
trap 'gpgconf --kill all 2> /dev/null || true; rm -rf "$keys"' EXIT
export GNUPGHOME=$keys/gnupg
mkdir -m 700 "$GNUPGHOME"

step "Keys for this run"
throwaway_cert() {
    openssl req -x509 -newkey rsa:3072 -nodes -sha256 -days 2 -subj "/CN=$1" -keyout "$keys/$2.key" \
        -out "$keys/$2.pem" -addext "keyUsage=critical,digitalSignature" \
        -addext "extendedKeyUsage=critical,codeSigning" 2> /dev/null
}
throwaway_cert "Cantora 2 Updater throwaway signing" signing
throwaway_cert "Another throwaway" other
gpg --batch --pinentry-mode loopback --passphrase '' --quick-gen-key "Throwaway release key <release@example.invalid>" \
    rsa3072 sign 1d 2> /dev/null
fingerprint=$(gpg --batch --with-colons --list-secret-keys | awk -F: '$1 == "fpr" { print $10; exit }')
echo "certificate: $(openssl x509 -in "$keys/signing.pem" -noout -subject); OpenPGP key: $fingerprint"

# A release that must stop before it builds: release_refused WHAT EXPECTED_TEXT [VAR=VALUE...]
release_refused() {
    local what=$1 expected=$2 log=$keys/refused.log
    shift 2
    mkdir -p dist && touch dist/left-from-before
    if env "$@" tools/release/release.sh > "$log" 2>&1; then
        fail "$what: the release went ahead"
    fi
    grep -q -- "$expected" "$log" || { cat "$log"; fail "$what: no error saying '$expected'"; }
    grep -q '^== make package' "$log" && fail "$what: the release began to build before it stopped"
    [ ! -e dist ] || fail "$what: dist/ is left: $(ls dist)"
    echo "refused: $what ($(grep -m1 '^FAIL' "$log"))"
}

step "Keys that are missing or do not match"
release_refused "a key of another certificate" "does not match" \
    SIGN_CERT="$keys/signing.pem" SIGN_KEY="$keys/other.key"
release_refused "a certificate with no key" "go together" SIGN_CERT="$keys/signing.pem"
release_refused "an OpenPGP key not in the keyring" "no secret key" GPG_KEY=0000000000000000DEADBEEF
release_refused "a certificate file that is not there" "no certificate" \
    SIGN_CERT="$keys/none.pem" SIGN_KEY="$keys/signing.key"

step "make release, signed"
SIGN_CERT=$keys/signing.pem SIGN_KEY=$keys/signing.key GPG_KEY=$fingerprint tools/release/release.sh "$@"

step "The signatures"
# shellcheck source=/dev/null
source build-windows/release/cantora-facts.sh
exe=dist/$CANTORA_WINDOWS_NAME.exe
msi=dist/$CANTORA_WINDOWS_NAME.msi
unsigned_exe="build-windows/release/app/$CANTORA_PRODUCT_NAME.exe"
unsigned_msi=build-windows/installer/unsigned.msi

verify() { osslsigncode verify -CAfile "$keys/signing.pem" -in "$1" > "$keys/verify.log" 2>&1; }
for file in "$exe" "$msi"; do
    verify "$file" || { cat "$keys/verify.log"; fail "osslsigncode does not verify $file"; }
    grep -q 'Signature verification: ok' "$keys/verify.log" || fail "no 'Signature verification: ok' for $file"
    echo "verified: $file"
done
(cd dist && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the files"
gpg --batch --verify dist/SHA256SUMS.asc dist/SHA256SUMS 2> "$keys/gpg.log" || { cat "$keys/gpg.log"; fail "gpg does not verify SHA256SUMS.asc"; }
echo "verified: dist/SHA256SUMS.asc ($(grep -o 'Good signature.*' "$keys/gpg.log"))"

step "One byte changed after signing"
# flip_byte FILE OFFSET: the byte at OFFSET of a copy of FILE, changed; prints the copy's path.
flip_byte() {
    local copy
    copy=$keys/changed-$(basename "$1")
    cp "$1" "$copy"
    /usr/bin/python3 - "$copy" "$2" << 'PYTHON'
import sys
path, offset = sys.argv[1], int(sys.argv[2])
with open(path, "r+b") as f:
    f.seek(offset)
    byte = f.read(1)
    f.seek(offset)
    f.write(bytes([byte[0] ^ 0x01]))
PYTHON
    echo "$copy"
}
# Inside the program's code, well before its signature at the end.
changed=$(flip_byte "$exe" $(( $(stat -c %s "$unsigned_exe") / 2 )))
if verify "$changed"; then fail "a program changed after signing still verifies"; fi
echo "refused: the program with one byte changed ($(grep -m1 -iE 'mismatch|failed' "$keys/verify.log"))"
changed=$(flip_byte dist/SHA256SUMS 0)
if gpg --batch --verify dist/SHA256SUMS.asc "$changed" 2> /dev/null; then fail "a changed SHA256SUMS still verifies"; fi
echo "refused: SHA256SUMS with one byte changed"

step "Signed and unsigned differ only by the signature"
osslsigncode remove-signature -in "$exe" -out "$keys/stripped.exe" > /dev/null
cmp "$keys/stripped.exe" "$unsigned_exe" || fail "the program without its signature is not the unsigned program"
echo "same: $exe without its signature, and the unsigned program"
# An installer is a compound file that osslsigncode lays out anew: its streams are compared instead.
/usr/bin/python3 tools/release/msi-streams-differ.py "$msi" "$unsigned_msi" ||
    fail "the installer differs from the installer before it was signed by more than its signature"
echo "same: every stream of $msi but its signature's, and of the installer before it was signed"
unzip -p "dist/$CANTORA_WINDOWS_NAME-portable.zip" "$CANTORA_PRODUCT_NAME/$CANTORA_PRODUCT_NAME.exe" | cmp - "$exe" ||
    fail "the zip does not carry the signed program"
msiextract -C "$keys/msi" "$msi" > /dev/null
cmp "$(find "$keys/msi" -name "$CANTORA_PRODUCT_NAME.exe" | head -n 1)" "$exe" ||
    fail "the installer does not carry the signed program"
echo "same: the program in the zip and in the installer, and $exe"

step "PASS: a signed release, verified"
