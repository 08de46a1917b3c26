#!/bin/sh
# Signs what the macOS package ships, and has the package notarised, with the identities and
# credentials the environment gives. A step whose identity or credentials are missing is skipped
# with one line saying so, so that an unsigned package can still be built and tried.
#
#   sign-and-notarise.sh binaries FILE...   codesign each program (hardened runtime, time stamp)
#   sign-and-notarise.sh package PKG        productsign PKG in place, notarise it, staple the ticket
#
# VP_SIGN_APPLICATION  a "Developer ID Application: ..." identity, for the programs
# VP_SIGN_INSTALLER    a "Developer ID Installer: ..." identity, for the package
# VP_KEYCHAIN          the keychain holding them (optional)
# VP_NOTARY_PROFILE    a notarytool keychain profile (xcrun notarytool store-credentials), or all of
# VP_NOTARY_APPLE_ID, VP_NOTARY_TEAM_ID, VP_NOTARY_PASSWORD (an app-specific password)
set -eu

me=sign-and-notarise
fail() {
  echo "$me: $*" >&2
  exit 1
}
keychain() {
  [ -z "${VP_KEYCHAIN:-}" ] || printf '%s\n' --keychain "$VP_KEYCHAIN"
}

sign_binaries() {
  if [ -z "${VP_SIGN_APPLICATION:-}" ]; then
    echo "$me: VP_SIGN_APPLICATION is not set: the programs are not signed"
    return 0
  fi
  for file in "$@"; do
    [ -f "$file" ] || fail "no program $file"
    # shellcheck disable=SC2046 # keychain prints whole words, or none
    codesign --force --sign "$VP_SIGN_APPLICATION" --options runtime --timestamp \
      $(keychain) "$file" || fail "codesign failed on $file"
    codesign --verify --strict "$file" || fail "the signature of $file does not verify"
  done
  echo "$me: signed $# programs with $VP_SIGN_APPLICATION"
}

sign_package() {
  pkg=$1
  if [ -z "${VP_SIGN_INSTALLER:-}" ]; then
    echo "$me: VP_SIGN_INSTALLER is not set: the package is not signed"
    return 1
  fi
  # shellcheck disable=SC2046
  productsign --sign "$VP_SIGN_INSTALLER" --timestamp $(keychain) "$pkg" "$pkg.signed" ||
    fail "productsign failed on $pkg"
  mv "$pkg.signed" "$pkg" || fail "could not replace $pkg"
  echo "$me: signed $pkg with $VP_SIGN_INSTALLER"
}

# notarytool's own exit status does not tell an accepted submission from a rejected one: its
# answer does.
notarise_package() {
  pkg=$1
  signed=$2
  given=0
  for value in "${VP_NOTARY_APPLE_ID:-}" "${VP_NOTARY_TEAM_ID:-}" "${VP_NOTARY_PASSWORD:-}"; do
    [ -z "$value" ] || given=$((given + 1))
  done
  if [ -z "${VP_NOTARY_PROFILE:-}" ] && [ "$given" = 0 ]; then
    echo "$me: neither VP_NOTARY_PROFILE nor VP_NOTARY_APPLE_ID is set: the package is not notarised"
    return 0
  fi
  [ -n "${VP_NOTARY_PROFILE:-}" ] || [ "$given" = 3 ] ||
    fail "VP_NOTARY_APPLE_ID, VP_NOTARY_TEAM_ID and VP_NOTARY_PASSWORD go together"
  [ "$signed" = yes ] || fail "only a signed package can be notarised: set VP_SIGN_INSTALLER"
  if [ -n "${VP_NOTARY_PROFILE:-}" ]; then
    set -- --keychain-profile "$VP_NOTARY_PROFILE"
  else
    set -- --apple-id "$VP_NOTARY_APPLE_ID" --team-id "$VP_NOTARY_TEAM_ID" \
      --password "$VP_NOTARY_PASSWORD"
  fi
  answer=$(xcrun notarytool submit "$pkg" --wait --output-format json "$@") ||
    fail "notarytool failed: $answer"
  case $answer in
    *'"status":"Accepted"'* | *'"status": "Accepted"'*) ;;
    *) fail "notarisation refused $pkg: $answer" ;;
  esac
  xcrun stapler staple "$pkg" || fail "stapler could not staple $pkg"
  xcrun stapler validate "$pkg" || fail "the stapled ticket of $pkg does not validate"
  echo "$me: notarised $pkg and stapled its ticket"
}

[ $# -ge 2 ] || fail "usage: $me binaries FILE... | $me package PKG"
step=$1
shift
case $step in
  binaries) sign_binaries "$@" ;;
  package)
    [ $# = 1 ] && [ -f "$1" ] || fail "no package $*"
    signed=no
    if sign_package "$1"; then signed=yes; fi
    notarise_package "$1" "$signed"
    ;;
  *) fail "usage: $me binaries FILE... | $me package PKG" ;;
esac
