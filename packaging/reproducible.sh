#!/usr/bin/env bash
# Makes the release twice, from two fresh clones of this commit in two
# different folders, one after the other, under another umask, time zone and
# locale, and fails on any difference in dist/, showing diffoscope's report
# of it. Both sign with PATHLOSS_SIGNING_KEY where it is set.
#
# usage: packaging/reproducible.sh   (from the project root; needs diffoscope)
set -euo pipefail
cd "$(dirname "$0")/.."
commit=$(git rev-parse HEAD)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

release() { # FOLDER UMASK TZ LANG PROVE
    (
        umask "$2"
        git clone -q --no-local "$PWD" "$1"
        git -C "$1" checkout -q "$commit"
        # The browser check's npm packages, as npm ci put them here.
        [ ! -d tests/web/node_modules ] || cp -a tests/web/node_modules "$1/tests/web/"
        cd "$1"
        TZ=$3 LANG=$4 LC_ALL=$4 PROVE=$5 packaging/release.sh
    )
}

# The second release only has to show the same bytes: the first has proven
# them.
start=$(date +%s)
release "$work/first" 022 UTC C.UTF-8 yes
release "$work/second/elsewhere" 077 Pacific/Kiritimati es_ES.UTF-8 no
echo "reproducible: two releases took $(($(date +%s) - start)) s"

# Ed25519 and RSA sign the same bytes every time, DSA and ECDSA with a new
# random number each time: with such a key the check leaves out what holds
# a signature.
if [ -n "${PATHLOSS_SIGNING_KEY:-}" ] && gpg --batch --with-colons --list-keys "$PATHLOSS_SIGNING_KEY" 2>/dev/null |
    awk -F: '$1 ~ /^(pub|sub)$/ && $12 ~ /s/ && $4 != 1 && $4 != 22 { random = 1 } END { exit !random }'; then
    echo "reproducible: the signing key signs with a random number, so the signatures, the .rpm" \
        "that hold theirs, the repositories, the home that lists their digests and their lines in" \
        "SHA256SUMS are left out"
    signed='(\.asc|\.sig|\.rpm|-(apt|rpm|pacman|home)\.tar\.gz)'
    for dist in "$work/first/dist" "$work/second/elsewhere/dist"; do
        find "$dist" -regextype egrep -regex ".*$signed" -delete
        grep -vE "$signed\$" "$dist/SHA256SUMS" >"$work/sums" && mv "$work/sums" "$dist/SHA256SUMS"
    done
fi
if ! diff -r "$work/first/dist" "$work/second/elsewhere/dist"; then
    diffoscope --exclude-directory-metadata=yes "$work/first/dist" "$work/second/elsewhere/dist" || true
    echo "reproducible: FAILED: the two releases differ" >&2
    exit 1
fi
echo "reproducible: both releases of $commit are byte for byte the same:"
cat "$work/first/dist/SHA256SUMS"
