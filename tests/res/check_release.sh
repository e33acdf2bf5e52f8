#!/bin/sh
# tools/release twice, from two copies of the source in different folders, at different times
# (the second copy's files touched anew) and under different umasks: the Debian package, the
# Windows zip and the installer must come out byte for byte the same, and their hashes are
# shown. Then the second copy is released again with a throwaway code-signing certificate:
# pintool.exe in the zip, pintool.exe in the installer and the installer itself must carry its
# signature, and the Debian package must stay as it was.
# Usage: check_release.sh SOURCE_DIR
set -eu
source=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
unset PINTOOL_SIGN_PFX PINTOOL_SIGN_PASSWORD PINTOOL_SIGN_TIMESTAMP
SOURCE_DATE_EPOCH=$(git -C "$source" log -1 --format=%ct)
export SOURCE_DATE_EPOCH

# The files git knows and those it would add, as they are in the work tree.
copy() { # folder, further options of the unpacking tar
    mkdir -p "$1"
    (cd "$source" && git ls-files -z --cached --others --exclude-standard |
        tar --null --ignore-failed-read -T - -cf - 2>/dev/null) | tar -xf - -C "$1" "$2"
}
release() { # source copy, umask, dist
    (cd "$1" && umask "$2" && tools/release "$3") >"$3.log" 2>&1 ||
        { cat "$3.log"; fail "tools/release failed in $1"; }
}
first="$work/a/pintool"
second="$work/b/ein anderer Ordner/pintool-kopie"
copy "$first" --no-same-permissions
release "$first" 022 "$work/first"
copy "$second" --touch
release "$second" 077 "$work/second"

for kind in '_amd64.deb' '-windows-x86_64.zip' '-windows-x86_64.msi'; do
    grep -q -- "$kind\$" "$work/first/SHA256SUMS" || fail "no *$kind among the release files"
done
[ "$(ls "$work/first")" = "$(ls "$work/second")" ] ||
    fail "the builds made different files: $(ls "$work/first") and $(ls "$work/second")"
differing=""
for name in $(cut -d' ' -f3 "$work/first/SHA256SUMS"); do
    cmp -s "$work/first/$name" "$work/second/$name" || differing="$differing $name"
done
[ -z "$differing" ] || fail "differ between the two builds:$differing"
(cd "$work/first" && sha256sum -c --quiet SHA256SUMS) || fail "SHA256SUMS does not match"
echo "two builds, the same release files:"
cat "$work/first/SHA256SUMS"

# Signed with a certificate given: both programs and the installer.
sh "$source/tests/res/make_signing_certificate.sh" "$work" Wegwerfzertifikat "Prüf-Kennwort"
(
    export PINTOOL_SIGN_PFX="$work/Wegwerfzertifikat.p12" PINTOOL_SIGN_PASSWORD="Prüf-Kennwort"
    release "$second" 077 "$work/signed"
)
signed_by_it() { # file, what it is
    osslsigncode verify -CAfile "$work/Wegwerfzertifikat.pem" -in "$1" >"$work/verify.log" 2>&1 ||
        fail "$2 is not signed by the certificate given: $(cat "$work/verify.log")"
}
msi=$(ls "$work/signed"/*.msi)
zip=$(ls "$work/signed"/*.zip)
signed_by_it "$msi" "the installer"
mkdir "$work/from-zip" "$work/from-msi"
python3 -m zipfile -e "$zip" "$work/from-zip"
signed_by_it "$(find "$work/from-zip" -name pintool.exe)" "pintool.exe in the zip"
(cd "$work/from-msi" && msiextract "$msi" >/dev/null)
signed_by_it "$(find "$work/from-msi" -name pintool.exe)" "pintool.exe in the installer"
cmp -s "$work/first"/*.deb "$work/signed"/*.deb || fail "signing changed the Debian package"
echo "signed with a throwaway certificate: pintool.exe in the zip and in the installer, and the installer"
