#!/bin/sh
# The portability build: what a macOS build compiles, built on Linux the way macOS would see it.
# - clang, with VP_LINUX_EXTRAS off, so the POSIX forms of the platform seam (util/platform.cc)
#   and the tests' POSIX paths are the ones compiled and run;
# - scripts/platform_fence.h forced into every source, which makes each Linux- or GNU-only name an
#   error outside the seam;
# - the unit and end-to-end suites run (the scheduler, check and hostile suites need Linux
#   namespaces and are not built), as root in a private network, as the Linux build's own main
#   gives them;
# - the macOS install layout (VP_MACOS_LAYOUT), whose staged files a test checks;
# - every source of that build compiled once more against libc++, Apple's C++ library. Debian's
#   cpp-httplib, Google Test and poppler-cpp are compiled for libstdc++, so nothing is linked
#   there: each source is only compiled (-fsyntax-only).
# Usage: scripts/portability.sh [build-dir]   (build-dir-libcxx is used beside it)
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-port}
fence=$PWD/scripts/platform_fence.h

scripts/setup.sh

common="-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVP_WERROR=ON -DVP_LINUX_EXTRAS=OFF
        -DVP_BENCH=OFF -DVP_MACOS_LAYOUT=ON"
# shellcheck disable=SC2086 # common is a list of arguments
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE= $common \
  -DCMAKE_CXX_FLAGS="-include $fence" >/dev/null
cmake --build "$build" -j"$(nproc)"

# The test mains of this build cannot make a private network themselves; as root it is made
# around them, with only a loopback interface, so no port or name lookup of the host is used.
run_tests="ctest --test-dir $build --output-on-failure --timeout 300"
if [ "$(id -u)" = 0 ]; then
  unshare --net sh -c "ip link set lo up && $run_tests"
else
  $run_tests
fi

# Compile-only: the object rule checks the source and leaves an empty object, and nothing links.
# shellcheck disable=SC2086
cmake -S . -B "$build-libcxx" -DCMAKE_BUILD_TYPE=Debug $common \
  -DCMAKE_CXX_FLAGS="-stdlib=libc++ -include $fence" \
  -DCMAKE_CXX_COMPILE_OBJECT="<CMAKE_CXX_COMPILER> <DEFINES> <INCLUDES> <FLAGS> -fsyntax-only -c <SOURCE> && <CMAKE_COMMAND> -E touch <OBJECT>" \
  -DCMAKE_CXX_LINK_EXECUTABLE="<CMAKE_COMMAND> -E touch <TARGET>" \
  -DCMAKE_CXX_CREATE_STATIC_LIBRARY="<CMAKE_COMMAND> -E touch <TARGET>" \
  -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST >/dev/null
cmake --build "$build-libcxx" -j"$(nproc)"
echo "portability: POSIX forms built and tested with the fence; every source compiles against libc++"
