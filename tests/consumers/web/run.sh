#!/bin/bash
# The web consumers: the pinned engines installed from package-lock.json into the build tree
# (again only when the lock file changes), then consumers.mjs in Debian's chromium.
# Usage: run.sh QUILLET INPUT_PNG WORK_DIR
set -eu
quillet=$1 input=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
cache=$work/npm
mkdir -p "$cache"
if ! cmp -s "$here/package-lock.json" "$cache/package-lock.json" || [ ! -d "$cache/node_modules" ]; then
  rm -rf "$cache/node_modules"
  cp "$here/package.json" "$here/package-lock.json" "$cache/"
  # The browser is the system's: puppeteer downloads none.
  (cd "$cache" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --ignore-scripts --no-audit --no-fund --loglevel=error)
fi
exec node "$here/consumers.mjs" "$quillet" "$input" "$work" "$cache/node_modules"
