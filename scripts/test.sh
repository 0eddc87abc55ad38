#!/usr/bin/env bash
# The one command that runs every test: installs what is missing, builds the host, win64, win32 and fuzz
# presets and the release, and runs every suite. Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

"$root/scripts/setup.sh"
# 32-bit Wine goes in before any prefix is made, where this machine can run it (status 3: it cannot, or
# ZAL_SKIP_I386=1 leaves it out, and the 32-bit stage says so): the project's prefix is then a WoW64 one,
# which the 32-bit stage's prefixes copy in a second instead of each being made anew under emulation, which
# takes minutes. Its notes show as they come, since retrying a failing archive takes a minute or more.
i386_status=0
bash "$root/scripts/setup-i386.sh" 2>&1 || i386_status=$?
[ "$i386_status" -eq 0 ] || [ "$i386_status" -eq 3 ] || exit "$i386_status"

stage() {
    local name=$1 start=$SECONDS
    shift
    echo "==> $name"
    "$@"
    echo "==> $name passed in $((SECONDS - start)) s"
}

check_format() {
    local files
    mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
    clang-format --dry-run --Werror "${files[@]}"
}

preset() {
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1"
    if [ "$1" = win64 ]; then
        # Made before the suites run: on a busy machine its first making takes longer than a test may.
        wait_for_prefix
    fi
    ctest --preset "$1"
}

# Jobs in the background (scripts/jobs.sh): a stage that fails while one still runs ends it and shows what it
# wrote so far, rather than leaving it running unseen; so does an interrupted run.
source "$root/scripts/jobs.sh"
finish() {
    end_background_jobs
    stop_xvfb
}

# One display for the Windows-side GoogleTest suites; Wine cannot create windows without one. The
# end-to-end cases start displays of their own.
source "$root/scripts/xvfb.sh"
start_xvfb 1280x1024x24
trap finish EXIT

# The project's prefix is the slowest single step of a first run, and mostly waits on Wine starting up: it
# is made in the background while the first stages build.
mkdir -p build/logs
background "the making of the Wine prefix" build/wine-prefix.log scripts/wine-prefix.sh build/wine64
prefix_pid=$!
wait_for_prefix() {
    wait_background "$prefix_pid" || { cat build/wine-prefix.log >&2; echo "the Wine prefix could not be made" >&2; return 1; }
}

stage format check_format
stage layers python3 scripts/check-layers.py
stage scripts bash tests/scripts/run.sh
stage host preset host
# The stages that need no Wine come first, while the project's prefix is made in the background.
stage fuzz preset fuzz
stage win64 preset win64
# The 32-bit stage and the release start once the win64 build, whose probe the one takes and whose
# executable the other rebuilds elsewhere to compare, is done, and run in the background beside the
# end-to-end cases, which mostly wait on the tool's pauses and waits and leave the cores to them. Each
# one's output is kept until the end-to-end cases are done. Where the kernel runs 32-bit programs the 32-bit
# stage spends its minutes on every end-to-end case again, on the 32-bit tool, waiting as the win64 cases
# do; under the emulator on two emulated programs, a core each.
background "the win32 stage" build/logs/win32.log \
    bash -c "set -euo pipefail; $(declare -f stage); stage win32 bash tests/i386/run.sh build/win32 build/win64"
win32_pid=$!
background "the release stage" build/logs/release.log \
    bash -c "set -euo pipefail; $(declare -f stage); stage release bash tests/release/run.sh build/win64"
release_pid=$!
stage e2e bash tests/e2e/run.sh build/win64
# report_background PID LOG: waits for a background stage, shows what it wrote and fails as it did.
report_background() {
    local status=0
    wait_background "$1" || status=$?
    cat "$2"
    return $status
}
report_background "$release_pid" build/logs/release.log
report_background "$win32_pid" build/logs/win32.log
echo "all suites passed"
