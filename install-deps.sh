#!/bin/sh
# Installs the Debian packages (bookworm) that one or more purposes need, as
# root or through sudo:
#   build    the program alone
#   test     every test of cmake --workflow --preset default
#   release  packaging/release.sh: cross compilers, emulators, packaging
#            tools, the web app's icon renderer, the three browsers and
#            the browser check's playwright-core and puppeteer-core from npm
#   debian   packaging/debian-package.sh: the source package, sbuild, the
#            checks Debian's CI runs and qemu-user for the cross builds;
#            reprotest builds on this machine, so the Build-Depends too
#   ci       test and release (not debian, which CI does not run yet) and
#            what .ci/run adds: clang for the fuzzer, hyperfine for the
#            benchmark, diffoscope for reproducible.sh, mmdebstrap for a
#            fresh Debian 13 root
# This is the one place that names them; the README, .ci/run and the
# release's own tool check all send you here.
#
# usage: ./install-deps.sh PURPOSE...   (--list PURPOSE... only prints them)
set -eu
cd "$(dirname "$0")"

build="cmake g++ make"
# Debian's node warns on every start without the CA certificates.
node="nodejs ca-certificates"
test="$build libgtest-dev python3 valgrind clang-format clang-tidy cppcheck libmpfr-dev
      emscripten $node"
# The arm64 and i386 C libraries let dpkg-shlibdeps and qemu-user see the
# targets' own; wine32 runs the 32-bit Windows program.
release="$build python3 git file dpkg-dev lintian groff-base devscripts zip unzip
         g++-i686-linux-gnu g++-aarch64-linux-gnu g++-arm-linux-gnueabi
         g++-mingw-w64-x86-64 g++-mingw-w64-i686
         libc6:arm64 libc6:i386 qemu-user wine wine64 wine32:i386
         emscripten librsvg2-bin $node chromium firefox-esr webkit2gtk-driver xvfb xauth"
# The cross builds' programs run here under qemu-user, on the targets' C
# libraries.
debian="$build git dpkg-dev debhelper devscripts lintian sbuild uidmap mmdebstrap blhc autopkgtest
        piuparts reprotest faketime disorderfs diffoscope-minimal libgtest-dev libmpfr-dev python3
        qemu-user libc6-arm64-cross libc6-s390x-cross"
# A node from elsewhere (NodeSource's) brings its own npm, which Debian's npm
# package would conflict with.
command -v npm >/dev/null || release="$release npm"
# shellcheck disable=SC2034 # read through eval below
ci="$test $release clang libclang-rt-14-dev hyperfine diffoscope mmdebstrap"

list=false
if [ "${1:-}" = --list ]; then
    list=true
    shift
fi
[ $# -gt 0 ] || {
    echo "usage: $0 [--list] build|test|release|debian|ci..." >&2
    exit 2
}
packages=""
for purpose in "$@"; do
    case $purpose in
    build | test | release | debian | ci) eval "packages=\"\$packages \$$purpose\"" ;;
    *)
        echo "install-deps: no purpose '$purpose' (build, test, release, debian, ci)" >&2
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
# shellcheck disable=SC2086
for arch in $(printf '%s\n' $packages | sed -n 's/.*:\(.*\)/\1/p' | sort -u); do
    $sudo dpkg --add-architecture "$arch"
done
$sudo apt-get update
# shellcheck disable=SC2086
$sudo apt-get install -y --no-install-recommends $packages
case " $* " in
*" release "* | *" ci "*) npm ci --prefix tests/web --no-audit --no-fund ;;
esac
