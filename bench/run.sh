#!/bin/sh
# Builds the benchmark program in Release, measures every stage of the backend against its baseline
# (cat, grep -F, curl) on inputs it makes itself, and writes docs/benchmarks.md.
#
# Usage: bench/run.sh [--size SIZE] [--repetitions N] [--memory SIZES] [--note TEXT]
#                     [--build DIR] [--smoke] [-- benchmark flags...]
#   --size SIZE       print job size, 100K to 1G (default 100M)
#   --repetitions N   repetitions of every figure, the median is kept (default 7)
#   --memory SIZES    job sizes whose peak memory is measured (default 10M,1G)
#   --note TEXT       added to the machine line of the results, e.g. who else used the machine
#   --build DIR       build tree (default build-bench, configured as Release); an existing tree
#                     given here is used as it is configured
#   --smoke           smallest inputs, one run each, results into the build tree instead of docs/:
#                     proves the program still runs, judges no time (for CI)
set -eu
cd "$(dirname "$0")/.."

size=100M
repetitions=7
memory=10M,1G
note=""
build=""
smoke=0
while [ $# -gt 0 ]; do
  case "$1" in
    --size) size=$2; shift 2 ;;
    --repetitions) repetitions=$2; shift 2 ;;
    --memory) memory=$2; shift 2 ;;
    --note) note=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --smoke) smoke=1; shift ;;
    --) shift; break ;;
    *) echo "bench/run.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done

if [ -z "$build" ]; then
  build=build-bench
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVP_BENCH=ON >/dev/null
elif [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVP_BENCH=ON >/dev/null
fi
cmake --build "$build" --target stage_bench -j"$(nproc)"

command="bench/run.sh --size $size --repetitions $repetitions --memory $memory"
report=docs/benchmarks.md
if [ "$smoke" = 1 ]; then
  size=100K
  memory=100K
  command="bench/run.sh --smoke"
  report="$build/benchmarks-smoke.md"
fi

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
memory_gib=$(awk '/^MemTotal:/ { printf "%.1f", $2 / 1048576 }' /proc/meminfo)
filesystem=$(df -PT "$build" | awk 'NR == 2 { print $2 }')
machine="$(nproc) cores ($cpu), $memory_gib GiB memory, $filesystem file system under the build \
tree (inputs, log directory, the print server's storage), Linux $(uname -r)"
if [ -r /etc/debian_version ]; then
  machine="$machine, Debian $(cat /etc/debian_version)"
fi
if [ -n "$note" ]; then
  machine="$machine. ${note%.}"
fi

flags="--size=$size --repetitions=$repetitions --memory=$memory"
if [ "$smoke" = 1 ]; then
  flags="$flags --smoke"
fi
# shellcheck disable=SC2086
"$build/bench/stage_bench" $flags --report="$report" --machine="$machine" \
  --command="$command" --benchmark_color=false "$@"
echo "results: $report"
