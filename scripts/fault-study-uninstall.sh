#!/usr/bin/env bash
# Fault study of the uninstall, run on demand (not by CI), in both test prefixes:
#  - kills: five controls of one GUID family, each with about 10,000 keys and a full
#    registration (tests/fixtures, "+full+bulk=10000"), are removed as "卸载全部" removes
#    them, and the uninstall (with the regsvr32 it started) is killed at a random moment;
#    then every new backup file is imported and the registry compared with what it was.
#    Each trial ends in one of: "nothing deleted, no backup", "restored from N backups"
#    or "DATA LOST" (the registry differs after the import, or a backup file is cut).
#    CONTROLS=plain gives each control a GUID family of its own and none of the parts that
#    only its unregistration removes, to compare with a build that does not save those.
#  - full drive: drive C: of the prefix is made an overlay whose changes go to a small
#    tmpfs (this needs root) and a control whose backup does not fit is uninstalled:
#    nothing may be deleted, its server must not be asked to unregister, no file may be
#    left, and a box must say so. With room enough the same uninstall goes through and its
#    backup restores it.
# Prints one line per trial and a summary per prefix; exits 1 when any trial lost data.
# Makes the build and the test prefixes when they are missing.
# Usage: [BUILD_DIR=<build dir>] [CONTROLS=plain] scripts/fault-study-uninstall.sh [trials per prefix]
# (0 trials: the full drive only)
set -Eeuo pipefail
trap 'echo "fault study stopped at line $LINENO: $BASH_COMMAND" >&2' ERR
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
trials=${1:-30}
source "$root/scripts/build-env.sh"
source "$root/scripts/wine-env.sh"
configure_build "$build"
cmake --build "$build" --target uninstall_driver fixture_com_server -j"$(nproc)" >/dev/null

work=$(mktemp -d)
mounted=""
finish() {
  [[ -n ${WINEPREFIX:-} ]] && wineserver -k 2>/dev/null || true
  local point
  for point in $mounted; do umount "$point" || true; done
  stop_display
  rm -rf "$work"
}
trap finish EXIT
start_display

# driver ARGUMENTS...: runs tests/uninstall/uninstall_driver.cpp; says so when it fails.
driver() {
  local output status=0
  output=$(wine "$build/bin/uninstall_driver.exe" "$@" </dev/null 2>/dev/null) || status=$?
  printf '%s\n' "${output//$'\r'/}"
  [[ $status == 0 ]] || echo "uninstall_driver $1 ended with status $status" >&2
}
backup_folder() { echo "$WINEPREFIX/drive_c/ZemaActiveX/backup"; }
backups() { ls -1 "$(backup_folder)" 2>/dev/null | sort || true; }
now_ms() { date +%s%3N; }
# differing_lines: how many lines of the two dumps differ.
differing_lines() { { diff "$work/before.txt" "$work/after.txt" || true; } | { grep -c '^[<>]' || true; }; }

# register NAME...: copies of the fixture in C:\fault-study, registered by regsvr32 alone.
register() {
  local folder=$WINEPREFIX/drive_c/fault-study name
  mkdir -p "$folder"
  for name in "$@"; do
    cp "$build/bin/fixture_com_server.dll" "$folder/$name"
    wine regsvr32 /s "C:\\fault-study\\$name" </dev/null >/dev/null 2>&1
  done
}

# unregister_all: removes what the copies registered, and the copies.
unregister_all() {
  local name
  for name in $(ls "$WINEPREFIX/drive_c/fault-study" 2>/dev/null | grep -v '\.calls$' || true); do
    wine regsvr32 /u /s "C:\\fault-study\\$name" </dev/null >/dev/null 2>&1 || true
  done
  rm -rf "$WINEPREFIX/drive_c/fault-study"
}

# dump FILE: every key and value of the uninstall's roots and of the study's ProgIDs.
dump() { driver dump "Z:${1//\//\\}" "${progids[@]}"; }

# restore BEFORE-LIST: imports every backup file not in BEFORE-LIST (a file) and removes
# the new files; prints "<backups imported> <temporary files> <cut backups>".
restore() {
  local file imported=0 temporary=0 cut=0
  for file in $(comm -13 "$1" <(backups)); do
    case $file in
      *.reg)
        # A whole file ends in an empty line: CR LF CR LF in UTF-16.
        [[ $(tail -c 8 "$(backup_folder)/$file" | od -An -tx1 | tr -d ' \n') == 0d000a000d000a00 ]] || cut=$((cut + 1))
        wine reg import "C:\\ZemaActiveX\\backup\\$file" </dev/null >/dev/null 2>&1 || cut=$((cut + 1))
        imported=$((imported + 1)) ;;
      *) temporary=$((temporary + 1)) ;;
    esac
    rm -f "$(backup_folder)/$file"
  done
  echo "$imported $temporary $cut"
}

study_kills() {
  local names=() n
  progids=()
  for n in 1 2 3 4 5; do
    if [[ ${CONTROLS:-family} == plain ]]; then
      names+=("ZEMA.FaultStudy$n+tlb=7E57F0${n}0-F1F$n-4C3D-8E4F-0123456789AB+bulk=10000.ocx")
      progids+=("ZEMA.FaultStudy$n")
    else
      names+=("ZEMA.FaultStudy$n+tlb=7E57F0${n}0-F1F2-4C3D-8E4F-0123456789AB+full+bulk=10000.ocx")
      progids+=("ZEMA.FaultStudy$n" "ZEMA.FaultStudy$n.1")
    fi
  done
  unregister_all
  register "${names[@]}"
  dump "$work/before.txt"
  backups >"$work/backups.txt"

  local start whole
  start=$(now_ms)
  driver all >/dev/null
  whole=$(( $(now_ms) - start ))
  read -r imported temporary cut < <(restore "$work/backups.txt")
  dump "$work/after.txt"
  if ! cmp -s "$work/before.txt" "$work/after.txt"; then
    echo "$arch: a whole run and its restore already differ ($imported backups); no trials" >&2
    lost=$((lost + 1))
    return
  fi
  echo "$arch: a whole uninstall of the five controls takes $whole ms"

  local trial moment outcome killed
  for ((trial = 1; trial <= trials; trial++)); do
    moment=$(( (RANDOM * 32768 + RANDOM) % (whole + 1) ))
    killed=$(driver kill "$moment")
    read -r imported temporary cut < <(restore "$work/backups.txt")
    dump "$work/after.txt"
    if cmp -s "$work/before.txt" "$work/after.txt" && [[ $cut == 0 ]]; then
      if [[ $imported == 0 ]]; then outcome="nothing deleted, no backup"; nothing=$((nothing + 1))
      else outcome="restored from $imported backups"; restored=$((restored + 1)); fi
    else
      outcome="DATA LOST ($cut cut or unreadable backups, $(differing_lines) lines differ)"
      lost=$((lost + 1))
      # Start the next trial from the registration again.
      unregister_all
      register "${names[@]}"
      dump "$work/before.txt"
    fi
    [[ $temporary -gt 0 ]] && outcome+=", $temporary unfinished temporary file(s)"
    echo "$arch trial $trial: $killed after $moment ms: $outcome"
  done
  unregister_all
}

# full_drive SIZE: from here on drive C: of the prefix is an overlay whose changes go to a
# tmpfs of SIZE (the program refuses a mount point as its folder: Wine shows one as a
# reparse point). No Wine process may run meanwhile.
full_drive() {
  wineserver -k 2>/dev/null || true
  # Under the overlay the program's folder would be another file than the one it recorded,
  # and a folder of the lower layer cannot be moved aside: let it make its folder anew.
  rm -rf "$WINEPREFIX/drive_c/ZemaActiveX"
  mkdir -p "$work/drive"
  mount -t tmpfs -o "size=$1" tmpfs "$work/drive"
  mounted="$work/drive"
  mkdir "$work/drive/upper" "$work/drive/work"
  mount -t overlay overlay -o "lowerdir=$WINEPREFIX/drive_c,upperdir=$work/drive/upper,workdir=$work/drive/work" \
    "$WINEPREFIX/drive_c"
  mounted="$WINEPREFIX/drive_c $work/drive"
}

# back_to_the_disk: drive C: is the prefix's own again.
back_to_the_disk() {
  wineserver -k 2>/dev/null || true
  local point
  for point in $mounted; do umount "$point"; done
  mounted=""
}

study_full_drive() {
  local size name="ZEMA.FullDrive+full+bulk=2000.ocx" output calls verdict left imported deleted boxes
  # 4 MB holds the backup: the uninstall goes through, and its backup restores it (its
  # server is not run there: the overlay makes the drive's root a mount point, and the
  # server check refuses one on a server's way). In the smaller drives the uninstall must
  # not start: nothing deleted, the server not asked to unregister.
  for size in 8k 16k 24k 4m; do
    unregister_all
    register "$name"
    progids=("ZEMA.FullDrive" "ZEMA.FullDrive.1")
    dump "$work/before.txt"
    backups >"$work/backups.txt"
    full_drive "$size"
    output=$(driver all)
    calls=$(cat "$WINEPREFIX/drive_c/fault-study/$name.calls" 2>/dev/null | tr '\n' ' ')
    left=$(comm -13 "$work/backups.txt" <(backups) | tr '\n' ' ')
    dump "$work/after.txt"
    deleted=$(differing_lines)
    read -r imported _ _ < <(restore "$work/backups.txt")
    dump "$work/after.txt"
    back_to_the_disk
    verdict="as it was"
    cmp -s "$work/before.txt" "$work/after.txt" || verdict="CHANGED ($(differing_lines) lines differ)"
    if [[ $size == 4m ]]; then
      [[ $deleted -gt 0 ]] || verdict+=", BUT THE UNINSTALL DID NOT GO THROUGH"
    else
      [[ $deleted == 0 && $calls != *unregister* ]] || verdict+=", BUT THE UNINSTALL STARTED"
    fi
    if [[ $verdict == "as it was" ]]; then full_kept=$((full_kept + 1)); else full_changed=$((full_changed + 1)); fi
    boxes=$(sed -n 's/^box: //p' <<<"$output" | tr '\n' '|')
    echo "$arch drive C: with $size free: the uninstall changed $deleted dump lines; ${imported} backups imported;" \
         "registry then $verdict; server calls: ${calls:-(none recorded)}; new files: ${left:-none};" \
         "boxes: ${boxes:-none}"
  done
  unregister_all
}

status=0
for arch in win64 win32; do
  export WINEPREFIX=$build/wine-$arch
  use_code_page 1252
  make_prefix "$WINEPREFIX" "$arch"
  [[ $arch == win32 ]] && use_code_page 936
  wineserver -p </dev/null >/dev/null 2>&1
  nothing=0 restored=0 lost=0 full_kept=0 full_changed=0
  [[ $trials -gt 0 ]] && study_kills
  if [[ $(id -u) == 0 ]]; then study_full_drive; else echo "$arch: full drive skipped (mount needs root)"; fi
  echo "== $arch: $trials kills: $nothing nothing deleted, $restored restored, $lost DATA LOST;" \
       "full drive: $full_kept as it was, $full_changed changed"
  [[ $lost == 0 && $full_changed == 0 ]] || status=1
  wineserver -k || true
done
exit $status
