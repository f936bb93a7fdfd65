#!/usr/bin/env bash
# Builds the program and runs it under Wine. With a usable display it opens the
# window there. Without one it runs the program on a virtual display, saves a
# screenshot of the window as a PNG, prints its path and closes the program with
# its own close button.
# WINEPREFIX=<prefix> runs it in that prefix (its registry, its drive C:), made when
# missing (64-bit unless WINEARCH=win32); without it, in a prefix under the build folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

source "$root/scripts/build-env.sh"
configure_build "$build" --run
cmake --build "$build" --target RegisterAndUninstall -j"$(nproc)"
program=$build/bin/RegisterAndUninstall.exe

source "$root/scripts/wine-env.sh"
if [[ -n ${WINEPREFIX:-} ]]; then
  # The user's prefix: only the face mappings it lacks are added to it.
  WINEPREFIX=$(realpath -m "$WINEPREFIX")
  export WINEPREFIX
  if [[ ! -f $WINEPREFIX/system.reg ]]; then
    if [[ -n $(ls -A "$WINEPREFIX" 2>/dev/null) ]]; then
      echo "$WINEPREFIX holds files but no Wine prefix: not touched" >&2
      exit 1
    fi
    echo "Making the Wine prefix $WINEPREFIX (${WINEARCH:-win64})"
    create_prefix "$WINEPREFIX" "${WINEARCH:-win64}"
  fi
  add_face_substitutes "$WINEPREFIX"
else
  export WINEPREFIX=$build/wine-run
  make_prefix "$WINEPREFIX" win64
fi
echo "Wine prefix: $WINEPREFIX"

if [[ -n ${DISPLAY:-} ]] && xdpyinfo >/dev/null 2>&1; then
  exec wine "$program"
fi

start_display
# The prefix's Wine processes end shortly after the program; those still there (the
# desktop on the virtual display) are ended before the display goes.
trap 'timeout 30 wineserver -w 2>/dev/null || wineserver -k 2>/dev/null || true; stop_display' EXIT
# A prefix's Wine desktop stays on the display its server started with, and every
# program of that server draws there: the window reaches the virtual display only
# under a server started now. The face mappings' reg calls leave theirs for a few
# seconds; the user's own programs in the prefix would keep it for good.
if ! timeout 30 wineserver -w; then
  trap stop_display EXIT
  echo "Wine programs are running in $WINEPREFIX: close them, or run with a display" >&2
  exit 1
fi
wine "$program" </dev/null >/dev/null 2>&1 &
pid=$!
shown=false
for _ in $(seq 1 240); do
  xwininfo -root -tree 2>/dev/null | grep -q '"Register and uninstall"' && { shown=true; break; }
  sleep 0.5
done
if ! $shown; then
  kill "$pid" 2>/dev/null || true
  echo "The window did not appear on the virtual display within 2 minutes" >&2
  exit 1
fi
sleep 2   # let the first paint reach the screen
shot=$build/screenshot.png
# The window stands at (200, 100), 700 x 500.
import -display "$DISPLAY" -window root -crop 700x500+200+100 +repage "$shot"
echo "Screenshot of the window: $shot"

# Close button: client origin (201, 101) inside the border, button at (673, 5), 16 x 16.
xdotool mousemove 882 114 click 1
for _ in $(seq 1 120); do kill -0 "$pid" 2>/dev/null || break; sleep 0.5; done
if kill -0 "$pid" 2>/dev/null; then
  kill "$pid" 2>/dev/null || true
  echo "The program did not end within a minute of its close button" >&2
  exit 1
fi
status=0; wait "$pid" || status=$?
echo "The program ended with exit code $status"
