#!/usr/bin/env bash
# Checks that each program is a 32-bit Windows image that imports only DLLs Windows ships:
# static linking must leave no runtime DLL (libstdc++, libgcc, winpthread, zlib) to carry along.
set -u
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
allowed='^(kernel32|user32|gdi32|comctl32|ole32|oleaut32|shell32|advapi32|msvcrt|shlwapi|uuid)\.dll$'
status=0
for program in "$@"; do
  header=$("$objdump" -p "$program" 2>&1) || { echo "FAIL $program: $header"; status=1; continue; }
  if ! grep -q 'file format pei-i386' <<<"$header"; then
    echo "FAIL $program: not a 32-bit (i686) Windows image"
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
