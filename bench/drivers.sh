#!/bin/sh
# Driver coverage: builds the backend as it was at REF (default: the commit before the backend
# read the page languages) and as it is in the work tree, prints the sample of vendor PPDs through a private
# CUPS scheduler into each (bench/drivers/coverage.py) and writes docs/drivers.md. Needs root
# (namespaces, a root backend); about a quarter of an hour on two cores.
#
# Usage: bench/drivers.sh [--before REF] [--keep]
#   --before REF  the build to compare with (default 3720873)
#   --keep        reuse the jobs of an earlier run for "before" when there are any, judged again
set -eu
cd "$(dirname "$0")/.."

before=3720873
keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --before) before=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    *) echo "bench/drivers.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done

scripts/setup.sh
top=$(pwd)
work=$top/build-drivers
mkdir -p "$work"

# A backend whose fixed folders lie under the work folder; the settings file is never there, so
# every job ends at the submission with the files it wrote left behind.
build() {
  name=$1 source=$2
  mkdir -p "$work/$name/log-parent"
  cmake -S "$source" -B "$work/$name/build" -DCMAKE_BUILD_TYPE=Release -DVP_TESTS=OFF \
    -DVP_BENCH=OFF -DVP_LOG_DIR="$work/$name/log-parent/log/" \
    -DVP_SETTINGS_FILE="$work/$name/no-settings/VirtualFile" \
    -DVP_SETTINGS_LISTING="$work/$name/no-settings/VirtualFile.txt" \
    -DVP_PAGE_COUNT_PROGRAM="$(command -v pdfinfo)" >/dev/null
  cmake --build "$work/$name/build" --target virtual-printer -j2 >/dev/null
}

measure() {
  name=$1
  rm -rf "$work/$name/log-parent/log"
  python3 bench/drivers/coverage.py run --backend "$work/$name/build/virtual-printer" \
    --log-dir "$work/$name/log-parent/log" --ppd-dir "$work/ppd" \
    --sample bench/drivers/sample.txt --work "$work/$name/run" --out "$work/$name.json"
}

python3 bench/drivers/coverage.py extract --sample bench/drivers/sample.txt --ppd-dir "$work/ppd"

if [ "$keep" = 0 ] || [ ! -f "$work/before.json" ]; then
  rm -rf "$work/before/source"
  mkdir -p "$work/before/source"
  git archive "$before" | tar -x -C "$work/before/source"
  build before "$work/before/source"
  measure before
else
  python3 bench/drivers/coverage.py rejudge --results "$work/before.json" \
    --log-dir "$work/before/log-parent/log" --ppd-dir "$work/ppd" --work "$work/before/run"
fi
build after "$top"
measure after

python3 bench/drivers/coverage.py report --before "$work/before.json" --after "$work/after.json" \
  --out docs/drivers.md --before-ref "$before"
echo "results: docs/drivers.md"
