#!/bin/sh
# usage: run.sh FUZZER SECONDS SEED_DIR...
# Fuzzes for a bounded time on both cores, from the seeds, in a scratch
# corpus, and prints how many inputs ran. A crash, a broken check, a leak or
# a hang leaves an artifact behind and fails the test.
set -e
fuzzer=$(realpath "$1") seconds=$2
shift 2
seeds=""
for dir in "$@"; do seeds="$seeds $(realpath "$dir")"; done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus"
cd "$work"
"$fuzzer" -jobs=2 -workers=2 -max_total_time="$seconds" -print_final_stats=1 -max_len=4096 \
    -timeout=10 -rss_limit_mb=1024 corpus $seeds >/dev/null 2>&1 || true
status=0
for artifact in crash-* leak-* timeout-* oom-*; do
    [ -e "$artifact" ] || continue
    echo "artifact: $artifact: $(od -An -c "$artifact" | head -n 4)"
    status=1
done
cat fuzz-*.log | grep -E '^(broken|==[0-9]+==ERROR|SUMMARY)' || true
runs=$(cat fuzz-*.log | sed -n 's/^stat::number_of_executed_units: *//p' | awk '{s += $1} END {print s + 0}')
echo "fuzz: $runs inputs in ${seconds}s on 2 workers"
[ "$runs" -gt 0 ] || status=1
exit $status
