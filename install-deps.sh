#!/bin/sh
# Installs the Debian packages (bookworm) that one or more purposes need, as
# root or through sudo:
#   build    the program alone
#   test     every test of cmake --workflow --preset default
#   release  packaging/release.sh: cross compilers and the C library of
#            every architecture this Debian release has, emulators,
#            debhelper and lintian, what runs the checks Debian's CI runs in
#            unstable (sbuild, mmdebstrap, autopkgtest, piuparts; the rest
#            come from unstable itself), GnuPG and apt-ftparchive for the
#            signatures and the apt repository, the tests' libraries for
#            the source tarball's own tests, the web app's icon renderer,
#            the three browsers and the browser check's playwright-core and
#            puppeteer-core from npm; rpm's, dnf's and pacman's tools for
#            their packages and repositories; and rsync and ssh for
#            publish.sh
#   ci       test and release and what .ci/run adds: clang for the fuzzer,
#            hyperfine for the benchmark, diffoscope for reproducible.sh,
#            mmdebstrap for a fresh Debian 13 root, and for the publishing
#            checks a web server, an SSH server and a link checker
# This is the one place that names them; the README, .ci/run and the
# release's own tool check all send you here. What is installed already is
# not asked for again, so a machine that has it all needs no network.
#
# usage: ./install-deps.sh PURPOSE...   (--list PURPOSE... only prints them)
set -eu
cd "$(dirname "$0")"

build="cmake g++ make"
# Debian's node warns on every start without the CA certificates.
node="nodejs ca-certificates"
test="$build libgtest-dev python3 valgrind clang-format clang-tidy cppcheck libmpfr-dev
      emscripten $node"
# Every architecture of this Debian release gets a .deb, cross-built here:
# dpkg-shlibdeps reads each target's own C library through multiarch. Debian
# 13 has riscv64 and no more mips; the armhf .deb is built for ARMv6 by the
# armel compiler and stripped by armhf's binutils. wine32 runs the 32-bit
# Windows program.
case $(. /etc/os-release && echo "${VERSION_CODENAME:-}") in
bookworm) ports="g++-mips64el-linux-gnuabi64 g++-mipsel-linux-gnu libc6:mips64el libc6:mipsel" ;;
*) ports="g++-riscv64-linux-gnu libc6:riscv64" ;;
esac
release="$build build-essential python3 git file dpkg-dev debhelper lintian groff-base devscripts zip unzip
         g++-i686-linux-gnu g++-aarch64-linux-gnu g++-arm-linux-gnueabi binutils-arm-linux-gnueabihf
         g++-powerpc64le-linux-gnu g++-s390x-linux-gnu g++-riscv64-linux-gnu $ports
         libc6:arm64 libc6:i386 libc6:armel libc6:ppc64el libc6:s390x
         g++-mingw-w64-x86-64 g++-mingw-w64-i686 qemu-user wine wine64 wine32:i386
         sbuild uidmap mmdebstrap autopkgtest piuparts libgtest-dev libmpfr-dev gnupg apt-utils xz-utils
         emscripten librsvg2-bin $node chromium firefox-esr webkit2gtk-driver xvfb xauth rsync openssh-client
         rpm rpmlint createrepo-c dnf zypper pacman-package-manager makepkg fakeroot zstd libarchive-tools"
# A node from elsewhere (NodeSource's) brings its own npm, which Debian's npm
# package would conflict with.
command -v npm >/dev/null || release="$release npm"
# shellcheck disable=SC2034 # read through eval below
ci="$test $release clang libclang-rt-14-dev hyperfine diffoscope mmdebstrap nginx openssh-server linkchecker curl"

list=false
if [ "${1:-}" = --list ]; then
    list=true
    shift
fi
[ $# -gt 0 ] || {
    echo "usage: $0 [--list] build|test|release|ci..." >&2
    exit 2
}
packages=""
for purpose in "$@"; do
    case $purpose in
    build | test | release | ci) eval "packages=\"\$packages \$$purpose\"" ;;
    *)
        echo "install-deps: no purpose '$purpose' (build, test, release, ci)" >&2
        exit 2
        ;;
    esac
done
# shellcheck disable=SC2086 # one word a package
packages=$(printf '%s\n' $packages | sort -u | tr '\n' ' ')
if $list; then
    echo "$packages"
    exit 0
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive

# What is installed already is not asked for: a machine that has it all
# needs no network, and a mirror's bad hour cannot stop it.
missing=""
for package in $packages; do
    dpkg-query -W -f '${db:Status-Abbrev}' "$package" 2>/dev/null | grep -q '^.i' ||
        missing="$missing $package"
done
# The browser check's drivers, for the release, at the versions that the
# lock file pins.
drivers=false
case " $* " in
*" release "* | *" ci "*)
    [ -z "$missing" ] && node -e '
        const fs = require("fs"), dir = process.argv[1];
        const lock = JSON.parse(fs.readFileSync(dir + "/package-lock.json", "utf8"));
        for (const [path, entry] of Object.entries(lock.packages)) {
            if (!path) continue;
            let found;
            try { found = JSON.parse(fs.readFileSync(dir + "/" + path + "/package.json", "utf8")).version; }
            catch { found = entry.optional ? entry.version : null; }
            if (found !== entry.version) process.exit(1);
        }' tests/web 2>/dev/null || drivers=true
    ;;
esac

if [ -n "$missing" ]; then
    # shellcheck disable=SC2086
    for arch in $(printf '%s\n' $missing | sed -n 's/.*:\(.*\)/\1/p' | sort -u); do
        $sudo dpkg --add-architecture "$arch"
    done
    # A mirror caught mid-sync serves indexes that disagree with its
    # Release file, and apt-get update fails on any of them; it is mended
    # within minutes as a rule, so it has a few more tries.
    log=$(mktemp)
    trap 'rm -f "$log"' EXIT
    for wait in 30 60 120 -; do
        $sudo apt-get update >"$log" 2>&1 && break
        if [ "$wait" = - ]; then
            echo "install-deps: apt-get update failed four times; the mirror is at fault, and apt says:" >&2
            grep -E '^(E|W|Err):' "$log" >&2 || cat "$log" >&2
            exit 1
        fi
        echo "install-deps: apt-get update failed, the mirror is at fault (again in $wait s):" >&2
        grep -E '^E:' "$log" | sed 's/^/  /' >&2 || true
        sleep "$wait"
    done
    # shellcheck disable=SC2086
    $sudo apt-get install -y --no-install-recommends $missing
fi
if $drivers; then
    npm ci --prefix tests/web --no-audit --no-fund
fi
