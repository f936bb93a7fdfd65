#!/bin/sh
# Runs a Windows test program under Wine in the prefix and the code page that the test
# run prepared (scripts/wine-env.sh chooses the code page through LC_ALL).
: "${WINEPREFIX:?WINEPREFIX must name the test prefix (see scripts/test.sh)}"
: "${EXPECTED_CODE_PAGE:?EXPECTED_CODE_PAGE must name the pass's code page (use_code_page in scripts/wine-env.sh)}"
export WINEDEBUG=-all
exec wine "$@"
