#!/usr/bin/env bash
# Builds release artifacts into dist/ from a clean slate, each by the script
# of its kind under packaging/, which then proves it: the program unpacked
# from it runs every transcript on its own platform (qemu-user for other
# processors, wine for Windows, the three browsers for the web) and must
# print what the transcripts say, byte for byte; the package holds exactly
# its files, and so on. Lists them all in dist/SHA256SUMS; the source
# tarball must build and pass every test by itself, and the Debian source
# package, from which every .deb is built, must pass the checks Debian's own
# CI runs (packaging/debian-checks.sh). With the maintainer's key it signs
# SHA256SUMS and the source tarball and makes an apt repository of every
# .deb, and proves them with gpgv, sqv and apt (packaging/apt-checks.sh).
# This is the only place that makes and checks packages.
#
# usage: packaging/release.sh [TARGET...]   (from anywhere)
# TARGET is a name from the list below, or source; none means all of them.
# PATHLOSS_SIGNING_KEY is the fingerprint of the key that signs, in GnuPG's
# keyring (GNUPGHOME); without it nothing is signed.
# ./install-deps.sh release installs what it needs.
# shellcheck source=packaging/lib.sh
. "$(dirname "$0")/lib.sh"

# One line a target: its name; the Debian architecture of its .deb, built
# from the source package where this Debian release has that architecture
# (- for none); the compiler triplet of its portable archive
# (cmake/toolchain/TRIPLET.cmake; native for this machine's own compiler,
# emscripten for emcmake's; - for none); and what runs its program here (-
# natively; RUNNER:CPU,CPU... under each of those CPUs in turn). The 32-bit
# ARM programs for the Raspberry Pi are built for ARMv6, so they are proven
# on the Pi 1's CPU and on the newest.
targets=(
    "linux-x86_64  amd64    native             -"
    "linux-i686    i386     i686-linux-gnu     -"
    "linux-aarch64 arm64    aarch64-linux-gnu  qemu-aarch64"
    "linux-arm32   armhf    arm-linux-gnueabi  qemu-arm:arm1176,max"
    "linux-riscv64 riscv64  riscv64-linux-gnu  qemu-riscv64"
    "armel         armel    -                  qemu-arm"
    "mips64el      mips64el -                  qemu-mips64el"
    "mipsel        mipsel   -                  qemu-mipsel"
    "ppc64el       ppc64el  -                  qemu-ppc64le"
    "s390x         s390x    -                  qemu-s390x"
    "windows-x64   -        x86_64-w64-mingw32 /usr/lib/wine/wine64"
    "windows-x86   -        i686-w64-mingw32   /usr/lib/wine/wine"
    "web           -        emscripten         chromium"
)

# The architectures of this Debian release, as its archive lists them.
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
debian_archs=" $(sed -n 's/^Architectures: //p' /var/lib/apt/lists/*_dists_"$codename"_*Release 2>/dev/null |
    head -n 1 || true) "
[ -n "${debian_archs// /}" ] || {
    echo "release: apt lists no architectures for '$codename' (apt-get update first)" >&2
    exit 1
}
native=$(dpkg --print-architecture)

# The targets named, or every one and the source.
names=$(printf '%s\n' "${targets[@]}" | awk '{ print $1 }' | tr '\n' ' ')
# shellcheck disable=SC2086 # one word a name
[ $# -gt 0 ] || set -- $names source
chosen=" $* "
selected=()
for name in "$@"; do
    [ "$name" != source ] || continue
    target=$(printf '%s\n' "${targets[@]}" | awk -v name="$name" '$1 == name')
    [ -n "$target" ] || {
        echo "release: no target '$name'; there are ${names}and source" >&2
        exit 2
    }
    selected+=("$target")
done

# A check whose tool is missing must not pass unnoticed.
tools=(cmake g++ python3 gzip tar dpkg-source dpkg-buildpackage dh dpkg-deb lintian groff readelf
    hardening-check zip unzip strings)
for target in "${selected[@]}"; do
    read -r _ deb_arch triplet runner <<<"$target"
    case $triplet in
    - | native) ;;
    emscripten)
        tools+=(emcmake rsvg-convert node tests/web/node_modules/.bin/playwright-core
            firefox-esr WebKitWebDriver xvfb-run)
        ;;
    *) tools+=("$triplet-g++" "$triplet-objdump") ;;
    esac
    # A cross-built .deb is compiled and stripped by the target's own tools.
    if [[ $deb_arch != - && $deb_arch != "$native" && $debian_archs == *" $deb_arch "* ]]; then
        gnu_type=$(dpkg-architecture -a"$deb_arch" -qDEB_HOST_GNU_TYPE 2>/dev/null)
        tools+=("$gnu_type-strip")
        [ "$triplet" != - ] || tools+=("$gnu_type-g++")
    fi
    [ "$runner" = - ] || tools+=("${runner%%:*}")
done

# Signed only with the key the maintainer names (HACKING.md, Signing).
[ -z "${PATHLOSS_SIGNING_KEY:-}" ] || tools+=(gpg apt-ftparchive xz mmdebstrap)
[ "${revision%-*}" = "$version" ] || {
    echo "release: packaging/debian/changelog is at $revision, the project at $version" >&2
    exit 1
}

# Some kernels run no 32-bit x86 program. The Linux ones then run under
# qemu-i386; 32-bit wine cannot, unless binfmt_misc hands them all to it.
i386_runner=-
if [[ ${PROVE:-yes} != no && ($chosen == *" linux-i686 "* || $chosen == *" windows-x86 "*) ]] &&
    ! packaging/i386.sh --check; then
    i386_runner=qemu-i386
    tools+=(qemu-i386)
    [[ $chosen != *" windows-x86 "* ]] || {
        echo "release: this kernel runs no 32-bit x86 program, and 32-bit wine must:" \
            "'sudo packaging/i386.sh' has qemu-i386 run them, or leave windows-x86 out" >&2
        exit 1
    }
fi
for tool in "${tools[@]}"; do
    command -v "$tool" >/dev/null || {
        echo "release: $tool is missing (./install-deps.sh release installs it)" >&2
        exit 1
    }
done
if [ -n "${PATHLOSS_SIGNING_KEY:-}" ]; then
    [[ $PATHLOSS_SIGNING_KEY =~ ^([0-9A-F]{40}|[0-9A-F]{64})$ ]] &&
        gpg --batch --list-secret-keys "$PATHLOSS_SIGNING_KEY" >/dev/null 2>&1 || {
        echo "release: PATHLOSS_SIGNING_KEY must be the fingerprint, in capitals, of a secret key" \
            "in ${GNUPGHOME:-~/.gnupg}: '$PATHLOSS_SIGNING_KEY' is not" >&2
        exit 1
    }
fi

rm -rf "$work" dist
mkdir -p "$work" dist
touch "$failures"

# The source, as a tarball that builds and tests with nothing else: the
# tracked files (or, built from such a tarball, all of it again) and the
# commit's time.
source=pathloss-$version
mkdir -p "$work/source/$source"
if [ -e .git ]; then
    git ls-files -z
else
    find . \( -path ./build -o -path ./dist -o -name __pycache__ -o -name node_modules \) -prune \
        -o -type f -print0
fi | tar --null -T - -cf - | tar -C "$work/source/$source" -xf -
echo "$SOURCE_DATE_EPOCH" >"$work/source/$source/packaging/source-date-epoch"
tarball "$work/source" "$source" "$work/source/$source.tar.gz"

# The Debian source package, as Debian's unstable takes it: that tarball as
# its .orig, byte for byte, and packaging/debian as debian/, dated by the
# commit like everything else. Then its backport to this machine's Debian
# release (packaging/backport.sh; on unstable the same package), from which
# every .deb is built.
mkdir "$work/debian"
cp "$work/source/$source.tar.gz" "$work/debian/pathloss_$version.orig.tar.gz"
tar -C "$work/debian" -xzf "$work/source/$source.tar.gz"
cp -R packaging/debian "$work/debian/$source/debian"
chmod -R u=rwX,go=rX "$work/debian/$source/debian"
find "$work/debian/$source/debian" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
cp -R "$work/debian" "$work/backport"
(cd "$work/debian" && dpkg-source -b "$source" >"$work/debian.log")
backport=$(packaging/backport.sh "$work/backport/$source")
(cd "$work/backport" && dpkg-source -b "$source" >"$work/backport.log")

# Runs one kind's script. It writes down each check that fails and goes on;
# one that stops short of its end is a failure too.
produce() {
    local before
    before=$(wc -l <"$failures")
    "$@" || [ "$(wc -l <"$failures")" -gt "$before" ] || fail "$*: stopped short, see $work/*.log"
}

for target in "${selected[@]}"; do
    read -r platform deb_arch triplet runner <<<"$target"
    echo "release: $platform"
    [[ $deb_arch != i386 ]] || runner=$i386_runner
    if [[ $deb_arch != - && $debian_archs != *" $deb_arch "* ]]; then
        echo "release: no $deb_arch .deb: $(. /etc/os-release && echo "$PRETTY_NAME") has no $deb_arch"
    elif [ "$deb_arch" != - ]; then
        produce packaging/deb.sh "$deb_arch" "$runner" "$backport"
    fi
    case $triplet in
    -) ;;
    emscripten) produce packaging/web.sh ;;
    *-mingw32) produce packaging/windows.sh "$platform" "$triplet" "$runner" ;;
    *) produce packaging/static.sh "$platform" "$triplet" "$runner" ;;
    esac
done

if [[ $chosen == *" source "* ]]; then
    cp "$work/source/$source.tar.gz" "$work/debian/"*.orig.tar.gz "$work/debian/"*.debian.tar.xz \
        "$work/debian/"*.dsc "$work/backport/"*.debian.tar.xz "$work/backport/"*.dsc dist/
    if [ "${PROVE:-yes}" != no ]; then
        echo "release: $source.tar.gz, built and tested by itself"
        mkdir "$work/distcheck"
        tar -C "$work/distcheck" -xzf "dist/$source.tar.gz"
        (cd "$work/distcheck/$source" && cmake --workflow --preset default) >"$work/distcheck.log" 2>&1 ||
            fail "$source.tar.gz: its own tests, see $work/distcheck.log"
        echo "release: the Debian source package, as Debian's CI checks it"
        packaging/debian-checks.sh "dist/pathloss_$revision.dsc" "$work/debian-checks" ||
            fail "pathloss_$revision.dsc: the checks Debian's CI runs, see $work/debian-checks"
    fi
fi

# Signed with the maintainer's key: the source tarball, as uscan checks
# it, and an apt repository of every .deb; SHA256SUMS, which lists them,
# last. Then proven as users meet them, in fresh Debian 12 and 13 roots.
if [ -n "${PATHLOSS_SIGNING_KEY:-}" ]; then
    public_key >dist/pathloss-signing-key.asc
    [ ! -e "dist/$source.tar.gz" ] || sign "dist/$source.tar.gz" "dist/$source.tar.gz.asc" ||
        fail "$source.tar.gz: gpg did not sign it, see $work/sign.log"
    debs=(dist/*.deb)
    if [ -e "${debs[0]}" ]; then
        echo "release: $source-apt.tar.gz, an apt repository of every .deb"
        produce packaging/apt.sh "$work/apt/$source-apt" "${debs[@]}"
        tarball "$work/apt" "$source-apt" "dist/$source-apt.tar.gz"
        cp "$work/apt/$source-apt/pathloss.sources" dist/
    fi
fi
packaging/buildinfo.sh >dist/BUILDINFO
(cd dist && sha256sum -- * >"$work/SHA256SUMS" && mv "$work/SHA256SUMS" .)
if [ -n "${PATHLOSS_SIGNING_KEY:-}" ]; then
    sign dist/SHA256SUMS dist/SHA256SUMS.asc || fail "SHA256SUMS: gpg did not sign it, see $work/sign.log"
    [ "${PROVE:-yes}" = no ] || produce packaging/apt-checks.sh
fi

if [ -s "$failures" ]; then
    echo "release: $(wc -l <"$failures") check(s) failed:" >&2
    sed 's/^/  /' "$failures" >&2
    exit 1
fi
echo "release: every artifact in dist/ passed its checks"
cat dist/SHA256SUMS
[ -n "${PATHLOSS_SIGNING_KEY:-}" ] || echo "release: UNSIGNED: no PATHLOSS_SIGNING_KEY, so dist/ has" \
    "no signature and no apt repository (HACKING.md, Signing)"
