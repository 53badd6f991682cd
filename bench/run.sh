#!/bin/sh
# The cost of one whole run of the calculator (process start to exit, typing
# 144 and 100), against a plain C stdio rendering of the same dialogue built
# here with -O2 and the same hardening flags as the program: instructions
# under callgrind (the same count every time) and wall time under hyperfine.
# Prints both and their ratios; it measures and judges nothing. Then one
# logarithm's cost: cr_log10 on its fast path, its slow path alone, and the C
# library's log10, in ns and instructions per call.
#
# usage: bench/run.sh [PROGRAM]   (default: build/default/pathloss, built first)
# needs: valgrind, hyperfine, a C and a C++ compiler, python3
set -eu
cd "$(dirname "$0")/.."
if [ $# -gt 0 ]; then
    program=$(realpath "$1")
else
    cmake --preset default >/dev/null
    cmake --build --preset default --target pathloss >/dev/null
    program=$PWD/build/default/pathloss
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The build writes its hardening flags beside the program.
hardening=$(cat "$(dirname "$program")/hardening-flags" 2>/dev/null || true)
# shellcheck disable=SC2086 # one word a flag
cc -O2 $hardening -o "$work/floor" bench/floor.c -lm
printf '144\n100\n\n' >"$work/input"

# The floor must print what the program prints, or the comparison is void.
"$program" <"$work/input" >"$work/program.out"
"$work/floor" <"$work/input" >"$work/floor.out"
cmp -s "$work/program.out" "$work/floor.out" || echo "warning: the floor's output differs" >&2

instructions() {
    valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" "$1" \
        <"$work/input" >/dev/null 2>"$work/callgrind.log"
    sed -n 's/^summary: *//p' "$work/callgrind.out"
}
program_ir=$(instructions "$program")
floor_ir=$(instructions "$work/floor")

hyperfine --shell=sh --warmup 50 --runs "${RUNS:-1000}" --style none \
    --export-json "$work/times.json" \
    "'$program' <'$work/input'" "'$work/floor' <'$work/input'" >/dev/null

python3 - "$work/times.json" "$program_ir" "$floor_ir" <<'PY'
import json, sys
times = [r["median"] for r in json.load(open(sys.argv[1]))["results"]]
program_ir, floor_ir = int(sys.argv[2]), int(sys.argv[3])
print("%-12s %14s %12s" % ("", "instructions", "wall (us)"))
print("%-12s %14d %12.1f" % ("pathloss", program_ir, times[0] * 1e6))
print("%-12s %14d %12.1f" % ("C floor", floor_ir, times[1] * 1e6))
print("%-12s %14.3f %12.3f" % ("ratio", program_ir / floor_ir, times[0] / times[1]))
print("(wall: median of the runs, shell start taken off by hyperfine; a few per cent"
      " either way is noise on a shared machine)")
PY

# shellcheck disable=SC2086 # one word a flag
c++ -std=c++20 -O2 -ffp-contract=off $hardening -Isrc -o "$work/log10" bench/log10.cpp src/log10.cpp
# Instructions per call: the difference between 2N and N calls, which leaves
# out the start and the setup.
calls() {
    valgrind --tool=callgrind --callgrind-out-file="$work/log10.callgrind" "$work/log10" \
        count "$1" "$2" >/dev/null 2>&1
    sed -n 's/^summary: *//p' "$work/log10.callgrind"
}
printf '\n%-24s %8s %14s\n' "log10, per call" "ns" "instructions"
"$work/log10" time | while read -r which ns; do
    n=10000
    [ "$which" = slow ] && n=1000
    ir=$((($(calls "$which" $((2 * n))) - $(calls "$which" $n)) / n))
    case $which in
    glibc) label="C library's log10" ;;
    fast) label="cr_log10, fast path" ;;
    *) label="cr_log10, slow path" ;;
    esac
    printf '%-24s %8s %14s\n' "$label" "$ns" "$ir"
done
