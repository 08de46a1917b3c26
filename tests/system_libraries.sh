#!/bin/sh
# Fails when a program loads a library from outside the system's folders: under the scheduler's
# sandbox on macOS a backend cannot read one from a Homebrew prefix, /usr/local or a home folder,
# and would not even start.
# Usage: system_libraries.sh PROGRAM...
set -u
status=0
for program in "$@"; do
  libraries=$(otool -L "$program") || { status=1; continue; }
  # Each library on a line of its own, indented under the file (and architecture) it is for.
  outside=$(printf '%s\n' "$libraries" | grep -E '^[[:space:]]' | awk '{print $1}' |
    grep -Ev '^(/usr/lib/|/System/Library/)')
  if [ -n "$outside" ]; then
    printf '%s loads libraries from outside the system:\n%s\n' "$program" "$outside"
    status=1
  fi
done
exit $status
