#!/usr/bin/env bash
# Builds dist/pathloss_REVISION_ARCH.deb from the Debian source package's
# backport to this Debian release (at REVISION; lib.sh's debian_tree), as
# Debian's builders would on this machine: cross-built, with the cross
# profile, for any other architecture, and for ARMv6 where it is armhf.
# The tests are left to the source package's own build, which
# packaging/debian-checks.sh makes. Then proves it: lintian, exactly its
# files, its man pages, every protection the architecture can have, and
# every transcript run by its program under RUNNER.
#
# usage: packaging/deb.sh [--check] NAME ARCH RUNNER   (the interface:
# packaging/lib.sh; NAME is the row's, unused)
# shellcheck source=packaging/lib.sh
. "$(dirname "$0")/lib.sh"
begin "$@"
arch=${fields[1]} runner=${fields[2]}
native=$(dpkg --print-architecture)
if checking; then
    codename=$(os_release VERSION_CODENAME)
    # The architectures of this Debian release, as its archive lists them.
    archs=" $(sed -n 's/^Architectures: //p' /var/lib/apt/lists/*_dists_"$codename"_*Release 2>/dev/null |
        head -n 1 || true) "
    [ -n "${archs// /}" ] || {
        echo "apt lists no architectures for '$codename' (apt-get update first)"
        exit 1
    }
    [[ $archs == *" $arch "* ]] || {
        echo "$(os_release PRETTY_NAME) has no $arch"
        exit $not_here
    }
    need dpkg-buildpackage dh dpkg-deb lintian groff readelf hardening-check
    # A cross-built .deb is compiled and stripped by the target's own
    # tools; the ARMv6 one by the armel compiler.
    if [ "$arch" != "$native" ]; then
        gnu_type=$(dpkg-architecture -a"$arch" -qDEB_HOST_GNU_TYPE 2>/dev/null)
        need "$gnu_type-strip"
        if [ "$arch" = armhf ]; then need arm-linux-gnueabi-g++; else need "$gnu_type-g++"; fi
    fi
    need_runner "$runner"
    need_debian_version
    checked
fi
dir=$work/deb-$arch
debian_tree --backport "$dir"
revision=$(dpkg-parsechangelog -l "$dir/$source/debian/changelog" -S Version)
deb=pathloss_${revision}_$arch.deb

options=(-b -uc -us -Jauto) profiles=nocheck
[ "$arch" = "$native" ] || {
    options+=(-a"$arch")
    profiles+=,cross
}
[ "$arch" != armhf ] || profiles+=,pkg.pathloss.armv6
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
