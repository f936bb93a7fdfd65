#!/usr/bin/env bash
# Builds the program and its tests, then runs every test under Wine on a virtual
# display: once in a 64-bit prefix (the program under WOW64) in code page 1252 and, for
# the tests whose outcome depends on it, once more in a 32-bit prefix in code page 936;
# the code-page tests a third time in code page 65001 (UTF-8).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

source "$root/scripts/build-env.sh"
# --run: one test runs the run command.
configure_build "$build" --run
cmake --build "$build" -j"$(nproc)"

source "$root/scripts/wine-env.sh"
start_display
trap stop_display EXIT

status=0
for arch in win64 win32; do
  export WINEPREFIX=$build/wine-$arch
  use_code_page 1252
  make_prefix "$WINEPREFIX" "$arch"
  # The second pass, the registration and uninstall tests, runs in the users' code page
  # (a prefix made in code page 1252 serves it: the code page follows LC_ALL, which the
  # CodePage test checks).
  [[ $arch == win32 ]] && use_code_page 936
  wineserver -p </dev/null >/dev/null 2>&1
  # The first window starts Wine's desktop process, which outlives the test that
  # caused it; started here, it holds none of CTest's output pipes.
  wine "$build/bin/app_tests.exe" --gtest_list_tests </dev/null >/dev/null 2>&1
  only=(); [[ $arch == win32 ]] && only=(-L both-prefixes)
  echo "== tests in the $arch prefix, code page $EXPECTED_CODE_PAGE"
  ctest --test-dir "$build" --output-on-failure "${only[@]}" || status=1
  wineserver -k || true
done

# A third pass in the UTF-8 system code page (65001) of newer Windows, in the 32-bit
# prefix: the tests of what goes through the system code page, end to end.
export WINEPREFIX=$build/wine-win32
use_code_page 65001
wineserver -p </dev/null >/dev/null 2>&1
wine "$build/bin/app_tests.exe" --gtest_list_tests </dev/null >/dev/null 2>&1
echo "== code-page tests in the win32 prefix, code page $EXPECTED_CODE_PAGE"
ctest --test-dir "$build" --output-on-failure \
  -R '^(CodePage\.|CodePageDropTest\.(ChineseControlFiles|CabinetsWithChinesePaths)|ChineseProgIdUninstall\.|ExactConversion\.|UninstallEndToEnd\.ARegisteredControl)' \
  || status=1
wineserver -k || true
exit $status
