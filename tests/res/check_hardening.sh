#!/bin/sh
# Checks the hardening of the Linux program: Debian's hardening-check must say "yes" to every
# item, and readelf must show what the flags leave behind: the stack protector's
# __stack_chk_fail, fortified libc calls (__*_chk), the control-flow marks IBT and SHSTK in
# .note.gnu.property, and main must start with the landing pad -fcf-protection puts there.
# hardening-check knows stack clash protection only by the probing loop of a dynamic stack
# allocation; a program without one may stay "unknown" there, but then its large frames must be
# probed (or $0x0 at the stack pointer), which only the flag puts there.
# Usage: check_hardening.sh BUILD_DIR  checks bin/pintool as `cmake --install --strip` (and so
#                                      the Debian package) installs it, main's landing pad
#                                      in the build's own ui/pintool
#        check_hardening.sh PROGRAM    checks that program as it is (with its symbols)
set -eu
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -d "$1" ]; then
    cmake --install "$1" --prefix "$work/root" --strip >"$work/install.log" 2>&1 ||
        { cat "$work/install.log"; exit 1; }
    program=$work/root/bin/pintool
    unstripped=$1/ui/pintool
else
    program=$1
    unstripped=$1
fi
status=0
fail() { echo "FAIL: $*" >&2; status=1; }

hardening-check "$program" >"$work/report" || true
cat "$work/report"
for item in "Position Independent Executable" "Stack protected" "Fortify Source functions" \
    "Read-only relocations" "Immediate binding" "Stack clash protection" \
    "Control flow integrity"; do
    answer=$(sed -n "s/^ $item: //p" "$work/report")
    case "$item: $answer" in
        *": yes"*) ;;
        "Stack clash protection: unknown"*)
            objdump -d --no-show-raw-insn "$program" |
                grep -Eq 'or[q]?[[:space:]]+\$0x0,(0x[0-9a-f]+)?\(%rsp\)' ||
                fail "stack clash protection: no probe of the stack in $program" ;;
        *) fail "hardening-check: $item: ${answer:-not reported}" ;;
    esac
done

readelf --dyn-syms -W "$program" >"$work/symbols"
grep -q ' __stack_chk_fail' "$work/symbols" || fail "no __stack_chk_fail imported"
fortified=$(grep -Eo ' __[a-z0-9_]+_chk(@|$)' "$work/symbols" | tr -d @ | sort -u |
    tr -d '\n')
[ -n "$fortified" ] || fail "no fortified libc call (__*_chk) imported"
echo "fortified calls:$fortified"
readelf -n -W "$program" |
    awk '/^Displaying notes found in:/ { in_section = ($NF == ".note.gnu.property") } in_section' \
    >"$work/property"
grep -q 'x86 feature: IBT, SHSTK' "$work/property" ||
    fail "no IBT and SHSTK in .note.gnu.property: $(tr -s ' \n' ' ' <"$work/property")"
# The marks are forced at link time (-z ibt -z shstk), so they alone do not show that the code
# was compiled with -fcf-protection: its functions must start with a landing pad, as main does.
main=$(nm "$unstripped" | awk '$3 == "main" { print $1 }')
if [ -z "$main" ]; then
    fail "no symbol main in $unstripped"
else
    objdump -d --no-show-raw-insn --start-address=0x"$main" --stop-address=$((0x$main + 4)) \
        "$unstripped" | grep -q endbr64 || fail "main starts without endbr64 in $unstripped"
fi
exit $status
