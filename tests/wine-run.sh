#!/usr/bin/env bash
# Runs a Windows test program under Wine in the prefix and the code page that the test
# run prepared (scripts/wine-env.sh chooses the code page through LC_ALL): in the test
# command, the prefix and display of the test's lane (scripts/test-lanes.sh).
source "$(dirname "$0")/../scripts/test-lanes.sh"
enter_lane
: "${WINEPREFIX:?WINEPREFIX must name the test prefix (see scripts/test.sh)}"
: "${EXPECTED_CODE_PAGE:?EXPECTED_CODE_PAGE must name the code page of the pass (use_code_page in scripts/wine-env.sh)}"
export WINEDEBUG=-all
exec wine "$@"
