#!/bin/sh
# The program is linked statically: it may import system DLLs only, and none that is not
# one of the system's known DLLs (cabinet.dll is loaded from the system directory).
exe=$1
dlls=$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
[ -n "$dlls" ] || { echo "no imports read from $exe"; exit 1; }
status=0
for dll in $dlls; do
  case $dll in
    kernel32.dll|user32.dll|gdi32.dll|shell32.dll|advapi32.dll|msvcrt.dll) echo "ok: $dll" ;;
    *) echo "not a system DLL: $dll"; status=1 ;;
  esac
done
exit $status
