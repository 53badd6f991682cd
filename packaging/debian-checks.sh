#!/usr/bin/env bash
# Proves a Debian source package as Debian's own CI would: built by sbuild
# in a clean chroot of this machine's Debian release from the .dsc alone, as
# a user other than root, with only its Build-Depends and no network; then
# lintian, blhc, autopkgtest, piuparts and reprotest, each timed, with its
# log in WORK/NAME.log. packaging/release.sh calls it on the source package
# it made.
#
# usage: packaging/debian-checks.sh DSC WORK
# The chroot tarball is PATHLOSS_CHROOT_CACHE/SUITE-ARCH.tar.gz (default:
# the build user's ~/.cache/sbuild, where sbuild itself looks); mmdebstrap
# makes it where there is none. PATHLOSS_UPGRADE_FROM names an earlier
# release's .deb for this machine, from which piuparts then also upgrades.
# ./install-deps.sh release installs the tools.
set -euo pipefail
[ $# -eq 2 ] || {
    echo "usage: $0 DSC WORK" >&2
    exit 2
}
for tool in sbuild mmdebstrap lintian blhc autopkgtest piuparts reprotest dpkg-scanpackages; do
    command -v "$tool" >/dev/null || {
        echo "debian-checks: $tool is missing (./install-deps.sh release installs it)" >&2
        exit 1
    }
done
export TZ=UTC LC_ALL=C
umask 022

source=$(realpath "$1")
out=$(realpath -m "$2")
earlier=${PATHLOSS_UPGRADE_FROM:+$(realpath "$PATHLOSS_UPGRADE_FROM")}
rm -rf "$out"
mkdir -p "$out"
arch=$(dpkg --print-architecture)
suite=$(. /etc/os-release && echo "$VERSION_CODENAME")

# sbuild, lintian and autopkgtest's unshare runner are meant to run as a
# user other than root; as root this runs them as PATHLOSS_BUILD_USER, made
# here where it is missing (with the subordinate ids that their namespaces
# map).
as_builder=()
home=$HOME
if [ "$(id -u)" -eq 0 ]; then
    builder=${PATHLOSS_BUILD_USER:-pathloss-build}
    id "$builder" >/dev/null 2>&1 || useradd --create-home --shell /bin/sh "$builder"
    home=$(getent passwd "$builder" | cut -d: -f6)
    as_builder=(runuser -u "$builder" -- env HOME="$home")
fi
# That user may not reach WORK, under a folder private to root: the checks
# run in a folder of their own, which ends up in WORK.
work=$out
if [ -n "${builder:-}" ]; then
    work=$(mktemp -d)
    chmod 755 "$work"
    chown "$builder" "$work"
    trap 'cp -R "$work/." "$out/" && rm -rf "$work"' EXIT
fi
cd "$work"
# sbuild writes its packages beside the source package it builds.
cp "${source%.dsc}".* "$(dirname "$source")/"*.orig.tar.gz "$work/"
dsc=$work/$(basename "$source")
revision=$(basename "$dsc" .dsc)
revision=${revision#pathloss_}
cache=${PATHLOSS_CHROOT_CACHE:-$home/.cache/sbuild}
chroot=$cache/$suite-$arch.tar.gz

failures=()
# Runs NAME COMMAND..., its output in WORK/NAME.log, and says how
# long it took; a failure shows the log's end.
step() {
    local name=$1 start=$SECONDS
    shift
    if "$@" >"$work/$name.log" 2>&1; then
        echo "debian-checks: $name passed in $((SECONDS - start))s"
    else
        echo "debian-checks: $name FAILED in $((SECONDS - start))s:"
        tail -n 30 "$work/$name.log"
        failures+=("$name")
    fi
}
# Runs COMMAND..., which fails if it prints anything.
silent() {
    local output
    output=$("$@" 2>&1) || output+=$'\n(failed)'
    printf '%s' "$output"
    [ -z "$output" ]
}

if [ ! -e "$chroot" ]; then
    mkdir -p "$cache"
    step mmdebstrap mmdebstrap --variant=buildd "$suite" "$chroot"
fi

# sbuild builds as an unprivileged user in a namespace of its own, with the
# network cut. The .changes names the changelog's distribution, as an
# upload's does, whatever release the chroot has.
distribution=$(tar -xJOf "${dsc%.dsc}.debian.tar.xz" debian/changelog | dpkg-parsechangelog -l - -S Distribution)
step sbuild "${as_builder[@]}" sbuild --chroot-mode=unshare --chroot="$chroot" --dist="$distribution" \
    --arch="$arch" --build-dir="$work" --no-run-lintian --no-run-piuparts --no-run-autopkgtest "$dsc"
[ -z "${failures[*]}" ] || exit 1
changes=$work/pathloss_${revision}_$arch.changes
debs=("$work"/*_"$arch".deb)

# The one tag that Debian's first upload itself mends, by closing the bug
# that announces it (ITP), which does not exist yet; packaging/release.sh
# leaves it out of its own lintian runs too.
step lintian silent "${as_builder[@]}" lintian -I --pedantic --suppress-tags initial-upload-closes-no-bugs \
    "$dsc" "$changes"
step blhc silent blhc --all --debian "$work/pathloss_${revision}_$arch.build"
# The chroot tarball holds no package lists.
step autopkgtest "${as_builder[@]}" autopkgtest --setup-commands="apt-get update" "$changes" "$dsc" \
    -- unshare --release "$suite" --arch "$arch" --tarball "$chroot"
# Given an earlier release's .deb, piuparts finds it in a repository of
# its own and upgrades from it too.
upgrade=()
if [ -n "$earlier" ]; then
    mkdir "$work/earlier"
    cp "$earlier" "$work/earlier/"
    (cd "$work/earlier" && dpkg-scanpackages . >Packages 2>/dev/null)
    upgrade=(--bindmount "$work/earlier" --extra-repo "deb [trusted=yes] file://$work/earlier ./")
fi
step piuparts piuparts --basetgz "$chroot" --distribution "$suite" "${upgrade[@]}" "${debs[@]}"
# Two builds on this machine under reprotest's default variations; the
# tests, which the clean build has run, would only take the time.
step reprotest reprotest --store-dir="$work/reprotest" \
    --auto-preset-expr '_.str_replace.build_command("dpkg-buildpackage", "DEB_BUILD_OPTIONS=nocheck dpkg-buildpackage -Pnocheck")' \
    "$dsc" -- null

if [ "${#failures[@]}" -gt 0 ]; then
    echo "debian-checks: FAILED: ${failures[*]} (their logs: $out/NAME.log)" >&2
    exit 1
fi
echo "debian-checks: every check passed"
