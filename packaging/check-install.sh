#!/bin/sh
# Installs a build tree into a scratch root (DESTDIR) and checks what an administrator's install
# would put in place: the backend in CUPS's backend directory with mode 0700, answering CUPS's
# device query, and the man page.
# Usage: check-install.sh BUILD_DIR BACKEND_DIR
set -eu
build=$1
backend_dir=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

DESTDIR=$root cmake --install "$build" >/dev/null
backend=$root$backend_dir/virtual-printer
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

[ -f "$backend" ] || fail "no backend at $backend"
mode=$(stat -c %a "$backend")
[ "$mode" = 700 ] || fail "backend mode is $mode, CUPS runs it as root only with 700"

printf 'file virtual-printer:/ "Unknown"  "Virtual Printer" "Virtual Printer" \n' >"$root/expected"
"$backend" >"$root/discovery" || fail "device query exited with $?"
cmp -s "$root/expected" "$root/discovery" || fail "device line differs: $(cat "$root/discovery")"

page=$(find "$root" -path '*/man8/virtual-printer.8*' | head -n 1)
[ -n "$page" ] || fail "no man page installed"
echo "installed: $backend_dir/virtual-printer (mode 700), ${page#"$root"}"
