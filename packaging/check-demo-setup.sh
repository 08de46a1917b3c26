#!/bin/sh
# Runs the installed virtual-printer-check on the set-up the demo makes, around the installed
# Debian package: a scheduler whose ServerBin is CUPS's own (with the package's backend in it) and
# a queue, the local print server with its notifier, and the client's settings. Then runs the
# package's daily clean, without and with KEEP_DAYS. Called by ci-check.sh as PID 1 of private
# mount, network and process namespaces, with tmpfs over the backend's folders, so the machine's
# own files stay as they are and nothing is left running.
# Usage (as root, inside unshare --mount --net --pid --fork --kill-child --mount-proc):
#   check-demo-setup.sh BUILD_DIR SCRATCH_DIR
set -eu
build=$1
scratch=$2
cups=$scratch/cups
check=/usr/sbin/virtual-printer-check

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# shellcheck source=scripts/scheduler-helpers.sh
. "$(dirname "$0")/../scripts/scheduler-helpers.sh"

if [ "$(id -u)" -ne 0 ] || [ "$$" -ne 1 ]; then
  fail "run as root, as PID 1 of namespaces of its own"
fi
ip link set lo up
mount -t tmpfs -o mode=0755 tmpfs /private/var/spool
mount -t tmpfs -o mode=0755 tmpfs /var/log/cups
mkdir -p /run/virtual-printer
mount -t tmpfs -o mode=0700 tmpfs /run/virtual-printer
mkdir -p "$cups/cache" "$cups/log" "$cups/spool/temp" "$scratch/store"
chmod 0755 "$scratch" "$cups"

write_scheduler_config "$cups" "$(cups-config --serverbin)"
cupsd -f -c "$cups/cupsd.conf" -s "$cups/cups-files.conf" &
export CUPS_SERVER="$cups/sock"
wait_for 100 scheduler_running || fail "cupsd did not start: $(cat "$cups/log/error_log")"
lpadmin -p demo -E -v virtual-printer:/ -m raw >"$scratch/lpadmin.out" 2>&1 ||
  fail "lpadmin: $(cat "$scratch/lpadmin.out")"

"$build/tools/print-server/print-server" --store "$scratch/store" --port 0 --notifier \
  --user demo:demo-secret >"$scratch/print-server.out" 2>&1 &
wait_for 100 grep -q '^listening port=' "$scratch/print-server.out" ||
  fail "the print server did not start: $(cat "$scratch/print-server.out")"
port=$(sed -n 's/^listening port=\([0-9]*\).*/\1/p' "$scratch/print-server.out")
cat >/private/var/spool/VirtualFile <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict><key>quoradex</key><dict>
<key>ServerIp</key><string>127.0.0.1:$port</string>
<key>UserName</key><string>demo</string>
<key>PassWord2</key><string>demo-secret</string>
</dict></dict>
</plist>
EOF
chmod 0600 /private/var/spool/VirtualFile

echo "== $check --login"
status=0
"$check" --login || status=$?
[ "$status" -eq 0 ] || fail "virtual-printer-check exited with $status on the demo set-up"

echo "== the daily clean removes nothing until KEEP_DAYS is set"
old=/var/log/cups/0f8e2a1c-3b4d-4e5f-8a9b-0c1d2e3f4a5b.pdf
: >"$old"
touch -d '40 days ago' "$old"
# The cron script stands back where systemd runs; here it stands for the timer.
[ ! -d /run/systemd/system ] || mount -t tmpfs tmpfs /run/systemd
/etc/cron.daily/virtual-printer || fail "the cron.daily script exited with $?"
[ -e "$old" ] || fail "the clean removed a job file with KEEP_DAYS empty"
echo KEEP_DAYS=30 >"$scratch/default"
mount --bind "$scratch/default" /etc/default/virtual-printer
/etc/cron.daily/virtual-printer || fail "the cron.daily script exited with $?"
[ ! -e "$old" ] || fail "KEEP_DAYS=30 left a job file 40 days old"
echo "check-demo-setup: the check passed on the demo set-up; the clean honours KEEP_DAYS"
