#!/bin/sh
# The page-count program against poppler's pdfinfo on real PDFs from the system's packages, and
# on forms of them made here with qpdf: linearised, with object and cross-reference streams,
# encrypted with an empty user password (and with a real one), damaged (the trailer cut off, which
# a reader repairs by scanning the objects, and the file cut off half-way). Each count must
# equal poppler's, and a file poppler cannot count must fail here too. Then the rest of the
# contract: no arguments, a missing file, files that are not PDFs.
# Usage: page_count_test.sh PROGRAM POPPLER_PDFINFO QPDF SCRATCH [SEARCH_ROOT]
set -u
program=$1 poppler=$2 qpdf=$3 scratch=$4 root=${5:-/usr/share}
# Enough different producers to mean something; Debian's packages named in scripts/setup.sh give
# more than this.
min_found=30
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

rm -rf "$scratch" && mkdir -p "$scratch" || exit 1
find "$root" -name '*.pdf' -type f -size -20M 2>/dev/null | sort >"$scratch/found"
found=$(wc -l <"$scratch/found")
[ "$found" -ge "$min_found" ] || fail "only $found PDFs under $root, fewer than $min_found"

# The made forms start from the first file qpdf reads without complaint.
while read -r source; do
  "$qpdf" --check "$source" >/dev/null 2>&1 && break
done <"$scratch/found"
made="$scratch/made"
mkdir -p "$made"
"$qpdf" --linearize "$source" "$made/linearised.pdf"
"$qpdf" --object-streams=generate "$source" "$made/object-streams.pdf"
"$qpdf" --encrypt "" owner 256 -- "$source" "$made/empty-user-password.pdf"
"$qpdf" --encrypt secret owner 256 -- "$source" "$made/user-password.pdf"
size=$(wc -c <"$source")
head -c $((size / 2)) "$source" >"$made/cut-off.pdf"
"$qpdf" --object-streams=disable "$source" "$scratch/plain.pdf"
size=$(wc -c <"$scratch/plain.pdf")
head -c $((size - 40)) "$scratch/plain.pdf" >"$made/trailer-cut-off.pdf"
"$qpdf" --check-linearization "$made/linearised.pdf" >/dev/null 2>&1 ||
  fail "qpdf made no linearised file"
grep -aq '/Type */ObjStm' "$made/object-streams.pdf" && grep -aq '/Type */XRef' "$made/object-streams.pdf" ||
  fail "qpdf made no object and cross-reference streams"
"$qpdf" --is-encrypted "$made/empty-user-password.pdf" || fail "qpdf made no encrypted file"
ls "$made"/*.pdf >>"$scratch/found"

agreed=0 total=0
while read -r pdf; do
  total=$((total + 1))
  expected=$("$poppler" "$pdf" 2>/dev/null | sed -n 's/^Pages: *//p')
  "$program" "$pdf" >"$scratch/out" 2>"$scratch/err"
  status=$?
  if [ -n "$expected" ]; then
    if [ "$status" -eq 0 ] && [ "$(cat "$scratch/out")" = "Pages: $expected" ] && [ ! -s "$scratch/err" ]; then
      agreed=$((agreed + 1))
    else
      fail "$pdf: poppler counts $expected, this program says '$(cat "$scratch/out")' (exit $status)"
    fi
  elif [ "$status" -ne 0 ] && [ ! -s "$scratch/out" ] && [ "$(wc -l <"$scratch/err")" -eq 1 ]; then
    agreed=$((agreed + 1))
  else
    fail "$pdf: poppler counts no pages, this program exits $status with '$(cat "$scratch/out")'"
  fi
done <"$scratch/found"
echo "page counts: $agreed/$total agree with poppler's pdfinfo ($found from packages, the rest made)"
expected=$("$poppler" "$made/user-password.pdf" 2>/dev/null | sed -n 's/^Pages: *//p')
[ -z "$expected" ] || fail "poppler counted a file locked with a user password"

# The contract beyond counting: one line on standard error and status 1, nothing on standard output.
printf 'plain text\n' >"$scratch/text.pdf"
: >"$scratch/empty.pdf"
for case in "$scratch/missing.pdf" "$scratch/text.pdf" "$scratch/empty.pdf" "$scratch" \
  "$made/user-password.pdf"; do
  "$program" "$case" >"$scratch/out" 2>"$scratch/err"
  status=$?
  [ "$status" -eq 1 ] && [ ! -s "$scratch/out" ] && [ "$(wc -l <"$scratch/err")" -eq 1 ] ||
    fail "$case: exit $status, '$(cat "$scratch/out")' on stdout, $(wc -l <"$scratch/err") lines on stderr"
done
# As CUPS's device discovery runs it: no arguments, no output, status 0.
out=$("$program" 2>&1)
status=$?
[ "$status" -eq 0 ] && [ -z "$out" ] || fail "without arguments: exit $status, output '$out'"

[ "$failures" -eq 0 ] || exit 1
