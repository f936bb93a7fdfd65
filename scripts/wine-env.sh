# Shared by the run, test and benchmark commands: Wine prefixes and a virtual display.
# Source it; it defines functions and sets the environment of code page 1252.

export WINEDEBUG=-all

# Wine takes the system code page from LC_ALL. The program's users run code page 936
# (GBK); scripts/install-deps.sh generates this locale, without which Wine's file names
# come out wrong.
CP936_LOCALE=zh_CN.UTF-8
# use_code_page 936|1252: Wine programs started from here on run in that system code
# page; the tests read EXPECTED_CODE_PAGE to check that they do.
use_code_page() {
  case $1 in
    936) export LC_ALL=$CP936_LOCALE ;;
    1252) export LC_ALL=C.UTF-8 ;;
    *) echo "use_code_page: no locale for code page $1" >&2; return 1 ;;
  esac
  export EXPECTED_CODE_PAGE=$1
}
use_code_page 1252
# No Mono or Gecko prompts while a prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="

# The Chinese font faces, mapped in both registry views (the 32-bit program reads the
# 32-bit view of the machine's software keys). The single-file GB faces are used: 32-bit
# Wine here cannot take its glyphs from the collection files (.ttc) of the other AR PL
# faces, and draws boxes instead.
FACE_SUBSTITUTES_KEY='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes'
FACE_SUBSTITUTES=("楷体=AR PL KaitiM GB" "宋体=AR PL SungtiL GB")

# create_prefix DIR win64|win32: makes a new prefix in DIR, which must not hold one.
create_prefix() {
  local prefix=$1 arch=$2 try
  mkdir -p "$(dirname "$prefix")"
  # Under qemu a prefix's set-up now and then hangs in one of its steps: give it
  # a few minutes, then start that prefix afresh.
  for try in 1 2 3; do
    WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
    rm -rf "$prefix"
    WINEARCH=$arch WINEPREFIX=$prefix timeout 300 wineboot -i >/dev/null 2>&1 &&
      WINEPREFIX=$prefix timeout 120 wineserver -w && return 0
    echo "making the $arch prefix failed or hung (try $try)" >&2
  done
  return 1
}

# add_face_substitutes DIR: maps each Chinese face, in each view, that the prefix maps
# to nothing yet; a mapping of the prefix's own is kept. Prints one line per mapping.
# (Wine links the two views of this key; other prefixes may keep them apart.)
add_face_substitutes() {
  local prefix=$1 view face missing=() views=(64 32)
  # A 32-bit prefix has one view only.
  [[ -d $prefix/drive_c/windows/syswow64 ]] || views=(32)
  for view in "${views[@]}"; do
    for face in "${FACE_SUBSTITUTES[@]}"; do
      if WINEPREFIX=$prefix wine reg query "$FACE_SUBSTITUTES_KEY" /v "${face%%=*}" /reg:$view >/dev/null 2>&1; then
        echo "Font substitute kept ($view-bit view): ${face%%=*} has one of the prefix's own"
      else
        missing+=("$view=$face")
      fi
    done
  done
  for face in "${missing[@]}"; do
    view=${face%%=*} face=${face#*=}
    WINEPREFIX=$prefix wine reg add "$FACE_SUBSTITUTES_KEY" /v "${face%%=*}" /d "${face#*=}" /f /reg:$view >/dev/null 2>&1
    echo "Font substitute added ($view-bit view): ${face%%=*} -> ${face#*=}"
  done
}

# make_prefix DIR win64|win32: the project's own prefix, made once, with the Chinese
# faces mapped; does nothing when it is made already.
make_prefix() {
  local prefix=$1 arch=$2 marker=$1/.ready-2
  [[ -f $marker ]] && return 0
  create_prefix "$prefix" "$arch" || return 1
  add_face_substitutes "$prefix" >/dev/null
  # A crash ends the test instead of waiting on a debugger dialog.
  WINEPREFIX=$prefix wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  WINEPREFIX=$prefix timeout 120 wineserver -w
  touch "$marker"
}

# make_test_prefix DIR win64|win32: a prefix of the tests, made once. Its windows are
# unmanaged: no window manager runs on the tests' virtual displays, and Wine's X11 driver
# waits for one (about 2 s) whenever a managed window closes. Only the test prefixes: a
# user's own windows stay managed.
make_test_prefix() {
  local prefix=$1 marker=$1/.unmanaged-windows
  make_prefix "$prefix" "$2" || return 1
  [[ -f $marker ]] && return 0
  WINEPREFIX=$prefix wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || return 1
  WINEPREFIX=$prefix timeout 120 wineserver -w
  touch "$marker"
}

# start_xvfb: starts a virtual display of its own; sets XVFB_PID and XVFB_DISPLAY.
start_xvfb() {
  local fifo number; fifo=$(mktemp -u); mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  XVFB_PID=$!
  read -r number <"$fifo"; rm -f "$fifo"
  XVFB_DISPLAY=":$number"
}

# start_display: starts Xvfb on a free display unless DISPLAY is usable; sets XVFB_PID.
start_display() {
  XVFB_PID=""
  if [[ -n ${DISPLAY:-} ]] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  start_xvfb
  export DISPLAY=$XVFB_DISPLAY
}

stop_display() {
  if [[ -n ${XVFB_PID:-} ]]; then kill "$XVFB_PID" 2>/dev/null || true; wait "$XVFB_PID" 2>/dev/null || true; fi
}
