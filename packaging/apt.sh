#!/usr/bin/env bash
# Makes an apt repository of the given .debs in DIR, a folder for any static
# web host, as Debian's tools make one (apt-ftparchive): the packages in
# pool/, an index for each of their architectures in dists/stable, and its
# Release, signed with the maintainer's key (InRelease and Release.gpg).
# apt fetches the indexes by their digest, so a reader never mixes two
# releases of the repository while one is being copied over the other
# (HACKING.md, Signing). Beside them, pathloss.sources: what a user puts in
# /etc/apt/sources.list.d/, the repository's address (PATHLOSS_APT_URI, or a
# placeholder) and its public key in one file.
#
# usage: packaging/apt.sh DIR DEB...   (PATHLOSS_SIGNING_KEY as for the release)
# shellcheck source=packaging/lib.sh
. "$(dirname "$0")/lib.sh"
dir=$(realpath -m "$1")
shift
suite=$dir/dists/stable pool=pool/main/p/pathloss
rm -rf "$dir"
mkdir -p "$dir/$pool"
cp "$@" "$dir/$pool/"
cd "$dir"

archs=$(for deb in "$pool"/*.deb; do dpkg-deb -f "$deb" Architecture; done | sort -u | tr '\n' ' ')
# SHA-256 alone, as Debian's own archive has it: apt fetches an index by its
# strongest digest, so each digest listed needs a copy by-hash.
ftparchive=(apt-ftparchive -o APT::FTPArchive::MD5=false -o APT::FTPArchive::SHA1=false
    -o APT::FTPArchive::SHA512=false)
for arch in $archs; do
    index=dists/stable/main/binary-$arch
    mkdir -p "$index/by-hash/SHA256"
    "${ftparchive[@]}" --arch "$arch" packages "$pool" >"$index/Packages"
    xz -9 -k "$index/Packages"
    for file in "$index"/Packages*; do
        cp "$file" "$index/by-hash/SHA256/$(sha256sum <"$file" | cut -d' ' -f1)"
    done
done

date=$(date -u -d "@$SOURCE_DATE_EPOCH" '+%a, %d %b %Y %H:%M:%S UTC')
release=APT::FTPArchive::Release
(cd "$suite" && "${ftparchive[@]}" -o $release::Origin=pathloss -o $release::Label=pathloss \
    -o $release::Suite=stable -o $release::Codename=stable -o "$release::Date=$date" \
    -o "$release::Architectures=${archs% }" -o $release::Components=main -o $release::Acquire-By-Hash=yes \
    -o "$release::Signed-By=$PATHLOSS_SIGNING_KEY" \
    -o "$release::Description=pathloss, the free-space path loss calculator" release . >"$dir/Release")
mv Release "$suite/Release"
sign --clear "$suite/Release" "$suite/InRelease"
sign "$suite/Release" "$suite/Release.gpg"

# deb822 folds the key's lines, and marks an empty one with a point.
{
    echo "# pathloss's own apt repository: put this file in /etc/apt/sources.list.d/,"
    echo "# then: sudo apt update && sudo apt install pathloss"
    echo "Types: deb"
    echo "URIs: ${PATHLOSS_APT_URI:-https://the-repository-address.invalid/}"
    echo "Suites: stable"
    echo "Components: main"
    echo "Signed-By:"
    public_key | sed 's/^$/./; s/^/ /'
} >pathloss.sources
find . -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
