#!/usr/bin/env bash
# Proves a Debian source package as Debian's own CI would, in unstable,
# where every upload goes: built by sbuild in a clean unstable chroot from
# the .dsc alone, as a user other than root, with only its Build-Depends and
# no network; then autopkgtest and piuparts in unstable, and in a root of
# unstable's own tools, lintian, blhc, reprotest, and a cross build for
# arm64 whose program runs every transcript under qemu-aarch64. Each step is
# timed, with its log in WORK/NAME.log. packaging/release.sh calls it on the
# source package it made.
#
# usage: packaging/debian-checks.sh DSC WORK   (a failure written down as
# packaging/lib.sh says)
# The chroot tarball is PATHLOSS_CHROOT_CACHE/unstable-ARCH.tar.gz (default:
# the build user's ~/.cache/sbuild, where sbuild itself looks); mmdebstrap
# makes it where there is none. PATHLOSS_UPGRADE_FROM names an earlier
# release's .deb for this machine, from which piuparts then also upgrades.
# shellcheck source=packaging/lib.sh
. "$(dirname "$0")/lib.sh"
[ "${1:-}" = --in ] || [ $# -eq 2 ] || {
    echo "usage: $0 DSC WORK" >&2
    exit 2
}
# The paths as given, before the environment's folder.
[ "${1:-}" = --in ] || given=$(realpath "$1") out=$(realpath -m "$2") dsc_name=$(basename "$1")
earlier=${PATHLOSS_UPGRADE_FROM:+$(realpath "$PATHLOSS_UPGRADE_FROM")}
environment

# Runs NAME COMMAND..., its output in DIR/NAME.log, and says how long it
# took; a failure shows the log's end.
step() {
    local name=$1 start=$SECONDS
    shift
    if "$@" >"$dir/$name.log" 2>&1; then
        echo "debian-checks: $name passed in $((SECONDS - start))s"
    else
        echo "debian-checks: $name FAILED in $((SECONDS - start))s:"
        tail -n 30 "$dir/$name.log"
        fail "$dsc_name, as Debian's CI checks it: $name, see $out/$name.log"
    fi
}
# Runs COMMAND..., which fails if it prints anything.
# shellcheck disable=SC2317 # called through step
silent() {
    local output
    output=$("$@" 2>&1) || output+=$'\n(failed)'
    printf '%s' "$output"
    [ -z "$output" ]
}

# mmdebstrap's hook for the root of unstable's tools: $2 is the root, $3
# the folder the packages were built in, its own in the root as /srv, $4
# the folder the logs end up in, and $5 the .dsc's name.
if [ "${1:-}" = --in ]; then
    root=$2 dir=$3 out=$4 dsc_name=$5
    cd "$dir"
    cp -- *.dsc *.tar.* *.deb *.changes *.buildinfo *.build "$root/srv/"
    orig=(*.orig.tar.gz)
    tar -C "$root/srv" --strip-components=1 -xzf "${orig[0]}" --wildcards '*/tests/transcript*'
    chmod -R a+rX "$root/srv"
    as_nobody=(chroot --userspec=nobody:nogroup "$root" env HOME=/tmp)
    dscs=(*.dsc) changes=(*.changes) log=(*_"$(dpkg --print-architecture)".build)
    # The one tag that Debian's first upload itself mends, by closing the
    # ITP bug that announces it, which a person must first file (HACKING.md).
    step lintian silent "${as_nobody[@]}" lintian -I --pedantic --display-experimental \
        --suppress-tags initial-upload-closes-no-bugs "/srv/${dscs[0]}" "${changes[@]/#//srv/}"
    step blhc silent "${as_nobody[@]}" blhc --all --debian "/srv/${log[0]}"
    # Cross-built for arm64 as Debian's cross builders would, then installed
    # here on arm64's own C library and run under qemu-aarch64.
    step cross-arm64 chroot "$root" sh -c "apt-get build-dep -y -a arm64 -Pcross,nocheck /srv/${dscs[0]} &&
        cd /srv && dpkg-source -x ${dscs[0]} cross && cd cross &&
        DEB_BUILD_OPTIONS=nocheck dpkg-buildpackage -b -uc -us -a arm64 -Pcross,nocheck &&
        dpkg -i ../pathloss_*_arm64.deb"
    step transcripts-arm64 "${as_nobody[@]}" python3 /srv/tests/transcript.py qemu-aarch64 /usr/bin/pathloss \
        /srv/tests/transcripts
    # Two builds in unstable under reprotest's default variations; the
    # tests, which the clean build has run, would only take the time. Its
    # variation of the order of files in a folder needs FUSE, and that of
    # the host's name sudo, as a chroot may make no user namespace.
    if [ -e /dev/fuse ]; then
        touch "$root/dev/fuse"
        mount --bind /dev/fuse "$root/dev/fuse"
        at_exit "umount '$root/dev/fuse'"
    fi
    step reprotest chroot "$root" sh -c "apt-get build-dep -y -Pnocheck /srv/${dscs[0]} && cd /srv &&
        reprotest --store-dir=/srv/reprotest --vary=domain_host.use_sudo=1 --auto-preset-expr \
        '_.str_replace.build_command(\"dpkg-buildpackage\", \"DEB_BUILD_OPTIONS=nocheck dpkg-buildpackage -Pnocheck\")' \
        ${dscs[0]} -- null"
    exit 0
fi

rm -rf "$out"
mkdir -p "$out"
arch=$(dpkg --print-architecture)
# Unstable from the mirror this machine's apt uses. It may be older than its
# Release file's short validity (a mirror that is no longer fed, say): it is
# a snapshot to build in, so apt takes it.
valid='Acquire::Check-Valid-Until "false"'

# sbuild and autopkgtest's unshare runner are meant to run as a user other
# than root; as root this runs them as PATHLOSS_BUILD_USER, made here where
# it is missing (with the subordinate ids that their namespaces map).
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
dir=$out
if [ -n "${builder:-}" ]; then
    dir=$(mktemp -d)
    chmod 755 "$dir"
    chown "$builder" "$dir"
    at_exit "cp -R '$dir/.' '$out/' && rm -rf '$dir'"
fi
cd "$dir"
# sbuild writes its packages beside the source package it builds.
cp "${given%.dsc}".* "$(dirname "$given")/"*.orig.tar.gz "$dir/"
dsc=$dir/$(basename "$given")
cache=${PATHLOSS_CHROOT_CACHE:-$home/.cache/sbuild}
chroot=$cache/unstable-$arch.tar.gz

if [ ! -e "$chroot" ]; then
    mkdir -p "$cache"
    step mmdebstrap mmdebstrap --variant=buildd --aptopt="$valid" unstable "$chroot" "$(mirror)"
fi

# sbuild builds as an unprivileged user in a namespace of its own, with the
# network cut.
step sbuild "${as_builder[@]}" sbuild --chroot-mode=unshare --chroot="$chroot" --dist=unstable \
    --arch="$arch" --build-dir="$dir" --no-run-lintian --no-run-piuparts --no-run-autopkgtest "$dsc"
changes=("$dir"/*_"$arch".changes)
debs=("$dir"/*_"$arch".deb)
[ -e "${debs[0]}" ] || finish

# The chroot tarball holds no package lists.
step autopkgtest "${as_builder[@]}" autopkgtest --setup-commands="apt-get update" "${changes[@]}" "$dsc" \
    -- unshare --release unstable --arch "$arch" --tarball "$chroot"
# Given an earlier release's .deb, piuparts finds it in a repository of
# its own and upgrades from it too.
upgrade=()
if [ -n "$earlier" ]; then
    mkdir "$dir/earlier"
    cp "$earlier" "$dir/earlier/"
    (cd "$dir/earlier" && dpkg-scanpackages . >Packages 2>/dev/null)
    upgrade=(--bindmount "$dir/earlier" --extra-repo "deb [trusted=yes] file://$dir/earlier ./")
fi
# Debian 12's piuparts is older than unstable's debconf, which now keeps a
# folder of its own after any install.
step piuparts piuparts --basetgz "$chroot" --distribution unstable --ignore=/var/cache/debconf/tmp.ci/ \
    "${upgrade[@]}" "${debs[@]}"

# Unstable's own lintian, blhc and reprotest, and the arm64 build, run in a
# root made for them (the hook above).
step tools in_fresh_root unstable --variant=buildd --architectures="$arch,arm64" --aptopt="$valid" \
    --include=lintian,blhc,reprotest,faketime,disorderfs,sudo,diffoscope-minimal,python3,qemu-user \
    --include=crossbuild-essential-arm64,libc6-dev:arm64 -- "$dir" "$out" "$dsc_name"
grep '^debian-checks:' "$dir/tools.log" || true
finish
