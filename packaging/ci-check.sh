#!/bin/sh
# Builds the Debian package, installs it on this machine as an administrator would, checks what it
# installed (virtual-printer-check among it, on a demo set-up in namespaces of its own:
# check-demo-setup.sh), and purges it again. Run as root on Debian, from anywhere.
# Usage: packaging/ci-check.sh [build-dir]   (default build-deb; configured with packaging/debian.cmake)
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-deb}
package=virtual-printer
check=/usr/sbin/virtual-printer-check
export DEBIAN_FRONTEND=noninteractive

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
step() {
  echo "== $*"
}

step "build the package in $build"
cmake -S . -B "$build" -C packaging/debian.cmake >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/${package}_*.deb
(cd "$build" && cpack -G DEB)
deb=$(ls "$build"/${package}_*.deb)
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"

depends=$(dpkg-deb --field "$deb" Depends)
for needed in libcups2 libcurl4 libcpp-httplib0.11 poppler-utils; do
  echo "$depends" | grep -Eq "(^|, )$needed( |,|$)" || fail "Depends lacks $needed: $depends"
done

step "install it"
# Whatever happens below, leave the machine without the package.
trap 'dpkg --purge "$package" >/dev/null 2>&1 || true' EXIT
if ! dpkg -i "$deb"; then
  apt-get -f install -y -q --no-install-recommends
fi
dpkg-query -W -f='${Status}\n' "$package" | grep -q "install ok installed" ||
  fail "$package is not installed"

step "check the installed files"
backend=$(cups-config --serverbin)/backend/virtual-printer
[ -f "$backend" ] || fail "no backend at $backend"
[ "$(stat -c '%U:%G %a' "$backend")" = "root:root 700" ] ||
  fail "$backend is $(stat -c '%U:%G %a' "$backend"), CUPS runs it as root only as root:root 700"
dpkg -S "$backend" | grep -q "^$package:" || fail "$backend does not belong to $package"
grep -qaF /usr/bin/pdfinfo "$backend" || fail "$backend does not count pages with /usr/bin/pdfinfo"
[ -x /usr/bin/pdfinfo ] || fail "poppler's pdfinfo was not installed with the package"
echo "$backend: root:root 700"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"; dpkg --purge "$package" >/dev/null 2>&1 || true' EXIT
printf 'file virtual-printer:/ "Unknown"  "Virtual Printer" "Virtual Printer" \n' >"$scratch/expected"
"$backend" >"$scratch/discovery" || fail "device query exited with $?"
cmp -s "$scratch/expected" "$scratch/discovery" ||
  fail "device line differs: '$(cat "$scratch/discovery")'"
echo "device line: $(cat "$scratch/discovery")"

if dpkg -L "$package" | grep -qx /usr/bin/plutil; then
  # The stand-in reads the client's settings for the backend; it must run with the installed
  # libraries and print the listing layout the backend parses.
  cat >"$scratch/settings.plist" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict><key>quoradex</key><dict><key>ServerIp</key><string>print.example</string></dict></dict>
</plist>
EOF
  /usr/bin/plutil -p "$scratch/settings.plist" >"$scratch/listing" || fail "plutil -p failed"
  grep -q '"ServerIp" => "print.example"' "$scratch/listing" ||
    fail "plutil -p printed: $(cat "$scratch/listing")"
  echo "/usr/bin/plutil: $(stat -c '%U:%G %a' /usr/bin/plutil), reads property lists"
fi

[ "$(stat -c '%U:%G %a' "$check")" = "root:root 755" ] || fail "$check is $(stat -c '%U:%G %a' "$check")"
dpkg -S "$check" | grep -q "^$package:" || fail "$check does not belong to $package"
grep -qx 'KEEP_DAYS=' /etc/default/virtual-printer || fail "the package sets KEEP_DAYS"
for conffile in /etc/default/virtual-printer /etc/cron.daily/virtual-printer; do
  dpkg-query -W -f='${Conffiles}\n' "$package" | grep -q " $conffile " ||
    fail "$conffile is not a conffile"
done
[ -x /etc/cron.daily/virtual-printer ] || fail "/etc/cron.daily/virtual-printer cannot run"
[ -L /etc/systemd/system/timers.target.wants/virtual-printer-clean.timer ] ||
  fail "virtual-printer-clean.timer is not enabled"
if command -v systemd-analyze >/dev/null; then
  systemd-analyze verify /lib/systemd/system/virtual-printer-clean.service \
    /lib/systemd/system/virtual-printer-clean.timer || fail "systemd-analyze verify"
fi
echo "$check: root:root 755; the daily clean's timer enabled, KEEP_DAYS empty"

pages=""
for name in virtual-printer virtual-printer-check; do
  page=$(man -w "$name")
  packaging/check-manpage.sh "$page"
  pages="$pages $page"
done

step "virtual-printer-check on the demo set-up"
# The settings' folder must exist to be hidden; what is made for it here goes again.
made_dirs=""
for dir in /private /private/var /private/var/spool; do
  [ -d "$dir" ] || made_dirs="$dir $made_dirs"
done
mkdir -p /private/var/spool /var/log/cups
status=0
unshare --mount --net --pid --fork --kill-child --mount-proc packaging/check-demo-setup.sh \
  "$(cd "$build" && pwd)" "$scratch" || status=$?
for dir in $made_dirs; do
  rmdir "$dir"
done
[ "$status" -eq 0 ] || fail "the check on the demo set-up failed"

step "purge it"
# The backend's own leftovers go with a purge; make them so the purge has something to remove.
made=""
if [ -d /var/log/cups ] && [ ! -e /var/log/cups/vlog.txt ]; then
  : >/var/log/cups/vlog.txt
  made=/var/log/cups/vlog.txt
fi
dpkg --purge "$package"
trap 'rm -rf "$scratch"' EXIT
[ ! -e "$backend" ] || fail "$backend is still there after the purge"
for page in $pages; do
  [ ! -e "$page" ] || fail "$page is still there after the purge"
done
[ ! -e "$check" ] || fail "$check is still there after the purge"
[ ! -e /etc/default/virtual-printer ] || fail "/etc/default/virtual-printer is still there after the purge"
[ ! -e /etc/systemd/system/timers.target.wants/virtual-printer-clean.timer ] ||
  fail "the timer is still enabled after the purge"
for leftover in $made; do
  [ ! -e "$leftover" ] || fail "$leftover is still there after the purge"
done
echo "ci-check: package built, installed, checked and purged"
