#!/usr/bin/env bash
# Makes the Debian source package as Debian's unstable takes it,
# dist/pathloss_REVISION.dsc with its .debian.tar.xz and the source tarball
# as its .orig.tar.gz, and its backport to this machine's Debian release
# (packaging/backport.sh; on unstable none), from which every .deb is
# built. Then proves the first as Debian's own CI would
# (packaging/debian-checks.sh).
#
# usage: packaging/dsc.sh [--check]   (the interface: packaging/lib.sh)
# shellcheck source=packaging/lib.sh
. "$(dirname "$0")/lib.sh"
begin "$@"
if checking; then
    need dpkg-source dpkg-parsechangelog tar gzip xz
    ! proving || need sbuild mmdebstrap autopkgtest piuparts dpkg-scanpackages
    need_debian_version
    checked
fi
dir=$work/dsc

debian_tree "$dir/debian"
debian_tree --backport "$dir/backport"
for tree in debian backport; do
    (cd "$dir/$tree" && dpkg-source -b "$source" >"$dir/$tree.log")
done
cp "$dir/debian/"*.orig.tar.gz "$dir/debian/"*.debian.tar.xz "$dir/debian/"*.dsc \
    "$dir/backport/"*.debian.tar.xz "$dir/backport/"*.dsc dist/

! proving || produce packaging/debian-checks.sh "dist/pathloss_$(debian_version).dsc" "$dir/debian-checks"
finish
