#!/usr/bin/env bash
# Usage: bash bench/fuzz-depth.sh [RUNS_PER_TARGET [TARGET...]]
# Runs each libFuzzer target for RUNS_PER_TARGET executions (default 5,000,000) from a scratch copy of its
# checked-in corpus, one process at a time, then replays the final corpus through a build instrumented for
# source coverage and reports line and branch coverage of the rules. Everything lands in build/bench/fuzz;
# the checked-in corpus is never written. Prints one summary block per target run now or before.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
runs=${1:-5000000}
out=$root/build/bench/fuzz
all_targets=(fuzz_rules fuzz_command_line_diff fuzz_program_image)
if [ $# -gt 1 ]; then
    targets=("${@:2}")
else
    targets=("${all_targets[@]}")
fi
declare -A sources=([fuzz_rules]=RulesFuzz.cpp [fuzz_command_line_diff]=CommandLineDiffFuzz.cpp
    [fuzz_program_image]=ProgramImageFuzz.cpp)
# The rules files each target is about, whose coverage is reported.
declare -A rules=([fuzz_rules]="core/CommandLine.cpp core/PathRules.cpp core/MultiByte.cpp core/CodePage.cpp"
    [fuzz_command_line_diff]=core/CommandLine.cpp [fuzz_program_image]=core/ProgramImage.cpp)

"$root/scripts/setup.sh"
cmake --preset fuzz -B build/bench-fuzz >/dev/null
cmake --build build/bench-fuzz -j2 --target "${targets[@]}" >/dev/null

for t in "${targets[@]}"; do
    rm -rf "${out:?}/$t"
    mkdir -p "$out/$t/corpus" "$out/$t/artifacts"
    cp tests/fuzz/corpus/"$t"/* "$out/$t/corpus/"
    echo "fuzz-depth: $t, $runs runs" >&2
    start=$SECONDS
    # -workers=1 and no -jobs: one process, since the machine is shared.
    "build/bench-fuzz/tests/fuzz/$t" -runs="$runs" -max_len=4096 -timeout=10 -workers=1 \
        -print_final_stats=1 -artifact_prefix="$out/$t/artifacts/" "$out/$t/corpus" \
        >"$out/$t/log" 2>&1 || { echo "fuzz-depth: $t FAILED, see $out/$t/log" >&2; exit 1; }
    echo $((SECONDS - start)) >"$out/$t/seconds"
    # The smallest corpus that keeps every feature, for the record.
    mkdir -p "$out/$t/merged"
    "build/bench-fuzz/tests/fuzz/$t" -merge=1 -max_len=4096 "$out/$t/merged" "$out/$t/corpus" \
        >"$out/$t/merge.log" 2>&1
done

# Source coverage: the rules and the target built with clang's instrumentation, replaying the final corpus.
for t in "${targets[@]}"; do
    cov=$out/$t/coverage
    mkdir -p "$cov"
    clang++ -std=c++20 -O1 -g -fprofile-instr-generate -fcoverage-mapping -fsanitize=fuzzer -I"$root" \
        ${rules[$t]} "tests/fuzz/${sources[$t]}" -o "$cov/$t"
    LLVM_PROFILE_FILE="$cov/%p.profraw" "$cov/$t" -runs=0 "$out/$t/corpus" >"$cov/replay.log" 2>&1
    llvm-profdata-14 merge -sparse "$cov"/*.profraw -o "$cov/merged.profdata"
    read -ra files <<<"${rules[$t]}"
    files=("${files[@]/#/$root/}")
    if [ "$t" = fuzz_command_line_diff ]; then
        files+=("$root/tests/fuzz/ReferenceCommandLine.h")
    fi
    llvm-cov-14 report "$cov/$t" -instr-profile="$cov/merged.profdata" "${files[@]}" >"$cov/report.txt"
    if [ "$t" = fuzz_command_line_diff ]; then
        # The target reaches only the command-line reader of the rules file; its functions on their own.
        llvm-cov-14 report "$cov/$t" -instr-profile="$cov/merged.profdata" -show-functions \
            "$root/core/CommandLine.cpp" | grep -E 'CommandLineArg|ReadWord|NextChar|IsLeadByte|IsSeparator' |
            awk '{l += $(NF-5); lm += $(NF-4); b += $(NF-2); bm += $(NF-1)}
                 END {printf "command-line reader: lines %d/%d, branches %d/%d\n", l - lm, l, b - bm, b}' \
                >>"$cov/report.txt"
    fi
    llvm-cov-14 show "$cov/$t" -instr-profile="$cov/merged.profdata" -show-branches=count "${files[@]}" \
        >"$cov/show.txt"
done

bytes() { find "$1" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}'; }
for t in "${all_targets[@]}"; do
    [ -f "$out/$t/coverage/report.txt" ] || continue
    log=$out/$t/log
    echo "== $t"
    grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true
    grep -E 'stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' "$log"
    echo "wall seconds: $(cat "$out/$t/seconds")"
    echo "final corpus: $(find "$out/$t/corpus" -type f | wc -l) files, $(bytes "$out/$t/corpus") bytes"
    echo "merged corpus: $(find "$out/$t/merged" -type f | wc -l) files, $(bytes "$out/$t/merged") bytes"
    echo "crashes: $(find "$out/$t/artifacts" -type f | wc -l)"
    cat "$out/$t/coverage/report.txt"
done
