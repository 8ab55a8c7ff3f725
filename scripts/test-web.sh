#!/bin/sh
# The WebAssembly module and the page: builds them (scripts/web.sh build), installs Debian's
# chromium and the browser test's npm packages (puppeteer-core, pinned in
# tests/web/package-lock.json, no browser download), then runs the web tests of the release
# build, which compare the module's and the page's files with its programs' files.
set -eu
cd "$(dirname "$0")/.."
scripts/web.sh build

if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
missing=""
for p in chromium; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
command -v npm >/dev/null || missing="$missing npm"
if [ -n "$missing" ]; then
  echo "installing$missing" >&2
  # A mirror being synced can fail one index (seen: the i386 one that the test install adds);
  # the install then uses the indexes that arrived, and fails itself if a package is missing.
  $SUDO apt-get -o DPkg::Lock::Timeout=900 update -qq || echo "apt-get update failed for some index; installing from the indexes that arrived" >&2
  # shellcheck disable=SC2086
  $SUDO apt-get -o DPkg::Lock::Timeout=900 install -y -qq $missing >/dev/null
fi

deps=build/web/test-deps
mkdir -p "$deps"
if ! cmp -s tests/web/package-lock.json "$deps/package-lock.json" || [ ! -d "$deps/node_modules" ]; then
  cp tests/web/package.json tests/web/package-lock.json "$deps/"
  (cd "$deps" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error)
fi

# The web tests are registered only while PIXELTOOLS_WEB is on: on for this run, off after it.
cmake --preset release -DPIXELTOOLS_WEB=ON >/dev/null
status=0
cmake --build --preset release -j2 && ctest --preset release -L web --output-on-failure || status=$?
cmake --preset release -DPIXELTOOLS_WEB=OFF >/dev/null
exit "$status"
