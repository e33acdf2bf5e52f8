#!/bin/sh
# pintool.exe needs nothing beside it: it imports only DLLs every Windows has (the C runtime
# and libstdc++ are linked in), and it carries its icon, version block and manifest. Windows
# looks for those DLLs in System32 only (its load configuration). It is hardened: address space
# layout randomisation, no code from data pages, and stack canaries (GCC's libssp, linked in).
# Usage: check_windows_program.sh PINTOOL_EXE SOURCE_DIR
set -eu
exe=$1
source_dir=$2
system="advapi32.dll bcrypt.dll comctl32.dll comdlg32.dll crypt32.dll gdi32.dll kernel32.dll
msvcrt.dll ole32.dll shell32.dll user32.dll ws2_32.dll"
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' |
    tr 'A-Z' 'a-z')
[ -n "$imports" ] || { echo "FAIL: no imports read from $exe" >&2; exit 1; }
status=0
for dll in $imports; do
    case " $(echo $system) " in
        *" $dll "*) ;;
        *) echo "FAIL: $exe imports $dll, which is not part of Windows" >&2; status=1 ;;
    esac
done
echo "imports:" $imports
python3 "$source_dir/tests/res/check_windows_resources.py" "$exe" "$source_dir/res/pintool.ico" \
    "$source_dir/res/version.txt" || status=1
python3 "$source_dir/tests/res/check_windows_load_config.py" "$exe" || status=1
python3 "$source_dir/tests/res/check_windows_hardening.py" "$exe" || status=1
# Stack canaries: the function a damaged canary calls, and the guard's address as compiled
# code loads it (.refptr.*); libssp alone, which fortified calls bring too, has no such pointer.
symbols=$(x86_64-w64-mingw32-nm "$exe")
for symbol in __stack_chk_fail __stack_chk_guard .refptr.__stack_chk_guard; do
    echo "$symbols" | grep -q " $symbol\$" || { echo "FAIL: no $symbol in $exe" >&2; status=1; }
done
exit $status
