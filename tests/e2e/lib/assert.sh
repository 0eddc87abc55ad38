# shellcheck shell=bash
# Failures and assertions: an assertion that fails ends its test. Sourced by tests/e2e/lib.sh.

e2e_fail() {
    echo "    FAIL: $*" >&2
    exit 1
}

e2e_log() {
    echo "    $*"
}

# e2e_scaled AMOUNT: an allowance of time (in any unit) multiplied by E2E_TIME_SCALE.
e2e_scaled() {
    echo $(($1 * E2E_TIME_SCALE))
}

assert_eq() { # EXPECTED ACTUAL WHAT
    [ "$1" = "$2" ] || e2e_fail "$3: expected '$1', got '$2'"
}

assert_ne() { # UNEXPECTED ACTUAL WHAT
    [ "$1" != "$2" ] || e2e_fail "$3: got '$2', which it must not be"
}

assert_match() { # EXTENDED_REGEX ACTUAL WHAT
    [[ $2 =~ $1 ]] || e2e_fail "$3: '$2' does not match /$1/"
}

assert_ge() { # ACTUAL MIN WHAT
    [ "$1" -ge "$2" ] || e2e_fail "$3: $1 is less than $2"
}

assert_le() { # ACTUAL MAX WHAT
    [ "$1" -le "$2" ] || e2e_fail "$3: $1 is more than $2"
}

assert_between() { # ACTUAL MIN MAX WHAT
    if [ "$1" -lt "$2" ] || [ "$1" -gt "$3" ]; then
        e2e_fail "$4: $1 is outside $2..$3"
    fi
}

assert_absent() { # PATH
    [ ! -e "$1" ] || e2e_fail "$1 exists and should not"
}

assert_same_file() { # ACTUAL EXPECTED_COPY: byte for byte
    [ -f "$1" ] || e2e_fail "$1 is missing"
    cmp -s "$1" "$2" || e2e_fail "$1 differs from $2"
}

assert_file_text() { # PATH TEXT: the file holds exactly TEXT
    [ -f "$1" ] || e2e_fail "$1 is missing"
    [ "$(cat "$1")" = "$2" ] || e2e_fail "$1 holds '$(head -c 80 "$1")', expected '$2'"
}
