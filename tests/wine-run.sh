#!/bin/sh
# Runs a Windows test program under Wine in the prefix that the test run prepared.
: "${WINEPREFIX:?WINEPREFIX must name the test prefix (see scripts/test.sh)}"
export WINEDEBUG=-all LC_ALL=C.UTF-8
exec wine "$@"
