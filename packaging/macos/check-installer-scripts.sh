#!/bin/sh
# The macOS package's launchd job and installer scripts, as far as Linux can check them: the job
# is a property list that runs the clean with its days from the preferences, the scripts parse,
# and each asks launchctl what a first install, a reinstall and an old macOS need (launchctl is a
# stand-in that records its arguments and answers as launchd does).
# Usage: check-installer-scripts.sh JOB_PLIST SCRIPT_DIR CHECK_PROGRAM
set -eu
job=$1
scripts=$2
check=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

python3 - "$job" "$check" <<'PY' || fail "the launchd job $job"
import plistlib, sys
with open(sys.argv[1], "rb") as f:
    job = plistlib.load(f)
label = job["Label"]
assert job["ProgramArguments"] == [sys.argv[2], "--clean"], job["ProgramArguments"]
assert isinstance(job["StartCalendarInterval"]["Hour"], int)
assert not any("/etc/default" in word for word in job["ProgramArguments"])
assert sys.argv[1].endswith("/" + label + ".plist"), label
PY
label=$(basename "$job" .plist)
for script in preinstall postinstall; do
  sh -n "$scripts/$script" || fail "$script does not parse"
done

# launchctl as the scripts see it: `print` fails with 113 for a job that is not loaded,
# bootout, bootstrap and load fail when told to.
mkdir "$scratch/bin"
cat >"$scratch/bin/launchctl" <<'STUB'
#!/bin/sh
echo "$*" >>"$LAUNCHCTL_LOG"
case $1 in
  print) [ "$LOADED" = yes ] || exit 113 ;;
  bootout) [ "$BOOTOUT" = ok ] || exit 5 ;;
  bootstrap) [ "$BOOTSTRAP" = ok ] || exit 5 ;;
  load) [ "$LOAD" = ok ] || exit 1 ;;
esac
exit 0
STUB
chmod 755 "$scratch/bin/launchctl"

target=/Library/LaunchDaemons/$label.plist
# script | volume | loaded | bootout | bootstrap | load | status | launchctl calls (";" between)
while IFS='|' read -r script volume loaded bootout bootstrap load status calls; do
  : >"$scratch/log"
  got=0
  PATH="$scratch/bin:$PATH" LAUNCHCTL_LOG="$scratch/log" LOADED=$loaded BOOTOUT=$bootout \
    BOOTSTRAP=$bootstrap LOAD=$load sh "$scripts/$script" /tmp/p.pkg / "$volume" \
    2>"$scratch/err" || got=$?
  want=$(printf '%s' "$calls" | tr ';' '\n')
  [ "$got" = "$status" ] || fail "$script ($loaded, $bootstrap): status $got, not $status"
  [ "$(cat "$scratch/log")" = "$want" ] ||
    fail "$script ($loaded, $bootstrap): launchctl got: $(cat "$scratch/log")"
done <<ROWS
postinstall|/|no|ok|ok|ok|0|print system/$label;bootstrap system $target
postinstall|/|yes|ok|ok|ok|0|print system/$label;bootout system/$label;bootstrap system $target
postinstall|/|yes|fail|ok|ok|0|print system/$label;bootout system/$label;unload $target;bootstrap system $target
postinstall|/|no|ok|fail|ok|0|print system/$label;bootstrap system $target;load -w $target
postinstall|/|no|ok|fail|fail|1|print system/$label;bootstrap system $target;load -w $target
postinstall|/Volumes/Other|no|ok|ok|ok|0|
preinstall|/|yes|ok|ok|ok|0|print system/$label;bootout system/$label
preinstall|/|yes|fail|ok|ok|0|print system/$label;bootout system/$label;unload $target
preinstall|/|no|ok|ok|ok|0|print system/$label
preinstall|/Volumes/Other|yes|ok|ok|ok|0|
ROWS
echo "launchd job and installer scripts: $job runs $check --clean; pre/postinstall ask launchctl as expected"
