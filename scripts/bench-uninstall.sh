#!/usr/bin/env bash
# Benchmark, run on demand (not by CI): with 20,000 top-level keys below HKEY_CLASSES_ROOT
# (300 of them ProgIDs of the family) and 20,000 keys below Interface, times the
# installed-control query against a bare enumeration of the root, and one control
# uninstall (its registry backup included) against bare enumerations of the three roots
# it purges, and prints the ratios.
# The keys are made in the 64-bit test prefix and removed again.
# Makes the build and the 64-bit test prefix when they are missing.
# Usage: [BUILD_DIR=<build dir>] scripts/bench-uninstall.sh [runs]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
runs=${1:-3}
source "$root/scripts/bench-env.sh"
prepare_benchmark bench_uninstall

start_display
finish() { wineserver -k || true; stop_display; }
trap finish EXIT
wineserver -p </dev/null >/dev/null 2>&1 || true  # one already running is fine

wine "$build/bin/bench_uninstall.exe" "$runs" </dev/null 2>/dev/null | tr -d '\r'
