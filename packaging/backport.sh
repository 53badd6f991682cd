#!/usr/bin/env bash
# Makes the backport of the Debian source package unpacked in DIR to this
# machine's Debian release, as Debian's own backports are made: a changelog
# entry VERSION~bpoNN+1 for CODENAME-backports, and only the changes that
# the release's debhelper and dpkg need to build what unstable takes. On
# unstable or testing, which have no number, it changes nothing. Prints the
# version the source package then has.
#
# usage: packaging/backport.sh DIR   (SOURCE_DATE_EPOCH dates the entry)
set -euo pipefail
debian=$1/debian
number=$(. /etc/os-release && echo "${VERSION_ID:-}")
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
version=$(dpkg-parsechangelog -l "$debian/changelog" -S Version)
if [ -z "$number" ]; then
    echo "$version"
    exit 0
fi

# Debian 12's debhelper knows compat levels up to 13 only.
dpkg-query -W -f '${Provides}' debhelper | grep -q 'debhelper-compat (= 14)' ||
    sed -i 's/debhelper-compat (= 14)/debhelper-compat (= 13)/' "$debian/control"
# dpkg takes these as given only from 1.22.13 on; before, a source package
# that leaves them out is built as root and its packages have no priority.
dpkg --compare-versions "$(dpkg-query -W -f '${Version}' dpkg)" ge 1.22.13 ||
    sed -i -e '/^Section:/a Priority: optional' -e '/^Standards-Version:/a Rules-Requires-Root: no' \
        "$debian/control"

backport=$version~bpo$number+1
{
    echo "pathloss ($backport) $codename-backports; urgency=medium"
    echo
    echo "  * Rebuild for $codename-backports."
    echo
    echo " -- $(dpkg-parsechangelog -l "$debian/changelog" -S Maintainer)  $(LC_ALL=C date -u -R -d "@$SOURCE_DATE_EPOCH")"
    echo
    cat "$debian/changelog"
} >"$debian/changelog.new"
mv "$debian/changelog.new" "$debian/changelog"
touch -d "@$SOURCE_DATE_EPOCH" "$debian/changelog" "$debian/control"
echo "$backport"
