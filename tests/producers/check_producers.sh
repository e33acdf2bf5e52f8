#!/bin/sh
# Changes the PIN of files that openssl, GnuTLS, NSS and Java wrote, then lets the program that
# wrote each file read it again: it must open it with the new PIN, refuse the old one, and
# report the same certificates, keys, friendly names and aliases as before the change.
# Usage: check_producers.sh CHANGE-PIN-CLI FIXTURE-SCRIPT CACHE
set -eu
change=$1
make_fixtures=$2
cache=$3
. "$(dirname "$0")/cache.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C.UTF-8

old_pin='Grüße€'
new_pin='Schlüssel€ 2'
old_ascii='Passwort-2026'
new_ascii='Neue-PIN-2027'
make_files() { sh "$make_fixtures" . "$old_pin" "$old_ascii" >/dev/null; }
from_cache "$cache" "$work" make_files "$make_fixtures"

# What the producer's own reader says of FILE with the PIN in PIN-FILE, and its exit status.
# Salts and the encrypted bytes are left out: they change with every encryption.
listing() {
    file=$1 pinfile=$2
    status=0
    case $(basename "$file") in
        openssl-legacy*) openssl pkcs12 -info -nodes -legacy -in "$file" -passin "file:$pinfile" ;;
        openssl-*) openssl pkcs12 -info -nodes -in "$file" -passin "file:$pinfile" ;;
        gnutls-*) certtool --p12-info --inder --infile "$file" --password "$(cat "$pinfile")" ;;
        nss*) pk12util -l "$file" -W "$(cat "$pinfile")" ;;
        keytool*) keytool -list -v -keystore "$file" -storetype PKCS12 -storepass:file "$pinfile" ;;
    esac >"$work/raw" 2>&1 || status=$?
    awk '/Salt:|Args:/ { sub(/:.*/, ":"); print; hex = 1; next }
         hex && /^ *([0-9a-f][0-9a-f]:?)+ *$/ { next }
         { hex = 0 }
         /BEGIN ENCRYPTED PRIVATE KEY/ { sealed = 1 }
         sealed { if (/END ENCRYPTED PRIVATE KEY/) sealed = 0; next }
         /Creation date/ { next }
         { print }' "$work/raw"
    return "$status"
}

failures=0
for file in "$work"/*.p12; do
    name=$(basename "$file")
    case $name in
        keytool*) old=$old_ascii new=$new_ascii ;;
        *) old=$old_pin new=$new_pin ;;
    esac
    printf '%s' "$old" >"$work/old"
    printf '%s' "$new" >"$work/new"
    if ! listing "$file" "$work/old" >"$work/before" 2>&1; then
        echo "FAIL $name: its producer cannot read the original"; failures=$((failures + 1)); continue
    fi
    cp "$file" "$work/original"
    if ! "$change" "$file" "$old" "$new" >"$work/change" 2>&1; then
        echo "FAIL $name: $(cat "$work/change")"; failures=$((failures + 1)); continue
    fi
    # Every bag as it was, attributes in their order, but for what is encrypted anew.
    if ! python3 "$(dirname "$0")/pfx_der.py" same-bags "$work/original" "$old" "$file" "$new" \
        >"$work/bags" 2>&1; then
        echo "FAIL $name: its bags were not kept as they were"; sed 's/^/    /' "$work/bags"
        failures=$((failures + 1)); continue
    fi
    if ! listing "$file" "$work/new" >"$work/after" 2>&1; then
        echo "FAIL $name: its producer cannot read it with the new PIN"; sed 's/^/    /' "$work/after"
        failures=$((failures + 1)); continue
    fi
    if listing "$file" "$work/old" >/dev/null 2>&1; then
        echo "FAIL $name: its producer still reads it with the old PIN"; failures=$((failures + 1)); continue
    fi
    if ! diff -u "$work/before" "$work/after" >"$work/diff"; then
        echo "FAIL $name: its producer reports other contents"; sed 's/^/    /' "$work/diff"
        failures=$((failures + 1)); continue
    fi
    echo "ok   $name"
done
exit "$failures"
