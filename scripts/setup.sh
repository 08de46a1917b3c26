#!/bin/sh
# Installs what building, testing and the demo need, from Debian's archive. Safe to run again:
# apt-get runs only when a package is missing.
set -eu

# The full cups package brings cups-deviced, which `lpinfo -v` needs; iproute2 brings up the
# loopback inside the demo's and the CUPS tests' private network namespace; curl is the
# benchmarks' baseline. The vendor drivers of the real-driver tests and the coverage measurement:
# openprinting-ppds and printer-driver-postscript-hp (PPDs and hplip's hpps filter), with the
# filters they name (cups-filters: pdftops, foomatic-rip; ghostscript). The portability build
# compiles every source against libc++ as well (libc++-dev, libc++abi-dev); the page counter
# counts with poppler-cpp where CoreGraphics is not there, and its test counts the PDFs that
# cups-filters, r-doc-pdf and texlive-base (through texlive-fonts-recommended-doc) install. The
# macOS package's checks read property lists and the macOS workflow with python3 (plistlib, yaml).
packages="
  g++ cmake make pkg-config
  libcups2-dev libcurl4-openssl-dev libcpp-httplib-dev nlohmann-json3-dev
  libplist-dev libgtest-dev libgmock-dev libbenchmark-dev
  poppler-utils qpdf libpoppler-cpp-dev r-doc-pdf texlive-fonts-recommended-doc
  cups-daemon cups-client cups iproute2
  openprinting-ppds printer-driver-postscript-hp cups-filters ghostscript
  clang libclang-rt-14-dev libssl-dev libc++-dev libc++abi-dev
  groff-base man-db dpkg-dev file python3 python3-yaml
  curl
"

missing=""
for package in $packages; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing="$missing $package"
done

if [ -n "$missing" ]; then
  echo "Installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  # shellcheck disable=SC2086
  apt-get install -y -q --no-install-recommends $missing
fi
