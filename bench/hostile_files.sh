#!/bin/sh
# What changing the PIN of each file in DIR (build_hostile's) costs: hostile_files.sh CLI DIR,
# CLI being change_pin_cli. One line per file: name, size in bytes, exit status (124: timed
# out), CPU seconds (user and system), peak resident MiB, whether the file was left as it was,
# and the message the change ended with. Each run works on a copy; DIR/pin.txt holds the PIN.
set -eu
cli=$1
dir=$2
pin=$(cat "$dir/pin.txt")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '%-48s %9s %4s %8s %8s %-9s %s\n' file bytes exit cpu-s peak-MiB unchanged message
for file in "$dir"/*.p12; do
    copy=$work/$(basename "$file")
    cp "$file" "$copy"
    status=0
    /usr/bin/time -v -o "$work/time" timeout -k 10 600 "$cli" "$copy" "$pin" neu \
        >"$work/said" 2>&1 || status=$?
    unchanged=no
    cmp -s "$file" "$copy" && unchanged=yes
    awk -v name="$(basename "$file")" -v bytes="$(wc -c <"$file")" -v status="$status" \
        -v unchanged="$unchanged" -v said="$(tr '\n' ' ' <"$work/said")" '
        /User time/ { cpu += $NF }
        /System time/ { cpu += $NF }
        /Maximum resident/ { mib = $NF / 1024 }
        END { printf "%-48s %9d %4d %8.2f %8.1f %-9s %s\n", name, bytes, status, cpu, mib,
              unchanged, said }' "$work/time"
    rm -f "$copy"
done
