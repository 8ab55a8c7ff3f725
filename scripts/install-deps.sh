#!/bin/sh
# Installs every Debian package that building and testing need. Idempotent: it touches apt
# only when a package is missing. Works as root, and through sudo otherwise.
set -eu

PACKAGES="cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev liblodepng-dev libmagickwand-6.q16-dev libmagickwand-6.q16-6"

missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing="$missing $p"
  fi
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
echo "installing:$missing" >&2
$SUDO apt-get update
# shellcheck disable=SC2086
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
