# The lanes of the test command (scripts/test.sh). Each pass runs its tests in lanes: a
# lane is a copy of the pass's prefix with its own Wine server and its own virtual display,
# and runs one test at a time, so tests that run at the same time share no registry, no
# drive C: and no screen. CTest hands the lanes out as resources of the type "lanes" (the
# pass's resource file holds one slot per lane) and tells each test its lane in
# CTEST_RESOURCE_GROUP_0_LANES ("id:<lane>,slots:1"); TEST_LANES_DIR names the pass's
# folder, which holds lane <n> in <n>/.
# Source it; it defines functions only. The set-up functions need scripts/wine-env.sh.

# enter_lane: in a test that CTest started in a lane, points WINEPREFIX and DISPLAY at the
# lane's. Every test that runs Wine itself calls it first; a test started without lanes
# (by hand, with WINEPREFIX and DISPLAY set) keeps its own.
enter_lane() {
  [[ -n ${CTEST_RESOURCE_GROUP_0_LANES:-} ]] || return 0
  local id=${CTEST_RESOURCE_GROUP_0_LANES#id:}
  use_lane "${TEST_LANES_DIR:?TEST_LANES_DIR must name the folder of the lanes}" "${id%%,*}"
}

# use_lane DIR ID: points WINEPREFIX and DISPLAY at lane ID of DIR.
use_lane() {
  export WINEPREFIX=$1/$2/prefix
  DISPLAY=$(cat "$1/$2/display")
  export DISPLAY
}

# reset_lanes DIR COUNT: ends the servers a previous run left in DIR's lanes, forgets their
# displays and removes the lanes beyond the first COUNT.
reset_lanes() {
  local dir=$1 count=$2 lane
  for lane in "$dir"/[0-9]*/; do
    lane=${lane%/}
    [[ -d $lane ]] || continue
    if [[ -d $lane/prefix ]]; then
      WINEPREFIX=$lane/prefix wineserver -k 2>/dev/null || true
      WINEPREFIX=$lane/prefix timeout 60 wineserver -w 2>/dev/null || true
    fi
    rm -f "$lane/xvfb.pid" "$lane/display"
    if ((${lane##*/} >= count)); then rm -rf "$lane"; fi
  done
}

# open_lanes DIR PREFIX COUNT OPENER...: makes the first COUNT lanes of DIR copies of PREFIX,
# whose server must have ended (a lane kept from a previous run is brought back to PREFIX:
# only what differs is copied), and starts each lane's display and server in the code page
# in effect. A lane's server stays up between its tests. Its first window starts Wine's
# desktop process, which outlives the test that caused it: the Windows command OPENER
# starts it here, so that it holds none of CTest's output pipes.
open_lanes() {
  local dir=$1 prefix=$2 count=$3 id pids=() status=0
  shift 3
  mkdir -p "$dir"
  for ((id = 0; id < count; id++)); do
    open_lane "$dir/$id" "$prefix" "$@" &
    pids+=($!)
  done
  for id in "${!pids[@]}"; do
    wait "${pids[$id]}" || { echo "lane $id of $dir did not start" >&2; status=1; }
  done
  # Outside a lane no Wine program may run: WINEPREFIX names this file, which Wine refuses.
  echo "Not a prefix: a test that runs Wine calls enter_lane (scripts/test-lanes.sh)." >"$dir/outside-a-lane"
  {
    printf '{"version": {"major": 1, "minor": 0}, "local": [{"lanes": ['
    for ((id = 0; id < count; id++)); do
      ((id == 0)) || printf ', '
      printf '{"id": "%d", "slots": 1}' "$id"
    done
    printf ']}]}\n'
  } >"$dir/lanes.json"
  return $status
}

open_lane() {
  local lane=$1 prefix=$2
  shift 2
  mkdir -p "$lane/prefix"
  rsync -a --delete "$prefix/" "$lane/prefix/"
  start_xvfb
  echo "$XVFB_PID" >"$lane/xvfb.pid"
  echo "$XVFB_DISPLAY" >"$lane/display"
  export WINEPREFIX=$lane/prefix DISPLAY=$XVFB_DISPLAY
  wineserver -p </dev/null >/dev/null 2>&1
  wine "$@" </dev/null >/dev/null 2>&1
}

# close_lanes DIR: ends the servers of the lanes that open_lanes made in DIR, then their
# displays.
close_lanes() {
  local lane pids=()
  for lane in "$1"/[0-9]*/; do
    lane=${lane%/}
    (if [[ -d $lane/prefix ]]; then WINEPREFIX=$lane/prefix wineserver -k 2>/dev/null || true; fi
     if [[ -f $lane/xvfb.pid ]]; then kill "$(cat "$lane/xvfb.pid")" 2>/dev/null || true; fi) &
    pids+=($!)
  done
  for lane in "${pids[@]}"; do wait "$lane"; done
}

# lane_tests_file DIR BUILD: DIR's CTest file: every test of BUILD, each needing one lane.
# CTest lists the tests (discovering those of the test programs) in the prefix and on the
# display in effect.
lane_tests_file() {
  local dir=$1 build=$2 listing
  listing=$(ctest --test-dir "$build" --show-only=json-v1) || {
    echo "CTest could not list the tests of $build" >&2
    return 1
  }
  {
    echo "subdirs([==[$build]==])"
    python3 -c 'import json, sys
for test in json.load(sys.stdin)["tests"]:
    print("set_tests_properties([==[%s]==] PROPERTIES RESOURCE_GROUPS lanes:1)" % test["name"])' <<<"$listing"
  } >"$dir/CTestTestfile.cmake"
}
