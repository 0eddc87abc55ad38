#!/usr/bin/env bash
# Usage: bash bench/run.sh
# Builds the tool, the baseline program and the benchmark programs for x86_64 and i686, runs every
# benchmark against its baseline in this one invocation, and prints the table of figures and ratios. The
# programs run under wine64 in a private prefix (build/bench/wine64) on a private Xvfb; raw figures are kept
# in build/bench/. Not part of the test command: nothing here passes or fails on a time.
# Environment: BENCH_START_RUNS (15), BENCH_REPLACE_RUNS (7), BENCH_REPLACE_MB (256), BENCH_PAINT_RUNS (500).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build/bench
start_runs=${BENCH_START_RUNS:-15}
replace_runs=${BENCH_REPLACE_RUNS:-7}
replace_mb=${BENCH_REPLACE_MB:-256}
paint_runs=${BENCH_PAINT_RUNS:-500}
repaints=1000
boxes=100
wine=/usr/lib/wine/wine64

"$root/scripts/setup.sh"

log() {
    echo "bench: $*" >&2
    if [ -f "$out/machine.txt" ]; then
        echo "load at $*: $(cut -d' ' -f1-3 /proc/loadavg)" >>"$out/machine.txt"
    fi
}
targets64=(ZALUpdate MinimalWindow MinimalAsTool bench_launcher bench_start_phases bench_replace bench_paint
    bench_leaks)
log "building"
cmake --preset win64 -B build/bench-win64 -DZAL_BENCH=ON >/dev/null
cmake --build build/bench-win64 -j2 --target "${targets64[@]}" >/dev/null
cmake --preset win32 -B build/bench-win32 -DZAL_BENCH=ON >/dev/null
cmake --build build/bench-win32 -j2 --target ZALUpdate MinimalWindow >/dev/null

mkdir -p "$out"
rm -rf "$out/work" "$out/replace"
mkdir -p "$out/work/x86_64" "$out/work/i686" "$out/replace"
cp build/bench-win64/ZALUpdate.exe "$out/work/x86_64/"
cp build/bench-win64/bench/{MinimalWindow,MinimalAsTool,bench_start_phases}.exe "$out/work/x86_64/"
cp build/bench-win32/ZALUpdate.exe build/bench-win32/bench/MinimalWindow.exe "$out/work/i686/"
bin=$root/build/bench-win64/bench

{
    echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "cpus: $(nproc), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
    echo "memory: $(free -m | awk '/^Mem:/ {print $2}') MB"
    echo "wine: $("$wine" --version)"
    echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
} >"$out/machine.txt"

log "sizes"
(cd "$out/work" && python3 "$root/scripts/pe.py" x86_64/ZALUpdate.exe x86_64/MinimalWindow.exe \
    i686/ZALUpdate.exe i686/MinimalWindow.exe) >"$out/sizes.txt"

"$root/scripts/wine-prefix.sh" "$out/wine64" >/dev/null
source "$root/scripts/wine-env.sh"
wine_env "$out/wine64"
# shellcheck source=scripts/xvfb.sh
source "$root/scripts/xvfb.sh"
cleanup() {
    "$(dirname "$wine")/wineserver" -k 2>/dev/null || true # this prefix's server only
    stop_xvfb
}
trap cleanup EXIT
start_xvfb 1920x1080x24
winpath() { printf 'Z:%s' "${1//\//\\}"; }
run_wine() { "$wine" "$@"; }

log "start to first paint, $start_runs runs each"
tool=$(winpath "$out/work/x86_64/ZALUpdate.exe")
minimal=$(winpath "$out/work/x86_64/MinimalWindow.exe")
astool=$(winpath "$out/work/x86_64/MinimalAsTool.exe")
programs=("tool=$tool" "minimal=$minimal" "astool=$astool")
# One round first, so that no program pays for the first start of the session.
run_wine "$bin/bench_launcher.exe" 1 "${programs[@]}" >"$out/start-warmup.txt"
run_wine "$bin/bench_launcher.exe" "$start_runs" "${programs[@]}" >"$out/start.txt"
# The tool's start-up once more, step by step from the inside, to say where its time goes.
phases=$(winpath "$out/work/x86_64/bench_start_phases.exe")
run_wine "$bin/bench_launcher.exe" "$start_runs" "phases=$phases" >"$out/phases.txt"

log "paint cost, $paint_runs runs"
run_wine "$bin/bench_paint.exe" "$paint_runs" >"$out/paint.txt"

log "handles and memory, $repaints repaints and $boxes error boxes"
echo "$repaints" >"$out/leaks-repaints.txt"
run_wine "$bin/bench_leaks.exe" "$repaints" "$boxes" >"$out/leaks.txt"

log "replacement of a $replace_mb MB program, unsigned and signed, $replace_runs runs of each variant"
echo "$replace_mb" >"$out/replace-mb.txt"
masters=$out/masters
mkdir -p "$masters"
run_wine "$bin/bench_replace.exe" make "$(winpath "$masters/unsigned.exe")" "$replace_mb"
"$root/scripts/test-cert.sh" "$out/test-cert"
rm -f "$masters/signed.exe"
osslsigncode sign -certs "$out/test-cert/cert.pem" -key "$out/test-cert/key.pem" -in "$masters/unsigned.exe" \
    -out "$masters/signed.exe" >/dev/null
run_wine "$bin/bench_replace.exe" "$(winpath "$out/replace")" "$(winpath "$masters/unsigned.exe")" \
    "$(winpath "$masters/signed.exe")" "$replace_runs" >"$out/replace.txt"

# cp under the same conditions as above: the source clean in the page cache, an old 4 KB destination, and
# what was written flushed before the next run starts.
log "cp on Linux"
master=$out/replace/master.bin
head -c "$((replace_mb << 20))" /dev/urandom >"$master"
sync "$master"
: >"$out/cp.txt"
for run in $(seq 0 $((replace_runs - 1))); do
    for variant in cp cp+sync; do
        cp "$master" "$out/replace/src"
        sync "$out/replace/src"
        head -c 4096 /dev/zero >"$out/replace/dst"
        sync "$out/replace/dst"
        begin=$(date +%s%N)
        cp "$out/replace/src" "$out/replace/dst"
        if [ "$variant" = cp+sync ]; then
            sync "$out/replace/dst"
        fi
        end=$(date +%s%N)
        sync "$out/replace/dst"
        rm -f "$out/replace/src" "$out/replace/dst"
        awk -v name="$variant" -v run="$run" -v ns="$((end - begin))" \
            'BEGIN { printf "run %s %s %.1f\n", name, run, ns / 1e6 }' >>"$out/cp.txt"
    done
done
rm -rf "$out/replace" "$masters"

echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)" >>"$out/machine.txt"
cat "$out/machine.txt"
echo
python3 "$root/bench/report.py" "$out" | tee "$out/table.md"
