#!/bin/sh
# Changes the PIN of PKCS#12 stores that Java's KeyStore and BouncyCastle wrote (key pairs with
# their chains, trusted certificates, secret keys; in the JDK's current and legacy settings,
# with protections chosen per entry, certificates in clear, no MAC, and in BouncyCastle's store
# types), then lets the same store type read each file again: with the new PIN every entry must
# come back byte for byte as it was put in, with the old PIN no key may open. A file the tool
# refuses must be left exactly as it was.
# Usage: check_java_producers.sh CHANGE-PIN-CLI CACHE
set -eu
change=$1
cache=$2
case $change in /*) ;; *) change=$(pwd)/$change ;; esac
here=$(cd "$(dirname "$0")" && pwd)
. "$here/cache.sh"
bcprov=/usr/share/java/bcprov.jar
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C.UTF-8

# ASCII only: the JDK refuses to derive PBES2 keys from passwords beyond it.
old_pin='Passwort-2026'
new_pin='Neue-PIN-2027'
wrong_pin='Passwort-2025'

# Stores the tool is known not to handle, by name pattern, each with the reason. They must still
# be refused with the file left as it was. None so far.
known_refusals=""

# The stores, made once per build: the keys and certificates in them (a root, an intermediate,
# an RSA and an EC user, and an unrelated certificate to trust); today's settings, then the
# legacy ones (read once when the JDK starts), then a JKS store turned into PKCS#12 by keytool.
# A store is kept only when its producer gives back its manifest, or the test proves nothing.
make_stores() {
    mkdir classes stores
    javac -d classes -cp "$bcprov" "$here/java/KeyStores.java"
    cd stores
    openssl req -x509 -newkey rsa:2048 -nodes -keyout root.key -out root.pem -days 30 \
        -subj "/CN=Java-Wurzel" 2>/dev/null
    printf 'basicConstraints=critical,CA:TRUE\n' >ca.ext
    openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout ca.key -out ca.csr \
        -subj "/CN=Java-Zwischenstelle" 2>/dev/null
    openssl x509 -req -in ca.csr -CA root.pem -CAkey root.key -CAcreateserial -days 30 \
        -extfile ca.ext -out ca.pem 2>/dev/null
    openssl req -newkey rsa:2048 -nodes -keyout rsa.key -out rsa.csr \
        -subj "/CN=Erika Mustermann" 2>/dev/null
    openssl x509 -req -in rsa.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 \
        -out rsa.pem 2>/dev/null
    openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-384 -nodes -keyout ec.key -out ec.csr \
        -subj "/CN=Max Mustermann" 2>/dev/null
    openssl x509 -req -in ec.csr -CA root.pem -CAkey root.key -CAcreateserial -days 30 \
        -out ec.pem 2>/dev/null
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout other.key \
        -out other.pem -days 30 -subj "/CN=Fremde Stelle" 2>/dev/null
    for key in rsa ec; do
        openssl pkcs8 -topk8 -nocrypt -in "$key.key" -outform DER -out "$key.pk8"
    done
    java -cp "$bcprov:../classes" KeyStores make . "$old_pin"
    java -Dkeystore.pkcs12.legacy -cp "$bcprov:../classes" KeyStores make . "$old_pin"
    keytool -importkeystore -noprompt -srckeystore jdk-from-jks.jks -srcstoretype JKS \
        -srcstorepass "$old_pin" -destkeystore jdk-from-jks.p12 -deststoretype PKCS12 \
        -deststorepass "$old_pin" >../keytool 2>&1 || { cat ../keytool; return 1; }
    set --
    for file in *.p12; do
        set -- "$@" check "$file" "$old_pin" "$file.manifest" --
    done
    if ! java -cp "$bcprov:../classes" KeyStores "$@" >../before 2>&1; then
        echo "FAIL the producers do not read their own stores as made:"
        sed 's/^/    /' ../before
        return 1
    fi
}
from_cache "$cache" "$work" make_stores "$0" "$here/java/KeyStores.java" "$bcprov"
mkdir "$work/originals"
keystores() { java -cp "$bcprov:$work/classes" KeyStores "$@"; }
cd "$work/stores"

# Whether the tool left a temporary file beside FILE.
leftover() {
    for temporary in ."$1".pintool-*; do
        [ -e "$temporary" ] && return 0
    done
    return 1
}

known_refusal() {
    for pattern in $known_refusals; do
        # shellcheck disable=SC2254  # a pattern, to match as one
        case $1 in $pattern) return 0 ;; esac
    done
    return 1
}

# The changes, each after one with a wrong PIN, which must be refused: every store here has
# something the PIN protects. A refused file must be as it was, with nothing left beside it; the
# changed ones are read back afterwards, all in one JVM.
failures=0
fail() { echo "FAIL $1"; failures=$((failures + 1)); }
changed=""
set --
for file in *.p12; do
    cp "$file" "$work/originals/$file"
    if "$change" "$file" "$wrong_pin" "$new_pin" >"$work/change" 2>&1; then
        fail "$file: changed with a wrong PIN"
        continue
    fi
    if ! cmp -s "$file" "$work/originals/$file"; then
        fail "$file: a wrong PIN was refused ($(cat "$work/change")), but the file changed"
        continue
    fi
    if leftover "$file"; then
        fail "$file: a wrong PIN left a temporary file beside it"
        continue
    fi
    if ! "$change" "$file" "$old_pin" "$new_pin" >"$work/change" 2>&1; then
        why=$(cat "$work/change")
        if ! cmp -s "$file" "$work/originals/$file"; then
            fail "$file: refused ($why), but the file changed"
        elif leftover "$file"; then
            fail "$file: refused ($why), but a temporary file is left beside it"
        elif known_refusal "$file"; then
            echo "ok   $file: refused as known, file unchanged ($why)"
        else
            fail "$file: $why"
        fi
        continue
    fi
    if leftover "$file"; then
        fail "$file: a temporary file is left beside it"
        continue
    fi
    if ! python3 "$here/pfx_der.py" same-bags "$work/originals/$file" "$old_pin" "$file" \
        "$new_pin" >"$work/bags" 2>&1; then
        fail "$file: its bags were not kept as they were"
        sed 's/^/    /' "$work/bags"
        continue
    fi
    type=$(sed -n 's/^store //p' "$file.manifest")
    set -- "$@" check "$file" "$new_pin" "$file.manifest" "$type" \
        -- refuses "$file" "$old_pin" "$type" --
    changed="$changed $file"
done

# With the new PIN every entry as it was put in, with the old one nothing; each problem comes
# as "FILE: what is wrong".
status=0
: >"$work/after"
[ -z "$changed" ] || keystores "$@" >"$work/after" 2>&1 || status=$?
for file in $changed; do
    awk -v file="$file: " 'index($0, file) == 1 { print "    " substr($0, length(file) + 1) }' \
        "$work/after" >"$work/problems"
    if [ -s "$work/problems" ]; then
        fail "$file: not the same store under the new PIN alone"
        cat "$work/problems"
    else
        echo "ok   $file"
    fi
done
# Status 1 means problems, all reported above; anything else, that not all was read.
if [ "$status" -gt 1 ] || { [ "$status" -ne 0 ] && [ "$failures" -eq 0 ]; }; then
    fail "reading the changed stores broke off with status $status:"
    sed 's/^/    /' "$work/after"
fi
[ "$failures" -eq 0 ]
