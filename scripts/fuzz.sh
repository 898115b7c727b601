#!/usr/bin/env bash
# Runs the GIF fuzzer for a set time: bash scripts/fuzz.sh [SECONDS] [JOBS]
# Seeds: the public test data, fuzz/regressions and every GIF the native tests
# make. New inputs go to build/fuzz-corpus, failing inputs to build/fuzz-findings.
# Builds an optimised sanitizer build of its own (build/fuzz) for speed.
set -euo pipefail
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
# The native tests write every GIF they make to build/fuzz/gif-corpus.
if [ -z "$(ls -A build/fuzz/gif-corpus 2>/dev/null)" ]; then
  echo "Making seeds with the native tests"
  ctest --test-dir build/fuzz -E '^fuzz\.fuzz_replay' -j "$(nproc)" >/dev/null || true
fi

mkdir -p build/fuzz-corpus build/fuzz-findings
seeds=()
for d in "$KANTREL_ROOT/../shared/testdata/gif" "$KANTREL_ROOT/../../shared/testdata/gif" \
         fuzz/regressions build/fuzz/gif-corpus; do
  if [ -d "$d" ]; then
    seeds+=("$d")
  fi
done
echo "Fuzzing for $seconds s with $jobs job(s); seeds: ${seeds[*]}"
# The first folder receives new inputs; the seed folders are only read.
build/fuzz/fuzz/gif_fuzzer build/fuzz-corpus "${seeds[@]}" \
  -dict=fuzz/gif.dict -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
  -print_final_stats=1 -artifact_prefix=build/fuzz-findings/ \
  $( [ "$jobs" -gt 1 ] && echo "-jobs=$jobs -workers=$jobs" )
