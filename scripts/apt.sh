# shellcheck shell=bash
# Sourced by the setup scripts: which Debian packages this machine lacks, and installing them with apt-get,
# as root or through sudo. Debian's archive fails now and then for a while (an index replaced while apt
# reads it, a mirror out of reach), so a failed try is made again: ZAL_APT_TRIES tries in all (default 3),
# ZAL_APT_PAUSE seconds apart (default 20). apt translates what it says, so whatever of it is read here is
# said under LC_ALL=C.

# as_root VAR=VALUE... COMMAND...: through sudo when not root. The variables go on sudo's command line,
# since sudo starts the command with an environment of its own, without the caller's.
as_root=(env)
if [ "$(id -u)" -ne 0 ]; then
    as_root=(sudo)
fi

# root_or_say WHO WHAT: fails, saying in one line that WHAT needs root, where this user is not root and
# there is no sudo to become it: no try of apt's could mend that.
root_or_say() {
    if [ "${as_root[0]}" = env ] || command -v sudo >/dev/null; then
        return 0
    fi
    echo "$1: could not $2: this user is not root, and sudo is not installed to become root. Run it as root." >&2
    return 1
}

# missing_packages PACKAGE...: those of PACKAGEs that are not installed, one a line.
missing_packages() {
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || printf '%s\n' "$p"
    done
}

# apt_said LOG: what apt-get says went wrong, on one line: the first dependency it could not meet (which
# names the package) and its error and warning lines, three lines at most.
apt_said() {
    local said
    said=$({ grep -m 1 -E '^ +[^ ]+ : (Pre)?Depends:' "$1" | sed 's/^ *//'; grep -E '^[EW]: ' "$1"; } |
        head -n 3 | paste -sd ' ' || true)
    [ -n "$said" ] || said=$(grep -v '^[[:space:]]*$' "$1" | tail -n 1 || true)
    printf '%s\n' "${said:-apt-get said nothing}"
}

# apt_install WHO ADVICE PACKAGE...: updates apt's lists and installs PACKAGEs, trying again after a pause
# when either fails. apt-get update fails as well when it says "Some index files failed to download", which
# it does with exit status 0 when an archive is out of reach, leaving the lists as they were. A failed update
# is tried again before anything is installed; the last try installs with the lists as they are, since the
# index that failed may concern none of PACKAGEs. An install never removes a package, and succeeds only when
# every PACKAGE is installed afterwards. When it fails, says so in one line, "WHO: could not install
# PACKAGEs: what apt said. ADVICE", and returns 1.
apt_install() {
    local who=$1 advice=$2 tries=${ZAL_APT_TRIES:-3} pause=${ZAL_APT_PAUSE:-20} try=1 log update reason installed=
    local -a missing
    shift 2
    root_or_say "$who" "install $*" || return 1
    log=$(mktemp -d)
    while :; do
        update=
        if ! "${as_root[@]}" LC_ALL=C apt-get update -qq >"$log/update" 2>&1 ||
            grep -q 'Some index files failed to download' "$log/update"; then
            update="apt-get update: $(apt_said "$log/update")"
        fi
        reason=$update
        if [ -z "$update" ] || [ "$try" -ge "$tries" ]; then
            if "${as_root[@]}" LC_ALL=C DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
                --no-remove "$@" >"$log/install" 2>&1; then
                [ -z "$update" ] || echo "$who: installed with apt's lists as they were ($update)" >&2
                installed=1
                break
            fi
            reason="$(apt_said "$log/install")${update:+ ($update)}"
        fi
        [ "$try" -lt "$tries" ] || break
        echo "$who: try $try of $tries failed: $reason; trying again in $pause s" >&2
        sleep "$pause"
        try=$((try + 1))
    done
    rm -rf "$log"
    if [ -n "$installed" ]; then
        mapfile -t missing < <(missing_packages "$@")
        [ ${#missing[@]} -gt 0 ] || return 0
        reason="apt-get ended without an error, yet ${missing[*]} is not installed"
    fi
    echo "$who: could not install $*: $reason. $advice" >&2
    return 1
}
