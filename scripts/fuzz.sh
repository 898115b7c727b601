#!/usr/bin/env bash
# Runs a fuzzer for a set time: bash scripts/fuzz.sh [gif|summary] [SECONDS] [JOBS]
# gif (the default): the GIF codec; seeds: the public test data,
# fuzz/regressions and every GIF the native tests make.
# summary: the reader of setup's summary; seeds: fuzz/summary-regressions.
# New inputs go to build/fuzz-corpus (build/fuzz-corpus-summary), failing
# inputs to build/fuzz-findings.
# Builds an optimised sanitizer build of its own (build/fuzz) for speed.
set -euo pipefail
target=gif
if [ "${1:-}" = gif ] || [ "${1:-}" = summary ]; then
  target=$1
  shift
fi
seconds=${1:-60}
jobs=${2:-1}
source "$(dirname "$0")/env.sh"
kantrel_start

kantrel_configure fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DKANTREL_SANITIZE=ON -DKANTREL_FUZZ=ON
mkdir -p build
cmake --build build/fuzz -j "$(nproc)" >build/fuzz-build.log 2>&1 || {
  tail -40 build/fuzz-build.log
  exit 1
}
mkdir -p build/fuzz-findings
seeds=()
if [ "$target" = summary ]; then
  corpus=build/fuzz-corpus-summary
  seeds+=(fuzz/summary-regressions)
  limits=(-max_len=8192)
else
  corpus=build/fuzz-corpus
  # The native tests write every GIF they make to build/fuzz/gif-corpus.
  if [ -z "$(ls -A build/fuzz/gif-corpus 2>/dev/null)" ]; then
    echo "Making seeds with the native tests"
    ctest --test-dir build/fuzz -E '^fuzz\.fuzz_replay' -j "$(nproc)" >/dev/null || true
  fi
  for d in "$KANTREL_ROOT/../shared/testdata/gif" "$KANTREL_ROOT/../../shared/testdata/gif" \
           fuzz/regressions build/fuzz/gif-corpus; do
    if [ -d "$d" ]; then
      seeds+=("$d")
    fi
  done
  limits=(-max_len=65536)
fi
mkdir -p "$corpus"
echo "Fuzzing $target for $seconds s with $jobs job(s); seeds: ${seeds[*]}"
# The first folder receives new inputs; the seed folders are only read.
"build/fuzz/fuzz/${target}_fuzzer" "$corpus" "${seeds[@]}" \
  -dict="fuzz/$target.dict" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 "${limits[@]}" \
  -print_final_stats=1 -artifact_prefix=build/fuzz-findings/ \
  $( [ "$jobs" -gt 1 ] && echo "-jobs=$jobs -workers=$jobs" )
