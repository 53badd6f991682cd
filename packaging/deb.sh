#!/usr/bin/env bash
# Builds dist/pathloss_REVISION_ARCH.deb from the Debian source package (its
# backport to this Debian release, at REVISION) that packaging/release.sh
# has unpacked in build/release/backport, as Debian's
# builders would on this machine: cross-built, with the cross profile, for
# any other architecture, and for ARMv6 where it is armhf. The tests are
# left to the source package's own build, which packaging/debian-checks.sh
# makes. Then proves it: lintian, exactly its files, its man pages, every
# protection the architecture can have, and every transcript run by its
# program under RUNNER.
#
# usage: packaging/deb.sh ARCH RUNNER REVISION   (RUNNER as in release.sh's targets)
# shellcheck source=packaging/lib.sh
. "$(dirname "$0")/lib.sh"
arch=$1 runner=$2 revision=$3
source=pathloss-$version
dir=$work/deb-$arch
deb=pathloss_${revision}_$arch.deb

options=(-b -uc -us -Jauto) profiles=nocheck
[ "$arch" = "$(dpkg --print-architecture)" ] || {
    options+=(-a"$arch")
    profiles+=,cross
}
[ "$arch" != armhf ] || profiles+=,pkg.pathloss.armv6
rm -rf "$dir"
mkdir "$dir"
cp -R "$work/backport/$source" "$dir/"
(cd "$dir/$source" && DEB_BUILD_OPTIONS="nocheck noautodbgsym" \
    dpkg-buildpackage "${options[@]}" -P"$profiles") >"$dir.log" 2>&1
mv "$dir/$deb" dist/

tags=$(lintian --pedantic -I "dist/$deb" 2>/dev/null) || true
[ -z "$tags" ] || fail "$deb: lintian: $tags"

unpacked=$dir/unpacked
dpkg-deb -x "dist/$deb" "$unpacked"
program=$unpacked/usr/bin/pathloss
# Every protection the architecture can have: control-flow protection is
# x86's, branch protection arm64's (hardening-check reports both everywhere
# from Debian 13 on). A program that carries its C library in, the ARMv6
# one, can have neither PIE nor immediate binding, and says why to lintian.
case $arch in
amd64 | i386) elsewhere="Branch Protection" ;;
arm64) elsewhere="Control flow integrity" ;;
*) elsewhere="Branch Protection|Control flow integrity" ;;
esac
override=()
if readelf -lW "$program" | grep -q 'program interpreter'; then
    hardening=$(hardening-check "$program" 2>/dev/null) || true
    ! grep ': no' <<<"$hardening" | grep -qEv "^ ($elsewhere):" || fail "$deb: hardening-check: $hardening"
else
    override=(usr/share/lintian/overrides/pathloss)
fi
doc=usr/share/doc/pathloss man=usr/share/man
holds "$deb" "$unpacked" usr/bin/pathloss $doc/README.md.gz $doc/NEWS.gz $doc/copyright \
    $doc/changelog.Debian.gz $man/man1/pathloss.1.gz $man/es/man1/pathloss.1.gz "${override[@]}"
man_pages_render "$deb" "$unpacked"
# On the target's own C library, as Debian installs it (multiarch): qemu-user
# finds its loader here.
prove "$deb" "$runner" "$program"
finish
