# Shell helpers of the scripts that start a private CUPS scheduler (sourced, not run).

# Polls a command (given as words) until it succeeds, for at most $1 tenths of a second.
wait_for() {
  tries=$1
  shift
  while ! "$@" >/dev/null 2>&1; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || return 1
    sleep 0.1
  done
}

# lpstat -r exits 0 even when the scheduler is down: its words tell.
# shellcheck disable=SC2317 # called through wait_for
scheduler_running() {
  lpstat -r 2>/dev/null | grep -q "scheduler is running"
}

# Writes a private scheduler's cups-files.conf and cupsd.conf into the folder $1, with ServerBin
# $2; further arguments are extra cupsd.conf lines. Every path stays inside $1: one line left out
# makes cupsd write into a system folder. LogLevel info logs each job's end; debug would also keep
# the login address, with the password in it (virtual-printer-check warns about that).
write_scheduler_config() {
  dir=$1
  server_bin=$2
  shift 2
  cat >"$dir/cups-files.conf" <<EOF
ServerRoot $dir
StateDir $dir
ServerBin $server_bin
CacheDir $dir/cache
DataDir /usr/share/cups
RequestRoot $dir/spool
TempDir $dir/spool/temp
AccessLog $dir/log/access_log
ErrorLog $dir/log/error_log
PageLog $dir/log/page_log
Printcap $dir/printcap
EOF
  {
    printf 'LogLevel info\nListen %s/sock\nBrowsing Off\nWebInterface No\n' "$dir"
    for line in "$@"; do
      echo "$line"
    done
    printf '<Location />\n  Order allow,deny\n</Location>\n'
  } >"$dir/cupsd.conf"
}
