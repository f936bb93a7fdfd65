# Shared by the run and test commands: a private Wine prefix and a virtual display.
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

# make_prefix DIR win64|win32: creates the prefix once, with the Chinese font faces mapped.
# The single-file GB faces are used: 32-bit Wine here cannot take its glyphs from
# the collection files (.ttc) of the other AR PL faces, and draws boxes instead.
make_prefix() {
  local prefix=$1 arch=$2 marker=$1/.ready-2
  [[ -f $marker ]] && return 0
  mkdir -p "$(dirname "$prefix")"
  # Under qemu a prefix's set-up now and then hangs in one of its steps: give it
  # a few minutes, then start that prefix afresh.
  local try
  for try in 1 2 3; do
    WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
    rm -rf "$prefix"
    WINEARCH=$arch WINEPREFIX=$prefix timeout 300 wineboot -i >/dev/null 2>&1 &&
      WINEPREFIX=$prefix timeout 120 wineserver -w && break
    echo "making the $arch prefix failed or hung (try $try)" >&2
    [[ $try -eq 3 ]] && return 1
  done
  local subst='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' view
  # The 32-bit program reads the 32-bit view of the machine's software keys.
  for view in 64 32; do
    WINEPREFIX=$prefix wine reg add "$subst" /v "楷体" /d "AR PL KaitiM GB" /f /reg:$view >/dev/null 2>&1
    WINEPREFIX=$prefix wine reg add "$subst" /v "宋体" /d "AR PL SungtiL GB" /f /reg:$view >/dev/null 2>&1
  done
  # A crash ends the test instead of waiting on a debugger dialog.
  WINEPREFIX=$prefix wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  WINEPREFIX=$prefix timeout 120 wineserver -w
  touch "$marker"
}

# start_display: starts Xvfb on a free display unless DISPLAY is usable; sets XVFB_PID.
start_display() {
  XVFB_PID=""
  if [[ -n ${DISPLAY:-} ]] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  local fifo; fifo=$(mktemp -u); mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  XVFB_PID=$!
  local number; read -r number <"$fifo"; rm -f "$fifo"
  export DISPLAY=":$number"
}

stop_display() {
  if [[ -n ${XVFB_PID:-} ]]; then kill "$XVFB_PID" 2>/dev/null || true; wait "$XVFB_PID" 2>/dev/null || true; fi
}
