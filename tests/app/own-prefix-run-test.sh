#!/usr/bin/env bash
# The run command in a user's own Wine prefix, with a control registered there through
# regsvr32: it runs there, adds the Chinese face mappings the prefix lacks, keeps the
# prefix's own, leaves the build folder's run prefix alone, and a second run changes nothing.
# Usage: WINEPREFIX=<made test prefix> own-prefix-run-test.sh <source dir> <build dir> <fixture_com_server.dll>
set -euo pipefail
root=$1 build=$2 fixture=$3
source "$root/scripts/test-lanes.sh"
enter_lane
: "${WINEPREFIX:?WINEPREFIX must name the test prefix (see scripts/test.sh)}"
source "$root/scripts/wine-env.sh"

# The user's prefix is a copy of the test prefix (making one takes minutes under qemu).
# Wine only reads the system folders (1.2 GB): they are linked rather than copied.
work=$(mktemp -d)
user=$work/prefix
trap 'WINEPREFIX=$user wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir "$user"
# The lane's server may save the registry meanwhile. It writes each file anew and renames
# it into place, so the copy holds whole files; tar's "file changed as we read it" (its
# exit code 1) says only that the folder changed.
{ tar -C "$WINEPREFIX" --exclude=./drive_c/windows/system32 --exclude=./drive_c/windows/syswow64 \
      --warning=no-file-changed -cf - . || [[ $? == 1 ]]; } |
  tar -C "$user" -xf -
for system in system32 syswow64; do
  [[ -d $WINEPREFIX/drive_c/windows/$system ]] && cp -al "$WINEPREFIX/drive_c/windows/$system" "$user/drive_c/windows/"
done

in_user() { WINEPREFIX=$user wine "$@" </dev/null 2>/dev/null | tr -d '\r'; }
# A user's windows are managed: the test prefix's unmanaged windows (make_test_prefix in
# scripts/wine-env.sh) are not the user's, and the run command must leave that alone.
x11='HKCU\Software\Wine\X11 Driver'
in_user reg delete "$x11" /v Managed /f >/dev/null || true
key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes'
# The prefix maps "宋体" to a face of its own and "楷体" to none, in both views (which
# Wine links: a value deleted or set in one is so in the other).
for view in 64 32; do
  in_user reg delete "$key" /v "楷体" /f /reg:$view >/dev/null || true
  in_user reg add "$key" /v "宋体" /d "Own Song Face" /f /reg:$view >/dev/null
done
cp "$fixture" "$user/drive_c/ZEMA.OwnPrefix.ocx"
in_user regsvr32 /s 'C:\ZEMA.OwnPrefix.ocx'
in_user reg query 'HKCR\ZEMA.OwnPrefix' /reg:32 >/dev/null || { echo "the control was not registered"; exit 1; }

faces() {
  local view face
  for view in 64 32; do
    for face in "楷体" "宋体"; do
      echo "$view $face: $(in_user reg query "$key" /v "$face" /reg:$view | sed -n 's/.*REG_SZ *//p')"
    done
  done
}
run_prefix() { { find "$build/wine-run" -maxdepth 1 -printf '%p %s %T@\n' 2>/dev/null || true; } | sort; }
fail() { echo "$1"; echo "--- output of the run command:"; echo "$output"; exit 1; }
expected="64 楷体: AR PL KaitiM GB
64 宋体: Own Song Face
32 楷体: AR PL KaitiM GB
32 宋体: Own Song Face"

before=$(run_prefix)
for run in first second; do
  output=$(env -u DISPLAY WINEPREFIX="$user" BUILD_DIR="$build" bash "$root/scripts/run.sh" 2>&1) ||
    fail "the $run run failed"
  grep -qxF "Wine prefix: $user" <<<"$output" || fail "the $run run names another prefix"
  grep -qxF "The program ended with exit code 0" <<<"$output" || fail "the $run run did not end with 0"
  added=$(grep -c '^Font substitute added' <<<"$output" || true)
  kept=$(grep -c '^Font substitute kept' <<<"$output" || true)
  if [[ $run == first ]]; then want="2 2"; else want="0 4"; fi
  [[ "$added $kept" == "$want" ]] || fail "the $run run added $added and kept $kept mappings, not $want"
  actual=$(faces)
  [[ $actual == "$expected" ]] || fail "after the $run run the prefix maps:
$actual"
done
[[ $(run_prefix) == "$before" ]] || fail "the build folder's run prefix was touched"
in_user reg query 'HKCR\ZEMA.OwnPrefix' /reg:32 >/dev/null || fail "the registered control is gone"
in_user reg query "$x11" /v Managed >/dev/null && fail "the run command set how the prefix's windows are managed"
echo "runs in $user: mappings added once, the prefix's own kept"
