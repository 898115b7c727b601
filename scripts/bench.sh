#!/usr/bin/env bash
# Builds the decoding benchmark natively, makes the corpus when it is missing,
# times this codec, wuffs (when ../shared/peers/wuffs is there), giflib and
# stb_image on the corpus and on the public benchmark images, prints the
# table of ratios, and measures the peak memory of one decode per file and
# decoder. Extra arguments go to the benchmark
# (for instance --benchmark_filter=photo). Not part of the test command:
# timings on a shared machine are noisy.
set -euo pipefail
source "$(dirname "$0")/env.sh"
kantrel_start

kantrel_configure native -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/native -j2 --target gifbench >build/bench-build.log 2>&1 ||
  { tail -30 build/bench-build.log; exit 1; }
bench=build/native/bench/gifbench
[ -f bench/corpus/screen-anim.gif ] || bash bench/make-corpus.sh >/dev/null

paths=(bench/corpus)
for d in "$KANTREL_ROOT/../shared/testdata/gif/wuffs" "$KANTREL_ROOT/../../shared/testdata/gif/wuffs"; do
  if [ -d "$d" ]; then paths+=("$d"); break; fi
done

"$bench" --verify "${paths[@]}" || echo "WARNING: our indices differ from giflib's (above)"
"$bench" --benchmark_repetitions="${KANTREL_BENCH_REPETITIONS:-5}" --benchmark_min_time=0.2 \
  --benchmark_display_aggregates_only=true "$@" "${paths[@]}"

# Peak resident memory of a process that reads the file and decodes it once,
# less its file-backed pages (code and libraries, which differ from run to
# run by more than the goal's margins): the peak of its data, as gifbench
# --peak reports it. "none" only reads the file, the baseline of the others.
# The kernel counts resident pages in batches, so large peaks still vary by
# a hundred KiB or so; the heap table below is exact. The image model keeps
# every frame's encoded data by design, so the goal for ours is giflib's
# peak plus the file's size.
echo
echo "Peak memory (resident data, KiB) of one decode; goal: ours <= giflib + file"
decoders=(none ours giflib stb)
# wuffs when gifbench was built with it.
"$bench" --decoders | grep -qx wuffs && decoders+=(wuffs)
printf '%-40s' file; printf ' %8s' "${decoders[@]}" file goal margin; echo
files=(bench/corpus/*.gif)
[ ${#paths[@]} -gt 1 ] && files+=("${paths[1]}"/*.gif)
met=0 total=0
for f in "${files[@]}"; do
  printf '%-40s' "$(basename "$f")"
  declare -A peak=()
  for d in "${decoders[@]}"; do
    # The least of three runs.
    peak[$d]=$(for run in 1 2 3; do
      ("$bench" --peak "$d" "$f" 2>&1 >/dev/null || true) | sed -n 's/^peak data KiB: //p'
    done | sort -n | head -1)
    printf ' %8s' "${peak[$d]}"
  done
  size=$(( ($(stat -c %s "$f") + 1023) / 1024 ))
  goal=$(( peak[giflib] + size ))
  margin=$(( goal - peak[ours] ))
  printf ' %8s %8s %8s %s\n' "$size" "$goal" "$margin" "$([ "$margin" -ge 0 ] && echo met || echo MISSED)"
  total=$((total + 1))
  [ "$margin" -ge 0 ] && met=$((met + 1))
done
echo "Memory goal met on $met of $total files"

# Resident sizes of small files vary by more than the goal's margin; the peak
# heap (allocator overhead included) under valgrind's massif does not. With
# KANTREL_BENCH_HEAP=1, the same goal on peak heap.
if [ -n "${KANTREL_BENCH_HEAP:-}" ]; then
  heap_kib() {
    local out
    out=$(mktemp)
    valgrind --tool=massif --peak-inaccuracy=0 --massif-out-file="$out" "$bench" --peak "$1" "$2" \
      >/dev/null 2>&1 || true
    awk -F= '/^mem_heap_B/ { h = $2 } /^mem_heap_extra_B/ { if (h + $2 > m) m = h + $2 }
             END { printf "%d", (m + 1023) / 1024 }' "$out"
    rm -f "$out"
  }
  echo
  echo "Peak heap (KiB, valgrind massif) of one decode; goal: ours <= giflib + file"
  printf '%-40s' file; printf ' %8s' ours giflib file goal margin; echo
  met=0
  for f in "${files[@]}"; do
    ours=$(heap_kib ours "$f")
    giflib=$(heap_kib giflib "$f")
    size=$(( ($(stat -c %s "$f") + 1023) / 1024 ))
    margin=$(( giflib + size - ours ))
    printf '%-40s %8s %8s %8s %8s %8s %s\n' "$(basename "$f")" "$ours" "$giflib" "$size" "$((giflib + size))" \
      "$margin" "$([ "$margin" -ge 0 ] && echo met || echo MISSED)"
    [ "$margin" -ge 0 ] && met=$((met + 1))
  done
  echo "Memory goal (peak heap) met on $met of ${#files[@]} files"
fi

# Instruction counts are steadier than times on a busy machine: with
# KANTREL_BENCH_INSTRUCTIONS=1, one decode per file and decoder under
# cachegrind, less the count of a process that only reads the file.
if [ -n "${KANTREL_BENCH_INSTRUCTIONS:-}" ]; then
  # A decoder that fails on a file still has its instructions counted.
  instructions() {
    { valgrind --tool=cachegrind --cache-sim=no --cachegrind-out-file=/dev/null "$bench" --peak "$1" "$2" 2>&1 ||
      true; } | sed -n 's/.*I *refs: *//p' | tr -d ,
  }
  echo
  echo "Instructions of one decode (millions)"
  peers=("${decoders[@]:2}")
  printf '%-40s' file; printf ' %8s' ours "${peers[@]}"; printf ' %9s' "${peers[@]/%//us}"; echo
  for f in "${files[@]}"; do
    base=$(instructions none "$f")
    printf '%-40s' "$(basename "$f")"
    declare -A count=()
    for d in ours "${peers[@]}"; do
      count[$d]=$(( $(instructions "$d" "$f") - base ))
      awk -v n="${count[$d]}" 'BEGIN { printf " %8.1f", n / 1e6 }'
    done
    for d in "${peers[@]}"; do
      awk -v g="${count[$d]}" -v o="${count[ours]}" 'BEGIN { if (o > 0) printf " %9.2f", g / o; else printf " %9s", "-" }'
    done
    echo
  done
fi
