#!/usr/bin/env bash
# Usage: bash bench/run.sh
# Builds the tool, the baseline programs and the benchmark programs for x86_64 and i686, runs every
# benchmark against its baseline in this one invocation, and prints the table of figures and ratios. Raw
# figures are kept in build/bench/ (build/bench/x86_64/ and build/bench/i686/). Not part of the test
# command: nothing here passes or fails on a time.
#
# The x86_64 build runs under wine64 in a private prefix (build/bench/wine64); the i686 build, the
# deliverable, under 32-bit Wine in a WoW64 prefix of its own (build/bench/wine-wow64), against the
# baselines built for i686, with the same 64-bit launcher watching it. Both share a private Xvfb. The 32-bit
# mode is scripts/setup-i386.sh's: where the kernel runs no 32-bit programs, they run through qemu-i386, and
# the i686 figures measure the emulator as much as the tool; the output says which way they ran. Where
# 32-bit Wine cannot run a trivial program, the i686 build is measured for size only, and the output says
# why.
#
# Environment: BENCH_START_RUNS (15), BENCH_REPLACE_RUNS (7), BENCH_REPLACE_MB (256), BENCH_PAINT_RUNS
# (500); for the i686 build BENCH_I686_START_RUNS, BENCH_I686_REPLACE_RUNS, BENCH_I686_REPAINTS and
# BENCH_I686_BOXES (the x86_64 counts where 32-bit programs run natively; 3, 5, 100 and 10 under
# emulation, where every start of a 32-bit program costs a minute or more), and BENCH_I686=0 to measure
# the i686 build for size only.
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
wine32=/usr/lib/wine/wine

"$root/scripts/setup.sh"
# The 32-bit mode is the setup's, found before any prefix is made, as in the test command: it also takes
# away an emulator entry that would shadow the kernel's own 32-bit support. Its line says which mode.
i386_setup='' i386_status=0
if [ "${BENCH_I686:-1}" != 0 ]; then
    i386_setup=$(bash "$root/scripts/setup-i386.sh" 2>&1) || i386_status=$?
fi

log() {
    echo "bench: $*" >&2
    if [ -f "$out/machine.txt" ]; then
        echo "load at $*: $(cut -d' ' -f1-3 /proc/loadavg)" >>"$out/machine.txt"
    fi
}
# The programs each build measures; the launcher and the paint cost run from the x86_64 build only.
targets=(ZALUpdate MinimalWindow MinimalAsTool bench_start_phases bench_replace bench_leaks)
log "building"
cmake --preset win64 -B build/bench-win64 -DZAL_BENCH=ON >/dev/null
cmake --build build/bench-win64 -j2 --target "${targets[@]}" bench_launcher bench_paint >/dev/null
cmake --preset win32 -B build/bench-win32 -DZAL_BENCH=ON >/dev/null
cmake --build build/bench-win32 -j2 --target "${targets[@]}" >/dev/null

mkdir -p "$out"
rm -rf "$out/work" "$out/replace" "$out/x86_64" "$out/i686"
mkdir -p "$out/replace" "$out/x86_64" "$out/i686"
for arch in x86_64 i686; do
    build=build/bench-win64
    [ "$arch" = i686 ] && build=build/bench-win32
    mkdir -p "$out/work/$arch"
    cp "$build/ZALUpdate.exe" "$out/work/$arch/"
    for target in "${targets[@]:1}"; do
        cp "$build/bench/$target.exe" "$out/work/$arch/"
    done
done
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
# shellcheck source=scripts/xvfb.sh
source "$root/scripts/xvfb.sh"
cleanup() {
    local prefix
    for prefix in "$out/wine64" "$out/wine-wow64"; do # these prefixes' servers only
        if [ -d "$prefix" ]; then
            WINEPREFIX=$prefix "$(dirname "$wine")/wineserver" -k 2>/dev/null || true
        fi
    done
    stop_xvfb
}
trap cleanup EXIT
start_xvfb 1920x1080x24
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# Masters of the staged program for the replacement, made once for both builds: an i386 program, as ZAL
# is, unsigned and signed.
log "masters of a $replace_mb MB program for the replacement"
echo "$replace_mb" >"$out/replace-mb.txt"
masters=$out/masters
mkdir -p "$masters"
wine_env "$out/wine64"
"$wine" "$out/work/x86_64/bench_replace.exe" make "$(winpath "$masters/unsigned.exe")" "$replace_mb"
"$root/scripts/test-cert.sh" "$out/test-cert"
rm -f "$masters/signed.exe"
osslsigncode sign -certs "$out/test-cert/cert.pem" -key "$out/test-cert/key.pem" -in "$masters/unsigned.exe" \
    -out "$masters/signed.exe" >/dev/null

# measure ARCH LOADER START_RUNS REPLACE_RUNS REPAINTS BOXES TIMEOUT_MS: ARCH's build in the prefix that
# wine_env chose: start to first paint with its peak memory, against the baselines of the same build,
# then the start-up step by step, handles and memory over repaints and error boxes, and the replacement.
# The 64-bit launcher starts and watches the programs; LOADER runs ARCH's own benchmark programs. Raw
# figures go to $out/ARCH/.
measure() {
    local arch=$1 loader=$2 runs=$3 replace_runs=$4 repaints=$5 boxes=$6 timeout=$7
    local work=$out/work/$arch figures=$out/$arch
    local programs=("tool=$(winpath "$work/ZALUpdate.exe")" "minimal=$(winpath "$work/MinimalWindow.exe")"
        "astool=$(winpath "$work/MinimalAsTool.exe")")
    local launcher=("$wine" "$bin/bench_launcher.exe" --timeout-ms "$timeout")

    log "$arch: start to first paint, $runs runs each"
    # One round first, so that no program pays for the first start of the session. A run that fails is
    # kept as a line of its own, which the report names; the others still count.
    "${launcher[@]}" 1 "${programs[@]}" >"$figures/start-warmup.txt" || true
    "${launcher[@]}" "$runs" "${programs[@]}" >"$figures/start.txt" || true
    # The tool's start-up once more, step by step from the inside, to say where its time goes.
    "${launcher[@]}" "$runs" "phases=$(winpath "$work/bench_start_phases.exe")" >"$figures/phases.txt" || true

    log "$arch: handles and memory, $repaints repaints and $boxes error boxes"
    echo "$repaints" >"$figures/leaks-repaints.txt"
    "$loader" "$work/bench_leaks.exe" "$repaints" "$boxes" >"$figures/leaks.txt"

    log "$arch: replacement of a $replace_mb MB program, unsigned and signed, $replace_runs runs of each variant"
    "$loader" "$work/bench_replace.exe" "$(winpath "$out/replace")" "$(winpath "$masters/unsigned.exe")" \
        "$(winpath "$masters/signed.exe")" "$replace_runs" >"$figures/replace.txt"
}

measure x86_64 "$wine" "$start_runs" "$replace_runs" "$repaints" "$boxes" 30000

log "x86_64: paint cost, $paint_runs runs"
"$wine" "$bin/bench_paint.exe" "$paint_runs" >"$out/x86_64/paint.txt"

# The deliverable under 32-bit Wine, where a trivial 32-bit program runs there.
i686_skipped=
if [ "${BENCH_I686:-1}" = 0 ]; then
    i686_skipped="BENCH_I686=0 is set"
elif [ "$i386_status" -ne 0 ] || ! i386_mode=$(grep '^setup-i386: 32-bit mode ' <<<"$i386_setup" | tail -n 1); then
    i686_skipped="scripts/setup-i386.sh: $(tail -n 1 <<<"$i386_setup")"
else
    log "i686: a WoW64 prefix, and a trivial 32-bit program"
    "$root/scripts/wine-prefix.sh" "$out/wine-wow64" --wow64 --no-debugger >/dev/null
    wine_env "$out/wine-wow64"
    began=$SECONDS
    # A start under emulation takes minutes while the machine is busy; one that takes a quarter of an hour
    # is taken for one that never ends.
    if answer=$(timeout 900 "$wine32" cmd.exe /c echo 32-bit 2>&1) && [[ $answer == *32-bit* ]]; then
        if [[ $i386_mode == *"through qemu-i386"* ]]; then
            i686_mode="emulated: ${i386_mode#setup-i386: 32-bit mode }"
            i686_runs=3 i686_replace_runs=5 i686_repaints=100 i686_boxes=10 i686_timeout=900000
        else
            i686_mode="native: ${i386_mode#setup-i386: 32-bit mode native: }"
            i686_runs=$start_runs i686_replace_runs=$replace_runs i686_repaints=$repaints i686_boxes=$boxes
            i686_timeout=30000
        fi
        i686_mode="$i686_mode; a trivial 32-bit program (cmd.exe /c echo) took $((SECONDS - began)) s"
    else
        i686_skipped="32-bit Wine could not run a trivial program (cmd.exe /c echo): $(tail -n 1 <<<"$answer")"
    fi
fi
if [ -n "$i686_skipped" ]; then
    log "i686: measured for size only: $i686_skipped"
    echo "$i686_skipped" >"$out/i686/skipped.txt"
    echo "i686 programs: not run ($i686_skipped)" >>"$out/machine.txt"
else
    log "i686 programs run $i686_mode"
    echo "$i686_mode" >"$out/i686/mode.txt"
    echo "i686 programs: $i686_mode" >>"$out/machine.txt"
    measure i686 "$wine32" "${BENCH_I686_START_RUNS:-$i686_runs}" \
        "${BENCH_I686_REPLACE_RUNS:-$i686_replace_runs}" "${BENCH_I686_REPAINTS:-$i686_repaints}" \
        "${BENCH_I686_BOXES:-$i686_boxes}" "$i686_timeout"
fi

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
