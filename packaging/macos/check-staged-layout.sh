#!/bin/sh
# Stages a build configured with the macOS layout (VP_MACOS_LAYOUT) into a scratch root, as cpack
# does before it makes the installer package, and checks that the package would hold exactly
# these files with these modes: the backend 0700 (CUPS runs it as root only then), the page
# counter at the backend's compiled-in path 0755, the check, the launchd job 0644 (launchd refuses
# one that others may write), the man pages. Every file belongs to whoever staged it; the package
# gives all of them to root:wheel (pkgbuild's recommended ownership).
# Usage: check-staged-layout.sh BUILD_DIR BACKEND_DIR PAGE_COUNT_PROGRAM CHECK_PROGRAM MAN_DIR
#        CLEAN_JOB_LABEL
set -eu
build=$1
backend_dir=$2
page_count=$3
check=$4
man_dir=$5
label=$6
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

DESTDIR=$root cmake --install "$build" >/dev/null
job=/Library/LaunchDaemons/$label.plist
sort >"$root/expected" <<EOF_FILES
$backend_dir/virtual-printer 700 $(id -u)
$page_count 755 $(id -u)
$check 755 $(id -u)
$job 644 $(id -u)
$man_dir/man8/virtual-printer.8 644 $(id -u)
$man_dir/man8/virtual-printer-check.8 644 $(id -u)
EOF_FILES
(cd "$root" && find . -type f ! -name expected ! -name staged -exec stat -c '%n %a %u' {} + | sed 's/^\.//' |
  sort) >"$root/staged"
diff "$root/expected" "$root/staged" >&2 || fail "the staged files differ (- expected, + staged)"

# The backend answers CUPS's device query; the page counter, which that query also runs, prints
# nothing without arguments; the check takes the clean's days from the preferences.
"$root$backend_dir/virtual-printer" | grep -q '^file virtual-printer:/ ' || fail "device query"
[ -z "$("$root$page_count")" ] || fail "the page counter printed something without arguments"
"$root$check" --help | grep -q -- '--clean \[DAYS\]' || fail "the check's usage: $("$root$check" --help)"
python3 -c 'import plistlib, sys; plistlib.load(open(sys.argv[1], "rb"))' "$root$job" ||
  fail "$job is not a property list"
echo "macOS layout: $(wc -l <"$root/staged") files staged with their modes"
