#!/bin/sh
# check-imports.sh OBJDUMP EXE: fails unless EXE imports Windows system DLLs only.
set -eu
objdump=$1
exe=$2
dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
[ -n "$dlls" ] || { echo "no imports found in $exe" >&2; exit 1; }
status=0
for dll in $dlls; do
    case "$dll" in
        kernel32.dll|user32.dll|gdi32.dll|msimg32.dll|dwmapi.dll|shell32.dll|wininet.dll|bcrypt.dll|msvcrt.dll|advapi32.dll)
            echo "system: $dll" ;;
        *)
            echo "NOT a Windows system DLL: $dll" >&2
            status=1 ;;
    esac
done
exit $status
