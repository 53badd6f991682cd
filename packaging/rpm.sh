#!/usr/bin/env bash
# Makes, with the maintainer's key, an .rpm of each static tarball in dist/
# for Fedora, RHEL and its rebuilds, openSUSE and any rpm system on that
# processor: rpmbuild with the rpm recipe (packaging/pathloss.spec) around
# the tarball's program, signed by rpmsign. Then
# dist/pathloss-VERSION-rpm.tar.gz, a repository of them for dnf and zypper
# on any static web host (createrepo_c): the packages, repodata/ with
# repomd.xml signed (repomd.xml.asc), the public key, and pathloss.repo,
# also in dist/, what a user puts in /etc/yum.repos.d/: the repository at
# its place under the home (PATHLOSS_HOME), every package and the index
# checked against the key there.
#
# Then proves them: rpmlint (packaging/rpmlint.toml says why what it would
# say is so); and, with the repository served on 127.0.0.1, in an empty
# root with pathloss.repo alone: dnf installs pathloss, whose program runs
# every transcript and which rpm -V finds whole; a newer release's
# repository at the same address is an upgrade; one with a changed byte in
# its index, or with packages another key signed, makes dnf refuse and
# leaves the program as it was; dnf downloads and verifies the package of
# each other processor; and zypper, in another empty root, installs it too.
# What dnf and zypper printed is in build/release/rpm/dnf.log.
#
# usage: packaging/rpm.sh [--check|--order]   (the interface: packaging/lib.sh)
# shellcheck source=packaging/lib.sh
. "$(dirname "$0")/lib.sh"
# The packages first, then the index, which names them by their digests.
publish_order() {
    echo "unpack $source-rpm.tar.gz $rpm_place"
    echo "then $rpm_place/repodata/repomd.xml $rpm_place/repodata/repomd.xml.asc"
}
begin "$@"
if checking; then
    only_signing "to sign them with"
    need rpmbuild rpmsign createrepo_c
    ! proving || need rpmlint dnf zypper rpm python3
    [ "$(sed -n 's/^Version: *//p' packaging/pathloss.spec)" = "$version" ] ||
        lacks "packaging/pathloss.spec is at version $(sed -n 's/^Version: *//p' packaging/pathloss.spec), the project at $version"
    need_key
    need_home
    checked
fi
dir=$work/rpm

# rpm's name of the processor of a static tarball's PLATFORM. The 32-bit ARM
# program is built for ARMv6, which rpm's ARMv7 systems also take.
rpm_arch() {
    case $1 in
    arm32) echo armv6hl ;;
    *) echo "$1" ;;
    esac
}

# Builds into OUT the .rpm of each static TARBALL with the rpm recipe in RECIPE,
# signed by PATHLOSS_SIGNING_KEY: as Debian's rpm would build any package,
# but by no one, nowhere, at the commit's time.
packages() { # RECIPE OUT TARBALL...
    local recipe=$1 out=$2 tarball platform arch
    shift 2
    mkdir -p "$out"
    for tarball; do
        platform=${tarball#dist/"$source"-linux-} platform=${platform%.tar.gz} arch=$(rpm_arch "$platform")
        rm -rf "$dir/top" "$dir/program"
        mkdir -p "$dir/program"
        tar -C "$dir/program" -xzf "$tarball"
        rpmbuild -bb --target "$arch" --define "_topdir $dir/top" --define "_sourcedir $dir/sources" \
            --define "prebuilt $dir/program/$source-linux-$platform/pathloss" --define "home $(home_address)" \
            --define "packager pathloss developers <pathloss@pathloss.invalid>" --define "_buildhost pathloss" \
            --define "_docdir_fmt %%{NAME}" --define "_build_id_links none" \
            --define "use_source_date_epoch_as_buildtime 1" --define "clamp_mtime_to_source_date_epoch 1" \
            "$recipe" >>"$dir/rpmbuild.log" 2>&1
        mv "$dir/top/RPMS/$arch"/*.rpm "$out/"
    done
    # rpmsign hands gpg's work to sign: the command's second word is the
    # name the program is given, then where the signature goes and what it
    # signs (- for the standard input).
    # shellcheck disable=SC2016 # expanded by the script it writes
    printf '#!/usr/bin/env bash\n. %q/packaging/lib.sh && environment && sign --binary "${2:--}" "$1"\n' \
        "$top" >"$dir/sign"
    chmod +x "$dir/sign"
    rpmsign --addsign --define "_gpg_name $PATHLOSS_SIGNING_KEY" --define "__gpg $(command -v gpg)" \
        --define "__gpg_sign_cmd $dir/sign sign %{__signature_filename} %{?__plaintext_filename}" \
        "$out"/*.rpm >>"$dir/rpmsign.log" 2>&1 || fail "rpmsign, see $dir/rpmsign.log"
}

# The repository of the packages in DIR, signed and dated as the release.
repository() { # DIR
    date_tree "$1"
    createrepo_c --quiet --no-database --revision "$SOURCE_DATE_EPOCH" --set-timestamp-to-revision "$1" >/dev/null
    sign "$1/repodata/repomd.xml" "$1/repodata/repomd.xml.asc"
    public_key >"$1/pathloss-signing-key.asc"
    {
        echo "# pathloss's own repository: put this file in /etc/yum.repos.d/, then:"
        echo "# sudo dnf install pathloss (or with zypper: sudo zypper addrepo $(home_address)$rpm_place/pathloss.repo"
        echo "# && sudo zypper install pathloss); each later release comes with the system's updates"
        echo "[pathloss]"
        echo "name=pathloss, the free-space path loss calculator"
        echo "baseurl=$(home_address)$rpm_place/"
        echo "enabled=1"
        echo "gpgcheck=1"
        echo "repo_gpgcheck=1"
        echo "gpgkey=$(home_address)$rpm_place/pathloss-signing-key.asc"
    } >"$1/pathloss.repo"
    date_tree "$1"
}

rm -rf "$dir"
mkdir -p "$dir"
static_tarballs "an .rpm"
source_tarball "$dir/sources"
packages packaging/pathloss.spec "$dir/$source-rpm" "${tarballs[@]}"
repository "$dir/$source-rpm"
pack "$dir" "$source-rpm" "dist/$source-rpm.tar.gz"
cp "$dir/$source-rpm"/*.rpm "$dir/$source-rpm/pathloss.repo" dist/
proving || finish

tags=$(rpmlint -c packaging/rpmlint.toml dist/*.rpm packaging/pathloss.spec 2>&1) || true
grep -q ' 0 errors, 0 warnings' <<<"$tags" || fail "rpmlint: $(grep -E ': [EW]: ' <<<"$tags" | sort -u)"

# The repository as a user gets it; a newer one, with every package's
# Release raised, published a minute later; and two newer still, one with a
# byte changed in its index, one whose packages another key signed.
mkdir "$dir/serve"
tar -C "$dir/serve" -xzf "dist/$source-rpm.tar.gz"
mv "$dir/serve/$source-rpm" "$dir/serve/first"
other_key "$dir/gnupg"
names=(first newer changed-byte other-key)
for step in 1 2 3; do
    sed "s/^Release: .*/Release: $((step + 1))/" packaging/pathloss.spec >"$dir/release-$((step + 1)).spec"
    export SOURCE_DATE_EPOCH=$((SOURCE_DATE_EPOCH + 60))
    repo=$dir/serve/${names[step]}
    if [ $step = 3 ]; then
        GNUPGHOME=$dir/gnupg PATHLOSS_SIGNING_KEY=$other packages "$dir/release-4.spec" "$repo" "${tarballs[@]}"
    else
        packages "$dir/release-$((step + 1)).spec" "$repo" "${tarballs[@]}"
    fi
    repository "$repo"
done
primary=$(find "$dir/serve/changed-byte/repodata" -name '*-primary.xml.gz')
printf x | dd of="$primary" bs=1 seek=100 conv=notrunc status=none

# In an empty root: the program is static, so nothing else is needed.
serve "$dir/serve"
root=$dir/root log=$dir/dnf.log arch=$(rpm --eval '%{_arch}')
mkdir -p "$root" "$dir/repos"
sed "s|$(home_address)$rpm_place/|http://127.0.0.1:$port/repo/|" "$dir/serve/first/pathloss.repo" >"$dir/repos/pathloss.repo"
publish() { ln -sfn "$1" "$dir/serve/repo"; }
dnf() { # COMMAND...: its output in the log; in dnf_root, if set, not root
    echo "### dnf $*" >>"$log"
    command dnf -y --refresh --installroot "${dnf_root:-$root}" --releasever 1 --setopt=reposdir="$dir/repos" \
        "$@" >>"$log" 2>&1
}
installed() { rpm --root "$root" -q --qf '%{VERSION}-%{RELEASE}' pathloss; }

publish first
dnf --forcearch "$arch" install pathloss || fail "dnf: install"
[ "$(installed)" = "$version-1" ] || fail "dnf: installed $(installed), not $version-1"
prove "pathloss from dnf" - chroot "$root" /usr/bin/pathloss
rpm --root "$root" -V pathloss >>"$log" 2>&1 || fail "rpm -V: the installed package differs from its files"
for package in "$dir/serve/first"/*.rpm; do
    other_arch=$(rpm -qp --qf "%{ARCH}" "$package" 2>/dev/null)
    [ "$other_arch" != "$arch" ] || continue
    # ARMv6 is taken by ARMv7 systems, which are what dnf is asked as.
    [ "$other_arch" != armv6hl ] || other_arch=armv7hl
    rm -rf "$dir/download"
    # Each in an empty root of its own (dnf download is a plugin that Debian
    # 12 will not install beside zypper).
    if ! dnf_root=$dir/root-$other_arch dnf --forcearch "$other_arch" install --downloadonly \
        --destdir "$dir/download" pathloss ||
        ! rpmkeys --root "$root" -K "$dir/download/${package##*/}" >>"$log" 2>&1 ||
        ! cmp -s "$dir/download/${package##*/}" "$package"; then
        fail "dnf: the package for $other_arch"
    fi
done

# openSUSE's zypper, in a root of its own, from pathloss.repo too: it asks
# a user to trust the key, which here it does by itself.
zypper() { # COMMAND...: its output in the log
    echo "### zypper $*" >>"$log"
    command zypper --non-interactive --root "$dir/zypper-root" "$@" >>"$log" 2>&1
}
if zypper addrepo "$dir/repos/pathloss.repo" && zypper --gpg-auto-import-keys refresh && zypper install pathloss; then
    prove "pathloss from zypper" - chroot "$dir/zypper-root" /usr/bin/pathloss
else
    fail "zypper: install"
fi

publish newer
dnf --forcearch "$arch" upgrade || fail "dnf: upgrade"
[ "$(installed)" = "$version-2" ] || fail "dnf: upgraded to $(installed), not $version-2"
for bad in changed-byte other-key; do
    publish "$bad"
    # Fedora's dnf, unlike Debian's, fails where a repository is unusable.
    ! dnf --forcearch "$arch" --setopt=skip_if_unavailable=False upgrade || fail "dnf: took a repository with $bad"
    [ "$(installed)" = "$version-2" ] || fail "dnf: $bad left $(installed) installed"
done
prove "pathloss from dnf, after both" - chroot "$root" /usr/bin/pathloss

# The rpm recipe as a packager has it: from the source tarball, with the
# tests, and the same files but the links rpm adds for a debugger (its
# BuildRequires are Fedora's names, so unchecked).
if rpmbuild -bb --nodeps --define "_topdir $dir/recipe" --define "_sourcedir $dir/sources" \
    --define "_docdir_fmt %%{NAME}" packaging/pathloss.spec >"$dir/recipe.log" 2>&1; then
    [ "$(rpm -qpl "$dir/recipe/RPMS/$arch"/*.rpm | grep -v '^/usr/lib/\.build-id')" = \
        "$(rpm -qpl "dist/$source-1.$arch.rpm" 2>/dev/null)" ] ||
        fail "the rpm recipe from the source tarball: other files than the release's package"
else
    fail "the rpm recipe from the source tarball, see $dir/recipe.log"
fi
finish
