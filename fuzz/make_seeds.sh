#!/bin/sh
# Seeds for the fuzzers: the test fixtures, and the same kinds of file with a single iteration,
# so that mutations of them run fast. All open with the fuzzers' password. Usage: DIR
set -eu
mkdir -p "$1"
out=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
pin='Grüße€'
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

sh "$here/../tests/support/make_fixtures.sh" "$work" "$pin"
# Not the slow one: with millions of iterations, one run of it outlasts the fuzzers' timeout.
for file in "$work"/*.p12; do
    [ "${file##*/}" = slow.p12 ] || cp "$file" "$out"/
done
cd "$work"
for variant in "modern" "legacy -legacy" "descert -descert" "nomac -nomac" \
    "plain -keypbe NONE -certpbe NONE" "rc4 -legacy -keypbe PBE-SHA1-RC4-128 -certpbe PBE-SHA1-2DES"; do
    set -- $variant
    name=$1
    shift
    openssl pkcs12 -export -inkey leaf.key -in leaf.pem -certfile chain.pem -name "Schlüssel" \
        -passout file:pin.txt -iter 1 "$@" -out "$out/fast-$name.p12"
done
