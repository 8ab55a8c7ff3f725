#!/bin/sh
# Builds the Debian package of this build tree, checks what it declares, unpacks it into a
# scratch root and runs both programs from there on a sample; their files must match those of
# the build tree's programs. lintian must report no error.
# Arguments: cpack, the build tree, the samples folder, a scratch folder (emptied first).
set -eu
cpack="$1" build="$2" samples="$3" scratch="$4"
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$scratch"
mkdir -p "$scratch/root" "$scratch/packaged" "$scratch/built"
"$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; fail "cpack"; }
set -- "$scratch"/out/*.deb
[ $# -eq 1 ] && [ -f "$1" ] || fail "expected one .deb, got: $*"
deb="$1"
case "$(basename "$deb")" in pixeltools_*_*.deb) ;; *) fail "unexpected name $deb" ;; esac

depends=$(dpkg-deb -f "$deb" Depends)
for needed in liblodepng0 libmagickwand-6.q16-6 libc6 libstdc++6; do
  echo "$depends" | grep -q "\(^\|, \)$needed\( \|,\|$\)" || fail "Depends lacks $needed: $depends"
done

dpkg -x "$deb" "$scratch/root"
for f in usr/bin/mostel usr/bin/quillet usr/share/man/man1/mostel.1.gz usr/share/man/man1/quillet.1.gz \
         usr/share/doc/pixeltools/copyright usr/share/doc/pixeltools/changelog.Debian.gz; do
  [ -f "$scratch/root/$f" ] || fail "missing $f"
done
for page in mostel quillet; do
  gzip -t "$scratch/root/usr/share/man/man1/$page.1.gz" || fail "$page.1.gz is not gzip"
done
file_info=$(od -An -c -N4 "$scratch/root/usr/bin/mostel" | tr -d ' ')
[ "$file_info" = "177ELF" ] || fail "usr/bin/mostel is not a program"

# Both programs, packaged and built, on the same samples.
run_both() {  # folder, program, arguments...
  dir="$1" program="$2"
  shift 2
  (cd "$scratch/packaged" && "$scratch/root/usr/bin/$program" "$@") >"$scratch/packaged.log" 2>&1 ||
    { cat "$scratch/packaged.log" >&2; fail "packaged $program $*"; }
  (cd "$scratch/built" && "$build/$dir/$program" "$@") >/dev/null 2>&1 || fail "built $program $*"
}
run_both mostel mostel "$samples/sheet.png" sheet-3x.png
run_both quillet/ui quillet -in "$samples/sword.png" -out sword -angle 30 -scale 2
for f in sheet-3x.png sword.bmp; do
  cmp "$scratch/packaged/$f" "$scratch/built/$f" || fail "$f differs between the packaged and the built program"
done
"$scratch/root/usr/bin/mostel" --version | grep -q '^mostel [0-9]' || fail "mostel --version"
"$scratch/root/usr/bin/quillet" --version | grep -q '^quillet [0-9]' || fail "quillet --version"

# lintian warns about running as root; only errors fail.
command -v lintian >/dev/null || fail "lintian is not installed (scripts/install-deps.sh tests)"
lintian --fail-on error "$deb" 2>/dev/null || fail "lintian reports errors"
echo "ok: $(basename "$deb")"
