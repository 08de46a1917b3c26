#!/bin/sh
# Installs a build tree into a scratch root (DESTDIR) and checks what an administrator's install
# would put in place: the backend in CUPS's backend directory with mode 0700, answering CUPS's
# device query, virtual-printer-check, the man pages, and the daily clean that removes nothing
# until KEEP_DAYS is set.
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

check=$(find "$root" -path '*/sbin/virtual-printer-check')
[ -n "$check" ] || fail "no virtual-printer-check installed"
"$check" --help | grep -q '^usage: virtual-printer-check' || fail "virtual-printer-check --help"

for name in virtual-printer virtual-printer-check; do
  page=$(find "$root" -path "*/man8/$name.8*" | head -n 1)
  [ -n "$page" ] || fail "no man page $name.8 installed"
done

if [ "$(uname -s)" = Linux ]; then
  grep -qx 'KEEP_DAYS=' "$root/etc/default/virtual-printer" || fail "KEEP_DAYS is not empty"
  [ -x "$root/etc/cron.daily/virtual-printer" ] || fail "no cron.daily script"
  for unit in service timer; do
    [ -f "$root/lib/systemd/system/virtual-printer-clean.$unit" ] || fail "no $unit unit"
  done
  grep -q "^ExecStart=${check#"$root"} --clean " "$root/lib/systemd/system/virtual-printer-clean.service" ||
    fail "the clean's service does not run ${check#"$root"}"
fi
echo "installed: $backend_dir/virtual-printer (mode 700), ${check#"$root"}, the man pages and the daily clean"
