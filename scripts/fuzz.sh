#!/usr/bin/env bash
# Fuzz campaign: fuzz.sh [RUNS] [TARGET...]. Builds the libFuzzer targets with clang into build-fuzz,
# then runs each target (all when none is named) for RUNS inputs (default 10000000; "60s" runs 60
# seconds instead) on build-fuzz/corpus/TARGET, seeded from tests/fuzz/seeds/TARGET and, for the
# stream targets, from the recorded streams of the shared data folder (read only). Prints per target
# the runs, the coverage (the highest cov/ft libFuzzer printed) and the crashes found (in build-fuzz/crashes).
# FUZZ_WORKERS=N runs each target in N processes that share its corpus, for the slow targets.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-10000000}
[ $# -gt 0 ] && shift
workers=${FUZZ_WORKERS:-1}
root=$(pwd)
data=${KAVRO_SHARED_DATA:-$(pwd)/../shared/data}

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKAVRO_FUZZ=ON \
  -DKAVRO_TESTS=OFF -DKAVRO_SHARED_DATA="$data" > /dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in tests/fuzz/*Fuzz.cpp; do
    name=$(basename "$f" .cpp)
    targets+=("${name%Fuzz}")
  done
fi
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]/#/fuzz_}"

# Longest input per target, and the shared data folders that hold streams for it. The format search
# keeps at most 1024 unrecognised bytes and hands a found stream on, so its inputs stay short; the
# decoders behind it have their own long-input targets.
max_len() {
  case $1 in
    Rtcm3 | Cmr | Rtca | Connection) echo 16384 ;;
    IpLocation | VectorMap) echo 8192 ;;
    *) echo 4096 ;;
  esac
}
stream_dirs() {
  case $1 in
    Rtcm3) echo "$data/rtcm3" ;;
    Cmr) echo "$data/cmr" ;;
    FormatSearch) echo "$data/rtcm3 $data/cmr $data/rtcm2" ;;
    Gga) echo "$data/nmea" ;;
  esac
}

if [[ $runs == *s ]]; then limit=(-max_total_time="${runs%s}"); else limit=(-runs="$runs"); fi
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p build-fuzz/crashes
status=0
printf '%-14s %12s %8s %8s %8s\n' target runs cov ft crashes
for t in "${targets[@]}"; do
  corpus=build-fuzz/corpus/$t
  mkdir -p "$corpus" "build-fuzz/crashes/$t"
  extra=()
  for d in $(stream_dirs "$t"); do
    # Each recorded stream as a starting input of at most max_len bytes.
    if [ -d "$d" ]; then
      mkdir -p "build-fuzz/streams/$t"
      find "$d" -type f ! -name '*.md' -size -2M -exec sh -c \
        'for f; do head -c '"$(max_len "$t")"' "$f" > "build-fuzz/streams/'"$t"'/$(echo "$f" | md5sum | cut -c1-16)"; done' sh {} +
      extra=("build-fuzz/streams/$t")
    fi
  done
  log=build-fuzz/$t.log
  touch "$log.start"
  flags=(-max_len="$(max_len "$t")" -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$root/build-fuzz/crashes/$t/"
    -print_final_stats=1 "$root/$corpus" "$root/tests/fuzz/seeds/$t" "${extra[@]/#/$root/}")
  # With workers, libFuzzer's own driver starts them in a folder of their own, where each writes its
  # log; the driver copies those logs into the target's log. The runs are split between them.
  dir=. run=("$root/build-fuzz/fuzz_$t" "${limit[@]}")
  if [ "$workers" -gt 1 ]; then
    dir=build-fuzz/jobs/$t
    rm -rf "$dir" && mkdir -p "$dir"
    run=("$root/build-fuzz/fuzz_$t" -jobs="$workers" -workers="$workers")
    if [[ $runs == *s ]]; then run+=("${limit[@]}"); else run+=(-runs=$(( (runs + workers - 1) / workers ))); fi
  fi
  set +e
  (cd "$dir" && "${run[@]}" "${flags[@]}") > "$log" 2>&1
  rc=$?
  set -e
  # Totals over the workers: the runs add up, coverage is the highest any of them reached.
  done_runs=$(awk '/stat::number_of_executed_units/ {n += $2; seen = 1} END {if (seen) print n}' "$log")
  cov=$(sed -nE 's/^#[0-9]+.* cov: ([0-9]+).*/\1/p' "$log" | sort -n | tail -1)
  ft=$(sed -nE 's/^#[0-9]+.* ft: ([0-9]+).*/\1/p' "$log" | sort -n | tail -1)
  crashes=$(find "build-fuzz/crashes/$t" -type f -newer "$log.start" | wc -l)  # found by this run
  printf '%-14s %12s %8s %8s %8s\n' "$t" "${done_runs:-?}" "${cov:-?}" "${ft:-?}" "$crashes"
  if [ $rc -ne 0 ] || [ "$crashes" -gt 0 ]; then
    status=1
    grep -m3 -E 'ERROR|SUMMARY|broken property' "$log" || true
  fi
done
exit $status
