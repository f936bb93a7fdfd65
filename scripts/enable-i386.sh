#!/usr/bin/env bash
# Wine's 32-bit half is an i386 Linux program. Some kernels boot with 32-bit
# emulation switched off; there the i386 binaries run through qemu's user-mode
# emulator, registered with binfmt_misc. Does nothing where they run natively.
set -euo pipefail
probe=/usr/lib/wine/wine-preloader
[[ -x $probe ]] || probe=/usr/lib/wine/wine
rc=0; "$probe" >/dev/null 2>&1 || rc=$?
[[ $rc -ne 126 ]] && exit 0   # 126: the kernel cannot execute it

SUDO=""; [[ $(id -u) -ne 0 ]] && SUDO="sudo"
misc=/proc/sys/fs/binfmt_misc
[[ -e $misc/register ]] || $SUDO mount -t binfmt_misc binfmt_misc "$misc"
if [[ ! -e $misc/qemu-i386 ]]; then
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  echo ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:F" | $SUDO tee "$misc/register" >/dev/null
fi
