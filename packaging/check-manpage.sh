#!/bin/sh
# Fails when a manual page (plain or gzip-compressed) makes groff or man(1) warn.
# Usage: check-manpage.sh PAGE
set -eu
page=$1
[ -r "$page" ] || { echo "cannot read $page" >&2; exit 1; }

case $page in
  *.gz) warnings=$(gzip -dc "$page" | groff -man -ww -z 2>&1) ;;
  *) warnings=$(groff -man -ww -z "$page" 2>&1) ;;
esac
if [ -n "$warnings" ]; then
  printf 'groff -man -ww -z %s:\n%s\n' "$page" "$warnings" >&2
  exit 1
fi

# man -l also runs the preprocessors and formats for a terminal, where lines must break.
if command -v man >/dev/null 2>&1; then
  warnings=$(MANWIDTH=80 man --warnings=w -l "$page" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then
    printf 'man --warnings=w -l %s:\n%s\n' "$page" "$warnings" >&2
    exit 1
  fi
fi
echo "$page renders without warnings"
