#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, skipping what is present.
# Usage: scripts/install-deps.sh [--run]   (--run adds what the run command needs)
set -euo pipefail

want=(cmake make python3 x11-utils g++-mingw-w64-i686-posix wine wine32:i386 wine64 xvfb xauth
      wine32-preloader:i386 wine64-preloader
      fonts-arphic-gkai00mp fonts-arphic-gbsn00lp googletest gcab binutils-mingw-w64-i686)
if [[ "${1:-}" == "--run" ]]; then want+=(imagemagick x11-utils xdotool); fi

missing=()
for p in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [[ ${#missing[@]} -eq 0 ]]; then
  exec "$(dirname "$0")/enable-i386.sh"
fi

SUDO=""; [[ $(id -u) -ne 0 ]] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
# A mirror caught mid-sync fails one index now and then: retry, then go on with what was fetched.
for try in 1 2 3; do
  $SUDO apt-get update -q && break
  sleep 5
done
for try in 1 2 3; do
  $SUDO apt-get install -y -q -t bookworm --no-install-recommends "${missing[@]}" &&
    exec "$(dirname "$0")/enable-i386.sh"
  sleep 5
  $SUDO apt-get update -q || true
done
exit 1
