#!/bin/sh
# tools/sign-windows on copies of pintool.exe and the installer, with a code-signing
# certificate made here and thrown away: osslsigncode verifies both signatures against that
# certificate and against no other, the signed installer is still one, an unsigned copy does
# not verify, a wrong password signs nothing, and without a certificate the files stay byte
# for byte as they were.
# Usage: sign_windows_test.sh PINTOOL_EXE MSI SOURCE_DIR
set -eu
exe=$1
msi=$2
sign="$3/tools/sign-windows"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
unset PINTOOL_SIGN_PFX PINTOOL_SIGN_PASSWORD PINTOOL_SIGN_TIMESTAMP

# A self-signed certificate for code signing in a PKCS#12 file with a password, and another
# one that signed nothing here.
password="Prüf-Kennwort mit Leerzeichen"
sh "$3/tests/res/make_signing_certificate.sh" "$work" Wegwerfzertifikat "$password"
sh "$3/tests/res/make_signing_certificate.sh" "$work" Fremdzertifikat

verifies() {
    osslsigncode verify -CAfile "$work/$2.pem" -in "$1" >"$work/verify.log" 2>&1
}

for file in "$exe" "$msi"; do
    name=$(basename "$file")
    mkdir "$work/unsigned" "$work/signed" "$work/wrong"
    cp "$file" "$work/unsigned/$name"
    cp "$file" "$work/signed/$name"
    cp "$file" "$work/wrong/$name"

    "$sign" "$work/unsigned/$name" >"$work/sign.log" 2>&1 ||
        fail "without a certificate sign-windows failed: $(cat "$work/sign.log")"
    cmp -s "$file" "$work/unsigned/$name" || fail "without a certificate $name was changed"
    grep -q "not signed" "$work/sign.log" || fail "without a certificate it did not say so"

    PINTOOL_SIGN_PFX="$work/Wegwerfzertifikat.p12" PINTOOL_SIGN_PASSWORD="$password" \
        "$sign" "$work/signed/$name" >"$work/sign.log" 2>&1 ||
        fail "signing $name failed: $(cat "$work/sign.log")"
    verifies "$work/signed/$name" Wegwerfzertifikat ||
        fail "the signature of $name does not verify: $(cat "$work/verify.log")"
    grep -q "Subject: /CN=Wegwerfzertifikat" "$work/verify.log" ||
        fail "$name is not signed by the certificate given: $(cat "$work/verify.log")"
    ! verifies "$work/signed/$name" Fremdzertifikat ||
        fail "$name verifies against a certificate that did not sign it"
    ! verifies "$work/unsigned/$name" Wegwerfzertifikat || fail "an unsigned $name verifies"
    case $name in
        *.msi) msiinfo export "$work/signed/$name" Property | grep -q '^ProductCode' ||
            fail "the signed $name is no installer any more" ;;
    esac

    PINTOOL_SIGN_PFX="$work/Wegwerfzertifikat.p12" PINTOOL_SIGN_PASSWORD="falsch" \
        "$sign" "$work/wrong/$name" >"$work/sign.log" 2>&1 &&
        fail "a wrong password signed $name"
    cmp -s "$file" "$work/wrong/$name" || fail "a wrong password changed $name"
    [ "$(ls -A "$work/wrong")" = "$name" ] || fail "a failed signing left: $(ls -A "$work/wrong")"
    rm -rf "$work/unsigned" "$work/signed" "$work/wrong"
done
echo "sign-windows signed $(basename "$exe") and $(basename "$msi"); osslsigncode verifies both"
