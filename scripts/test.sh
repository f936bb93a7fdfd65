#!/usr/bin/env bash
# Builds the program and its tests, then runs every test under Wine on virtual displays:
# once in a 64-bit prefix (the program under WOW64) in code page 1252 and, for the tests
# whose outcome depends on it, once more in a 32-bit prefix in code page 936. The two
# passes run side by side, each in TEST_LANES lanes (scripts/test-lanes.sh); each pass's
# CTest output is printed whole when both have ended.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
lanes=${TEST_LANES:-3}
if [[ ! $lanes =~ ^[1-9][0-9]*$ ]]; then
  echo "TEST_LANES must be a number of lanes, 1 or more (not '$lanes')" >&2
  exit 2
fi

source "$root/scripts/build-env.sh"
# --run: one test runs the run command.
configure_build "$build" --run
cmake --build "$build" -j"$(nproc)"

source "$root/scripts/wine-env.sh"
source "$root/scripts/test-lanes.sh"

# The passes: each one's code page, and the tests it runs (the second one, the tests whose
# outcome depends on the prefix and the code page). Both prefixes are made in code page
# 1252: the code page follows LC_ALL, which the CodePage tests check.
archs=(win64 win32)
declare -A code_page=([win64]=1252 [win32]=936)
declare -A only=([win64]="" [win32]="-L both-prefixes")
pids=()
for arch in "${archs[@]}"; do
  make_test_prefix "$build/wine-$arch" "$arch" &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid"; done

for arch in "${archs[@]}"; do reset_lanes "$build/lanes/$arch" "$lanes"; done
# An interrupted run ends its passes and its lanes too (a lane's server and desktop would
# outlive its tests). passes: the process groups of the passes still running.
declare -A passes=()
end_run() {
  local pass
  for pass in "${passes[@]}"; do kill -TERM -- "-$pass" 2>/dev/null || true; done
  for pass in "${archs[@]}"; do close_lanes "$build/lanes/$pass"; done
}
trap end_run EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
pids=()
for arch in "${archs[@]}"; do
  (use_code_page "${code_page[$arch]}"
   open_lanes "$build/lanes/$arch" "$build/wine-$arch" "$lanes" "$build/bin/app_tests.exe" --gtest_list_tests) &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid"; done

# The list of tests, made once (discovering the tests runs each test program), in the
# first lane of the first pass; every test of it takes one lane in each pass.
(use_lane "$build/lanes/win64" 0
 lane_tests_file "$build/lanes/win64" "$build")
cp "$build/lanes/win64/CTestTestfile.cmake" "$build/lanes/win32/"

# run_pass ARCH: in a subshell, runs the pass's tests in its lanes as a process group of its
# own (a subshell of a script never leads one, so setsid makes CTest's pid the group's);
# the output goes to the pass's log.
run_pass() {
  local dir=$build/lanes/$1
  use_code_page "${code_page[$1]}"
  export TEST_LANES_DIR=$dir WINEPREFIX=$dir/outside-a-lane
  unset DISPLAY
  # shellcheck disable=SC2086  # the label option is two words
  exec setsid ctest --test-dir "$dir" --resource-spec-file "$dir/lanes.json" -j"$lanes" \
    --output-on-failure ${only[$1]} >"$dir/ctest.log" 2>&1
}

echo "== both passes side by side, each in TEST_LANES=$lanes lanes; their output follows when both have ended"
for arch in "${archs[@]}"; do
  run_pass "$arch" &
  passes[$arch]=$!
done
declare -A result
status=0
for arch in "${archs[@]}"; do
  if wait "${passes[$arch]}"; then result[$arch]=passed; else result[$arch]=FAILED; status=1; fi
  unset "passes[$arch]"
done
for arch in "${archs[@]}"; do
  echo "== tests in the $arch prefix, code page ${code_page[$arch]} ($build/lanes/$arch/ctest.log)"
  cat "$build/lanes/$arch/ctest.log"
done
for arch in "${archs[@]}"; do
  echo "== $arch prefix, code page ${code_page[$arch]}: ${result[$arch]}"
done
exit $status
