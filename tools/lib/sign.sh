# shellcheck shell=bash
# Signing of the release files with the maintainer's keys; sourced, not run.
#   SIGN_CERT, SIGN_KEY   PEM files: a code-signing certificate (its chain may follow it) and its
#                         private key. The Windows program and its installer get Authenticode
#                         signatures (osslsigncode).
#   SIGN_TIMESTAMP_URL    optional: a timestamping service for those signatures.
#   GPG_KEY               a key in the maintainer's keyring: a detached, armoured SHA256SUMS.asc.
# With none of them set the release is unsigned.

# True when the Windows files are to be signed.
authenticode_wanted() { [ -n "${SIGN_CERT:-}${SIGN_KEY:-}" ]; }

# True when SHA256SUMS is to be signed.
openpgp_wanted() { [ -n "${GPG_KEY:-}" ]; }

# Stops with a clear error when a key or certificate that was named is missing or does not match, before
# anything is built or signed. Says in one line what the release will carry.
signing_preflight() {
    if ! authenticode_wanted && ! openpgp_wanted; then
        echo "signing: none; the release is unsigned (SIGN_CERT, SIGN_KEY and GPG_KEY are not set)"
        return 0
    fi

    if authenticode_wanted; then
        [ -n "${SIGN_CERT:-}" ] && [ -n "${SIGN_KEY:-}" ] || fail "SIGN_CERT and SIGN_KEY go together: set both or neither"
        [ -r "$SIGN_CERT" ] || fail "SIGN_CERT: no certificate at $SIGN_CERT"
        [ -r "$SIGN_KEY" ] || fail "SIGN_KEY: no private key at $SIGN_KEY"
        local cert_key private_key
        cert_key=$(openssl x509 -in "$SIGN_CERT" -noout -pubkey 2> /dev/null) ||
            fail "SIGN_CERT: $SIGN_CERT holds no PEM certificate"
        private_key=$(openssl pkey -in "$SIGN_KEY" -pubout -passin pass: 2> /dev/null) ||
            fail "SIGN_KEY: $SIGN_KEY holds no PEM private key without a passphrase"
        [ "$cert_key" = "$private_key" ] ||
            fail "SIGN_KEY does not match SIGN_CERT: the key is not the certificate's ($SIGN_KEY, $SIGN_CERT)"
        openssl x509 -in "$SIGN_CERT" -noout -checkend 0 > /dev/null ||
            fail "SIGN_CERT: the certificate has expired ($(openssl x509 -in "$SIGN_CERT" -noout -enddate))"
        command -v osslsigncode > /dev/null || fail "osslsigncode is not installed"
        if [ -n "${SIGN_TIMESTAMP_URL:-}" ]; then
            echo "signing: the Windows files with $(openssl x509 -in "$SIGN_CERT" -noout -subject), timestamped by $SIGN_TIMESTAMP_URL"
        else
            echo "signing: the Windows files with $(openssl x509 -in "$SIGN_CERT" -noout -subject), without a timestamp (SIGN_TIMESTAMP_URL is not set)"
        fi
    else
        echo "signing: none; the Windows files are unsigned (SIGN_CERT and SIGN_KEY are not set)"
    fi

    if openpgp_wanted; then
        gpg --batch --list-secret-keys -- "$GPG_KEY" > /dev/null 2>&1 ||
            fail "GPG_KEY: no secret key '$GPG_KEY' in the keyring${GNUPGHOME:+ at $GNUPGHOME}"
        echo "signing: SHA256SUMS with the OpenPGP key $GPG_KEY"
    else
        echo "signing: none; SHA256SUMS is unsigned (GPG_KEY is not set)"
    fi
}

# Signs a Windows program or installer into OUT: sign_authenticode IN OUT DESCRIPTION. Without a
# timestamp the signing time is the release's (SOURCE_DATE_EPOCH), so one commit signs alike.
sign_authenticode() {
    local timestamp=() log
    [ -z "${SIGN_TIMESTAMP_URL:-}" ] || timestamp=(-ts "$SIGN_TIMESTAMP_URL")
    rm -f "$2"
    log=$(osslsigncode sign -certs "$SIGN_CERT" -key "$SIGN_KEY" -h sha256 -n "$3" \
              -time "${SOURCE_DATE_EPOCH:-$(date +%s)}" "${timestamp[@]}" -in "$1" -out "$2" 2>&1) || {
        rm -f "$2"
        fail "osslsigncode could not sign $1: $log"
    }
}

# Writes the detached, armoured signature of DIR/SHA256SUMS: sign_sums DIR.
sign_sums() {
    rm -f "$1/SHA256SUMS.asc"
    gpg --batch --yes --local-user "$GPG_KEY" --armor --detach-sign --output "$1/SHA256SUMS.asc" "$1/SHA256SUMS" || {
        rm -f "$1/SHA256SUMS.asc"
        fail "gpg could not sign SHA256SUMS with $GPG_KEY"
    }
}
