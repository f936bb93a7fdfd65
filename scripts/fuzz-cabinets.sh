#!/usr/bin/env bash
# Cabinet campaign, run on demand (not by CI): generated cabinets (sound ones and ones with
# false headers, tables, names, data blocks and codec data, cuts, splices, decoy tables and
# bombs) run through the program's ExtractCabinet in one Wine process, in batches. A crash
# or a hang of that process is named by its cabinet and the batch starts again after it.
# Prints a line per class, then the summary last. Runs in the WINEARCH=win32 prefix of the
# build, in code page 936 unless CODE_PAGE=1252.
# Usage: [BUILD_DIR=<build dir>] [CODE_PAGE=936|1252] [BATCH=250] scripts/fuzz-cabinets.sh [cabinets per seed] [seed...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
count=${1:-3000}
shift || true
seeds=("$@")
[[ ${#seeds[@]} -gt 0 ]] || seeds=(1 2)
batch=${BATCH:-250}

source "$root/scripts/build-env.sh"
source "$root/scripts/wine-env.sh"
configure_build "$build"
cmake --build "$build" --target cabinet_campaign -j2 >/dev/null
export WINEPREFIX=$build/wine-win32
make_prefix "$WINEPREFIX" win32
use_code_page "${CODE_PAGE:-936}"

work=$(mktemp -d)
mkdir -p "$work/scratch"
start_display
wineserver -p </dev/null >/dev/null 2>&1 || true  # a server of the prefix may run already
finish() { wineserver -k || true; stop_display; rm -rf "$work"; }
trap finish EXIT
winpath() { echo "Z:${1//\//\\}"; }

outside=$work/outside.txt
: >"$outside"
started=$(date +%s)
for seed in "${seeds[@]}"; do
  results=$work/results-$seed.txt
  : >"$results"
  next=0
  while ((next < count)); do
    n=$((count - next < batch ? count - next : batch))
    touch "$work/marker"
    sleep 1  # file times have whole seconds on some file systems
    status=0
    timeout 3600 wine "$build/bin/cabinet_campaign.exe" "$seed" "$next" "$n" "$(winpath "$work/scratch")" \
      "$(winpath "$results")" </dev/null >/dev/null 2>&1 || status=$?
    # Every file written during the batch on the prefix's drive C:, where a stored name (no
    # drive, no root) could lead: the harness removes each cabinet's folder, so whatever is
    # left there was written outside it.
    find "$WINEPREFIX/drive_c" -xdev -type f -newer "$work/marker" -printf '%s %p\n' >>"$outside" 2>/dev/null || true
    begun=$(awk '$1 == "begin" {b = $2} END {print (b == "" ? -1 : b)}' "$results")
    ended=$(awk '$1 == "end" {e = $2} END {print (e == "" ? -1 : e)}' "$results")
    if ((status != 0 && begun > ended)); then
      if ! grep -q "^hang $begun\$" "$results"; then
        if ((status == 124)); then echo "hang $begun" >>"$results"; else echo "crash $begun status $status" >>"$results"; fi
      fi
      next=$((begun + 1))
      wineserver -k >/dev/null 2>&1 || true
      wineserver -p </dev/null >/dev/null 2>&1
    elif ((status != 0)); then
      echo "harness failed (status $status) in the batch from $next" >&2
      exit 1
    else
      next=$((next + n))
    fi
  done
done
elapsed=$(($(date +%s) - started))

cat "$work"/results-*.txt | awk -v seeds="${seeds[*]}" -v count="$count" -v elapsed="$elapsed" -v outside="$outside" '
  $1 == "begin" { cls[$2] = $3 }
  $1 == "end" {
    c = $4; n[c]++; out[c, $6]++; total++; outcomes[$6]++
    if ($8 > worst) { worst = $8; worstAt = c " " $2 }
    if ($12 > 0 && $10 / $12 > ratio) { ratio = $10 / $12; ratioAt = c " " $2 }
    other += $18; over += $20; wrong += $22
    if ($24 != "1" && $24 != "2" && $24 != "3" && $24 != "4" && $24 != "0") { faults[c]++; contained++ }
  }
  $1 == "crash" { crashes[cls[$2]]++; crash++; n[cls[$2]]++; total++ }
  $1 == "hang" { hangs[cls[$2]]++; hang++; n[cls[$2]]++; total++ }
  END {
    while ((getline line < outside) > 0) { split(line, f, " "); outsideBytes += f[1]; outsideFiles++ }
    printf "%-8s %7s %9s %8s %8s %8s %6s %9s\n", "class", "cabinets", "unpacked", "refused", "stopped", "crashes", "hangs", "contained"
    for (c in n) printf "%-8s %7d %9d %8d %8d %8d %6d %9d\n", c, n[c], out[c, "unpacked"], out[c, "refused"], out[c, "stopped"], crashes[c], hangs[c], faults[c]
    printf "\n"
    printf "cabinets: %d (seeds %s, %d each), %d s\n", total, seeds, count, elapsed
    printf "unpacked %d, refused %d, stopped %d\n", outcomes["unpacked"], outcomes["refused"], outcomes["stopped"]
    printf "crashes %d, hangs %d (faults of the library contained in the unpacking child: %d)\n", crash, hang, contained
    printf "bytes written outside the time folder: %d (%d files)\n", outsideBytes, outsideFiles
    printf "files under a name other than the stored one: %d\n", other
    printf "files longer than their entry declares: %d\n", over
    printf "sound cabinets not unpacked whole and exact: %d\n", wrong
    printf "worst time: %.3f s (%s)\n", worst, worstAt
    printf "worst bytes written per input byte: %.1f (%s)\n", ratio, ratioAt
  }'
if [[ -s $outside ]]; then echo "written outside:"; head -20 "$outside"; fi
