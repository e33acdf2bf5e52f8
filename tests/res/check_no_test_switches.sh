#!/bin/sh
# Checks that a program carries nothing that only tests call. The seams are what the libraries
# call and leave to the program to define; whatever else the tests' seams define (switches,
# hooks, counters) is the tests' own and must not be in the program, nor any name made for
# tests. A build folder is installed first, with its symbols, and its bin/pintool checked.
# Usage: check_no_test_switches.sh NM PROGRAM-OR-BUILD-FOLDER TEST-SEAM-OBJECTS LIBRARIES
#        (objects and libraries as ;-separated lists, as CMake gives them)
set -eu
nm=$1 program=$2 test_objects=$3 libraries=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -d "$program" ]; then
    cmake --install "$program" --prefix "$work/root" >"$work/install.log" 2>&1 ||
        { cat "$work/install.log"; exit 1; }
    program=$work/root/bin/pintool
fi

# What nm says of each file of a ;-separated list, names demangled.
symbols() {
    echo "$1" | tr ';' '\n' | while read -r file; do
        [ -z "$file" ] || "$nm" -C "$file" 2>/dev/null
    done
}
# What the tests' seams define as their own: not what the compiler makes of the library's
# templates, types and inline functions (weak on ELF, strong but for .refptr on PE), nor what
# the libraries define too (constants of their headers).
symbols "$test_objects" | sed -nE 's/^[0-9a-fA-F]+ [BDRST] //p' |
    grep -vE '^(std::|typeinfo|vtable|VTT|guard variable|\.refptr\.|__)' | sort -u >"$work/tests"
symbols "$libraries" | sed -nE 's/^ +U //p' | sort -u >"$work/seams"
symbols "$libraries" | sed -nE 's/^[0-9a-fA-F]+ [BDRSTVW] //p' | sort -u >"$work/defined"
comm -23 "$work/tests" "$work/seams" | comm -23 - "$work/defined" >"$work/forbidden"
[ -s "$work/forbidden" ] || { echo "FAIL: the tests' seams define nothing of their own"; exit 1; }
comm -12 "$work/tests" "$work/seams" >"$work/program-seams"
[ -s "$work/program-seams" ] || { echo "FAIL: the libraries call no seam"; exit 1; }

"$nm" -C --defined-only "$program" | sed -E 's/^[0-9a-fA-F]* *[A-Za-z] //' | sort -u \
    >"$work/symbols"
[ -s "$work/symbols" ] || { echo "FAIL: $program has no symbols to check"; exit 1; }
grep -c . "$work/program-seams" | xargs printf '%s of the program seams'
grep -Fxf "$work/program-seams" "$work/symbols" | grep -c . | xargs printf ', %s found in it\n'
found=$({ grep -Fxf "$work/forbidden" "$work/symbols" || true; } |
    { cat; grep -E 'ForTesting|engine_switches::' "$work/symbols" || true; } | sort -u)
if [ -n "$found" ]; then
    echo "FAIL: $program holds what only tests call:"
    echo "$found" | sed 's/^/    /'
    exit 1
fi
echo "ok: none of the $(grep -c . "$work/forbidden") names only the tests' seams define"
