#!/bin/sh
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in a build folder of its
# own and runs the whole test suite there. Any finding stops the program that made it, so the test
# that ran it fails.
# Usage: scripts/sanitize.sh [build-dir]
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-asan}

# Both halt on the first error (UBSan is built not to recover) and exit with 99, a status the
# backend never uses, so no test that expects a failing exit status can mistake a finding for it.
# Leaks count as findings.
export ASAN_OPTIONS=exitcode=99:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=exitcode=99:halt_on_error=1:print_stacktrace=1

cmake -S . -B "$build" -DVP_SANITIZE=ON -DVP_WERROR=ON -DCMAKE_BUILD_TYPE= >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure --timeout 300
