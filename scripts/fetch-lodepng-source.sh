#!/bin/sh
# Puts lodepng.cpp, lodepng.h and LICENSE of Debian's lodepng source package, with Debian's patches
# applied, into the given folder (a folder of the build tree). The Windows build compiles them;
# they are never committed. Needs the deb-src entry that install-deps.sh adds.
set -eu
dest="$1"
[ -f "$dest/lodepng.cpp" ] && [ -f "$dest/lodepng.h" ] && [ -f "$dest/LICENSE" ] && exit 0
mkdir -p "$dest/download"
cd "$dest/download"
apt-get source --download-only lodepng >/dev/null
rm -rf src && mkdir src
tar -xzf lodepng_*.orig.tar.* -C src --strip-components=1
if ls lodepng_*.debian.tar.* >/dev/null 2>&1; then
  tar -xJf lodepng_*.debian.tar.* -C src
  if [ -f src/debian/patches/series ]; then
    for p in $(grep -v '^#' src/debian/patches/series); do
      patch -s -d src -p1 < "src/debian/patches/$p"
    done
  fi
fi
cp src/lodepng.cpp src/lodepng.h src/LICENSE "$dest/"
