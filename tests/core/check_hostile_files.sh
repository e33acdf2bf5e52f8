#!/bin/sh
# Files built to cost the most within the tool's limits, and valid files it once misjudged: each
# must end in its true outcome, in at most MIB of memory (none given: not measured, as under the
# sanitizers), and be left as it was unless the PIN was changed.
# check_hostile_files.sh CLI BUILD_HOSTILE [MIB] (change_pin_cli, build_hostile).
set -eu
cli=$1
limit=${3:-0}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/files"
"$2" "$work/files" >/dev/null
pin=$(cat "$work/files/pin.txt")
failed=0
fail() {
    echo "FAIL: $*" >&2
    failed=1
}

# The last line the change said, by file name.
expected() {
    case $1 in
    budget-*) echo "Die PIN wurde geändert." ;;
    one-iteration-values-per-bag.p12) echo "Die Datei enthält zu viele verschlüsselte Einträge" ;;
    eight-million-* | empty-encrypted-parts.p12 | indefinite-sequences-* | one-iteration-values-in-one-bag.p12)
        echo "Die Datei besteht aus zu vielen Elementen" ;;
    nesting-* | octet-strings-* | value-in-50-*) echo "Die Datei ist tiefer verschachtelt" ;;
    key-* | null-after-* | value-before-truncated-element.p12 | value-opens-to-two-elements.p12)
        echo "Die Datei ist beschädigt" ;;
    value-in-*) echo "Die Datei enthält verschlüsselte Inhalte, die dieses Programm nicht" ;;
    grows-past-*) echo "Mit der neuen PIN würde die Datei größer als" ;;
    *) echo "no outcome expected for $1" ;;
    esac
}

for file in "$work/files"/*.p12; do
    name=$(basename "$file")
    copy=$work/$name
    cp "$file" "$copy"
    status=0
    /usr/bin/time -f %M -o "$work/kib" "$cli" "$copy" "$pin" neu >"$work/said" 2>&1 || status=$?
    said=$(tail -n 1 "$work/said")
    case $said in
    "$(expected "$name")"*) ;;
    *) fail "$name: said \"$said\", expected \"$(expected "$name")\"" ;;
    esac
    kib=$(tail -n 1 "$work/kib")
    [ "$limit" -eq 0 ] || [ "$kib" -le $((limit * 1024)) ] ||
        fail "$name: $((kib / 1024)) MiB at the peak"
    if [ "$status" -ne 0 ] && ! cmp -s "$file" "$copy"; then
        fail "$name: refused, but the file was changed"
    fi
    rm -f "$copy"
done
exit "$failed"
