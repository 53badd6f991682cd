#!/usr/bin/env bash
# Builds dist/pathloss-VERSION-PLATFORM.zip: one folder with a program that
# needs nothing but Windows, and its papers. Then proves it: exactly those
# files; it imports only KERNEL32 and msvcrt, and no math; its version
# resource, manifest and time stamp; and every transcript run by it under
# wine (RUNNER).
#
# usage: packaging/windows.sh [--check] PLATFORM TRIPLET RUNNER   (the
# interface: packaging/lib.sh; RUNNER is 64- or 32-bit wine)
# shellcheck source=packaging/lib.sh
. "$(dirname "$0")/lib.sh"
begin "$@"
platform=${fields[0]} triplet=${fields[1]} runner=${fields[2]}
if checking; then
    need_build "$triplet"
    need "$triplet-objdump" zip unzip strings
    need_runner "$runner"
    # Some kernels run no 32-bit x86 program. 32-bit wine starts programs
    # of its own, so it runs only where binfmt_misc hands them all to
    # qemu-i386.
    if proving && [[ $runner == */wine ]] && ! packaging/i386.sh --check; then
        lacks "this kernel runs no 32-bit x86 program, and 32-bit wine must:" \
            "'sudo packaging/i386.sh' has qemu-i386 run them, or leave $platform out"
    fi
    checked
fi
name=pathloss-$version-$platform
dir=$work/$platform
archive=$name.zip

build "$triplet" "$dir" -DPATHLOSS_PORTABLE=ON
cmake --install "$dir" --strip --prefix "$dir/stage/$name" >>"$dir.log"
pack "$dir/stage" "$name" "dist/$archive"

unzip -q "dist/$archive" -d "$dir/unpacked"
holds "$archive" "$dir/unpacked" "$name/pathloss.exe" "$name/README.md" "$name/LICENSE"
exe=$dir/unpacked/$name/pathloss.exe
header=$("$triplet-objdump" -p "$exe")
imports=$(sed -n 's/^\tDLL Name: //p' <<<"$header" | sort -u | tr '\n' ' ')
[ "$imports" = "KERNEL32.dll msvcrt.dll " ] || fail "$archive: imports $imports"
# Every figure is the program's own arithmetic: a logarithm or any other
# math function from the system's runtime would make it Microsoft's on real
# Windows, where no test here runs.
math=$(sed -n 's/^\t[0-9a-f]\+[[:space:]]\+[0-9]\+[[:space:]]\+//p' <<<"$header" |
    grep -xE '_?(a?(sin|cos|tan)h?|atan2|exp(2|m1)?|log(10|1p|2|b)?|pow|sqrt|cbrt|hypot|fmod|frexp|ldexp|modf|floor|ceil|round|trunc)[fl]?' |
    tr '\n' ' ') || true
[ -z "$math" ] || fail "$archive: imports math from the system: $math"
# The version resource (type 16) and the manifest (type 24), and what
# Windows shows of them.
grep -q 'Entry: ID: 0x000010,' <<<"$header" || fail "$archive: no version resource"
grep -q 'Entry: ID: 0x000018,' <<<"$header" || fail "$archive: no manifest"
strings -el "$exe" | grep -qx "$version" || fail "$archive: version $version not in the resource"
strings -el "$exe" | grep -qx "pathloss" || fail "$archive: no product name"
strings "$exe" | grep -q 'level="asInvoker"' || fail "$archive: manifest asks for more than asInvoker"
grep -q "Time/Date.*$(date -d "@$SOURCE_DATE_EPOCH" '+%a %b %e %T %Y')" <<<"$header" ||
    fail "$archive: PE time stamp is not the commit's"

# The programs run in a wine prefix of the release's own, kept for the next
# Windows target, with a persistent server whose output goes nowhere: one
# started by a run would hold that run's pipes open after the program ends.
export WINEPREFIX=$work/wine WINEDEBUG=-all
if proving; then
    mkdir -p "$WINEPREFIX"
    /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
    /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1
    at_exit "/usr/lib/wine/wineserver -k </dev/null >/dev/null 2>&1"
fi
# Where qemu-i386 runs 32-bit x86 programs through binfmt_misc
# (packaging/i386.sh), wine takes most of a minute a run. There the 32-bit
# program is proven on the transcripts that test its arithmetic: the knife
# edges, where any logarithm but ours or x87 arithmetic would print another
# last digit.
transcripts=""
[[ $platform != windows-x86 ]] ||
    ! grep -qs '^magic 7f454c4601010100000000000000000002000300' /proc/sys/fs/binfmt_misc/* ||
    transcripts="tests/transcripts/knife_edge_*.in"
prove "$archive" "--crlf $runner" "$exe"
finish
