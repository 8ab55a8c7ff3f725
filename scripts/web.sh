#!/bin/sh
# The library in the browser: the WebAssembly build (preset wasm), the npm package and the page.
#
#   scripts/web.sh build          installs what the build needs (emscripten, node), builds, and
#                                 leaves the npm package in build/web/package/ and the page in
#                                 build/web/site/ (a folder any static server can publish)
#   scripts/web.sh [serve [PORT]] builds, then serves the page on http://127.0.0.1:PORT/ (8080)
set -eu
cd "$(dirname "$0")/.."

if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
# Installs the Debian packages named that are missing.
install_packages() {
  missing=""
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
  done
  [ -z "$missing" ] && return 0
  echo "installing$missing" >&2
  # A mirror being synced can fail one index (seen: the i386 one that the test install adds);
  # the install then uses the indexes that arrived, and fails itself if a package is missing.
  $SUDO apt-get -o DPkg::Lock::Timeout=900 update -qq || echo "apt-get update failed for some index; installing from the indexes that arrived" >&2
  # shellcheck disable=SC2086
  $SUDO apt-get -o DPkg::Lock::Timeout=900 install -y -qq $missing >/dev/null
}

# LodePNG is compiled from Debian's source package (scripts/fetch-lodepng-source.sh), which
# needs a deb-src entry for the machine's own mirror, as install-deps.sh adds it.
SOURCES=/etc/apt/sources.list.d/pixeltools-src.sources
add_sources() {
  [ -f "$SOURCES" ] && return 0
  uri=$(grep -h -m1 '^URIs:' /etc/apt/sources.list.d/debian.sources 2>/dev/null | awk '{print $2}')
  [ -n "$uri" ] || uri=$(grep -h -m1 '^deb ' /etc/apt/sources.list 2>/dev/null | awk '{print $2}')
  echo "adding a deb-src entry in $SOURCES (for LodePNG's source)" >&2
  printf 'Types: deb-src\nURIs: %s\nSuites: bookworm\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' "$uri" |
    $SUDO tee "$SOURCES" >/dev/null
  # A mirror being synced can fail one index (seen: the i386 one that the test install adds);
  # the install then uses the indexes that arrived, and fails itself if a package is missing.
  $SUDO apt-get -o DPkg::Lock::Timeout=900 update -qq || echo "apt-get update failed for some index; installing from the indexes that arrived" >&2
}

build() {
  add_sources
  install_packages cmake make dpkg-dev patch emscripten
  # emscripten's own tools run under node, with Debian's node modules.
  command -v node >/dev/null || install_packages nodejs
  export NODE_PATH="${NODE_PATH:-/usr/share/nodejs}"
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
  if command -v ccache >/dev/null; then
    export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
  fi
  cmake --preset wasm >/dev/null
  cmake --build --preset wasm -j2

  package=build/web/package
  rm -rf "$package" && mkdir -p "$package"
  cp web/module/*.js web/module/index.d.ts web/module/package.json web/module/README.md "$package/"
  cp build/wasm/web/pixeltools-wasm.js build/wasm/web/pixeltools-wasm.wasm "$package/"
  cp LICENSE "$package/LICENSE"
  cp build/wasm/lodepng/LICENSE "$package/LICENSE.lodepng"

  site=build/web/site
  rm -rf "$site" && mkdir -p "$site/pixeltools"
  cp web/site/* "$site/"
  for f in index.js client.js worker.js worker-core.js pixeltools-wasm.js pixeltools-wasm.wasm LICENSE LICENSE.lodepng; do
    cp "$package/$f" "$site/pixeltools/"
  done
  echo "npm package: $package/   page: $site/" >&2
}

command="${1:-serve}"
case "$command" in
  build) build ;;
  serve)
    port="${2:-8080}"
    build
    echo "serving build/web/site on http://127.0.0.1:$port/ (Ctrl-C stops)" >&2
    exec python3 -m http.server --bind 127.0.0.1 --directory build/web/site "$port"
    ;;
  *) echo "usage: $0 [build | serve [PORT]]" >&2; exit 2 ;;
esac
