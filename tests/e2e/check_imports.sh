#!/usr/bin/env bash
# Fails unless the executable imports system DLLs only: vendors copy the one
# file next to their application, with no runtime DLLs beside it.
# Usage: check_imports.sh OBJDUMP EXE
set -euo pipefail
objdump=$1 exe=$2
dlls=$("$objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'a-z' 'A-Z' | sort -u)
[ -n "$dlls" ] || { echo "no imports found in $exe" >&2; exit 1; }
status=0
for dll in $dlls; do
  case $dll in
    KERNEL32.DLL|ADVAPI32.DLL|MSVCRT.DLL) echo "ok: $dll" ;;
    *) echo "not a system DLL we allow: $dll" >&2; status=1 ;;
  esac
done
exit $status
