#!/bin/sh
# A PIN changed by the Windows build, checked with the build machine's openssl: the file opens
# with the new PIN only and openssl reports the same keys, certificates and algorithms as
# before. check_windows_change.sh WINE CHANGE_PIN_CLI.EXE FIXTURES
set -eu
wine=$1
cli=$2
fixtures=$3
old=$(cat "$fixtures/pin.txt")
new="Schlüssel€ Ωм 2"  # beyond Windows-1252: the ANSI code page must be UTF-8
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '%s' "$old" >"$work/old"
printf '%s' "$new" >"$work/new"
info() { # file pin-file [-legacy]
    openssl pkcs12 -info -nodes ${3:-} -in "$1" -passin "file:$2" 2>&1
}
checked=0
for name in modern legacy ec sha512 pbes2-ciphers descert nomac aria-sm4 rc4-2des; do
    legacy=""
    case $name in legacy | rc4-2des) legacy=-legacy ;; esac
    file="$work/$name.p12"
    cp "$fixtures/$name.p12" "$file"
    before=$(info "$file" "$work/old" $legacy)
    # Wine passes a Windows program's exit status on; the message shows that it ran.
    said=$("$wine" "$cli" "Z:$file" "$old" "$new" | tr -d '\r') ||
        { echo "$name: the Windows build said: $said" >&2; exit 1; }
    [ "$said" = "Die PIN wurde geändert." ] || { echo "$name: $said" >&2; exit 1; }
    after=$(info "$file" "$work/new" $legacy) || { echo "$name: new PIN refused" >&2; exit 1; }
    if info "$file" "$work/old" $legacy >/dev/null; then
        echo "$name: the old PIN still opens the file" >&2
        exit 1
    fi
    [ "$after" = "$before" ] || {
        echo "$name: openssl reports other contents or algorithms" >&2
        printf '%s\n' "$before" >"$work/before"
        printf '%s\n' "$after" >"$work/after"
        diff "$work/before" "$work/after" >&2 || true
        exit 1
    }
    checked=$((checked + 1))
done
echo "$checked files changed under Wine and read by openssl with the new PIN only"
