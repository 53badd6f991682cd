# shellcheck shell=bash disable=SC2034 # sourced; its names serve the scripts that source it
# What the release's scripts share, sourced by packaging/release.sh, by
# each script that makes one kind of artifact and by buildinfo.sh: the time
# stamped into everything, the version, the place they work in, and the
# checks that more than one kind of artifact runs. A failed check is written down and the script goes on,
# so that one run names every fault; finish ends it.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

# The same commit gives the same bytes wherever, whenever and by whomever it
# is built: every time stamped into an artifact is the last commit's. A
# source tarball has no history; it carries the commit's time instead.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    if [ -e .git ]; then
        SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
    else
        SOURCE_DATE_EPOCH=$(cat packaging/source-date-epoch)
    fi
fi
# Zip members hold local time, and file modes follow the umask.
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
umask 022

version=$(sed -n 's/^project(pathloss VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
revision=$(dpkg-parsechangelog -l packaging/debian/changelog -S Version)
work=$PWD/build/release
mkdir -p "$work" dist
# One failed check a line, for the release's summary.
failures=$work/failures
touch "$failures"

failed=false
fail() {
    echo "release: FAILED: $*" >&2
    echo "$*" >>"$failures"
    failed=true
}
finish() { ! $failed; }

# Runs every transcript (or those given in $transcripts) with PROGRAM...
# under RUNNER, as the release's target list gives it; a difference names
# the artifact, the CPU and the transcript. PROVE=no leaves the running out,
# for a second release that only has to show the same bytes.
prove() {
    local artifact=$1 runner=$2 case cpu
    shift 2
    [ "${PROVE:-yes}" != no ] || return 0
    case $runner in
    *:*)
        for cpu in $(tr , ' ' <<<"${runner#*:}"); do
            prove "$artifact (-cpu $cpu)" "${runner%%:*} -cpu $cpu" "$@"
        done
        return
        ;;
    -) runner="" ;;
    esac
    # Wine, on a loaded machine, now and then fails to start a program at
    # all (status 1, no output), so it has a second go; a wrong figure is
    # wrong both times.
    local again=false
    [[ $runner != *wine* ]] || again=true
    for case in ${transcripts:-tests/transcripts/*.in}; do
        # shellcheck disable=SC2086 # a runner is its words
        python3 tests/transcript.py $runner "$@" "$case" "${case%.in}.out" ||
            { $again && python3 tests/transcript.py $runner "$@" "$case" "${case%.in}.out"; } ||
            fail "$artifact: $(basename "$case" .in)"
    done
}

# ARTIFACT holds, unpacked in DIR, exactly the files EXPECTED...
holds() {
    local artifact=$1 dir=$2 got
    shift 2
    got=$(cd "$dir" && find . -type f | sed 's|^\./||' | sort)
    [ "$got" = "$(printf '%s\n' "$@" | sort)" ] || fail "$artifact holds:" "$(tr '\n' ' ' <<<"$got")"
}

# Every man page under DIR, compressed or not, renders without a warning.
man_pages_render() {
    local artifact=$1 page warnings
    for page in $(find "$2" -name 'pathloss.1*' | sort); do
        warnings=$(zcat -f "$page" | groff -k -man -ww -z 2>&1) || true
        [ -z "$warnings" ] || fail "$artifact: ${page#"$2"/}: $warnings"
    done
}

# Packs folder DIR/NAME into OUT.tar.gz: sorted, owned by root, dated by the
# commit, modes made plain whatever the checkout's umask was.
tarball() {
    tar -C "$1" --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner \
        --mode=u=rwX,go=rX --format=gnu -c "$2" | gzip -9n >"$3"
}

# Configures and builds one target into DIR, from nothing: build TRIPLET DIR
# CMAKE_ARGS... (TRIPLET native for this machine's compiler, emscripten for
# emcmake's, or a cmake/toolchain file's name).
build() {
    local triplet=$1 dir=$2
    shift 2
    local configure=(cmake -DBUILD_TESTING=OFF)
    case $triplet in
    native) ;;
    emscripten) configure=(emcmake cmake) ;;
    *) configure+=(-DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain/$triplet.cmake") ;;
    esac
    rm -rf "$dir"
    mkdir -p "$dir"
    "${configure[@]}" -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >"$dir.log"
    cmake --build "$dir" >>"$dir.log"
}

# Signs FILE into OUT with the maintainer's key, whose fingerprint is
# PATHLOSS_SIGNING_KEY in GnuPG's keyring (GNUPGHOME): a detached, armoured
# signature, or with --clear the file inside its signature (apt's InRelease).
# It is dated by the commit, or by the signing key where that is younger, as
# no signature may predate its key; Ed25519 then signs the same bytes every
# time.
sign() { # [--clear] FILE OUT
    local how=--detach-sign at
    [ "$1" != --clear ] || {
        how=--clearsign
        shift
    }
    at=$(gpg --batch --with-colons --fixed-list-mode --list-keys "$PATHLOSS_SIGNING_KEY" 2>/dev/null |
        awk -F: -v at="$SOURCE_DATE_EPOCH" '$1 ~ /^(pub|sub)$/ && $12 ~ /s/ && $6 > at { at = $6 } END { print at }')
    gpg --batch --yes --armor --local-user "$PATHLOSS_SIGNING_KEY" --faked-system-time "$at!" \
        "$how" --output "$2" "$1" 2>>"$work/sign.log"
}

# The signing key's public half, armoured, as users get it.
public_key() { gpg --batch --armor --export --export-options export-minimal "$PATHLOSS_SIGNING_KEY"; }
