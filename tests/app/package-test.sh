#!/usr/bin/env bash
# Makes the release package, checks that it holds exactly the program and the README,
# unpacks it and runs the process and resource tests against the unpacked program.
# Usage: package-test.sh <build dir> <README.md> <package name> <app_tests.exe>
set -euo pipefail
build=$1 readme=$2 name=$3 tests=$4
source "$(dirname "$0")/../../scripts/test-lanes.sh"
enter_lane
: "${WINEPREFIX:?WINEPREFIX must name the test prefix (see scripts/test.sh)}"

cmake --build "$build" --target package >/dev/null
zip=$build/$name.zip
[[ -f $zip ]] || { echo "no package $zip"; exit 1; }

listing=$(cd "$build" && cmake -E tar tf "$zip" | grep -v '/$' | sort)
expected=$(printf '%s\n' "$name/README.md" "$name/RegisterAndUninstall.exe")
if [[ $listing != "$expected" ]]; then
  printf 'the package holds:\n%s\nexpected:\n%s\n' "$listing" "$expected"
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && cmake -E tar xf "$zip")
cmp "$readme" "$work/$name/README.md"
cmp "$build/bin/RegisterAndUninstall.exe" "$work/$name/RegisterAndUninstall.exe"

program=$work/$name/RegisterAndUninstall.exe
PROGRAM_UNDER_TEST="Z:${program//\//\\}" WINEDEBUG=-all \
  wine "$tests" --gtest_filter='ProgramProcess.*:ProgramResources.*:ProgramVersion.*' </dev/null |
  tr -d '\r' | tee "$work/tests.log"
# gtest passes a filter that selects nothing: the tests must have run.
grep -q '^\[       OK \] ProgramProcess.OpensNormallyWhateverTheShowCommandAndExitsWithZero' "$work/tests.log"
grep -q '^\[  PASSED  \]' "$work/tests.log" && ! grep -q '^\[  FAILED  \]' "$work/tests.log"
