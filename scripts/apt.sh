# shellcheck shell=bash
# Sourced by the setup scripts: which Debian packages this machine lacks, and installing them with apt-get,
# as root or through sudo. Debian's archive fails now and then for a while (an index replaced while apt
# reads it, a mirror out of reach), so a failed try is made again: ZAL_APT_TRIES tries in all (default 3),
# ZAL_APT_PAUSE seconds apart (default 20). An index that keeps failing is then left out for one install
# (apt_install_without). apt translates what it says, so whatever of it is read here is said under LC_ALL=C.

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
        [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" = "install ok installed" ] || printf '%s\n' "$p"
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
# index that failed may concern none of PACKAGEs. When that fails too and the update named indexes it could
# not fetch, the install is made once more without their sources (apt_install_without). An install never
# removes a package, and succeeds only when every PACKAGE is installed afterwards. When it fails, says so in
# one line, "WHO: could not install PACKAGEs: what apt said. ADVICE", and returns 1.
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
    if [ -z "$installed" ] && [ -n "$update" ]; then
        if apt_install_without "$who" "$log" "$@"; then
            installed=1
        elif [ -s "$log/without" ]; then
            reason="$(apt_said "$log/install"); $(cat "$log/without") ($update)"
        fi
    fi
    rm -rf "$log"
    if [ -n "$installed" ]; then
        mapfile -t missing < <(missing_packages "$@")
        [ ${#missing[@]} -gt 0 ] || return 0
        reason="apt-get ended without an error, yet ${missing[*]} is not installed"
    fi
    echo "$who: could not install $*: $reason. $advice" >&2
    return 1
}

# apt_sources_without DIR URL...: writes to DIR, for apt's Dir::Etc::sourceparts, a copy of this machine's
# sources (one-line and deb822 alike) without the suites that the URLs lie in, and prints each suite left
# out as "SUITE of URI", one a line. A deb822 stanza loses those of its suites; one left with none, and a
# one-line entry of such a suite, are commented out.
apt_sources_without() {
    local dir=$1 list parts file
    shift
    eval "$(LC_ALL=C apt-config shell list Dir::Etc::sourcelist/f parts Dir::Etc::sourceparts/d)"
    mkdir -p "$dir"
    for file in "$list" "$parts"*; do
        # apt reads only the parts whose names are of these letters and end so.
        case ${file##*/} in
        *[!A-Za-z0-9_.-]*) continue ;;
        *.list | *.sources) ;;
        *) continue ;;
        esac
        [ -f "$file" ] || continue
        # The main list goes in beside the parts, under a name that sorts first, as apt reads it first.
        awk -v urls="$*" -v out="$dir/$([ "$file" != "$list" ] || echo 0-)${file##*/}" \
            -v deb822="$([[ $file == *.sources ]] && echo 1 || echo 0)" '
            function trim(uri) {
                sub(/\/+$/, "", uri)
                return uri
            }
            function lies_in(uri, suite, i, prefix) {
                # A flat repository names a directory rather than a suite under dists/.
                prefix = suite ~ /\/$/ ? trim(uri) "/" suite : trim(uri) "/dists/" suite "/"
                for (i = 1; i <= n; i++)
                    if (index(url[i], prefix) == 1)
                        return 1
                return 0
            }
            function field(line, name) {
                return tolower(substr(line, 1, length(name) + 1)) == tolower(name) ":"
            }
            function stanza(i, j, k, uris, suites, nu, ns, keep, gone, value) {
                for (i = 1; i <= m; i++) {
                    if (line[i] ~ /^[ \t#]/)
                        continue
                    value = line[i]
                    sub(/^[^:]*:/, "", value)
                    for (j = i + 1; j <= m && line[j] ~ /^[ \t]/; j++)
                        value = value " " line[j]
                    if (field(line[i], "URIs"))
                        nu = split(value, uris, " ")
                    else if (field(line[i], "Suites"))
                        ns = split(value, suites, " ")
                    else if (field(line[i], "Enabled") && value ~ /^[ \t]*no[ \t]*$/)
                        disabled = 1
                }
                keep = gone = ""
                for (k = 1; k <= ns && !disabled; k++) {
                    for (j = 1; j <= nu && !lies_in(uris[j], suites[k]); j++)
                        ;
                    if (j <= nu) {
                        gone = gone " " suites[k]
                        print suites[k] " of " trim(uris[j])
                    } else
                        keep = keep " " suites[k]
                }
                for (i = 1; i <= m; i++) {
                    if (gone != "" && keep == "")
                        print "# " line[i] > out
                    else if (gone != "" && field(line[i], "Suites")) {
                        print "Suites:" keep > out
                        for (; i < m && line[i + 1] ~ /^[ \t]/; i++)
                            ;
                    } else
                        print line[i] > out
                }
                m = disabled = 0
            }
            BEGIN { n = split(urls, url, " ") }
            deb822 && /^[ \t]*$/ { stanza(); print > out; next }
            deb822 { line[++m] = $0; next }
            /^[ \t]*deb(-src)?[ \t]/ {
                rest = $0
                sub(/^[ \t]*deb(-src)?[ \t]+/, "", rest)
                sub(/^\[[^]]*\][ \t]*/, "", rest)
                split(rest, word, /[ \t]+/)
                if (lies_in(word[1], word[2])) {
                    print word[2] " of " trim(word[1])
                    print "# " $0 > out
                    next
                }
            }
            { print > out }
            END { if (deb822) stanza() }' "$file"
    done | sort -u
}

# apt_policy OPTION... -- PACKAGE:ARCH...: for each package, "PACKAGE:ARCH INSTALLED VERSION..." on a line:
# INSTALLED is "(none)" when it is not, and the VERSIONs are those some source has, newest first (one that
# only dpkg's status has is not among them). Reads $native.
apt_policy() {
    local -a opts=()
    while [ "$1" != -- ]; do
        opts+=("$1")
        shift
    done
    shift
    [ $# -gt 0 ] || return 0
    LC_ALL=C apt-cache "${opts[@]}" policy "$@" 2>/dev/null | awk -v native="$native" '
        function flush() { if (p != "") print p, installed avail }
        /^[^ ]/ { flush(); p = substr($0, 1, length($0) - 1); if (p !~ /:/) p = p ":" native; avail = ""; next }
        /^  Installed: / { installed = $2; next }
        /^ \*\*\* / { v = $2; next }
        /^     [^ ]/ { v = $1; next }
        /^        / && NF > 2 && index(avail " ", " " v " ") == 0 { avail = avail " " v }
        END { flush() }'
}

# apt_plan LOG WHAT: from apt-get -s's plan in LOG, "PACKAGE:ARCH OLD NEW" for each package it installs
# (WHAT Inst; OLD "-" when it is not installed) or removes (WHAT Remv; NEW "-"). Reads $native.
apt_plan() {
    awk -v native="$native" -v what="$2" '
        $1 == what {
            old = new = "-"
            if ($3 ~ /^\[/)
                old = substr($3, 2, length($3) - 2)
            if (match($0, /\([^ ]+/))
                new = substr($0, RSTART + 1, RLENGTH - 1)
            print ($2 ~ /:/ ? $2 : $2 ":" native), old, new
        }' "$1"
}

# apt_install_without WHO LOG PACKAGE...: installs PACKAGEs once more without the suites whose indexes
# apt-get update could not fetch (what it said is in LOG/update), for this install only: apt reads a copy of
# its sources in LOG/sources, and still its own lists and dpkg's status; nothing in /etc/apt changes.
# An index that fails for hours leaves installed packages at versions that only its suite has. A package
# that is Multi-Arch: same must have one version on every architecture, so each of those, installed for
# this machine's own architecture, that the install needs for another is moved on both to the newest
# version both have in the suites kept. apt's plan is read first (apt-get -s): a package that it would
# remove because its installed version is newer than any kept (the -dev package of a library moved, say) is
# moved too, to the newest kept, and the plan made again. A plan that still removes a package, or that
# downgrades one not moved, is never carried out. Prints a line for each package moved, "WHO: moving
# PACKAGE from OLD to NEW". Returns 1 without a word when no source holds those indexes; when the install
# fails otherwise, writes why in LOG/without and returns 1.
apt_install_without() {
    local who=$1 log=$2 native status left p v old new avail installed versions twin round=1 more fail="" how=--print-uris
    local -a opts=() urls=() gone=() ask=() pins=() moved=() down=()
    local -A same want pinned policy
    shift 2
    mapfile -t urls < <(grep -oE 'Failed to fetch [^ ]+' "$log/update" | cut -d' ' -f4 | sort -u)
    [ ${#urls[@]} -gt 0 ] || return 1
    mapfile -t gone < <(apt_sources_without "$log/sources" "${urls[@]}")
    [ ${#gone[@]} -gt 0 ] || return 1
    left=$(printf '%s, ' "${gone[@]}")
    left="${left%, } left out"
    echo "$who: apt-get update could not fetch ${urls[*]}: installing with $left, for this install only" >&2
    # The cache of this copy of the sources is kept beside it, so that apt reads the lists once, not once a
    # question.
    opts=(-o Dir::Etc::sourcelist=/dev/null -o "Dir::Etc::sourceparts=$log/sources"
        -o "Dir::Cache::pkgcache=$log/pkgcache.bin" -o Dir::Cache::srcpkgcache=)
    eval "$(LC_ALL=C apt-config shell native APT::Architecture status Dir::State::status/f)"

    # The Multi-Arch: same packages installed for this machine's architecture that the install needs for
    # another: among all it depends on, recommendations aside as it installs none.
    if [[ $* == *:* ]]; then
        while read -r p v; do
            same[$p]=$v
        done < <(dpkg-query --admindir="${status%/*}" -W \
            -f='${db:Status-Abbrev} ${Package} ${Architecture} ${Multi-Arch} ${Version}\n' 2>/dev/null |
            awk -v native="$native" '$1 == "ii" && $3 == native && $4 == "same" { print $2, $5 }')
        while read -r p; do
            [ -z "${same[${p%:*}]:-}" ] || want[${p%:*}]=${p##*:}
        done < <(LC_ALL=C apt-cache "${opts[@]}" depends --recurse --no-recommends --no-suggests --no-conflicts \
            --no-breaks --no-replaces --no-enhances "$@" 2>/dev/null |
            awk -v native="$native" '/^[^ <][^ ]*:[^ ]+$/ && $1 !~ ":" native "$"')
    fi
    for p in "${!want[@]}"; do
        ask+=("$p:$native" "$p:${want[$p]}")
    done
    while read -r p avail; do
        policy[$p]=$avail
    done < <(apt_policy "${opts[@]}" -- "${ask[@]}")
    # Moved when the installed version has no twin that the other architecture has installed or could.
    for p in $(printf '%s\n' "${!want[@]}" | sort); do
        twin=$p:${want[$p]}
        read -r old avail <<<"${policy[$p:$native]:-}"
        read -r installed versions <<<"${policy[$twin]:-}"
        if [ -z "$old" ] || [ "$old" = "(none)" ] || [ "$installed" = "$old" ] || [[ " $versions " == *" $old "* ]]; then
            continue
        fi
        new=
        for v in $avail; do
            if [[ " $versions " == *" $v "* ]]; then
                new=$v
                break
            fi
        done
        [ -n "$new" ] || continue
        pins+=("$p:$native=$new" "$twin=$new")
        pinned[$p:$native]=1
        pinned[$twin]=1
        moved+=("$p $old $new")
    done

    # The first plan is asked for as a summary only (--print-uris installs nothing, and is quicker than a
    # simulation), since it is mostly made again; each later one is simulated, the last being the one read.
    local -a install=(install --no-install-recommends --allow-downgrades "${opts[@]}")
    while :; do
        if ! LC_ALL=C apt-get "$how" "${install[@]}" "$@" "${pins[@]}" >"$log/plan" 2>&1; then
            fail="with $left: $(apt_said "$log/plan")"
            break
        fi
        mapfile -t gone < <(awk -v native="$native" '
            /^The following packages will be REMOVED:$/ { on = 1; next }
            on && /^  / { for (i = 1; i <= NF; i++) { sub(/\*$/, "", $i); print $i ~ /:/ ? $i : $i ":" native }; next }
            { on = 0 }' "$log/plan")
        if [ ${#gone[@]} -eq 0 ] && [ "$how" = -s ]; then
            break
        fi
        more=
        while read -r p old avail; do
            new=${avail%% *}
            if [ -n "${pinned[$p]:-}" ] || [ "$old" = "(none)" ] || [ -z "$new" ] ||
                ! dpkg --compare-versions "$old" gt "$new"; then
                continue
            fi
            pins+=("$p=$new")
            pinned[$p]=1
            moved+=("${p%:"$native"} $old $new")
            more=1
        done < <(apt_policy "${opts[@]}" -- "${gone[@]}")
        if [ ${#gone[@]} -gt 0 ] && { [ -z "$more" ] || [ "$round" -ge 4 ]; }; then
            fail="with $left, apt would remove ${gone[*]%:"$native"}, which this install never does"
            break
        fi
        how=-s
        round=$((round + 1))
    done
    if [ -z "$fail" ]; then
        mapfile -t gone < <(apt_plan "$log/plan" Remv | cut -d' ' -f1)
        while read -r p old new; do
            [ "$old" = - ] || [ -n "${pinned[$p]:-}" ] || ! dpkg --compare-versions "$new" lt "$old" ||
                down+=("${p%:"$native"}")
        done < <(apt_plan "$log/plan" Inst)
        if [ ${#gone[@]} -gt 0 ]; then
            fail="with $left, apt would remove ${gone[*]%:"$native"}, which this install never does"
        elif [ ${#down[@]} -gt 0 ]; then
            fail="with $left, apt would downgrade ${down[*]}, which this install does not move"
        fi
    fi
    if [ -n "$fail" ]; then
        echo "$fail" >"$log/without"
        return 1
    fi
    for p in "${moved[@]}"; do
        read -r p old new <<<"$p"
        echo "$who: moving $p from $old to $new" >&2
    done
    if ! "${as_root[@]}" LC_ALL=C DEBIAN_FRONTEND=noninteractive apt-get -y -qq --no-remove "${install[@]}" "$@" \
        "${pins[@]}" >"$log/install" 2>&1; then
        echo "with $left: $(apt_said "$log/install")" >"$log/without"
        return 1
    fi
    echo "$who: installed with $left (packages moved: ${#moved[@]})" >&2
}
