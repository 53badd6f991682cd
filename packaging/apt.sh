#!/usr/bin/env bash
# Makes dist/pathloss-VERSION-apt.tar.gz, with the maintainer's key, an apt
# repository of every .deb in dist/ for any static web host, as Debian's
# tools make one (apt-ftparchive): the packages in pool/, an index for each
# of their architectures in dists/stable, each also under its digest
# (by-hash), and its Release, signed (InRelease and Release.gpg). Beside
# them, and in dist/, pathloss.sources: what a user puts in
# /etc/apt/sources.list.d/, the repository's address under the home's
# (PATHLOSS_HOME) and its public key in one file.
#
# Then proves it as users meet it, in a fresh Debian 12 and a fresh Debian
# 13 root, with the repository served on 127.0.0.1: pathloss.sources alone
# lets apt install pathloss, whose program then runs every transcript; a
# newer release's repository at the same address is an upgrade; one whose
# index has a changed byte, or whose InRelease another key signed, makes
# apt refuse it and leaves the program as it was; and, in a root of this
# machine's Debian release, apt fetches and verifies the .deb of each other
# architecture. What apt printed is in build/release/apt/CODENAME.log.
#
# usage: packaging/apt.sh [--check|--order]   (the interface: packaging/lib.sh)
# shellcheck source=packaging/lib.sh
. "$(dirname "$0")/lib.sh"
# apt fetches an index only by the digest that InRelease gives, so new ones
# are unseen until it changes: the packages and indexes first, InRelease
# last, and no reader mixes two releases of the repository.
publish_order() {
    echo "unpack $source-apt.tar.gz $apt_place"
    echo "then $apt_place/dists/stable/Release $apt_place/dists/stable/Release.gpg"
    echo "then $apt_place/dists/stable/InRelease"
}
begin "$@"
if checking; then
    only_signing "to sign it with"
    need apt-ftparchive xz dpkg-deb
    ! proving || need mmdebstrap python3
    need_key
    need_home
    checked
fi
dir=$work/apt
native=$(dpkg --print-architecture) pool=pool/main/p/pathloss

# The repository of DEB... in DIR, signed with PATHLOSS_SIGNING_KEY and
# dated SOURCE_DATE_EPOCH.
repository() ( # DIR DEB...
    local repo=$1
    shift
    rm -rf "$repo"
    mkdir -p "$repo/$pool"
    cp "$@" "$repo/$pool/"
    cd "$repo"
    local archs arch index file date release=APT::FTPArchive::Release
    archs=$(for deb in "$pool"/*.deb; do dpkg-deb -f "$deb" Architecture; done | sort -u | tr '\n' ' ')
    # SHA-256 alone, as Debian's own archive has it: apt fetches an index by
    # its strongest digest, so each digest listed needs a copy by-hash.
    local ftparchive=(apt-ftparchive -o APT::FTPArchive::MD5=false -o APT::FTPArchive::SHA1=false
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
    (cd dists/stable && "${ftparchive[@]}" -o $release::Origin=pathloss -o $release::Label=pathloss \
        -o $release::Suite=stable -o $release::Codename=stable -o "$release::Date=$date" \
        -o "$release::Architectures=${archs% }" -o $release::Components=main -o $release::Acquire-By-Hash=yes \
        -o "$release::Signed-By=$PATHLOSS_SIGNING_KEY" \
        -o "$release::Description=pathloss, the free-space path loss calculator" release . >"$repo/Release")
    mv Release dists/stable/Release
    sign --clear dists/stable/Release dists/stable/InRelease
    sign dists/stable/Release dists/stable/Release.gpg
    # deb822 folds the key's lines, and marks an empty one with a point.
    {
        echo "# pathloss's own apt repository: put this file in /etc/apt/sources.list.d/,"
        echo "# then: sudo apt update && sudo apt install pathloss"
        echo "Types: deb"
        echo "URIs: $(home_address)$apt_place/"
        echo "Suites: stable"
        echo "Components: main"
        echo "Signed-By:"
        public_key | sed 's/^$/./; s/^/ /'
    } >pathloss.sources
    date_tree .
)
# The version of the served repository's .debs.
shipped() { dpkg-deb -f "$(find "$dir/serve/first/$pool" -name "*_$native.deb")" Version; }

# mmdebstrap's hook, in a fresh root of CODENAME whose apt reads the
# repositories at URL.
if [ "$mode" = in ]; then
    root=${fields[0]} codename=${fields[1]} url=${fields[2]} log=$dir/${fields[1]}.log
    run() { # WHAT COMMAND...: its output in the log
        echo "### $1" >>"$log"
        shift
        "$@" >>"$log" 2>&1
    }
    apt() { run "apt-get $*" chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get -q -y "$@"; }
    installed() { chroot "$root" dpkg-query -W -f "\${Version}" pathloss; }
    publish() { ln -sfn "$1" "$dir/serve/repo"; }

    shipped=$(shipped)
    publish first
    sed "s|^URIs: .*|URIs: $url|" "$dir/serve/first/pathloss.sources" >"$root/etc/apt/sources.list.d/pathloss.sources"
    { apt update && apt install pathloss; } || fail "apt on $codename: install"
    [ "$(installed)" = "$shipped" ] || fail "apt on $codename: installed $(installed), not $shipped"
    prove "pathloss from apt on $codename" - chroot "$root" /usr/bin/pathloss

    if [ "$codename" = "$(os_release VERSION_CODENAME)" ]; then
        read -r -a archs <<<"$(sed -n 's/^Architectures: //p' "$dir/serve/first/dists/stable/Release")"
        for arch in "${archs[@]}"; do
            [ "$arch" = "$native" ] || chroot "$root" dpkg --add-architecture "$arch"
        done
        apt update || fail "apt on $codename: update with every architecture"
        for arch in $(chroot "$root" dpkg --print-foreign-architectures); do
            if ! apt install --download-only "pathloss:$arch" ||
                [ ! -e "$root/var/cache/apt/archives/pathloss_${shipped/:/%3a}_$arch.deb" ]; then
                fail "apt on $codename: pathloss:$arch"
            fi
        done
    fi

    publish newer
    { apt update && apt upgrade; } || fail "apt on $codename: upgrade"
    [ "$(installed)" = "$shipped.1" ] || fail "apt on $codename: upgraded to $(installed), not $shipped.1"
    for bad in changed-byte other-key; do
        publish "$bad"
        # A known repository's bad signature is only a warning to apt,
        # which keeps its previous index; here every warning fails.
        ! apt update --error-on=any || fail "apt on $codename: took a repository with $bad"
        run "apt-get -s upgrade" chroot "$root" apt-get -s upgrade
        [ "$(installed)" = "$shipped.1" ] || fail "apt on $codename: $bad left $(installed) installed"
    done
    prove "pathloss from apt on $codename, after both" - chroot "$root" /usr/bin/pathloss
    # What failed is written down, and counts for the script that made
    # the root.
    exit 0
fi

rm -rf "$dir"
debs=(dist/*.deb)
[ -e "${debs[0]}" ] || {
    echo "release: no .deb in dist/ to make an apt repository of"
    finish
}
repository "$dir/$source-apt" "${debs[@]}"
pack "$dir" "$source-apt" "dist/$source-apt.tar.gz"
cp "$dir/$source-apt/pathloss.sources" dist/
proving || finish

# The repository as a user gets it; a newer one, with every package's
# Debian revision raised, published a minute later (a date to come would
# not be valid yet); and two newer still, one with a byte changed in this
# machine's index, one signed by another key.
mkdir "$dir/serve"
tar -C "$dir" -xzf "dist/$source-apt.tar.gz"
mv "$dir/$source-apt" "$dir/serve/first"
shipped=$(shipped)
other_key "$dir/gnupg"
names=(first newer changed-byte other-key)
for step in 1 2 3; do
    mkdir "$dir/debs-$step"
    for deb in "$dir/serve/first/$pool"/*.deb; do
        dpkg-deb -R "$deb" "$dir/unpacked"
        sed -i "s/^Version: .*/Version: $shipped.$step/" "$dir/unpacked/DEBIAN/control"
        dpkg-deb --root-owner-group -b "$dir/unpacked" "$dir/debs-$step/" >/dev/null
        rm -rf "$dir/unpacked"
    done
    home=${GNUPGHOME:-$HOME/.gnupg} key=$PATHLOSS_SIGNING_KEY
    [ $step != 3 ] || home=$dir/gnupg key=$other
    GNUPGHOME=$home PATHLOSS_SIGNING_KEY=$key SOURCE_DATE_EPOCH=$((SOURCE_DATE_EPOCH + 60 * step)) \
        repository "$dir/serve/${names[step]}" "$dir/debs-$step"/*.deb
done
# Every form of the index, under its name and under its digest, tells the
# same changed story: only the signed Release can give it away.
suite=$dir/serve/changed-byte/dists/stable
sed -i 's/^Package: pathloss$/Package: pathlosz/' "$suite/main/binary-$native/Packages"
xz -9 -kf "$suite/main/binary-$native/Packages"
awk -v index_dir="main/binary-$native/" '/^SHA256:/ { on = 1; next } /^[^ ]/ { on = 0 }
    on && index($3, index_dir) == 1 { print $1, $3 }' "$suite/Release" | while read -r hash name; do
    cp "$suite/$name" "$suite/$(dirname "$name")/by-hash/SHA256/$hash"
done

# Served from an address whose repository the hook changes by a link.
serve "$dir/serve"
for codename in bookworm trixie; do
    echo "release: apt in a fresh Debian $codename root"
    in_fresh_root "$codename" -- "$codename" "http://127.0.0.1:$port/repo/" >"$dir/$codename-root.log" 2>&1 ||
        fail "a Debian $codename root for apt's checks, see $dir/$codename-root.log"
done
finish
