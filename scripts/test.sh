#!/usr/bin/env bash
# Builds the program and its tests, then runs every test under Wine on virtual displays:
# once in a 64-bit prefix (the program under WOW64) in code page 1252 and, for the tests
# whose outcome depends on it, once more in a 32-bit prefix in code page 936, and the
# code-page tests a third time in that prefix in code page 65001 (UTF-8). The passes run
# side by side, the first two in TEST_LANES lanes each, the third in one (scripts/test-lanes.sh);
# each pass's CTest output is printed whole when all have ended.
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

# The passes: each one's prefix, code page, lanes and the tests it runs (the second one,
# the tests whose outcome depends on the prefix and the code page; the third, those of
# what goes through the system code page, end to end). Both prefixes are made in code
# page 1252: the code page follows LC_ALL, which the CodePage tests check.
archs=(win64 win32)
passes_run=(win64 win32 utf8)
declare -A prefix_of=([win64]=win64 [win32]=win32 [utf8]=win32)
declare -A code_page=([win64]=1252 [win32]=936 [utf8]=65001)
declare -A lanes_of=([win64]=$lanes [win32]=$lanes [utf8]=1)
# shellcheck disable=SC2034  # read through only[...] in run_pass
declare -A only=([win64]="" [win32]="-L both-prefixes"
  [utf8]="-R ^(CodePage\\.|CodePageDropTest\\.(ChineseControlFiles|CabinetsWithChinesePaths)|ChineseProgIdUninstall\\.|ExactConversion\\.|UninstallEndToEnd\\.ARegisteredControl)")
pids=()
for arch in "${archs[@]}"; do
  make_test_prefix "$build/wine-$arch" "$arch" &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid"; done

for pass in "${passes_run[@]}"; do reset_lanes "$build/lanes/$pass" "${lanes_of[$pass]}"; done
# An interrupted run ends its passes and its lanes too (a lane's server and desktop would
# outlive its tests). running: the process groups of the passes still running.
declare -A running=()
end_run() {
  local pass
  for pass in "${running[@]}"; do kill -TERM -- "-$pass" 2>/dev/null || true; done
  for pass in "${passes_run[@]}"; do close_lanes "$build/lanes/$pass"; done
}
trap end_run EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
pids=()
for pass in "${passes_run[@]}"; do
  (use_code_page "${code_page[$pass]}"
   open_lanes "$build/lanes/$pass" "$build/wine-${prefix_of[$pass]}" "${lanes_of[$pass]}" \
     "$build/bin/app_tests.exe" --gtest_list_tests) &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid"; done

# The list of tests, made once (discovering the tests runs each test program), in the
# first lane of the first pass; every test of it takes one lane in each pass.
(use_lane "$build/lanes/win64" 0
 lane_tests_file "$build/lanes/win64" "$build")
for pass in "${passes_run[@]:1}"; do cp "$build/lanes/win64/CTestTestfile.cmake" "$build/lanes/$pass/"; done

# run_pass PASS: in a subshell, runs the pass's tests in its lanes as a process group of its
# own (a subshell of a script never leads one, so setsid makes CTest's pid the group's);
# the output goes to the pass's log.
run_pass() {
  local dir=$build/lanes/$1
  use_code_page "${code_page[$1]}"
  export TEST_LANES_DIR=$dir WINEPREFIX=$dir/outside-a-lane
  unset DISPLAY
  # shellcheck disable=SC2086  # the selection option is two words
  exec setsid ctest --test-dir "$dir" --resource-spec-file "$dir/lanes.json" -j"${lanes_of[$1]}" \
    --output-on-failure ${only[$1]} >"$dir/ctest.log" 2>&1
}

echo "== the passes side by side, in TEST_LANES=$lanes lanes each (the UTF-8 pass in one); their output follows when all have ended"
for pass in "${passes_run[@]}"; do
  run_pass "$pass" &
  running[$pass]=$!
done
declare -A result
status=0
for pass in "${passes_run[@]}"; do
  if wait "${running[$pass]}"; then result[$pass]=passed; else result[$pass]=FAILED; status=1; fi
  unset "running[$pass]"
done
for pass in "${passes_run[@]}"; do
  echo "== tests in the ${prefix_of[$pass]} prefix, code page ${code_page[$pass]} ($build/lanes/$pass/ctest.log)"
  cat "$build/lanes/$pass/ctest.log"
done
for pass in "${passes_run[@]}"; do
  echo "== ${prefix_of[$pass]} prefix, code page ${code_page[$pass]}: ${result[$pass]}"
done
exit $status
