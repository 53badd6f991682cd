# shellcheck shell=bash disable=SC2034 # sourced; its names serve the scripts that source it
# The release's vocabulary, sourced by packaging/release.sh, by the script
# of each kind of artifact and by the checks they call. Sourcing it only
# defines names; `environment` sets up the release's, and `begin` a kind's.
#
# Every kind of artifact is made by packaging/KIND.sh, which release.sh
# calls with the fields of its row in the table there (a kind's head says
# what they are), and which also runs alone with them:
#   KIND.sh FIELD...           makes the artifact into dist/, then proves it
#                              (PROVE=no leaves the proving out)
#   KIND.sh --check FIELD...   builds nothing: names each tool it lacks, one
#                              a line, and exits 1 if any; exits $not_here,
#                              with a line that says why, where this system
#                              cannot make it at all; 0 where it can
#   KIND.sh --order            for an archive published unpacked at a place
#                              under the home's address: `unpack ARCHIVE
#                              PLACE`, then a `then PATH...` line for each
#                              later step, the paths under the home (or the
#                              shell's patterns of them) that
#                              packaging/publish.sh copies at that step,
#                              after all the rest; nothing for the others
# A check that fails is written down with `fail` and the script goes on, so
# that one run names every fault: it then exits $checks_failed. Any other
# status but 0 means it stopped short of its end.
not_here=4
checks_failed=3

# The release's settings, the same in every script: the time stamped into
# everything, the version, and the folder it works in.
environment() {
    set -euo pipefail
    # The paths as they were given, before the first cd.
    [ -n "${top:-}" ] || top=$(realpath "$(dirname "${BASH_SOURCE[0]}")/..") self=$(realpath "$0")
    cd "$top"
    # The same commit gives the same bytes wherever, whenever and by whomever
    # it is built: every time stamped into an artifact is the last commit's.
    # A source tarball has no history; it carries the commit's time instead.
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
    source=pathloss-$version
    work=$PWD/build/release
    # One failed check a line, for the release's summary. What a script
    # wrote there, it or anything it ran, is what it counts as failed.
    failures=$work/failures
    mkdir -p "$work" dist
    touch "$failures"
    failures_before=$(wc -l <"$failures")
}

# A kind's start: the environment, and its mode from its first argument
# (make, check, order; or in, mmdebstrap's hook: in_fresh_root), with the
# rest left in ${fields[@]}. A kind that publishes in place defines
# publish_order first.
begin() {
    environment
    mode="make"
    case ${1:-} in
    --check | --order | --in)
        mode=${1#--}
        shift
        ;;
    esac
    fields=("$@")
    if [ "$mode" = order ]; then
        ! declare -F publish_order >/dev/null || publish_order
        exit 0
    fi
}

# The project's one address, PATHLOSS_HOME, from which every other derives,
# and where each thing is published under it. Once published, none of these
# may change: installed apps and users' apt, dnf and pacman settings depend
# on them.
home_address() { echo "${PATHLOSS_HOME:-https://pathloss.invalid/}"; }
app_place=app apt_place=apt rpm_place=rpm pacman_place=pacman
files_place() { echo "releases/$version"; }
need_home() {
    [[ $(home_address) =~ ^https?://[^/]+/([^[:space:]]*/)?$ ]] ||
        lacks "PATHLOSS_HOME must be an http(s) address that ends in /: '$PATHLOSS_HOME' is not"
}
checking() { [ "$mode" = check ]; }
proving() { [ "${PROVE:-yes}" != no ]; }

# What a check finds missing, and its end.
lacking=()
need() {
    local tool
    for tool; do
        command -v "$tool" >/dev/null || lacking+=("$tool is missing (./install-deps.sh release installs it)")
    done
}
lacks() { lacking+=("$*"); }
checked() {
    [ "${#lacking[@]}" -gt 0 ] || exit 0
    printf '%s\n' "${lacking[@]}"
    exit 1
}
# The key that signs, where PATHLOSS_SIGNING_KEY names one.
need_key() {
    [ -n "${PATHLOSS_SIGNING_KEY:-}" ] || return 0
    need gpg
    if ! [[ $PATHLOSS_SIGNING_KEY =~ ^([0-9A-F]{40}|[0-9A-F]{64})$ ]] ||
        ! gpg --batch --list-secret-keys "$PATHLOSS_SIGNING_KEY" >/dev/null 2>&1; then
        lacks "PATHLOSS_SIGNING_KEY must be the fingerprint, in capitals, of a secret key" \
            "in ${GNUPGHOME:-~/.gnupg}: '$PATHLOSS_SIGNING_KEY' is not"
    fi
}

fail() {
    echo "release: FAILED: $*" >&2
    echo "$*" >>"$failures"
}
finish() {
    [ "$(wc -l <"$failures")" -eq "$failures_before" ] || exit $checks_failed
    exit 0
}
# Runs a kind's script, or a check that keeps the same protocol: one that
# stops short of its end is a failure too.
produce() {
    local before status=0
    before=$(wc -l <"$failures")
    "$@" || status=$?
    [ $status -eq 0 ] || { [ $status -eq $checks_failed ] && [ "$(wc -l <"$failures")" -gt "$before" ]; } ||
        fail "$*: stopped short (status $status), see $work/*.log"
}

# The command that runs a program under RUNNER, a field of the release's
# table: - natively; i386 natively, or under qemu-i386 where this kernel
# runs no 32-bit x86 program; RUNNER:CPU,CPU... under each of those CPUs in
# turn; anything else as it is.
runner() {
    case $1 in
    -) ;;
    i386) packaging/i386.sh --check 2>/dev/null || echo qemu-i386 ;;
    *) echo "$1" ;;
    esac
}
need_runner() {
    local command
    command=$(runner "$1")
    [ -z "$command" ] || need "${command%%:*}"
}

# Runs every transcript (or those given in $transcripts) with PROGRAM...
# under RUNNER; a difference names the artifact, the CPU and the transcript.
prove() {
    local artifact=$1 runner case cpu
    runner=$(runner "$2")
    shift 2
    proving || return 0
    case $runner in
    *:*)
        for cpu in $(tr , ' ' <<<"${runner#*:}"); do
            prove "$artifact (-cpu $cpu)" "${runner%%:*} -cpu $cpu" "$@"
        done
        return
        ;;
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

# The static tarballs in dist/, in ${tarballs[@]}, which the packages of
# other systems carry: a release without one ends such a kind there.
static_tarballs() { # WHAT: what the kind would make of them
    tarballs=(dist/"$source"-linux-*.tar.gz)
    [ -e "${tarballs[0]}" ] || {
        echo "release: no static tarball in dist/ to make $1 of"
        finish
    }
}

# Every man page under DIR, compressed or not, renders without a warning.
man_pages_render() {
    local artifact=$1 page warnings
    for page in $(find "$2" -name 'pathloss.1*' | sort); do
        warnings=$(zcat -f "$page" | groff -k -man -ww -z 2>&1) || true
        [ -z "$warnings" ] || fail "$artifact: ${page#"$2"/}: $warnings"
    done
}

# Dates every file and folder under DIR by the commit.
date_tree() { find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +; }

# Packs folder DIR/NAME into OUT, a .tar.gz or a .zip: sorted, dated by the
# commit; a tarball's files owned by root, with modes made plain whatever
# the checkout's umask was.
pack() {
    case $3 in
    *.zip)
        # zip has no option for the time it records, so the files take it.
        date_tree "$1/$2"
        local out
        out=$(realpath -m "$3")
        rm -f "$out"
        (cd "$1" && find "$2" | sort | zip -X -9 -q -@ "$out")
        ;;
    *)
        tar -C "$1" --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner \
            --mode=u=rwX,go=rX --format=gnu -c "$2" | gzip -9n >"$3"
        ;;
    esac
}

# The source tarball, DIR/pathloss-VERSION.tar.gz, which builds and tests
# with nothing else: the tracked files (or, made from such a tarball, all of
# it again) and the commit's time.
source_tarball() {
    rm -rf "${1:?}/$source"
    mkdir -p "$1/$source"
    if [ -e .git ]; then
        git ls-files -z
    else
        find . \( -path ./build -o -path ./dist -o -name __pycache__ -o -name node_modules \) -prune \
            -o -type f -print0
    fi | tar --null -T - -cf - | tar -C "$1/$source" -xf -
    echo "$SOURCE_DATE_EPOCH" >"$1/$source/packaging/source-date-epoch"
    pack "$1" "$source" "$1/$source.tar.gz"
}

# The Debian source package unpacked in DIR/pathloss-VERSION, beside its
# .orig.tar.gz: as Debian's unstable takes it, the source tarball byte for
# byte and packaging/debian as debian/, dated by the commit; with
# --backport, as packaging/backport.sh makes it for this machine's Debian
# release (on unstable the same).
debian_tree() { # [--backport] DIR
    local backport=false
    [ "$1" != --backport ] || {
        backport=true
        shift
    }
    rm -rf "$1"
    source_tarball "$1"
    rm -rf "${1:?}/$source"
    mv "$1/$source.tar.gz" "$1/pathloss_$version.orig.tar.gz"
    tar -C "$1" -xzf "$1/pathloss_$version.orig.tar.gz"
    cp -R packaging/debian "$1/$source/debian"
    chmod -R u=rwX,go=rX "$1/$source/debian"
    date_tree "$1/$source/debian"
    ! $backport || packaging/backport.sh "$1/$source" >/dev/null
}
# The Debian version in packaging/debian, and the project's version with a
# Debian revision it must be.
debian_version() { dpkg-parsechangelog -l packaging/debian/changelog -S Version; }
need_debian_version() {
    local revision
    need dpkg-parsechangelog
    command -v dpkg-parsechangelog >/dev/null || return 0
    revision=$(debian_version)
    [ "${revision%-*}" = "$version" ] ||
        lacks "packaging/debian/changelog is at $revision, the project at $version"
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
need_build() { # TRIPLET
    need cmake
    case $1 in
    native) need g++ ;;
    emscripten) need emcmake ;;
    *) need "$1-g++" ;;
    esac
}

# Signs FILE into OUT with the maintainer's key, whose fingerprint is
# PATHLOSS_SIGNING_KEY in GnuPG's keyring (GNUPGHOME): a detached, armoured
# signature; with --binary, one not armoured (rpm's and pacman's); or with
# --clear the file inside its signature (apt's InRelease). FILE - is the
# standard input.
# It is dated by the commit, or by the signing key where that is younger, as
# no signature may predate its key; Ed25519 then signs the same bytes every
# time. A signature gpg cannot make is a failure, with gpg's words in
# WORK/sign.log.
sign() { # [--clear|--binary] FILE OUT
    local how=(--armor --detach-sign) at
    case $1 in
    --clear) how=(--armor --clearsign) && shift ;;
    --binary) how=(--detach-sign) && shift ;;
    esac
    at=$(gpg --batch --with-colons --fixed-list-mode --list-keys "$PATHLOSS_SIGNING_KEY" 2>/dev/null |
        awk -F: -v at="$SOURCE_DATE_EPOCH" '$1 ~ /^(pub|sub)$/ && $12 ~ /s/ && $6 > at { at = $6 } END { print at }')
    gpg --batch --yes --local-user "$PATHLOSS_SIGNING_KEY" --faked-system-time "$at!" \
        "${how[@]}" --output "$2" "$1" 2>>"$work/sign.log" ||
        fail "$(basename "$1"): gpg did not sign it, see $work/sign.log"
}
signing() { [ -n "${PATHLOSS_SIGNING_KEY:-}" ]; }
# For a kind's --check: it is made only with a key, for WHY.
only_signing() { # WHY
    signing || {
        echo "no PATHLOSS_SIGNING_KEY $1"
        exit $not_here
    }
}
# The signing key's fingerprint, in full.
fingerprint() {
    gpg --batch --with-colons --list-keys "$PATHLOSS_SIGNING_KEY" | awk -F: '$1 == "fpr" { print $10; exit }'
}
# Another key, for the checks that a signature by it is refused: made in
# the keyring DIR, its fingerprint in $other, its agent stopped at the end.
other_key() { # DIR
    other=$(packaging/test-key.sh "$1" "another key")
    at_exit "gpgconf --homedir '$1' --kill all"
}

# The signing key's public half, armoured, as users get it.
public_key() { gpg --batch --armor --export --export-options export-minimal "$PATHLOSS_SIGNING_KEY"; }

# Sets DIR up as a user of the release's pacman repository would, for ARCH,
# from its key KEYFILE and its pathloss-pacman.conf LINES: DIR/keyring
# trusts the key, and DIR/pacman.conf has those lines alone.
pacman_user() { # DIR KEYFILE LINES ARCH
    mkdir -p "$1/keyring"
    {
        pacman-key --gpgdir "$1/keyring" --init &&
            pacman-key --gpgdir "$1/keyring" --add "$2" &&
            pacman-key --gpgdir "$1/keyring" --lsign-key "$PATHLOSS_SIGNING_KEY"
    } >"$1/keyring.log" 2>&1 || fail "pacman-key: the release's key, see $1/keyring.log"
    at_exit "gpgconf --homedir '$1/keyring' --kill all"
    {
        printf '[options]\nArchitecture = %s\n' "$4"
        sed -n '/^\[pathloss\]/,$p' "$3"
    } >"$1/pacman.conf"
}

# Serves DIR on 127.0.0.1 as a static web host would, until the script
# ends; the port is in $port.
serve() {
    local log=$work/server-$$.log
    python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$1" >"$log" 2>&1 &
    server=$!
    at_exit "kill $server"
    until port=$(sed -n 's/.* port \([0-9]*\) .*/\1/p' "$log") && [ -n "$port" ]; do
        kill -0 $server
        sleep 0.1
    done
}

# Runs COMMAND when the script ends, however it ends, after those given
# before it.
exits=()
at_exit() {
    exits+=("$*")
    trap run_exits EXIT
}
run_exits() {
    local each
    for each in "${exits[@]}"; do eval "$each" || true; done
}

# The mirror this machine's apt uses, which serves every Debian release.
mirror() {
    # shellcheck disable=SC2016 # apt's own placeholder
    apt-get indextargets --format '$(REPO_URI)' 'Created-By: Packages' | grep -v security | head -n 1
}

# Makes a fresh root of Debian SUITE with mmdebstrap, throws it away after,
# and in between runs the calling script again as its hook: as SCRIPT --in
# ROOT ARG..., with /proc, /dev and /dev/pts mounted in ROOT. SCRIPT is
# $self, which environment sets.
#   in_fresh_root SUITE [MMDEBSTRAP_OPTION...] -- [ARG...]
in_fresh_root() {
    local suite=$1 options=() hook
    shift
    while [ "$1" != -- ]; do
        options+=("$1")
        shift
    done
    shift
    hook="$(printf '%q' "$self") --in \"\$1\""
    [ $# -eq 0 ] || hook+=$(printf ' %q' "$@")
    mmdebstrap --variant=minbase "${options[@]}" --customize-hook="$hook" "$suite" /dev/null "$(mirror)" </dev/null
}

# A field of this system's /etc/os-release, such as VERSION_CODENAME.
os_release() { sed -n "s/^$1=//p" /etc/os-release | tr -d '"'; }
