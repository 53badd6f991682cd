#!/usr/bin/env bash
# Makes the Debian source package from the release's source tarball and
# proves it as Debian's own CI would: built by sbuild in a clean bookworm
# chroot from the .dsc alone, as a user other than root, with only its
# Build-Depends and no network; then lintian, blhc, autopkgtest, piuparts
# and reprotest, each timed. Everything lands in build/debian/.
#
# usage: packaging/debian-package.sh   (from the project root)
# The chroot tarball is PATHLOSS_CHROOT_CACHE/bookworm-ARCH.tar.gz
# (default: the build user's ~/.cache/sbuild, where sbuild itself looks);
# mmdebstrap makes it where there is none. ./install-deps.sh debian installs the tools.
set -euo pipefail
cd "$(dirname "$0")/.."

# Everything is dated by the changelog's latest entry, as dpkg-buildpackage
# does, whatever the clock or the checkout says.
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l packaging/debian/changelog -S Timestamp)
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
umask 022

version=$(sed -n 's/^project(pathloss VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
revision=$(dpkg-parsechangelog -l packaging/debian/changelog -S Version)
[ "${revision%-*}" = "$version" ] || {
    echo "debian-package: packaging/debian/changelog is at $revision, the project at $version" >&2
    exit 1
}
arch=$(dpkg --print-architecture)
work=$PWD/build/debian
tarball=dist/pathloss-$version.tar.gz
[ -e "$tarball" ] || env -u SOURCE_DATE_EPOCH PROVE=no packaging/release.sh source
rm -rf "$work"
mkdir -p "$work"

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
    chown "$builder" "$work"
fi
cache=${PATHLOSS_CHROOT_CACHE:-$home/.cache/sbuild}
chroot=$cache/bookworm-$arch.tar.gz

failures=()
# Runs NAME COMMAND..., its output in build/debian/NAME.log, and says how
# long it took; a failure shows the log's end.
step() {
    local name=$1 start=$SECONDS
    shift
    if "$@" >"$work/$name.log" 2>&1; then
        echo "debian-package: $name passed in $((SECONDS - start))s"
    else
        echo "debian-package: $name FAILED in $((SECONDS - start))s:"
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

# The source package: the release's tarball as the .orig, byte for byte,
# and packaging/debian as debian/.
cp "$tarball" "$work/pathloss_$version.orig.tar.gz"
tar -C "$work" -xzf "$tarball"
cp -r packaging/debian "$work/pathloss-$version/debian"
chmod -R u=rwX,go=rX "$work/pathloss-$version/debian"
find "$work/pathloss-$version/debian" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
(cd "$work" && dpkg-source -b "pathloss-$version" >/dev/null)
(cd "$work/pathloss-$version" && dpkg-genchanges -S >"../pathloss_${revision}_source.changes" 2>/dev/null)
dsc=$work/pathloss_$revision.dsc

if [ ! -e "$chroot" ]; then
    mkdir -p "$cache"
    step mmdebstrap mmdebstrap --variant=buildd bookworm "$chroot"
fi

# sbuild builds as an unprivileged user in a namespace of its own, with the
# network cut.
step sbuild "${as_builder[@]}" sbuild --chroot-mode=unshare --chroot="$chroot" --dist=bookworm \
    --arch="$arch" --build-dir="$work" --no-run-lintian --no-run-piuparts --no-run-autopkgtest "$dsc"
[ -z "${failures[*]}" ] || exit 1
changes=$work/pathloss_${revision}_$arch.changes
debs=("$work"/*_"$arch".deb)

# No intent-to-package bug exists yet, which is the only thing this tag
# says; Debian's first upload closes it, and no override in the binary
# package should outlive that.
step lintian silent "${as_builder[@]}" lintian -I --pedantic --suppress-tags initial-upload-closes-no-bugs \
    "$work/pathloss_${revision}_source.changes" "$changes"
step blhc silent blhc --all --debian "$work/pathloss_${revision}_$arch.build"
# The chroot tarball holds no package lists.
step autopkgtest "${as_builder[@]}" autopkgtest --setup-commands="apt-get update" "$changes" "$dsc" \
    -- unshare --release bookworm --arch "$arch" --tarball "$chroot"
step piuparts piuparts --basetgz "$chroot" --distribution bookworm "${debs[@]}"
# Two builds on this machine under reprotest's default variations.
step reprotest reprotest --store-dir="$work/reprotest" "$dsc" -- null

# Cross builds as Debian's CI makes them (the cross and nocheck profiles),
# each proven on every transcript under qemu-user: s390x is big-endian.
# PATHLOSS_CROSS names the architectures ("" for none).
#
# Debian's security archive carries only some of bookworm's architectures,
# s390x not among them, and a package of the build machine's that it
# updated cannot sit beside the target's older one. The cross builds' chroot
# is bookworm without it.
cross_chroot=$cache/bookworm-$arch-cross.tar.gz
if [ -n "${PATHLOSS_CROSS-arm64 s390x}" ] && [ ! -e "$cross_chroot" ]; then
    step mmdebstrap-cross sh -c "tar -xzOf '$chroot' ./etc/apt/sources.list | grep -v -- -security |
        mmdebstrap --variant=buildd bookworm '$cross_chroot' -"
fi
for host in ${PATHLOSS_CROSS-arm64 s390x}; do
    step "sbuild-$host" "${as_builder[@]}" sbuild --chroot-mode=unshare --chroot="$cross_chroot" \
        --dist=bookworm --host="$host" --profiles=cross,nocheck --build-dir="$work" \
        --no-run-lintian --no-run-piuparts --no-run-autopkgtest "$dsc"
    dpkg-deb -x "$work/pathloss_${revision}_$host.deb" "$work/$host" || continue
    step "qemu-$host" python3 tests/transcript.py "qemu-$(dpkg-architecture -a"$host" -qDEB_HOST_GNU_CPU 2>/dev/null)" \
        -L "/usr/$(dpkg-architecture -a"$host" -qDEB_HOST_GNU_TYPE 2>/dev/null)" "$work/$host/usr/bin/pathloss" tests/transcripts
done

if [ "${#failures[@]}" -gt 0 ]; then
    echo "debian-package: FAILED: ${failures[*]} (their logs: $work/NAME.log)" >&2
    exit 1
fi
echo "debian-package: every check passed"
(cd "$work" && ls pathloss_"$revision"*.dsc pathloss_"$revision".debian.tar.xz pathloss_"$version".orig.tar.gz ./*.deb)
