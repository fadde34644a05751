#!/usr/bin/env bash
# Runs the libFuzzer targets of a fuzz tree, each for a fixed time, niced,
# and prints one line per target:
#   fuzz <target> execs=<n> cov=<edges> findings=<k>
# execs: inputs run (libFuzzer's stat::number_of_executed_units, summed over
# restarts); cov: edges covered at the end (its last "cov:" figure);
# findings: crash-, leak-, timeout- and oom- files written during this run
# (kept in <tree>/fuzz-findings/<target>/). A target that finds something is
# started again for the rest of its time, so one finding does not end the run.
#
# Usage: bench/fuzz.sh [--seconds S] [--timeout T] [--tree DIR] [TARGET...]
#   --seconds S  time per target (default 60)
#   --timeout T  seconds one input may take before it counts as a hang
#                (default 10); raise it to pause a run (SIGSTOP) for a while
#   --tree DIR   a tree built with -DQM_FUZZ=ON (default build-fuzz)
#   TARGET       fuzz_net_receiver ... (default: every target of the tree)
# Corpora live in <tree>/fuzz-corpus/<target>/ and grow from run to run; an
# empty one starts from the seeds the target writes itself (QM_FUZZ_SEEDS).
# Exit status: 0 when nothing was found and every target ran, else 1.
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=60
timeout=10
tree=build-fuzz
targets=()
while [ $# -gt 0 ]; do
    case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --timeout) timeout=$2; shift 2 ;;
    --tree) tree=$2; shift 2 ;;
    -h | --help) sed -n '2,20p' "$0"; exit 0 ;;
    *) targets+=("$1"); shift ;;
    esac
done
if [ ${#targets[@]} -eq 0 ]; then
    for path in "$tree"/fuzz/fuzz_*; do
        [ -x "$path" ] && [ -f "$path" ] && targets+=("$(basename "$path")")
    done
fi
if [ ${#targets[@]} -eq 0 ]; then
    echo "fuzz: no targets in $tree/fuzz (configure it with CC=clang CXX=clang++ -DQM_FUZZ=ON)" >&2
    exit 1
fi

# Longest input and memory per target: what one packet run, datagram, list
# value or file can sensibly be.
options_for() {
    case $1 in
    fuzz_frame_decode) echo "-max_len=16384 -rss_limit_mb=3000" ;;
    fuzz_net_receiver | fuzz_audio_receiver) echo "-max_len=16384" ;;
    fuzz_discovery_reply) echo "-max_len=308" ;;
    fuzz_registry_list) echo "-max_len=2049" ;;
    fuzz_net_protocol | fuzz_peer_connect_request) echo "-max_len=600" ;;
    *) echo "-max_len=4096" ;;
    esac
}

status=0
for target in "${targets[@]}"; do
    binary=$tree/fuzz/$target
    corpus=$tree/fuzz-corpus/$target
    findings=$tree/fuzz-findings/$target
    log=$tree/fuzz-logs/$target.log
    mkdir -p "$corpus" "$findings" "$(dirname "$log")"
    before=$(ls "$findings" | grep -cE '^(crash|leak|timeout|oom)-')
    seeds=()
    [ -z "$(ls -A "$corpus")" ] && seeds=(env QM_FUZZ_SEEDS="$corpus")
    execs=0
    cov=0
    end=$((SECONDS + seconds))
    : >"$log"
    run_log=$(mktemp)
    while [ $SECONDS -lt $end ]; do
        left=$((end - SECONDS))
        # shellcheck disable=SC2046
        "${seeds[@]}" nice -n 15 "$binary" "$corpus" $(options_for "$target") -timeout="$timeout" \
            -report_slow_units="$timeout" \
            -max_total_time="$left" -print_final_stats=1 -artifact_prefix="$findings/" \
            >"$run_log" 2>&1
        seeds=()
        cat "$run_log" >>"$log"
        run_execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$run_log" | tail -1)
        execs=$((execs + ${run_execs:-0}))
        last=$(grep -oE ' cov: [0-9]+' "$run_log" | tail -1 | awk '{ print $2 }')
        [ -n "$last" ] && cov=$last
        after=$(ls "$findings" | grep -cE '^(crash|leak|timeout|oom)-')
        # A run that ended early with neither its figures nor a finding did
        # not run at all (a missing library, a bad option).
        if [ -z "$run_execs" ] && [ "$after" -eq "$before" ] && [ $SECONDS -lt $end ]; then
            echo "fuzz: $target did not run, see $log" >&2
            status=1
            break
        fi
    done
    rm -f "$run_log"
    after=$(ls "$findings" | grep -cE '^(crash|leak|timeout|oom)-')
    found=$((after - before))
    [ $found -eq 0 ] || status=1
    echo "fuzz $target execs=$execs cov=$cov findings=$found"
done
exit $status
