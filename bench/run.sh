#!/bin/sh
# The cost of one whole run of the calculator (process start to exit, typing
# 144 and 100), against a plain C stdio rendering of the same dialogue built
# here with -O2 and the same hardening flags as the program: instructions
# under callgrind (the same count every time) and wall time under hyperfine.
# Prints both and their ratios; it measures and judges nothing.
#
# usage: bench/run.sh [PROGRAM]   (default: build/default/pathloss, built first)
# needs: valgrind, hyperfine, a C compiler, python3
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
