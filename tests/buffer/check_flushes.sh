#!/bin/sh
# A change flushes the new file to disk before it takes the old one's name, and the folder
# after: change_pin_cli under strace, which names the file behind every descriptor (-y).
# Usage: check_flushes.sh CHANGE-PIN-CLI
set -eu
change=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dir=$(cd "$work" && pwd -P)
cd "$dir"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj /CN=Test -days 1 \
    -keyout key.pem -out cert.pem 2>/dev/null
openssl pkcs12 -export -inkey key.pem -in cert.pem -passout pass:alt -out file.p12

# LeakSanitizer stops the threads with ptrace, which strace already holds.
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" strace -f -qq -y -o trace \
    -e trace=write,pwrite64,writev,fsync,fdatasync,rename,renameat,renameat2 \
    "$change" "$dir/file.p12" alt neu

# In order: the last write to the hidden file, its flush, its rename over file.p12, and then a
# flush of the folder. Only calls that succeeded count.
awk -v dir="$dir" '
    / = -1 / { next }
    index($0, "<" dir "/.file.p12.pintool-") {
        if ($2 ~ /^(write|pwrite64|writev)\(/) { wrote = NR; flushed = 0 }
        else if ($2 ~ /^(fsync|fdatasync)\(/ && wrote) flushed = NR
    }
    $2 ~ /^rename/ && index($0, "\"" dir "/file.p12\"") && index($0, "/.file.p12.pintool-") {
        renamed = NR; renamedFlushed = flushed
    }
    renamed && NR > renamed && $2 ~ /^(fsync|fdatasync)\(/ && index($0, "<" dir ">)") {
        dirFlushed = 1
    }
    END {
        if (!wrote) { print "the hidden file was never written"; exit 1 }
        if (!renamed) { print "the hidden file was never renamed over file.p12"; exit 1 }
        if (!renamedFlushed) {
            print "the hidden file was not flushed after its last write and before the rename"
            exit 1
        }
        if (!dirFlushed) { print "the folder was not flushed after the rename"; exit 1 }
        print "flushed the new file, renamed it, flushed the folder"
    }' trace || { sed 's/^/    /' trace; exit 1; }
