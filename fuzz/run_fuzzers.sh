#!/usr/bin/env bash
# Runs every fuzz target of a libFuzzer build for a bounded time, starting
# from the seed corpus, and fails on any finding.
#   fuzz/run_fuzzers.sh BUILD_DIR SECONDS_PER_TARGET
set -euo pipefail
build=$1
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
seeds=$build/fuzz/seeds
python3 "$here/make_corpus.py" "$seeds"
status=0
for fuzzer in "$build"/fuzz/fuzz_*; do
    target=${fuzzer##*/fuzz_}
    work=$build/fuzz/work/$target
    artifacts=$build/fuzz/artifacts/$target/
    mkdir -p "$work" "$artifacts"
    [ -d "$seeds/$target" ] || mkdir -p "$seeds/$target"
    log=$build/fuzz/$target.log
    extra=()
    [ -d "$here/regressions/$target" ] && extra+=("$here/regressions/$target")
    if "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -close_fd_mask=3 \
            -print_final_stats=1 -artifact_prefix="$artifacts" \
            "$work" "$seeds/$target" "${extra[@]}" >"$log" 2>&1; then
        result=ok
    else
        result="FAILED (see $log; inputs in $artifacts)"
        status=1
    fi
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
    files=$(find "$work" -type f | wc -l)
    bytes=$(du -sb "$work" | cut -f1)
    printf '%-10s %s: %s executions in %ss, corpus %s files, %s bytes\n' \
        "$target" "$result" "$runs" "$seconds" "$files" "$bytes"
done
exit $status
