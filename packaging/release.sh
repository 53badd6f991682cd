#!/usr/bin/env bash
# Makes a release into dist/ from a clean slate: the rows of the table
# below, in its order, each by packaging/KIND.sh with the row's fields,
# which makes its artifact and proves it (the interface: packaging/lib.sh).
# Every chosen row is first asked whether this system can make it, and the
# release stops before it builds anything where a tool is missing. At the
# end it lists every check that failed, or every file made.
#
# usage: packaging/release.sh [NAME...]   (from anywhere)
# NAME chooses the rows of that name, and none chooses them all; rows named
# * come with any. PATHLOSS_SIGNING_KEY is the fingerprint of the key that
# signs, in GnuPG's keyring (GNUPGHOME); without it nothing is signed, and
# there is no apt repository, home or PUBLISH, which packaging/publish.sh
# follows. PATHLOSS_HOME is the address where the release will be
# published. With a key, a tree that differs from its commit is refused.
# PROVE=no makes the artifacts without proving them. ./install-deps.sh
# release installs what it needs.
# shellcheck source=packaging/lib.sh
. "$(dirname "$0")/lib.sh"
environment

# KIND NAME FIELD...: the kinds' heads say what their fields are. A RUNNER
# runs a program of the target's here: - natively, i386 natively or under
# qemu-i386, an emulator or wine; EMULATOR:CPU,CPU... under each CPU in turn.
# The 32-bit ARM programs for the Raspberry Pi are built for ARMv6, so they
# are proven on the Pi 1's CPU and on the newest.
rows=(
    "source  source"
    "dsc     source"
    "deb     linux-x86_64  amd64              -"
    "static  linux-x86_64  native             -"
    "deb     linux-i686    i386               i386"
    "static  linux-i686    i686-linux-gnu     i386"
    "deb     linux-aarch64 arm64              qemu-aarch64"
    "static  linux-aarch64 aarch64-linux-gnu  qemu-aarch64"
    "deb     linux-arm32   armhf              qemu-arm:arm1176,max"
    "static  linux-arm32   arm-linux-gnueabi  qemu-arm:arm1176,max"
    "deb     linux-riscv64 riscv64            qemu-riscv64"
    "static  linux-riscv64 riscv64-linux-gnu  qemu-riscv64"
    "deb     armel         armel              qemu-arm"
    "deb     mips64el      mips64el           qemu-mips64el"
    "deb     mipsel        mipsel             qemu-mipsel"
    "deb     ppc64el       ppc64el            qemu-ppc64le"
    "deb     s390x         s390x              qemu-s390x"
    "windows windows-x64   x86_64-w64-mingw32 /usr/lib/wine/wine64"
    "windows windows-x86   i686-w64-mingw32   /usr/lib/wine/wine"
    "web     web"
    "apt     *"
    "rpm     *"
    "pacman  *"
    "home    *"
    "sums    *"
)

names=" $(printf '%s\n' "${rows[@]}" | awk '$2 != "*" { print $2 }' | uniq | tr '\n' ' ')"
for name; do
    [[ $names == *" $name "* ]] || {
        echo "release: no '$name'; there are$names" >&2
        exit 2
    }
done
chosen=()
for each in "${rows[@]}"; do
    read -r _ name _ <<<"$each"
    [[ $# -gt 0 && $name != "*" && " $* " != *" $name "* ]] || chosen+=("$each")
done

# The row's words, and what the release calls it.
row() {
    read -r -a words <<<"$1"
    label=${words[0]}
    [[ ${words[1]} == "*" || ${words[1]} == "${words[0]}" ]] || label+=" ${words[1]}"
}

# Before anything is built: what each chosen row lacks, or that this system
# cannot make it.
ready=() missing=()
for each in "${chosen[@]}"; do
    row "$each"
    status=0
    said=$("packaging/${words[0]}.sh" --check "${words[@]:1}") || status=$?
    case $status in
    0) ready+=("$each") ;;
    "$not_here") echo "release: $label: not made here: $said" ;;
    *) missing+=("$said") ;;
    esac
done
[ "${#missing[@]}" -eq 0 ] || {
    printf '%s\n' "${missing[@]}" | sort -u | sed 's/^/release: /' >&2
    exit 1
}

# Every artifact is dated by the last commit, and a signature says it is that
# commit's: a tracked file that differs from it would make that false. The
# source tarball holds the tracked files alone, so an untracked one does not.
changed=""
[ ! -e .git ] || changed=$(git status --porcelain --untracked-files=no | cut -c4- | tr '\n' ' ')
if [ -n "$changed" ] && signing; then
    echo "release: these differ from commit $(git rev-parse --short HEAD), which the release would sign as its" \
        "own: ${changed% } (commit or stash them)" >&2
    exit 1
fi

rm -rf "$work" dist
environment
# How packaging/publish.sh lays the release out on the host: its own files
# under their version, and what each kind publishes in place, in order.
if signing; then
    {
        echo "version $version"
        echo "date $SOURCE_DATE_EPOCH"
        echo "files $(files_place)"
        for each in "${ready[@]}"; do
            row "$each"
            "packaging/${words[0]}.sh" --order "${words[@]:1}"
        done
    } >dist/PUBLISH
fi
for each in "${ready[@]}"; do
    row "$each"
    echo "release: $label"
    produce "packaging/${words[0]}.sh" "${words[@]:1}"
done

if [ -s "$failures" ]; then
    echo "release: $(wc -l <"$failures") check(s) failed:" >&2
    sed 's/^/  /' "$failures" >&2
    exit 1
fi
echo "release: every artifact in dist/ passed its checks"
cat dist/SHA256SUMS
signing || echo "release: UNSIGNED: no PATHLOSS_SIGNING_KEY, so dist/ has" \
    "no signature and no apt repository (HACKING.md, Signing)"
[ -z "$changed" ] || echo "release: NOT A COMMIT'S: these differ from commit $(git rev-parse --short HEAD)," \
    "whose time dates every artifact: ${changed% }"
