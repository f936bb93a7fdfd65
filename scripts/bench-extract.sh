#!/usr/bin/env bash
# Benchmark, run on demand (not by CI): unpacks a cabinet of 2,000 small files and one of
# a few large files through the program's ExtractCabinet and through Wine's own
# extrac32.exe, and prints the times and their ratios. Each is a whole run with one process
# start: extrac32's own, and ExtractCabinet's unpacking child (the program started again).
# The second ratio takes one tool start-up from each.
# Wine 8's expand.exe answers "cabinet extraction failed" on these cabinets, so it is not used.
# Makes the build and the 64-bit test prefix when they are missing.
# Usage: [BUILD_DIR=<build dir>] scripts/bench-extract.sh [runs]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
runs=${1:-3}
source "$root/scripts/bench-env.sh"
prepare_benchmark bench_extract

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/small" "$work/large" "$work/tiny" "$work/scratch"
# 2,000 small files of 200 to 4,000 bytes of text-like data, and four files of 8 MB
# that compress like program code (part random, part repeated).
python3 - "$work" <<'PY'
import os, random, sys
work = sys.argv[1]
rng = random.Random(7)
words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9))) for _ in range(500)]
for i in range(2000):
    size = rng.randint(200, 4000)
    data = b" ".join(rng.choice(words) for _ in range(size // 5))[:size]
    open(os.path.join(work, "small", "file%04d.txt" % i), "wb").write(data)
for i in range(4):
    chunks = []
    while sum(map(len, chunks)) < 8 << 20:
        chunks.append(os.urandom(1024) if rng.random() < 0.3 else rng.choice(words) * 100)
    open(os.path.join(work, "large", "part%d.bin" % i), "wb").write(b"".join(chunks)[: 8 << 20])
open(os.path.join(work, "tiny", "one.txt"), "wb").write(b"one")
PY
(cd "$work/small" && gcab -c -z -n "$work/small.cab" *)
(cd "$work/large" && gcab -c -z -n "$work/large.cab" *)
(cd "$work/tiny" && gcab -c -z -n "$work/tiny.cab" one.txt)

start_display
wineserver -p </dev/null >/dev/null 2>&1
finish() { wineserver -k || true; stop_display; rm -rf "$work"; }
trap finish EXIT

winpath() { echo "Z:${1//\//\\}"; }
for cab in small large; do
  echo "== $cab.cab ($(stat -c %s "$work/$cab.cab") bytes, best of $runs)"
  if ! out=$(wine "$build/bin/bench_extract.exe" "$(winpath "$work/$cab.cab")" "$(winpath "$work/scratch")" \
                  "$runs" "$(winpath "$work/tiny.cab")" </dev/null 2>/dev/null | tr -d '\r'); then
    echo "$out"
    exit 1
  fi
  echo "$out" | grep -v '^folder'
  folder=$(echo "$out" | sed -n 's/^folder .:\///p')
  [[ -n $folder ]] && rm -rf "$WINEPREFIX/drive_c/$folder"
  ours=$(echo "$out" | awk '/^ExtractCabinet/ {print $2}')
  theirs=$(echo "$out" | awk '$1 == "extrac32.exe" {print $2}')
  startup=$(echo "$out" | awk '$1 == "tool" {print $3}')
  echo "files unpacked by extrac32.exe: $(find "$work/scratch/extrac32-0" -type f | wc -l)"
  awk -v a="$ours" -v b="$theirs" -v s="$startup" 'BEGIN {
    printf "ratio ExtractCabinet / extrac32.exe, whole runs: %.2f\n", a / b
    if (b > s && a > s) printf "ratio net of one start-up each: %.2f\n", (a - s) / (b - s) }'
  rm -rf "$work/scratch"/*
done
