#!/bin/sh
# Makes a throwaway self-signed code-signing certificate: DIR/NAME.key and DIR/NAME.pem, and
# with a password also DIR/NAME.p12 holding both, as tools/sign-windows takes it.
# Usage: make_signing_certificate.sh DIR NAME [PASSWORD]
set -eu
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1/$2.key" -out "$1/$2.pem" \
    -subj "/CN=$2" -days 2 -addext extendedKeyUsage=codeSigning \
    -addext keyUsage=digitalSignature 2>/dev/null
[ "$#" -lt 3 ] || openssl pkcs12 -export -inkey "$1/$2.key" -in "$1/$2.pem" -out "$1/$2.p12" \
    -passout "pass:$3"
