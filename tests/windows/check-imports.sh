#!/usr/bin/env bash
# Checks that each program is a Windows image of the given format (pei-i386 for what ships,
# pei-x86-64 for the 64-bit test build) that imports only DLLs Windows ships: static linking
# must leave no runtime DLL (libstdc++, libgcc, winpthread, zlib) to carry along.
#   check-imports.sh FORMAT PROGRAM...
set -u
format=$1
shift
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
allowed='^(ntdll|kernel32|user32|gdi32|comctl32|ole32|oleaut32|shell32|advapi32|msvcrt|shlwapi|uuid)\.dll$'
status=0
for program in "$@"; do
  header=$("$objdump" -p "$program" 2>&1) || { echo "FAIL $program: $header"; status=1; continue; }
  if ! grep -q "file format $format\$" <<<"$header"; then
    echo "FAIL $program: not a $format Windows image"
    status=1
  fi
  dlls=$(sed -n 's/^\s*DLL Name: //p' <<<"$header" | tr 'A-Z' 'a-z' | sort -u)
  for dll in $dlls; do
    if ! grep -Eq "$allowed" <<<"$dll"; then
      echo "FAIL $program imports $dll"
      status=1
    fi
  done
  echo "$program imports: $(echo $dlls)"
done
exit $status
