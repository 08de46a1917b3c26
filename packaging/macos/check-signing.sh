#!/bin/sh
# sign-and-notarise.sh and cpack's signing hook against stand-ins of Apple's codesign, productsign
# and xcrun, which record their arguments and answer as the real ones do (status, notarytool's
# JSON answer, productsign's output file). Without identities each step is skipped in one line;
# with them each tool is called as the package needs; a refusal anywhere fails the run.
# Usage: check-signing.sh PACKAGING_MACOS_DIR
set -eu
dir=$1
script=$dir/sign-and-notarise.sh
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
sh -n "$script" || fail "sign-and-notarise.sh does not parse"

mkdir "$scratch/bin"
for tool in codesign productsign xcrun; do
  cat >"$scratch/bin/$tool" <<STUB
#!/bin/sh
echo "$tool \$*" >>"\$TOOL_LOG"
[ "\${REFUSE:-}" != "$tool \$1" ] || exit 1
STUB
done
# productsign writes the signed package to its last argument.
cat >>"$scratch/bin/productsign" <<'STUB'
for last in "$@"; do :; done
echo signed >"$last"
STUB
cat >>"$scratch/bin/xcrun" <<'STUB'
[ "$1 $2" != "notarytool submit" ] ||
  printf '{"id":"0a1b","message":"Processing complete","status":"%s"}\n' "${NOTARY_STATUS:-Accepted}"
STUB
chmod 755 "$scratch/bin/"*

run() {  # run NAME=VALUE... -- ARGS...: the script's output, its status and the tools' calls
  : >"$scratch/log"
  printf 'pkg' >"$scratch/p.pkg"
  status=0
  env -i PATH="$scratch/bin:$PATH" TOOL_LOG="$scratch/log" "$@" >"$scratch/out" 2>&1 || status=$?
}
expect() {  # expect STATUS LINES CALL...: the status, the number of output lines, each call in order
  want=$1
  lines=$2
  shift 2
  [ "$status" = "$want" ] || fail "status $status, not $want: $(cat "$scratch/out")"
  [ "$(wc -l <"$scratch/out")" -eq "$lines" ] || fail "not $lines lines: $(cat "$scratch/out")"
  printf '%s\n' "$@" | sed '/^$/d' >"$scratch/want"
  cmp -s "$scratch/want" "$scratch/log" || fail "calls: $(cat "$scratch/log"), not: $*"
}
app="Developer ID Application: Example (TEAM1)"
inst="Developer ID Installer: Example (TEAM1)"
a=$scratch/a
b=$scratch/b
: >"$a"
: >"$b"

run sh "$script" binaries "$a" "$b"
expect 0 1
grep -q 'VP_SIGN_APPLICATION is not set' "$scratch/out" || fail "skip line: $(cat "$scratch/out")"
run sh "$script" package "$scratch/p.pkg"
expect 0 2
run VP_SIGN_APPLICATION="$app" sh "$script" binaries "$a" "$b"
expect 0 1 "codesign --force --sign $app --options runtime --timestamp $a" \
  "codesign --verify --strict $a" "codesign --force --sign $app --options runtime --timestamp $b" \
  "codesign --verify --strict $b"
run VP_SIGN_APPLICATION="$app" VP_KEYCHAIN=/k sh "$script" binaries "$a"
expect 0 1 "codesign --force --sign $app --options runtime --timestamp --keychain /k $a" \
  "codesign --verify --strict $a"
run VP_SIGN_APPLICATION="$app" REFUSE="codesign --verify" sh "$script" binaries "$a"
expect 1 1 "codesign --force --sign $app --options runtime --timestamp $a" \
  "codesign --verify --strict $a"
run VP_SIGN_APPLICATION="$app" sh "$script" binaries "$scratch/missing"
expect 1 1

pkg=$scratch/p.pkg
signed="productsign --sign $inst --timestamp $pkg $pkg.signed"
submit="xcrun notarytool submit $pkg --wait --output-format json --keychain-profile vp"
run VP_SIGN_INSTALLER="$inst" sh "$script" package "$pkg"
expect 0 2 "$signed"
[ "$(cat "$pkg")" = signed ] || fail "the signed package did not replace $pkg"
run VP_SIGN_INSTALLER="$inst" VP_NOTARY_PROFILE=vp sh "$script" package "$pkg"
expect 0 2 "$signed" "$submit" "xcrun stapler staple $pkg" "xcrun stapler validate $pkg"
run VP_SIGN_INSTALLER="$inst" VP_NOTARY_APPLE_ID=me@example.org VP_NOTARY_TEAM_ID=TEAM1 \
  VP_NOTARY_PASSWORD=pw sh "$script" package "$pkg"
expect 0 2 "$signed" \
  "xcrun notarytool submit $pkg --wait --output-format json --apple-id me@example.org --team-id TEAM1 --password pw" \
  "xcrun stapler staple $pkg" "xcrun stapler validate $pkg"
# notarytool ends with 0 when the submission is rejected: nothing is stapled, the run fails.
run VP_SIGN_INSTALLER="$inst" VP_NOTARY_PROFILE=vp NOTARY_STATUS=Invalid sh "$script" package "$pkg"
expect 1 2 "$signed" "$submit"
run VP_SIGN_INSTALLER="$inst" VP_NOTARY_PROFILE=vp REFUSE="xcrun stapler" sh "$script" package "$pkg"
expect 1 2 "$signed" "$submit" "xcrun stapler staple $pkg"
run VP_SIGN_INSTALLER="$inst" REFUSE="productsign --sign" sh "$script" package "$pkg"
expect 1 1 "$signed"
run VP_SIGN_INSTALLER="$inst" VP_NOTARY_APPLE_ID=me@example.org sh "$script" package "$pkg"
expect 1 2 "$signed"
run VP_NOTARY_PROFILE=vp sh "$script" package "$pkg"
expect 1 2

# cpack's hook signs exactly the staged programs it names, wherever cpack staged them.
stage=$scratch/stage
mkdir -p "$stage/usr/libexec/cups/backend" "$stage/usr/local/sbin" "$stage/usr/local/share/man"
for file in usr/libexec/cups/backend/virtual-printer usr/libexec/cups/backend/pdfinfo \
  usr/local/sbin/virtual-printer-check usr/local/share/man/virtual-printer.8; do
  : >"$stage/$file"
done
hook() {
  run VP_SIGN_APPLICATION="$app" cmake -DCPACK_TEMPORARY_DIRECTORY="$stage" \
    -DCPACK_VP_SIGN_SCRIPT="$script" "-DCPACK_VP_SIGNED_PROGRAMS=$1" -P "$dir/sign_staged.cmake"
}
hook "virtual-printer;virtual-printer-check;pdfinfo"
[ "$status" = 0 ] || fail "the hook failed: $(cat "$scratch/out")"
[ "$(grep -c -- '--options runtime' "$scratch/log")" = 3 ] || fail "hook calls: $(cat "$scratch/log")"
grep -q 'virtual-printer.8' "$scratch/log" && fail "the hook signed the man page"
hook "virtual-printer;page-count"
[ "$status" != 0 ] || fail "the hook passed with a program missing from the stage"
echo "signing: each step skipped in one line without identities, each tool called as needed with them"
