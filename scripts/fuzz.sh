#!/bin/sh
# Installs everything the tests use (clang and its fuzzing runtime among them), builds the
# libFuzzer targets (preset fuzz), replays every input of fuzz/regressions/<target>/,
# then fuzzes each target for a bounded time (seconds, 60 unless told) from a scratch corpus
# seeded with those inputs and the samples. A crash, a leak or a sanitizer report fails it; the
# input that caused it is left in the scratch directory, which is named.
set -eu
cd "$(dirname "$0")/.."
seconds="${1:-60}"
root=$(pwd)
scripts/install-deps.sh tests
cmake --preset fuzz
cmake --build --preset fuzz -j "$(nproc)"

targets="fuzz_bmp fuzz_mostel_png fuzz_command_line fuzz_parameter_form fuzz_import fuzz_png_sprite fuzz_stand_ins fuzz_output_files"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/pixeltools-fuzz.XXXXXX")
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# The imaging library keeps caches of its own for the life of the process.
options_for() {
  case "$1" in
    fuzz_import) echo "-rss_limit_mb=2048 -timeout=30 -close_fd_mask=3 -detect_leaks=0" ;;
    *) echo "-rss_limit_mb=2048 -timeout=30 -close_fd_mask=3" ;;
  esac
}

for target in $targets; do
  binary="build/fuzz/fuzz/$target"
  regressions="fuzz/regressions/${target#fuzz_}"
  if [ -d "$regressions" ] && [ -n "$(ls -A "$regressions")" ]; then
    echo "== $target: replaying $regressions"
    # shellcheck disable=SC2046
    "$binary" $(options_for "$target") "$root/$regressions"/*
  fi
done

for target in $targets; do
  binary="build/fuzz/fuzz/$target"
  regressions="fuzz/regressions/${target#fuzz_}"
  corpus="$scratch/$target"
  mkdir -p "$corpus"
  [ -d "$regressions" ] && cp "$regressions"/* "$corpus"/ 2>/dev/null || true
  case "$target" in
    fuzz_mostel_png | fuzz_png_sprite | fuzz_stand_ins) cp samples/*.png "$corpus"/ ;;
    fuzz_import) cp samples/*.png "$corpus"/ && cp tests/data/pngsuite/bmp/*.bmp "$corpus"/ 2>/dev/null || true ;;
    fuzz_bmp) cp tests/data/pngsuite/bmp/*.bmp "$corpus"/ 2>/dev/null || true ;;
  esac
  echo "== $target: fuzzing for $seconds s"
  # shellcheck disable=SC2046
  (cd "$scratch" && "$root/$binary" $(options_for "$target") -max_total_time="$seconds" -print_final_stats=0 \
     -artifact_prefix="$scratch/$target-" "$corpus") ||
    { echo "fuzz: $target failed; its input is in $scratch" >&2; exit 1; }
done
rm -rf "$scratch"
echo "fuzz: every target replayed its regressions and ran ${seconds} s without a fault"
