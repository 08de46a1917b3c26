#!/bin/sh
# The whole road of a print job in one command, on Debian 12, as root: installs what is needed,
# builds, starts the local print-management server with its notifier and a private CUPS scheduler
# with a "virtual-printer" queue, prints a sample PDF with lp, and shows what each side got.
#
# After the job it runs virtual-printer-check on the set-up and shows what it says.
#
# It runs in namespaces of its own (a private loopback and process tree), so nothing is left
# running afterwards, and it writes only under the build folder; the backend and the check used are
# the build's sandboxed ones, whose fixed folders lie in BUILD/sandbox/ instead of /var/log/cups/
# and /private/var/spool/, and whose CUPS folders are the demo scheduler's, BUILD/sandbox/cups/.
#
# Usage: scripts/demo.sh [build-dir]      (default: build-demo)
set -eu

queue=virtual-printer
user=demo
password="demo-secret"
title="Quarterly report"
colour_key=com.apple.print.PrintSettings.PMColorSpaceModel..n.
duplex_key=com.apple.print.PrintSettings.PMDuplexing..n.

fail() {
  echo "demo: $*" >&2
  exit 1
}

# shellcheck source=scripts/scheduler-helpers.sh
. "$(dirname "$0")/scheduler-helpers.sh"

# A PDF of three pages with a line of text each; the cross-reference offsets are counted exactly.
make_pdf() {
  out=$1
  printf '%%PDF-1.4\n' >"$out"
  offsets=""
  add_object() {
    offsets="$offsets $(wc -c <"$out")"
    printf '%s\nendobj\n' "$1" >>"$out"
  }
  add_object "1 0 obj
<< /Type /Catalog /Pages 2 0 R >>"
  add_object "2 0 obj
<< /Type /Pages /Kids [4 0 R 6 0 R 8 0 R] /Count 3 >>"
  add_object "3 0 obj
<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"
  for page in 1 2 3; do
    text="BT /F1 28 Tf 72 740 Td ($title, page $page of 3) Tj ET"
    add_object "$((2 + 2 * page)) 0 obj
<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents $((3 + 2 * page)) 0 R /Resources << /Font << /F1 3 0 R >> >> >>"
    add_object "$((3 + 2 * page)) 0 obj
<< /Length ${#text} >>
stream
$text
endstream"
  done
  xref=$(wc -c <"$out")
  {
    printf 'xref\n0 10\n0000000000 65535 f \n'
    for offset in $offsets; do
      printf '%010d 00000 n \n' "$offset"
    done
    printf 'trailer\n<< /Size 10 /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n' "$xref"
  } >>"$out"
}

make_ppd() {
  cat <<'EOF'
*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "VPRINTER.PPD"
*Manufacturer: "Virtual Printer"
*Product: "(Virtual Printer)"
*ModelName: "Virtual Printer"
*ShortNickName: "Virtual Printer"
*NickName: "Virtual Printer"
*PSVersion: "(3010.000) 0"
*LanguageLevel: "3"
*ColorDevice: True
*cupsFilter2: "application/pdf application/vnd.cups-pdf 0 passthru"
*cupsFilter2: "application/postscript application/vnd.cups-postscript 0 passthru"
*OpenUI *PageSize/Media Size: PickOne
*DefaultPageSize: A4
*PageSize A4/A4: "<</PageSize[595 842]>>setpagedevice"
*PageSize Letter/Letter: "<</PageSize[612 792]>>setpagedevice"
*CloseUI: *PageSize
*DefaultImageableArea: A4
*ImageableArea A4: "0 0 595 842"
*ImageableArea Letter: "0 0 612 792"
*DefaultPaperDimension: A4
*PaperDimension A4: "595 842"
*PaperDimension Letter: "612 792"
EOF
}

make_settings() {
  cat <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>quoradex</key>
	<dict>
		<key>ServerIp</key>
		<string>127.0.0.1:$1</string>
		<key>UserName</key>
		<string>$user</string>
		<key>PassWord2</key>
		<string>$password</string>
	</dict>
</dict>
</plist>
EOF
}

install_scheduler() {
  mkdir -p "$cups/bin/backend" "$cups/bin/filter" "$cups/bin/daemon" "$cups/cache" "$cups/log" \
    "$cups/spool/temp"
  chmod 0755 "$demo" "$cups"
  # abort-job makes a failed job end at once.
  write_scheduler_config "$cups" "$cups/bin" "ErrorPolicy abort-job"
  ln -s /usr/lib/cups/daemon/cups-exec "$cups/bin/daemon/cups-exec"
  # lpinfo -v, which the check asks for, needs the scheduler's device helper.
  [ ! -e /usr/lib/cups/daemon/cups-deviced ] ||
    ln -s /usr/lib/cups/daemon/cups-deviced "$cups/bin/daemon/cups-deviced"
  # CUPS runs a backend as root only when it is root's and nobody else may run or change it.
  cp "$build/sandbox/bin/virtual-printer" "$cups/bin/backend/virtual-printer"
  chmod 0700 "$cups/bin/backend/virtual-printer"
  # The driver's filter hands the document on unchanged: the backend reads it on standard input.
  # shellcheck disable=SC2016 # the $6 is the filter's own argument
  printf '#!/bin/sh\nexec cat ${6:+"$6"}\n' >"$cups/bin/filter/passthru"
  chmod 0755 "$cups/bin/filter/passthru"
  # ServerBin/filter is first on the backend's PATH: the plutil stand-in goes there.
  ln -s "$build/tools/plutil/plutil" "$cups/bin/filter/plutil"
}

start_print_server() {
  "$build/tools/print-server/print-server" --store "$demo/server" --port 0 --notifier \
    --user "$user:$password" >"$demo/print-server.out" 2>&1 &
  server_pid=$!
  wait_for 100 grep -q '^listening port=' "$demo/print-server.out" ||
    fail "the print server did not start: $(cat "$demo/print-server.out")"
  port=$(sed -n 's/^listening port=\([0-9]*\).*/\1/p' "$demo/print-server.out")
}

start_scheduler() {
  cupsd -f -c "$cups/cupsd.conf" -s "$cups/cups-files.conf" >"$cups/log/cupsd.out" 2>&1 &
  cupsd_pid=$!
  export CUPS_SERVER="$cups/sock"
  wait_for 100 scheduler_running || fail "cupsd did not start: $(cat "$cups/log/error_log")"
  lpadmin -p "$queue" -E -v 'virtual-printer:/?status=on' -P "$demo/$queue.ppd" >"$demo/lpadmin.out" 2>&1 ||
    fail "lpadmin: $(cat "$demo/lpadmin.out")"
}

# Sets $state once the scheduler is done with job $job_id.
wait_for_job() {
  state="still processing after 30 s"
  tries=300
  while [ "$tries" -gt 0 ]; do
    if lpstat -l -o "$queue" | grep -q cups-held-for-authentication; then
      state="held for authentication (the server refused the login)"
      return
    fi
    if lpstat -p "$queue" | grep -q disabled; then
      state="queue stopped (no credentials, or the server could not be reached)"
      return
    fi
    if lpstat -W completed -o "$queue" | grep -q "^$queue-$job_id "; then
      state="ended without completing (aborted)"
      grep -q "\[Job $job_id\] Job completed\." "$cups/log/error_log" && state=completed
      return
    fi
    tries=$((tries - 1))
    sleep 0.1
  done
}

# The first path a glob matched, or nothing.
first() {
  [ -e "$1" ] && echo "$1"
}

property() {
  sed -n "s/.*\"$1\": *\"\([^\"]*\)\".*/\1/p" "$2"
}

show_results() {
  echo
  echo "== The scheduler"
  echo "   $submitted"
  echo "   job $queue-$job_id: $state"
  upload=$(first "$demo/server"/job-* || true)
  echo
  if [ -n "$upload" ]; then
    props="$upload/printProperties"
    file=$(cut -f2 "$upload/form" | grep . || true)
    echo "== What the print-management server received ($upload)"
    echo "   document name: $(property DocumentName "$props")"
    echo "   pages:         $(property AllPage "$props")"
    echo "   copies:        $(property CopyCount "$props")"
    echo "   colour:        $(property Color "$props")"
    echo "   duplex:        $(property Duplexing "$props")"
    echo "   paper:         $(property Paper "$props")"
    echo "   file:          $file, $(wc -c <"$upload/$file") bytes (the sample is $(wc -c <"$demo/sample.pdf") bytes)"
    echo "   its PJL envelope (ESC shown as ^[):"
    head -n 5 "$upload/$file" | cat -v | sed 's/^/      /'
    echo "      ...the sample PDF...  then: $(tail -c 27 "$upload/$file" | cat -v | tr '\n' ' ')"
  else
    echo "== The print-management server holds no upload"
  fi
  echo
  if [ -s "$demo/server/notifications.log" ]; then
    echo "== The notifier was told: $(cat "$demo/server/notifications.log")"
  else
    echo "== The notifier was not needed (no message)"
  fi
  control=$(first "$logdir"/*.ctl || true)
  echo
  echo "== The control file ${control:-(none)}"
  [ -z "$control" ] || sed 's/^/   /' "$control"
  echo
  echo "== The job log $logdir/vlog.txt ($(wc -l <"$logdir/vlog.txt") lines); the road in it:"
  grep -E 'model:|using |driver contain|pagecount|login|upload|notify' "$logdir/vlog.txt" |
    sed 's/^/   /'
  echo
  echo "== virtual-printer-check --login on this set-up (exit status $check_status)"
  sed 's/^/   /' "$demo/check.out"
}

inside() {
  build=$1
  demo="$build/demo"
  cups="$build/sandbox/cups"
  logdir="$build/sandbox/var/log/cups"
  rm -rf "$demo" "$cups" "$build/sandbox/var" "$build/sandbox/private"
  mkdir -p "$demo" "$build/sandbox/var/log" "$build/sandbox/var/run" "$build/sandbox/private/var/spool"
  ip link set lo up

  make_pdf "$demo/sample.pdf"
  make_ppd >"$demo/$queue.ppd"
  install_scheduler
  start_print_server
  make_settings "$port" >"$build/sandbox/private/var/spool/VirtualFile"
  # It holds a password: root's alone, as the check wants it.
  chmod 0600 "$build/sandbox/private/var/spool/VirtualFile"
  start_scheduler
  echo "Scheduler, print server (127.0.0.1:$port) and notifier (127.0.0.1:10029) are running."
  echo "Printing: lp -d $queue -t \"$title\" -n 2 -o PageSize=A4 -o $colour_key=2 -o $duplex_key=2 sample.pdf"
  submitted=$(lp -d "$queue" -t "$title" -n 2 -o PageSize=A4 -o "$colour_key=2" \
    -o "$duplex_key=2" "$demo/sample.pdf")
  job_id=${submitted#request id is "$queue"-}
  job_id=${job_id%% *}
  wait_for_job
  check_status=0
  "$build/sandbox/bin/virtual-printer-check" --login >"$demo/check.out" 2>&1 || check_status=$?
  show_results

  kill "$cupsd_pid" "$server_pid" 2>/dev/null || true
  wait
  [ "$state" = completed ]
}

if [ "${1:-}" = --inside ]; then
  inside "$2"
  exit
fi

[ "$(id -u)" -eq 0 ] || fail "run as root: it installs packages and runs the scheduler and the backend as root"
self="$(cd "$(dirname "$0")" && pwd)/$(basename "$0")"
cd "$(dirname "$self")/.."
build=${1:-build-demo}

echo "== Setting up (Debian packages; nothing happens when they are there)"
scripts/setup.sh
echo "== Building into $build (log: $build/demo-build.log)"
mkdir -p "$build"
build=$(cd "$build" && pwd)
if ! { cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release &&
  cmake --build "$build" -j"$(nproc)" --target virtual-printer-sandbox \
    virtual-printer-check-sandbox print-server plutil; } \
  >"$build/demo-build.log" 2>&1; then
  tail -n 30 "$build/demo-build.log"
  fail "the build failed"
fi

status=0
unshare --mount --net --pid --fork --kill-child --mount-proc sh "$self" --inside "$build" || status=$?
echo
echo "Nothing is left running. Everything the demo wrote is under $build:"
echo "   $build/demo/ (server store, sample.pdf), $build/sandbox/cups/ (scheduler) and"
echo "   $build/sandbox/var/log/cups/"
exit "$status"
