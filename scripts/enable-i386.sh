#!/usr/bin/env bash
# Wine's 32-bit half is an i386 Linux program. Some kernels boot with 32-bit
# emulation switched off; there the i386 binaries run through qemu's user-mode
# emulator, registered with binfmt_misc. qemu 7.2 (bookworm) corrupts 32-bit
# Wine processes now and then; the backported qemu runs them reliably.
# Does nothing where i386 binaries run natively.
set -euo pipefail
misc=/proc/sys/fs/binfmt_misc
if [[ ! -e $misc/qemu-i386 ]]; then
  rc=0; /usr/lib/wine/wine-preloader >/dev/null 2>&1 || rc=$?
  [[ $rc -ne 126 ]] && exit 0   # 126: the kernel cannot execute it
fi

SUDO=""; [[ $(id -u) -ne 0 ]] && SUDO="sudo"
qemu=/usr/bin/qemu-i386-static
major=$("$qemu" --version 2>/dev/null | sed -n 's/^qemu-i386 version \([0-9]*\).*/\1/p' || true)
if [[ -z $major || $major -lt 10 ]]; then
  list=/etc/apt/sources.list.d/bookworm-backports.sources
  if [[ ! -f $list ]]; then
    printf '%s\n' 'Types: deb' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm-backports' \
      'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' | $SUDO tee "$list" >/dev/null
  fi
  for try in 1 2 3; do
    $SUDO apt-get update -q >/dev/null 2>&1 || true
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q -t bookworm-backports \
      --no-install-recommends qemu-user-static >/dev/null && break
    sleep 5
  done
fi

[[ -e $misc/register ]] || $SUDO mount -t binfmt_misc binfmt_misc "$misc"
# The F flag pins the interpreter that was installed when the entry was made:
# make the entry anew whenever qemu has changed since.
stamp=/run/qemu-i386-binfmt.stamp
current=$(stat -c %Y "$qemu")
if [[ -e $misc/qemu-i386 && "$(cat "$stamp" 2>/dev/null)" != "$current" ]]; then
  echo -1 | $SUDO tee "$misc/qemu-i386" >/dev/null
fi
if [[ ! -e $misc/qemu-i386 ]]; then
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  echo ":qemu-i386:M::$magic:$mask:$qemu:F" | $SUDO tee "$misc/register" >/dev/null
  echo "$current" | $SUDO tee "$stamp" >/dev/null
fi
