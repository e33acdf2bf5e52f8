#!/bin/sh
# Makes the test certificates and PKCS#12 files in the directory given, with the openssl command.
# Every file is protected by the PIN in the second argument.
set -eu
out=$1
pin=$2
cd "$out"
printf '%s' "$pin" > pin.txt

req() { # name subject issuer-name [ca]
    openssl req -new -key "$1.key" -subj "$2" -out "$1.csr" 2>/dev/null
    if [ "$3" = self ]; then
        openssl x509 -req -in "$1.csr" -signkey "$1.key" -days 30 -out "$1.pem" \
            -extfile /dev/stdin -extensions v3 2>/dev/null <<X
[v3]
basicConstraints=critical,CA:TRUE
X
    else
        openssl x509 -req -in "$1.csr" -CA "$3.pem" -CAkey "$3.key" -CAcreateserial -days 30 \
            -out "$1.pem" 2>/dev/null
    fi
}

openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out root.key 2>/dev/null
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out inter.key 2>/dev/null
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out leaf.key 2>/dev/null
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ec.key 2>/dev/null
req root "/CN=Test Root CA" self
req inter "/CN=Test Intermediate CA" root
req leaf "/CN=Max Mustermann/O=Test" inter
req ec "/CN=EC Nutzer" inter
cat inter.pem root.pem > chain.pem

export12() { # output, further options
    target=$1
    shift
    openssl pkcs12 -export -inkey leaf.key -in leaf.pem -certfile chain.pem \
        -passout file:pin.txt -out "$target" "$@"
}

# Long enough to change that the dialogs can be watched while it runs; made beside the others,
# since it takes longest.
export12 slow.p12 -iter 3200000 -macalg sha512 &
slow=$!

# Today's defaults: PBES2 with AES-256-CBC and a SHA-256 MAC.
export12 modern.p12 -name "Max Mustermann" -caname "Zwischen-CA" -caname "Wurzel-CA"
# What older tools wrote: RC2-40 certificates, 3DES keys, SHA-1 MAC.
export12 legacy.p12 -legacy -name "Max Mustermann"
export12 descert.p12 -descert
export12 nomac.p12 -nomac -certpbe AES-256-CBC
export12 sha512.p12 -macalg sha512 -iter 3000
export12 unencrypted-certs.p12 -certpbe NONE
openssl pkcs12 -export -inkey ec.key -in ec.pem -passout file:pin.txt -out ec.p12 \
    -name "EC-Schlüssel"
# More of the schemes OpenSSL reads and writes: other PBES2 ciphers, PKCS#5 v1, RC4, no encryption.
export12 pbes2-ciphers.p12 -keypbe des-ede3-cbc -certpbe camellia-128-cbc -macalg sha1
export12 aria-sm4.p12 -keypbe aria-256-cbc -certpbe sm4-cbc
export12 pkcs5v1.p12 -legacy -keypbe PBE-MD5-DES -certpbe PBE-SHA1-RC2-64
export12 rc4-2des.p12 -legacy -keypbe PBE-SHA1-RC4-128 -certpbe PBE-SHA1-2DES
export12 unencrypted.p12 -keypbe NONE -certpbe NONE -name "Ohne Verschlüsselung"
wait "$slow"
