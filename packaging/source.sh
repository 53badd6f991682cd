#!/usr/bin/env bash
# Makes dist/pathloss-VERSION.tar.gz, the source tarball, and with the
# maintainer's key its signature (.asc, which uscan checks). Then proves it
# as `make distcheck` would: unpacked in an empty folder, its own
# `cmake --workflow --preset default` builds and passes every test.
#
# usage: packaging/source.sh [--check]   (the interface: packaging/lib.sh)
# shellcheck source=packaging/lib.sh
. "$(dirname "$0")/lib.sh"
begin "$@"
if checking; then
    need git tar gzip cmake g++ python3
    need_key
    checked
fi
dir=$work/source

source_tarball "$dir"
cp "$dir/$source.tar.gz" dist/
! signing || sign "dist/$source.tar.gz" "dist/$source.tar.gz.asc"

if proving; then
    mkdir "$dir/distcheck"
    tar -C "$dir/distcheck" -xzf "dist/$source.tar.gz"
    (cd "$dir/distcheck/$source" && cmake --workflow --preset default) >"$dir/distcheck.log" 2>&1 ||
        fail "$source.tar.gz: its own tests, see $dir/distcheck.log"
fi
finish
