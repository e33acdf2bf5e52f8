#!/bin/sh
# Makes PKCS#12 files with the programs users have: openssl, GnuTLS certtool, NSS pk12util and
# Java keytool. Usage: DIR PIN ASCII-PIN. The Java keystores get the ASCII PIN: the JDK refuses
# to derive PBES2 keys from passwords beyond ASCII.
set -eu
out=$1
pin=$2
ascii_pin=$3
cd "$out"
printf '%s' "$pin" > pin.txt
printf '%s' "$ascii_pin" > ascii-pin.txt
export LC_ALL=C.UTF-8  # the PIN reaches Java and NSS as UTF-8

# Keys and certificates: a root, and two users with RSA and EC keys.
openssl req -x509 -newkey rsa:2048 -nodes -keyout root.key -out root.pem -days 30 \
    -subj "/CN=Produzenten-Wurzel" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout user.key -out user.csr -subj "/CN=Erika Müller" 2>/dev/null
openssl x509 -req -in user.csr -CA root.pem -CAkey root.key -CAcreateserial -days 30 \
    -out user.pem 2>/dev/null
openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout other.key -out other.csr \
    -subj "/CN=Zweiter Nutzer" 2>/dev/null
openssl x509 -req -in other.csr -CA root.pem -CAkey root.key -CAcreateserial -days 30 \
    -out other.pem 2>/dev/null

# openssl: today's defaults, -legacy, -descert, no MAC, several named certificates.
ossl() { openssl pkcs12 -export -inkey user.key -in user.pem -passout file:pin.txt "$@"; }
ossl -out openssl-modern.p12 -name "Erika Müller"
ossl -out openssl-legacy.p12 -legacy -name "Erika Müller"
ossl -out openssl-descert.p12 -descert
ossl -out openssl-nomac.p12 -nomac
ossl -out openssl-named.p12 -certfile root.pem -name "Erika Müller" -caname "Wurzel € CA"

# GnuTLS: 3DES, AES-256 and RC2-40.
for cipher in 3des-pkcs12 aes-256 rc2-40; do
    certtool --to-p12 --load-privkey user.key --load-certificate user.pem \
        --p12-name "Erika Müller" --outder --outfile "gnutls-$cipher.p12" \
        --password "$pin" --pkcs-cipher "$cipher" >/dev/null 2>&1
done

# NSS: import into a new certificate database, export from it.
mkdir nssdb
certutil -N -d sql:nssdb --empty-password
pk12util -i openssl-named.p12 -d sql:nssdb -W "$pin" >/dev/null
pk12util -o nss.p12 -n "Erika Müller" -d sql:nssdb -W "$pin" >/dev/null

# Java: two key entries and a trusted certificate; once more in the JDK's legacy settings.
for kind in keytool keytool-legacy; do
    legacy=""
    [ "$kind" = keytool-legacy ] && legacy="-J-Dkeystore.pkcs12.legacy"
    store="-keystore $kind.p12 -storetype PKCS12 -storepass:file ascii-pin.txt"
    # shellcheck disable=SC2086
    keytool $legacy -genkeypair -alias erster -keyalg RSA -keysize 2048 -validity 30 \
        -dname "CN=Erster Schlüssel" $store >/dev/null 2>&1
    # shellcheck disable=SC2086
    keytool $legacy -genkeypair -alias zweiter -keyalg EC -groupname secp256r1 -validity 30 \
        -dname "CN=Zweiter Schlüssel" $store >/dev/null 2>&1
    # shellcheck disable=SC2086
    keytool $legacy -importcert -alias wurzel -file root.pem -noprompt $store >/dev/null 2>&1
done
ls ./*.p12
