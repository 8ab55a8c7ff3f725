#!/bin/sh
# Installs the Debian 12 packages that one purpose needs; idempotent: it touches apt only when
# a package is missing. Works as root, and through sudo otherwise.
#
#   scripts/install-deps.sh programs   building and running mostel and quillet (the demo)
#   scripts/install-deps.sh [tests]    everything the tests use: the above, the test and
#                                      benchmark libraries, the packaging tools, and the
#                                      32-bit and 64-bit Windows builds with Wine to run them
#
# Only the tests change the machine's apt set-up: wine32 is an i386 package, so the i386
# architecture is added to dpkg; and the Windows build compiles LodePNG from Debian's source
# package, so a deb-src entry for the machine's own mirror is added in
# /etc/apt/sources.list.d/pixeltools-src.sources.
set -eu

purpose="${1:-tests}"
PROGRAM_PACKAGES="cmake g++ make pkg-config liblodepng-dev libmagickwand-6.q16-dev libmagickwand-6.q16-6"
# Tests and benchmarks; cpack's dependency scan (dpkg-dev) and lintian for the package test.
# clang and its libFuzzer and sanitizer runtimes build the fuzz targets.
TEST_PACKAGES="libgtest-dev libgmock-dev libbenchmark-dev dpkg-dev lintian clang libclang-rt-14-dev"
# ImageMagick's convert: the series benchmark times its naive pipeline as the baseline.
TEST_PACKAGES="$TEST_PACKAGES imagemagick"
# The real consumers of quillet's data files: chromium (driven by puppeteer from npm) and Godot 3.
TEST_PACKAGES="$TEST_PACKAGES chromium godot3-server"
# node and npm run the web consumers; a machine that has them from elsewhere keeps its own.
command -v node >/dev/null 2>&1 || TEST_PACKAGES="$TEST_PACKAGES nodejs"
command -v npm >/dev/null 2>&1 || TEST_PACKAGES="$TEST_PACKAGES npm"
# The 32-bit and 64-bit Windows builds and their tests under Wine on a virtual display (wine32
# runs the 32-bit programs where the kernel runs 32-bit programs, wine64 the 64-bit ones);
# dpkg-dev and patch unpack LodePNG's source package for those builds (dpkg-dev is among the test packages), and
# googletest holds the GoogleTest sources that their test program is compiled with.
WINDOWS_PACKAGES="g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64 xvfb xauth patch googletest"
SOURCES=/etc/apt/sources.list.d/pixeltools-src.sources

case "$purpose" in
  programs) PACKAGES="$PROGRAM_PACKAGES" ;;
  tests) PACKAGES="$PROGRAM_PACKAGES $TEST_PACKAGES $WINDOWS_PACKAGES" ;;
  *) echo "usage: $0 [programs|tests]" >&2; exit 2 ;;
esac

if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
APT="apt-get -o DPkg::Lock::Timeout=900"

update=""
if [ "$purpose" = tests ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "adding the i386 architecture to dpkg (for wine32)" >&2
    $SUDO dpkg --add-architecture i386
    update=1
  fi
  # Source packages, from the same mirror as the machine's own packages.
  if [ ! -f "$SOURCES" ]; then
    uri=$(grep -h -m1 '^URIs:' /etc/apt/sources.list.d/debian.sources 2>/dev/null | awk '{print $2}')
    [ -n "$uri" ] || uri=$(grep -h -m1 '^deb ' /etc/apt/sources.list 2>/dev/null | awk '{print $2}')
    echo "adding a deb-src entry in $SOURCES (for LodePNG's source)" >&2
    printf 'Types: deb-src\nURIs: %s\nSuites: bookworm\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' "$uri" |
      $SUDO tee "$SOURCES" >/dev/null
    update=1
  fi
fi

missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing="$missing $p"
  fi
done
[ -z "$missing$update" ] && exit 0

[ -n "$missing" ] && echo "installing:$missing" >&2
# A mirror that is being synced can fail one index (seen: the security archive's i386 list); the
# install below then uses the indexes that did arrive, and fails itself if a package is missing.
if ! $SUDO $APT update; then
  echo "apt-get update failed for some index; installing from the indexes that arrived" >&2
fi
[ -z "$missing" ] && exit 0
# wine32 goes in on its own: its i386 libraries must match the versions of the machine's own, so
# an i386 index that did not arrive makes it uninstallable. That leaves the 32-bit Windows
# tests, which scripts/test-windows.sh then skips with the reason; everything else is required.
rest=""
wine32=""
for p in $missing; do
  if [ "$p" = "wine32:i386" ]; then wine32=1; else rest="$rest $p"; fi
done
if [ -n "$rest" ]; then
  # shellcheck disable=SC2086
  $SUDO env DEBIAN_FRONTEND=noninteractive $APT install -y --no-install-recommends $rest </dev/null
fi
if [ -n "$wine32" ] &&
   ! $SUDO env DEBIAN_FRONTEND=noninteractive $APT install -y --no-install-recommends wine32:i386 </dev/null; then
  echo "wine32:i386 could not be installed; the 32-bit Windows tests will be skipped" >&2
fi
