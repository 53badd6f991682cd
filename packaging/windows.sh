#!/usr/bin/env bash
# Builds dist/pathloss-VERSION-PLATFORM.zip: one folder with a program that
# needs nothing but Windows, and its papers. Then proves it: exactly those
# files; it imports only KERNEL32 and msvcrt, and no math; its version
# resource, manifest and time stamp; and every transcript run by it under
# wine (RUNNER).
#
# usage: packaging/windows.sh PLATFORM TRIPLET RUNNER   (as in release.sh's targets)
# shellcheck source=packaging/lib.sh
. "$(dirname "$0")/lib.sh"
platform=$1 triplet=$2 runner=$3
name=pathloss-$version-$platform
dir=$work/$platform
archive=$name.zip

build "$triplet" "$dir" -DPATHLOSS_PORTABLE=ON
cmake --install "$dir" --strip --prefix "$dir/stage/$name" >>"$dir.log"
# zip has no option for the time it records, so the files take it.
find "$dir/stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
(cd "$dir/stage" && find "$name" | sort | zip -X -9 -q -@ "$OLDPWD/dist/$archive")

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
if [ "${PROVE:-yes}" != no ]; then
    mkdir -p "$WINEPREFIX"
    /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
    /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1
    trap '/usr/lib/wine/wineserver -k </dev/null >/dev/null 2>&1 || true' EXIT
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
