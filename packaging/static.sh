#!/usr/bin/env bash
# Builds dist/pathloss-VERSION-PLATFORM.tar.gz, for any Linux on its
# processor: one folder with a statically linked program, its man pages and
# its papers. Then proves it: exactly those files, man pages that render,
# no dynamic loader, and every transcript run by its program under RUNNER.
#
# usage: packaging/static.sh [--check] PLATFORM TRIPLET RUNNER   (the
# interface: packaging/lib.sh; TRIPLET as lib.sh's build takes it)
# shellcheck source=packaging/lib.sh
. "$(dirname "$0")/lib.sh"
begin "$@"
platform=${fields[0]} triplet=${fields[1]} runner=${fields[2]}
if checking; then
    need_build "$triplet"
    need tar gzip readelf groff
    need_runner "$runner"
    checked
fi
name=pathloss-$version-$platform
dir=$work/$platform

build "$triplet" "$dir" -DPATHLOSS_PORTABLE=ON
cmake --install "$dir" --strip --prefix "$dir/stage/$name" >>"$dir.log"
pack "$dir/stage" "$name" "dist/$name.tar.gz"

mkdir "$dir/unpacked"
tar -C "$dir/unpacked" -xzf "dist/$name.tar.gz"
holds "$name.tar.gz" "$dir/unpacked" "$name/pathloss" "$name/README.md" "$name/LICENSE" \
    "$name/man/man1/pathloss.1" "$name/man/es/man1/pathloss.1"
man_pages_render "$name.tar.gz" "$dir/unpacked"
program=$dir/unpacked/$name/pathloss
# Any Linux means no dynamic loader and no library to find.
! readelf -lW "$program" | grep -q 'program interpreter' || fail "$name.tar.gz: not statically linked"
prove "$name.tar.gz" "$runner" "$program"
finish
