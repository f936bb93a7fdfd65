#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, skipping what is present.
# Usage: scripts/install-deps.sh [--run]   (--run adds what the run command needs)
set -euo pipefail
here=$(dirname "$0")

want=(cmake make python3 x11-utils g++-mingw-w64-i686-posix wine wine32:i386 wine64 xvfb xauth
      wine32-preloader:i386 wine64-preloader locales
      fonts-arphic-gkai00mp fonts-arphic-gbsn00lp googletest gcab binutils-mingw-w64-i686 rsync
      g++-mingw-w64-x86-64-posix)
if [[ "${1:-}" == "--run" ]]; then want+=(imagemagick x11-utils xdotool); fi

SUDO=""; [[ $(id -u) -ne 0 ]] && SUDO="sudo"

missing=()
for p in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [[ ${#missing[@]} -gt 0 ]]; then
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  # A mirror caught mid-sync fails one index now and then: retry, then go on with what was fetched.
  for try in 1 2 3; do
    $SUDO apt-get update -q && break
    sleep 5
  done
  installed=false
  for try in 1 2 3; do
    $SUDO apt-get install -y -q -t bookworm --no-install-recommends "${missing[@]}" && { installed=true; break; }
    sleep 5
    $SUDO apt-get update -q || true
  done
  $installed || exit 1
fi

# The tests' second pass runs in code page 936 and their third in 65001, which Wine takes
# from these locales; its file names are right only when a locale has been generated.
# `locale -a` spells "xx_YY.UTF-8" as "xx_YY.utf8".
for code_page_locale in $(source "$here/wine-env.sh" && echo "$CP936_LOCALE $CP65001_LOCALE"); do
  if ! locale -a | grep -qix "${code_page_locale%.*}.utf8"; then
    entry="$code_page_locale UTF-8"
    if ! grep -qxF "$entry" /etc/locale.gen; then echo "$entry" | $SUDO tee -a /etc/locale.gen >/dev/null; fi
    $SUDO locale-gen
  fi
done

exec "$here/enable-i386.sh"
