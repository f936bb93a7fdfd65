#!/bin/sh
# The program starts on Windows XP SP3: it may import only functions of the allow-list
# (the system DLLs it links statically against), each with a first version no newer than
# XP SP3. cabinet.dll is loaded from the system directory, and newer calls are looked up.
# Usage: check-imports.sh <program.exe> <allow-list>
exe=$1
allowed=$2
imports=$(i686-w64-mingw32-objdump -p "$exe" | awk '
  /DLL Name:/ { dll = tolower($3); next }
  dll != "" && NF == 3 && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ { print dll, $3 }')
[ -n "$imports" ] || { echo "no imports read from $exe"; exit 1; }
echo "$imports" | awk -v allowed="$allowed" '
  BEGIN {
    while ((getline line < allowed) > 0) {
      if (line ~ /^#/ || line ~ /^[ \t]*$/) continue
      split(line, field, " ")
      version[tolower(field[1]) " " field[2]] = field[3]
    }
    split("2000 XP XPSP1 XPSP2 XPSP3", old, " ")
    for (i in old) onXp[old[i]] = 1
  }
  {
    if (!($0 in version)) { print "not in the allow-list: " $0; failed = 1 }
    else if (!(version[$0] in onXp)) { print "newer than XP SP3 (" version[$0] "): " $0; failed = 1 }
    else count++
  }
  END { print count " imports, each on XP SP3"; exit failed }'
