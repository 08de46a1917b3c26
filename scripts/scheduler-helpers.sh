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
