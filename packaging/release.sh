#!/usr/bin/env bash
# Builds every release artifact into dist/ from a clean slate, then proves
# each one: the program unpacked from it runs every transcript on its own
# platform (qemu-user for ARM, wine for Windows) and must print what the
# transcripts say, byte for byte.
#
# usage: packaging/release.sh   (from the project root, no arguments)
set -euo pipefail
cd "$(dirname "$0")/.."

# One line a target: its compiler triplet (cmake/toolchain/TRIPLET.cmake; -
# for this machine's own compiler), the architecture of its .deb (- for
# none), the name of its portable archive, and what runs its program here.
targets=(
    "-                   amd64 linux-x86_64  -"
    "aarch64-linux-gnu   arm64 linux-aarch64 qemu-aarch64"
    "arm-linux-gnueabihf armhf linux-armhf   qemu-arm"
    "x86_64-w64-mingw32  -     windows-x64   /usr/lib/wine/wine64"
    "i686-w64-mingw32    -     windows-x86   /usr/lib/wine/wine"
)

version=$(sed -n 's/^project(pathloss VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
work=$PWD/build/release
rm -rf "$work" dist
mkdir -p "$work" dist

failures=()
fail() {
    echo "release: FAILED: $*" >&2
    failures+=("$*")
}

# Runs every transcript with COMMAND...; a difference names the artifact and
# the transcript.
prove() {
    local artifact=$1 case
    shift
    for case in tests/transcripts/*.in; do
        python3 tests/transcript.py "$@" "$case" "${case%.in}.out" ||
            fail "$artifact: $(basename "$case" .in)"
    done
}

# Configures and builds one target into DIR: build TRIPLET DIR CMAKE_ARGS...
build() {
    local triplet=$1 dir=$2
    shift 2
    local toolchain=()
    [ "$triplet" = - ] || toolchain=(-DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain/$triplet.cmake")
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF "${toolchain[@]}" "$@" >"$dir.log"
    cmake --build "$dir" >>"$dir.log"
}

# A wine prefix of its own for the Windows programs, with a persistent server
# whose output goes nowhere.
export WINEPREFIX=$work/wine WINEDEBUG=-all WINE64=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver
sh tests/wine_prefix.sh boot
trap 'sh tests/wine_prefix.sh stop' EXIT

for target in "${targets[@]}"; do
    read -r triplet deb_arch platform runner <<<"$target"
    run=()
    [ "$runner" = - ] || run=("$runner")
    echo "release: $platform"

    if [ "$deb_arch" != - ]; then
        # dpkg-shlibdeps reads the target's own C library through multiarch.
        build "$triplet" "$work/$deb_arch" -DPATHLOSS_PORTABLE=OFF \
            -DCPACK_DEBIAN_PACKAGE_ARCHITECTURE="$deb_arch"
        deb=pathloss_${version}_$deb_arch.deb
        DEB_HOST_ARCH=$deb_arch cpack -G DEB --config "$work/$deb_arch/CPackConfig.cmake" \
            -B "$work/$deb_arch/package" >>"$work/$deb_arch.log"
        mv "$work/$deb_arch/package/$deb" dist/
        lintian --fail-on error,warning "dist/$deb" || fail "$deb: lintian"
        dpkg-deb -x "dist/$deb" "$work/$deb_arch/unpacked"
        qemu_root=()
        [ "${#run[@]}" -eq 0 ] || qemu_root=(-L "/usr/$triplet")
        prove "$deb" "${run[@]}" "${qemu_root[@]}" "$work/$deb_arch/unpacked/usr/bin/pathloss"
    fi

    name=pathloss-$version-$platform
    build "$triplet" "$work/$platform" -DPATHLOSS_PORTABLE=ON
    cmake --install "$work/$platform" --strip --prefix "$work/$platform/stage/$name" >>"$work/$platform.log"
    case $platform in
    windows-*)
        archive=$name.zip
        (cd "$work/$platform/stage" && find "$name" | LC_ALL=C sort | zip -X -9 -q -@ "$OLDPWD/dist/$archive")
        unzip -q "dist/$archive" -d "$work/$platform/unpacked"
        exe=$work/$platform/unpacked/$name/pathloss.exe
        imports=$("$triplet-objdump" -p "$exe" | sed -n 's/^\tDLL Name: //p' | sort -u | tr '\n' ' ')
        [ "$imports" = "KERNEL32.dll msvcrt.dll " ] || fail "$archive: imports $imports"
        prove "$archive" --crlf "${run[@]}" "$exe"
        ;;
    *)
        archive=$name.tar.gz
        tar -C "$work/$platform/stage" -c "$name" | gzip -9n >"dist/$archive"
        mkdir "$work/$platform/unpacked"
        tar -C "$work/$platform/unpacked" -xzf "dist/$archive"
        prove "$archive" "${run[@]}" "$work/$platform/unpacked/$name/pathloss"
        ;;
    esac
done

if [ "${#failures[@]}" -gt 0 ]; then
    printf 'release: %d check(s) failed:\n' "${#failures[@]}" >&2
    printf '  %s\n' "${failures[@]}" >&2
    exit 1
fi
echo "release: every artifact in dist/ passed its checks"
ls -l dist
