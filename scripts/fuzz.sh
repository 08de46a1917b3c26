#!/bin/sh
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer on) and
# runs each for a bounded time, starting from the seed corpora in tests/fuzz/corpus/. Prints the
# executions and findings of every target and fails when any target found something; the input
# that broke it is kept in BUILD/artifacts/TARGET/ (run the target on that file to see why).
# Usage: scripts/fuzz.sh [seconds-per-target] [build-dir]
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-20}
build=${2:-build-fuzz}

targets="option_parsers marker_scan_other marker_scan_quoradex marker_scan_hp marker_scan_km
         settings_conversion settings_read login_response print_properties sha256 ppd_read
         page_language"

CC=clang CXX=clang++ cmake -S . -B "$build" -DVP_FUZZ=ON -DVP_SANITIZE=ON -DVP_WERROR=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzzers

# As root on Linux each target runs in a network namespace of its own with only a loopback, so
# the notifier's fixed port is private to it and no other run or local program can answer there.
isolate=false
if [ "$(id -u)" = 0 ] && unshare -n true 2>/dev/null; then
  isolate=true
fi
run() {
  if $isolate; then
    unshare -n sh -c 'ip link set lo up && exec "$@"' run "$@"
  else
    "$@"
  fi
}

failed=0
for target in $targets; do
  corpus=$build/corpus/$target
  artifacts=$build/artifacts/$target
  log=$build/fuzz-$target.log
  mkdir -p "$corpus" "$artifacts"
  # New inputs go to the build's corpus (the first folder); the seeds in the repository stay as
  # they are. The code under test talks on standard output and error: closed for the run.
  run "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=30 -close_fd_mask=3 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" "tests/fuzz/corpus/$target" \
    >"$log" 2>&1 || true
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  findings=$(find "$artifacts" -type f | wc -l)
  printf '%-22s executions=%-9s findings=%s\n' "$target" "${runs:-?}" "$findings"
  if [ "$findings" -ne 0 ] || [ -z "$runs" ]; then
    failed=1
    tail -n 30 "$log"
  fi
done
exit "$failed"
