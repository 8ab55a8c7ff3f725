#!/bin/sh
# 32-bit Wine needs a kernel that runs 32-bit x86 programs. Where the kernel cannot (no IA32
# emulation), register qemu's i386 user-mode emulator for them with binfmt_misc. Idempotent;
# needs root (or sudo).
set -eu
if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then exit 0; fi
if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
[ -x /usr/bin/qemu-i386-static ] || { echo "qemu-user-static is missing" >&2; exit 1; }
if [ ! -f /proc/sys/fs/binfmt_misc/register ]; then
  $SUDO mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
fi
if [ ! -f /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
  # i386 ELF executables and shared objects; the F flag keeps the interpreter open.
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
    $SUDO tee /proc/sys/fs/binfmt_misc/register >/dev/null
fi
/lib/ld-linux.so.2 --version >/dev/null 2>&1 || { echo "32-bit programs still cannot run" >&2; exit 1; }
