#!/bin/sh
# Installs every Debian package that building and testing need. Idempotent: it touches apt
# only when a package is missing. Works as root, and through sudo otherwise.
set -eu

PACKAGES="cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev liblodepng-dev libmagickwand-6.q16-dev libmagickwand-6.q16-6"
# The 32-bit Windows build and its tests under Wine on a virtual display; dpkg-dev and patch
# unpack LodePNG's source package for that build.
WINDOWS_PACKAGES="g++-mingw-w64-i686 wine wine32:i386 wine64 xvfb xauth xdotool imagemagick dpkg-dev patch qemu-user-static"
PACKAGES="$PACKAGES $WINDOWS_PACKAGES"
SOURCES=/etc/apt/sources.list.d/pixeltools-src.sources

if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi

update=""
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  update=1
fi
# Source packages, from the same mirror as the machine's own packages.
if [ ! -f "$SOURCES" ]; then
  uri=$(grep -h -m1 '^URIs:' /etc/apt/sources.list.d/debian.sources 2>/dev/null | awk '{print $2}')
  [ -n "$uri" ] || uri=$(grep -h -m1 '^deb ' /etc/apt/sources.list 2>/dev/null | awk '{print $2}')
  printf 'Types: deb-src\nURIs: %s\nSuites: bookworm\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' "$uri" |
    $SUDO tee "$SOURCES" >/dev/null
  update=1
fi

missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing="$missing $p"
  fi
done
[ -z "$missing$update" ] && exit 0

[ -n "$missing" ] && echo "installing:$missing" >&2
$SUDO apt-get update
[ -z "$missing" ] && exit 0
# shellcheck disable=SC2086
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing

