#!/usr/bin/env bash
# Makes, with the maintainer's key, a pacman package of each static tarball
# in dist/ for Arch and its kin, Arch Linux ARM and Arch Linux 32: makepkg
# with packaging/PKGBUILD around the tarball's program, signed (.sig). Then
# dist/pathloss-VERSION-pacman.tar.gz, a repository of them for pacman on
# any static web host: a folder for each processor with its packages and
# their database (repo-add), signed, the public key, and
# pathloss-pacman.conf, also in dist/: how a user trusts the key, and the
# lines for /etc/pacman.conf, the repository at its place under the home
# (PATHLOSS_HOME) and every package and database checked against the key.
#
# Then proves them, with the repository served on 127.0.0.1, in an empty
# root whose pacman trusts the key and has those lines alone: pacman
# installs pathloss, whose program runs every transcript; it downloads and
# verifies the package of each other processor; a newer release's
# repository at the same address is an upgrade (-Syu); one with a changed
# byte in its database, or with packages another key signed, makes pacman
# refuse and leaves the program as it was. What pacman printed is in
# build/release/pacman/pacman.log.
#
# usage: packaging/pacman.sh [--check|--order]   (the interface: packaging/lib.sh)
# shellcheck source=packaging/lib.sh
. "$(dirname "$0")/lib.sh"
# The packages first, then each processor's database, which names them.
publish_order() {
    echo "unpack $source-pacman.tar.gz $pacman_place"
    echo "then $pacman_place/*/pathloss.db $pacman_place/*/pathloss.db.sig" \
        "$pacman_place/*/pathloss.files $pacman_place/*/pathloss.files.sig"
}
begin "$@"
if checking; then
    only_signing "to sign them with"
    need makepkg fakeroot repo-add zstd bsdtar setpriv
    ! proving || need pacman pacman-key
    [ "$(sed -n 's/^pkgver=//p' packaging/PKGBUILD)" = "$version" ] ||
        lacks "packaging/PKGBUILD is at version $(sed -n 's/^pkgver=//p' packaging/PKGBUILD), the project at $version"
    need_key
    need_home
    checked
fi
dir=$work/pacman
# makepkg writes where it built into each package: the same place for
# every build, or two builds would differ.
build=/tmp/pathloss-makepkg

# pacman's name of the processor of a static tarball's PLATFORM, or of
# uname's MACHINE. The 32-bit ARM program is built for ARMv6, which
# ARMv7 systems run.
pacman_arch() {
    case $1 in
    arm32 | armv7l) echo armv7h ;;
    *) echo "$1" ;;
    esac
}

# Makes with makepkg, in $build/packages, the package of packaging/PKGBUILD
# at PKGREL for ARCH: around the program of a static TARBALL, or as it
# stands, from the source tarball with the tests. It runs as Debian has it,
# but makes what Arch's makes, and never as root, which it refuses.
package() { # PKGREL ARCH [TARBALL]
    local pkgrel=$1 arch=$2 tarball=${3:-} prebuilt=() options=() builder=()
    [ "$(id -u)" != 0 ] || builder=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
    rm -rf "$build"
    mkdir -p "$build/start" "$build/sources" "$build/packages"
    sed "s/^pkgrel=.*/pkgrel=$pkgrel/" packaging/PKGBUILD >"$build/start/PKGBUILD"
    cp "$dir/$source.tar.gz" "$build/sources/"
    if [ -n "$tarball" ]; then
        tar -C "$build" -xzf "$tarball"
        prebuilt=(PATHLOSS_PREBUILT="$build/$(basename "$tarball" .tar.gz)/pathloss")
        # Stripped already, and for a processor this machine's strip may
        # not know.
        options=("OPTIONS=(!strip docs !libtool !staticlibs !emptydirs zipman purge !debug !lto)")
    fi
    {
        cat /etc/makepkg.conf
        echo "CARCH=$arch"
        printf '%s\n' "${options[@]}"
        echo "PKGEXT=.pkg.tar.zst"
        echo "COMPRESSZST=(zstd -c -q -19 -)"
    } >"$build/makepkg.conf"
    [ "${#builder[@]}" = 0 ] || chown -R nobody:nogroup "$build"
    (cd "$build/start" && "${builder[@]}" env HOME="$build" PATHLOSS_HOME="$(home_address)" "${prebuilt[@]}" \
        BUILDDIR="$build" SRCDEST="$build/sources" PKGDEST="$build/packages" \
        PACKAGER="pathloss developers <pathloss@pathloss.invalid>" \
        makepkg --config "$build/makepkg.conf" --nodeps --noconfirm)
}

# Makes into OUT/ARCH the package of each static TARBALL, at PKGREL.
packages() { # PKGREL OUT TARBALL...
    local pkgrel=$1 out=$2 tarball platform arch
    shift 2
    for tarball; do
        platform=${tarball#dist/"$source"-linux-} platform=${platform%.tar.gz} arch=$(pacman_arch "$platform")
        package "$pkgrel" "$arch" "$tarball" >>"$dir/makepkg.log" 2>&1
        mkdir -p "$out/$arch"
        mv "$build/packages"/*.pkg.tar.zst "$out/$arch/"
    done
    rm -rf "$build"
}

# The repository of the packages in DIR/ARCH, signed and dated as the
# release, as repo-add --sign would sign it but dated too. A static host
# serves no links, so the databases are files under the names pacman asks.
repository() { # DIR
    local arch db package
    for arch in "$1"/*/; do
        for package in "$arch"*.pkg.tar.zst; do sign --binary "$package" "$package.sig"; done
        repo-add -q "${arch}pathloss.db.tar.gz" "$arch"*.pkg.tar.zst
        for db in db files; do
            rm -rf "$dir/database" "$arch/pathloss.$db"
            mkdir "$dir/database"
            tar -C "$dir/database" -xzf "${arch}pathloss.$db.tar.gz"
            pack "$dir/database" "$(ls "$dir/database")" "${arch}pathloss.$db"
            rm "${arch}pathloss.$db".tar.gz*
            sign --binary "${arch}pathloss.$db" "${arch}pathloss.$db.sig"
        done
    done
    public_key >"$1/pathloss-signing-key.asc"
    {
        echo "# pathloss's own repository. First trust its key, once:"
        echo "#   curl -O $(home_address)$pacman_place/pathloss-signing-key.asc"
        echo "#   sudo pacman-key --add pathloss-signing-key.asc"
        echo "#   sudo pacman-key --lsign-key $(fingerprint)"
        echo "# then add the lines below to /etc/pacman.conf, and: sudo pacman -Sy pathloss"
        echo "# Each later release comes with sudo pacman -Syu."
        echo "[pathloss]"
        echo "SigLevel = Required DatabaseRequired"
        echo "Server = $(home_address)$pacman_place/\$arch"
    } >"$1/pathloss-pacman.conf"
    date_tree "$1"
}

rm -rf "$dir"
mkdir -p "$dir"
static_tarballs "a pacman package"
source_tarball "$dir"
packages 1 "$dir/$source-pacman" "${tarballs[@]}"
repository "$dir/$source-pacman"
pack "$dir" "$source-pacman" "dist/$source-pacman.tar.gz"
cp "$dir/$source-pacman"/*/*.pkg.tar.zst* "$dir/$source-pacman/pathloss-pacman.conf" dist/
proving || finish

# The repository as a user gets it; for this machine's processor, a newer
# one, its pkgrel raised, published a minute later; and two newer still,
# one with a byte changed in its database, one whose package another key
# signed. (makepkg takes its time: this machine's alone is enough there.)
mkdir "$dir/serve"
tar -C "$dir/serve" -xzf "dist/$source-pacman.tar.gz"
mv "$dir/serve/$source-pacman" "$dir/serve/first"
other_key "$dir/gnupg"
machine=$(uname -m) arch=$(pacman_arch "$(uname -m)")
[ "$machine" != armv7l ] || machine=arm32
# pacman takes a database only if it is dated later than its own.
for pkgrel in 2 3; do
    SOURCE_DATE_EPOCH=$((SOURCE_DATE_EPOCH + 60 * (pkgrel - 1))) \
        packages $pkgrel "$dir/packages-$pkgrel" "dist/$source-linux-$machine.tar.gz"
done
later() { SOURCE_DATE_EPOCH=$((SOURCE_DATE_EPOCH + 60 * $1)) "${@:2}"; }
cp -R "$dir/packages-2" "$dir/serve/newer"
cp -R "$dir/packages-3" "$dir/serve/changed-byte"
cp -R "$dir/packages-3" "$dir/serve/other-key"
later 1 repository "$dir/serve/newer"
later 2 repository "$dir/serve/changed-byte"
printf x | dd of="$dir/serve/changed-byte/$arch/pathloss.db" bs=1 seek=100 conv=notrunc status=none
GNUPGHOME=$dir/gnupg PATHLOSS_SIGNING_KEY=$other later 3 repository "$dir/serve/other-key"
# Its database signed by the release's key, as if the packages had been.
for db in db files; do
    later 3 sign --binary "$dir/serve/other-key/$arch/pathloss.$db" "$dir/serve/other-key/$arch/pathloss.$db.sig"
done

# An empty root, with a keyring that trusts the release's key and the
# user's lines alone.
serve "$dir/serve"
root=$dir/root log=$dir/pacman.log keyring=$dir/keyring
mkdir -p "$root/var/lib/pacman"
pacman_user "$dir" "$dir/serve/first/pathloss-signing-key.asc" "$dir/serve/first/pathloss-pacman.conf" "$arch"
sed -i "s|^Server = .*|Server = http://127.0.0.1:$port/repo/\$arch|" "$dir/pacman.conf"
publish() { ln -sfn "$1" "$dir/serve/repo"; }
pacman() { # [--arch ARCH] COMMAND...: its output in the log
    local db=$root/var/lib/pacman
    [ "$1" != --arch ] || db=$dir/other-$2
    mkdir -p "$db"
    echo "### pacman $*" >>"$log"
    command pacman --noconfirm --config "$dir/pacman.conf" --root "$root" --dbpath "$db" \
        --cachedir "$db/cache" --gpgdir "$keyring" --logfile "$dir/pacman-root.log" "$@" >>"$log" 2>&1
}
installed() { command pacman --root "$root" --dbpath "$root/var/lib/pacman" -Q pathloss 2>&1; }

publish first
pacman -Sy pathloss || fail "pacman: install"
[ "$(installed)" = "pathloss $version-1" ] || fail "pacman: installed $(installed), not $version-1"
prove "pathloss from pacman" - chroot "$root" /usr/bin/pathloss
for package in "$dir/serve/first"/*/*.pkg.tar.zst; do
    other_arch=$(basename "$(dirname "$package")")
    [ "$other_arch" != "$arch" ] || continue
    if ! pacman --arch "$other_arch" -Syw pathloss ||
        ! cmp -s "$dir/other-$other_arch/cache/${package##*/}" "$package"; then
        fail "pacman: the package for $other_arch"
    fi
done

publish newer
pacman -Syu || fail "pacman: upgrade"
[ "$(installed)" = "pathloss $version-2" ] || fail "pacman: upgraded to $(installed), not $version-2"
for bad in changed-byte other-key; do
    publish "$bad"
    ! pacman -Syu || fail "pacman: took a repository with $bad"
    [ "$(installed)" = "pathloss $version-2" ] || fail "pacman: $bad left $(installed) installed"
done
prove "pathloss from pacman, after both" - chroot "$root" /usr/bin/pathloss

# The PKGBUILD as an AUR package has it: from the source tarball, with the
# tests, and the same files (makedepends are Arch's names, so unchecked).
if package 1 "$arch" >"$dir/recipe.log" 2>&1; then
    [ "$(bsdtar -tf "$build/packages"/*.pkg.tar.zst | sort)" = "$(bsdtar -tf "dist/$source-1-$arch.pkg.tar.zst" | sort)" ] ||
        fail "the PKGBUILD from the source tarball: other files than the release's package"
else
    fail "the PKGBUILD from the source tarball, see $dir/recipe.log"
fi
rm -rf "$build"
finish
