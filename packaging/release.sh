#!/usr/bin/env bash
# Builds release artifacts into dist/ from a clean slate, then proves each
# one: the program unpacked from it runs every transcript on its own
# platform (qemu-user for ARM, wine for Windows) and must print what the
# transcripts say, byte for byte; the package holds exactly its files, its
# man pages render without a warning, lintian finds nothing. Lists them all
# in dist/SHA256SUMS; the source tarball must build and pass every test by
# itself, and the Debian source package, from which every .deb is built,
# must pass the checks Debian's own CI runs (packaging/debian-checks.sh).
# This is the only place that makes and checks packages.
#
# The same commit gives the same bytes wherever, whenever and by whomever it
# is built: every time stamped into an artifact is the last commit's.
#
# usage: packaging/release.sh [TARGET...]   (from the project root)
# TARGET is a name from the list below, or source; none means all of them.
# ./install-deps.sh release installs what it needs.
set -euo pipefail
cd "$(dirname "$0")/.."

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
for tool in "${tools[@]}"; do
    command -v "$tool" >/dev/null || {
        echo "release: $tool is missing (./install-deps.sh release installs it)" >&2
        exit 1
    }
done

version=$(sed -n 's/^project(pathloss VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
revision=$(dpkg-parsechangelog -l packaging/debian/changelog -S Version)
[ "${revision%-*}" = "$version" ] || {
    echo "release: packaging/debian/changelog is at $revision, the project at $version" >&2
    exit 1
}
work=$PWD/build/release
rm -rf "$work" dist
mkdir -p "$work" dist

failures=()
fail() {
    echo "release: FAILED: $*" >&2
    failures+=("$*")
}

# Runs every transcript (or those given in $transcripts) with PROGRAM...
# under RUNNER, as the target list gives it; a difference names the
# artifact, the CPU and the transcript. PROVE=no leaves the running out, for
# a second release that only has to show the same bytes.
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

# The files under DIR, one a line, as a user finds them after unpacking.
files_in() { (cd "$1" && find . -type f | sed 's|^\./||' | sort); }

# ARTIFACT holds, unpacked in DIR, exactly the files EXPECTED...
holds() {
    local artifact=$1 dir=$2 got
    shift 2
    got=$(files_in "$dir")
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

# Configures and builds one target into DIR: build TRIPLET DIR CMAKE_ARGS...
build() {
    local triplet=$1 dir=$2
    shift 2
    local configure=(cmake -DBUILD_TESTING=OFF)
    case $triplet in
    native) ;;
    emscripten) configure=(emcmake cmake) ;;
    *) configure+=(-DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain/$triplet.cmake") ;;
    esac
    "${configure[@]}" -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >"$dir.log"
    cmake --build "$dir" >>"$dir.log"
}

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

# The Debian source package: that tarball as its .orig, byte for byte, and
# packaging/debian as debian/, dated by the commit like everything else.
# Every .deb is built from it.
mkdir "$work/debian"
cp "$work/source/$source.tar.gz" "$work/debian/pathloss_$version.orig.tar.gz"
tar -C "$work/debian" -xzf "$work/source/$source.tar.gz"
cp -R packaging/debian "$work/debian/$source/debian"
chmod -R u=rwX,go=rX "$work/debian/$source/debian"
find "$work/debian/$source/debian" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
(cd "$work/debian" && dpkg-source -b "$source" >"$work/debian.log")

# Builds the .deb for ARCH from it, as Debian's builders would on this
# machine: cross-built, with the cross profile, for any other architecture,
# and for ARMv6 where it is armhf. The tests are left to the source
# package's own build, which packaging/debian-checks.sh makes.
build_deb() {
    local arch=$1 dir=$work/deb-$1 options=(-b -uc -us -Jauto) profiles=nocheck
    [ "$arch" = "$native" ] || {
        options+=(-a"$arch")
        profiles+=,cross
    }
    [ "$arch" != armhf ] || profiles+=,pkg.pathloss.armv6
    mkdir "$dir"
    cp -R "$work/debian/$source" "$dir/"
    (cd "$dir/$source" && DEB_BUILD_OPTIONS="nocheck noautodbgsym" \
        dpkg-buildpackage "${options[@]}" -P"$profiles") >"$dir.log" 2>&1
}

# The Windows programs run in a wine prefix of their own, with a persistent
# server whose output goes nowhere: one started by a run would hold that
# run's pipes open after the program ends.
if [[ $chosen == *" windows-"* ]]; then
    export WINEPREFIX=$work/wine WINEDEBUG=-all
    mkdir "$WINEPREFIX"
    /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
    /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1
    trap '/usr/lib/wine/wineserver -k </dev/null >/dev/null 2>&1 || true' EXIT
fi

for target in "${selected[@]}"; do
    read -r platform deb_arch triplet runner <<<"$target"
    echo "release: $platform"

    if [[ $deb_arch != - && $debian_archs != *" $deb_arch "* ]]; then
        echo "release: no $deb_arch .deb: $(. /etc/os-release && echo "$PRETTY_NAME") has no $deb_arch"
    elif [ "$deb_arch" != - ]; then
        deb=pathloss_${revision}_$deb_arch.deb
        build_deb "$deb_arch"
        mv "$work/deb-$deb_arch/$deb" dist/
        # The ITP bug that Debian's first upload closes does not exist yet.
        tags=$(lintian --pedantic -I --suppress-tags initial-upload-closes-no-bugs "dist/$deb" 2>/dev/null) || true
        [ -z "$tags" ] || fail "$deb: lintian: $tags"
        unpacked=$work/deb-$deb_arch/unpacked
        dpkg-deb -x "dist/$deb" "$unpacked"
        doc=usr/share/doc/pathloss man=usr/share/man
        # Every protection the architecture can have: control-flow
        # protection is x86's, branch protection arm64's (hardening-check
        # reports both everywhere from Debian 13 on). A program that carries
        # its C library in, the ARMv6 one, can have neither PIE nor immediate
        # binding, and says why to lintian.
        case $deb_arch in
        amd64 | i386) elsewhere="Branch Protection" ;;
        arm64) elsewhere="Control flow integrity" ;;
        *) elsewhere="Branch Protection|Control flow integrity" ;;
        esac
        override=()
        if readelf -lW "$unpacked/usr/bin/pathloss" | grep -q 'program interpreter'; then
            hardening=$(hardening-check "$unpacked/usr/bin/pathloss" 2>/dev/null) || true
            ! grep ': no' <<<"$hardening" | grep -qEv "^ ($elsewhere):" ||
                fail "$deb: hardening-check: $hardening"
        else
            override=(usr/share/lintian/overrides/pathloss)
        fi
        holds "$deb" "$unpacked" usr/bin/pathloss $doc/README.md.gz $doc/NEWS.gz $doc/copyright \
            $doc/changelog.Debian.gz $man/man1/pathloss.1.gz $man/es/man1/pathloss.1.gz "${override[@]}"
        man_pages_render "$deb" "$unpacked"
        # On the target's own C library, as Debian installs it (multiarch):
        # qemu-user finds its loader here.
        prove "$deb" "$runner" "$unpacked/usr/bin/pathloss"
    fi
    [ "$triplet" != - ] || continue

    name=pathloss-$version-$platform
    if [ "$platform" = web ]; then
        # One page with everything inside, for computers; and the same page
        # as an app to install from a web address, in a folder for any
        # static host: with its manifest, icons and the worker that keeps
        # them offline. Both proven in chromium, firefox and WebKit, from
        # disk, from a server, and the app with the server stopped; WebKit
        # wants an X display.
        build "$triplet" "$work/$platform"
        cmake --build "$work/$platform" --target site >>"$work/$platform.log"
        cp "$work/$platform/pathloss.html" "dist/$name.html"
        site=pathloss-$version-site
        mkdir "$work/$platform/stage" "$work/$platform/unpacked"
        cp -R "$work/$platform/site" "$work/$platform/stage/$site"
        tarball "$work/$platform/stage" "$site" "dist/$site.tar.gz"
        tar -C "$work/$platform/unpacked" -xzf "dist/$site.tar.gz"
        holds "$site.tar.gz" "$work/$platform/unpacked" "$site/index.html" "$site/manifest.webmanifest" \
            "$site/sw.js" "$site/icon-192.png" "$site/icon-512.png" "$site/icon-maskable.png" \
            "$site/apple-touch-icon.png"
        [ "${PROVE:-yes}" = no ] || xvfb-run -a -s "-screen 0 1280x1024x24" node tests/web/browser.js \
            "dist/$name.html" tests/transcripts --site "$work/$platform/unpacked/$site" ||
            fail "$name.html, $site.tar.gz: in the browsers"
        continue
    fi
    build "$triplet" "$work/$platform" -DPATHLOSS_PORTABLE=ON
    cmake --install "$work/$platform" --strip --prefix "$work/$platform/stage/$name" >>"$work/$platform.log"
    unpacked=$work/$platform/unpacked
    case $platform in
    windows-*)
        # zip has no option for the time it records, so the files take it.
        archive=$name.zip
        find "$work/$platform/stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
        (cd "$work/$platform/stage" && find "$name" | sort | zip -X -9 -q -@ "$OLDPWD/dist/$archive")
        unzip -q "dist/$archive" -d "$unpacked"
        holds "$archive" "$unpacked" "$name/pathloss.exe" "$name/README.md" "$name/LICENSE"
        exe=$unpacked/$name/pathloss.exe
        header=$("$triplet-objdump" -p "$exe")
        imports=$(sed -n 's/^\tDLL Name: //p' <<<"$header" | sort -u | tr '\n' ' ')
        [ "$imports" = "KERNEL32.dll msvcrt.dll " ] || fail "$archive: imports $imports"
        # Every figure is the program's own arithmetic: a logarithm or any
        # other math function from the system's runtime would make it
        # Microsoft's on real Windows, where no test here runs.
        math=$(sed -n 's/^\t[0-9a-f]\+[[:space:]]\+[0-9]\+[[:space:]]\+//p' <<<"$header" |
            grep -xE '_?(a?(sin|cos|tan)h?|atan2|exp(2|m1)?|log(10|1p|2|b)?|pow|sqrt|cbrt|hypot|fmod|frexp|ldexp|modf|floor|ceil|round|trunc)[fl]?' |
            tr '\n' ' ') || true
        [ -z "$math" ] || fail "$archive: imports math from the system: $math"
        # The version resource (type 16) and the manifest (type 24), and
        # what Windows shows of them.
        grep -q 'Entry: ID: 0x000010,' <<<"$header" || fail "$archive: no version resource"
        grep -q 'Entry: ID: 0x000018,' <<<"$header" || fail "$archive: no manifest"
        strings -el "$exe" | grep -qx "$version" || fail "$archive: version $version not in the resource"
        strings -el "$exe" | grep -qx "pathloss" || fail "$archive: no product name"
        strings "$exe" | grep -q 'level="asInvoker"' || fail "$archive: manifest asks for more than asInvoker"
        grep -q "Time/Date.*$(date -d "@$SOURCE_DATE_EPOCH" '+%a %b %e %T %Y')" <<<"$header" ||
            fail "$archive: PE time stamp is not the commit's"
        # Some kernels run no 32-bit x86 program; .ci/run then has
        # qemu-i386 run them through binfmt_misc, where wine takes most of a
        # minute a run. There the 32-bit program is proven on the transcripts
        # that test its arithmetic: the knife edges, where any logarithm but
        # ours or x87 arithmetic would print another last digit.
        transcripts=""
        [[ $platform != windows-x86 ]] ||
            ! grep -qs '^magic 7f454c4601010100000000000000000002000300' /proc/sys/fs/binfmt_misc/* ||
            transcripts="tests/transcripts/knife_edge_*.in"
        prove "$archive" "--crlf $runner" "$exe"
        transcripts=""
        ;;
    linux-*)
        archive=$name.tar.gz
        tarball "$work/$platform/stage" "$name" "dist/$archive"
        mkdir "$unpacked"
        tar -C "$unpacked" -xzf "dist/$archive"
        holds "$archive" "$unpacked" "$name/pathloss" "$name/README.md" "$name/LICENSE" \
            "$name/man/man1/pathloss.1" "$name/man/es/man1/pathloss.1"
        man_pages_render "$archive" "$unpacked"
        program=$unpacked/$name/pathloss
        # Any Linux means no dynamic loader and no library to find.
        ! readelf -lW "$program" | grep -q 'program interpreter' || fail "$archive: not statically linked"
        prove "$archive" "$runner" "$program"
        ;;
    esac
done

if [[ $chosen == *" source "* ]]; then
    cp "$work/source/$source.tar.gz" "$work/debian/"*.orig.tar.gz "$work/debian/"*.debian.tar.xz \
        "$work/debian/"*.dsc dist/
    if [ "${PROVE:-yes}" != no ]; then
        echo "release: $source.tar.gz, built and tested by itself"
        mkdir "$work/distcheck"
        tar -C "$work/distcheck" -xzf "dist/$source.tar.gz"
        (cd "$work/distcheck/$source" && env -u WINEPREFIX cmake --workflow --preset default) \
            >"$work/distcheck.log" 2>&1 || fail "$source.tar.gz: its own tests, see $work/distcheck.log"
        echo "release: the Debian source package, as Debian's CI checks it"
        packaging/debian-checks.sh "dist/pathloss_$revision.dsc" "$work/debian-checks" ||
            fail "pathloss_$revision.dsc: the checks Debian's CI runs, see $work/debian-checks"
    fi
fi

# What shaped the bytes: the system and the versions of its compilers,
# linkers, C libraries, packers and the icons' renderer. The same commit built with these gives
# the same bytes; other versions may well not.
shapers='binutils|cpp|gcc|g\+\+|lib(c6|gcc-[0-9]+|stdc\+\+-[0-9]+)-dev|linux-libc-dev|mingw-w64'
shapers+='|emscripten|binaryen|clang-[0-9]+|lld-[0-9]+|libllvm[0-9]+|nodejs|node-acorn'
shapers+='|cmake|libarchive[0-9]+|dpkg|dpkg-dev|debhelper|dwz|libfile-stripnondeterminism-perl|zip|gzip|tar'
shapers+='|librsvg2|libcairo2|libpixman|libpng16'
{
    echo "pathloss $version, made by packaging/release.sh"
    echo "SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH"
    echo "system: $(. /etc/os-release && echo "$PRETTY_NAME"), $(dpkg --print-architecture)"
    echo "packages:"
    dpkg-query -W -f '${db:Status-Abbrev} ${binary:Package} ${Version}\n' | sed -n 's/^ii  *//p' |
        grep -E "^(($shapers)(-[0-9]+)?(-[^ :]+)?|libc6|zlib1g)[ :]" | sort | sed 's/^/  /'
} >dist/BUILDINFO

(cd dist && sha256sum -- * >"$work/SHA256SUMS" && mv "$work/SHA256SUMS" .)

if [ "${#failures[@]}" -gt 0 ]; then
    printf 'release: %d check(s) failed:\n' "${#failures[@]}" >&2
    printf '  %s\n' "${failures[@]}" >&2
    exit 1
fi
echo "release: every artifact in dist/ passed its checks"
cat dist/SHA256SUMS
