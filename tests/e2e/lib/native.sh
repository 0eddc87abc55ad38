# shellcheck shell=bash
# Native helpers built from the project's portable sources: the picture checker and the program maker. Sourced by tests/e2e/lib.sh.

# e2e_native_tool NAME FILE...: builds build/e2e/bin/NAME natively from the .cpp files among FILEs (paths
# in the repository, each of which must exist), once and whenever one of FILEs, the headers listed among
# them included, is newer than it; prints its path.
e2e_native_tool() {
    local name=$1 bin=$E2E_HOME/bin/$1 file stale=0
    shift
    local -a units=()
    [ -x "$bin" ] || stale=1
    for file in "$@"; do
        [ -f "$E2E_ROOT/$file" ] || e2e_fail "$name is built from $file, which does not exist"
        [ "$E2E_ROOT/$file" -nt "$bin" ] && stale=1
        [[ $file == *.cpp ]] && units+=("$E2E_ROOT/$file")
    done
    if [ $stale -eq 1 ]; then
        mkdir -p "$(dirname "$bin")"
        g++ -std=c++20 -O1 -Wall -Wextra -Werror -I"$E2E_ROOT" -o "$bin.$$" "${units[@]}" >&2 ||
            e2e_fail "cannot build $bin"
        mv -f "$bin.$$" "$bin"
    fi
    printf '%s\n' "$bin"
}

# e2e_to_ppm PNG X Y W H OUT: that rectangle of a screenshot as a binary PPM.
e2e_to_ppm() {
    "$E2E_CONVERT" "$1" -crop "${4}x${5}+${2}+${3}" +repage -depth 8 "ppm:$6" || e2e_fail "cannot crop $1"
}

# e2e_icon_matches XID ICON_FILE: the X window publishes ICON_FILE's 32 x 32 image as its icon.
e2e_icon_matches() {
    local dump=$E2E_WORK/icon-$1.txt
    xprop -notype -id "$1" 32c _NET_WM_ICON >"$dump" 2>&1 || true
    python3 "$E2E_ROOT/tests/e2e/model/icon_matches.py" "$2" "$dump" >"$dump.verdict" ||
        e2e_fail "icon of X window $1: $(cat "$dump.verdict")"
}
