# shellcheck shell=bash
# The tool and its installation: fresh installation directories, the files ZAL stages, their state on disk, the tool's runs. Sourced by tests/e2e/lib.sh.

e2e_tool_exe() {
    local candidate
    for candidate in "$E2E_BUILD/ZALUpdate.exe" "$E2E_BUILD/app/ZALUpdate.exe"; do
        [ -f "$candidate" ] && { printf '%s\n' "$candidate"; return 0; }
    done
    return 1
}

# e2e_install NAME: a fresh installation directory under the case's work directory, with the tool copied
# into it when it has been built. Prints its path.
e2e_install() {
    local dir=$E2E_WORK/$1 tool
    rm -rf "$dir"
    mkdir -p "$dir"
    if tool=$(e2e_tool_exe); then
        cp "$tool" "$dir/ZALUpdate.exe"
    fi
    printf '%s\n' "$dir"
}

# e2e_launch_tool DIR ARGUMENTS [key=value...]: starts DIR/ZALUpdate.exe as ZAL would, with the command
# line '"<path>" ARGUMENTS' (ARGUMENTS exact bytes; empty for none). The current directory is another one
# (the case's work directory) unless cwd= is given, so that nothing can lean on it by accident. Further
# key=value pairs go to launch (show=, out=).
e2e_launch_tool() {
    local dir=$1 arguments=$2 exe cwd
    shift 2
    exe=$(winpath "$dir/ZALUpdate.exe")
    local cmdline="\"$exe\""
    [ -n "$arguments" ] && cmdline+=" $arguments"
    cwd="cwd=$(winpath "$E2E_WORK")"
    [[ " $* " == *" cwd="* ]] && cwd=
    probe_ok launch "cmdline=$cmdline" ${cwd:+"$cwd"} "$@"
}

# e2e_put DIR NAME...: creates each file NAME in DIR with contents of its own, 64 KiB and a little more, a
# different size for each, so that a truncated, converted or mixed-up copy shows. ZAL's files are Windows
# images of their kind, as only such a staged copy is installed: ZAL.exe and ZAL.upd programs, Glimae.dll
# and Glimae.upd DLLs, each with data of its own; the staged copies are PE32+ and the installed files PE32,
# since ZAL may move to 64 bits one file at a time. Any other NAME gets random bytes (NULs, CR and LF among
# them). A copy of each is kept in DIR.orig/ to compare with afterwards.
e2e_put() {
    local dir=$1 name size=65536
    shift
    mkdir -p "$dir.orig"
    for name in "$@"; do
        size=$((size + 1 + RANDOM % 4096))
        case $name in
        ZAL.exe) e2e_make_program "$dir/$name" "$size" "$RANDOM$RANDOM" ;;
        ZAL.upd) e2e_make_program "$dir/$name" "$size" "$RANDOM$RANDOM" 64 ;;
        Glimae.dll) e2e_make_program "$dir/$name" "$size" "$RANDOM$RANDOM" dll ;;
        Glimae.upd) e2e_make_program "$dir/$name" "$size" "$RANDOM$RANDOM" dll 64 ;;
        *) head -c "$size" /dev/urandom >"$dir/$name" ;;
        esac
        cp -p "$dir/$name" "$dir.orig/$name"
    done
}

# e2e_make_program OUT BYTES VARIANT [dll] [64] [machine=N]: a Windows program image (a DLL with dll, PE32+
# with 64, naming the COFF machine N with machine=, as 0xAA64 for ARM64) of exactly BYTES bytes, at least
# 2,048, made by testkit's maker: its data section fills it but for the last BYTES % 512, which follow the
# image as data of its own, since sections come in whole 512-byte blocks. VARIANT varies the data.
e2e_make_program() {
    local out=$1 bytes=$2 variant=$3 maker
    shift 3
    maker=$(e2e_program_maker)
    "$maker" "$out" "size=$bytes" "overlay=$((bytes % 512))" "variant=$variant" "$@" || e2e_fail "cannot make $out"
    [ "$(stat -c %s "$out")" = "$bytes" ] || e2e_fail "$out was made with $(stat -c %s "$out") bytes, not $bytes"
}

# e2e_program_maker: the path of the native zal_make_program, built as e2e_native_tool builds.
e2e_program_maker() {
    e2e_native_tool zal_make_program testkit/MakeProgram.cpp testkit/ProgramMaker.cpp core/ProgramImage.cpp \
        testkit/ProgramMaker.h core/ProgramImage.h
}

# e2e_sign FILE [OUT]: signs the program image FILE (Authenticode over SHA-256) into OUT, or in place, with
# the suite's throwaway self-signed certificate from scripts/test-cert.sh, and checks that osslsigncode
# finds the signature whole.
e2e_sign() {
    local file=$1 out=${2:-$1} certs=$E2E_HOME/cert signed=$E2E_WORK/signing.exe
    "$E2E_ROOT/scripts/test-cert.sh" "$certs" || e2e_fail "cannot make the test certificate"
    rm -f "$signed"
    osslsigncode sign -certs "$certs/cert.pem" -key "$certs/key.pem" -h sha256 -in "$file" -out "$signed" \
        >"$E2E_WORK/signing.log" 2>&1 || e2e_fail "cannot sign $file: $(tail -1 "$E2E_WORK/signing.log")"
    osslsigncode verify -CAfile "$certs/cert.pem" -in "$signed" >>"$E2E_WORK/signing.log" 2>&1 ||
        e2e_fail "osslsigncode does not verify the signature it made on $file: see $E2E_WORK/signing.log"
    cat "$signed" >"$out"
}

# e2e_state ROOT [PRUNED_DIR...]: one line per entry under ROOT (directories included, PRUNED_DIRs and
# what they hold left out): relative path, type, size, modification and change times in nanoseconds, inode,
# mode and, for files, SHA-256. Two equal states mean nothing was created, removed, renamed, written,
# re-stamped or had its attributes changed.
e2e_state() {
    local root=$1 pruned
    shift
    local -a prune=()
    for pruned in "$@"; do
        prune+=(-path "$pruned" -prune -o)
    done
    (
        cd "$root"
        find . -mindepth 1 "${prune[@]}" -printf '%p %y %s %T@ %C@ %i %m\n' | LC_ALL=C sort |
            while read -r path type rest; do
                local hash=-
                [ "$type" = f ] && hash=$(sha256sum <"$path" | cut -c1-64)
                printf '%s %s %s %s\n' "$path" "$type" "$rest" "$hash"
            done
    )
}

# assert_state_unchanged DIR BEFORE_STATE WHAT
assert_state_unchanged() {
    local after
    after=$(e2e_state "$1")
    [ "$after" = "$2" ] || e2e_fail "$3: $(diff <(printf '%s\n' "$2") <(printf '%s\n' "$after") | tr '\n' ' ')"
}

# assert_names DIR NAME...: DIR holds exactly these entries (no temporary file left, nothing extra).
assert_names() {
    local dir=$1 expected actual
    shift
    expected=$(printf '%s\n' "$@" | LC_ALL=C sort | tr '\n' ' ')
    actual=$(find "$dir" -mindepth 1 -maxdepth 1 -printf '%P\n' | LC_ALL=C sort | tr '\n' ' ')
    [ "$actual" = "$expected" ] || e2e_fail "$dir holds '$actual', expected '$expected'"
}

# assert_zal_updated DIR: ZAL.exe holds what the staged ZAL.upd held (as e2e_put kept it in DIR.orig/), and
# DIR holds the tool and ZAL.exe alone: the staged copy is gone and no temporary file is left.
assert_zal_updated() {
    assert_same_file "$1/ZAL.exe" "$1.orig/ZAL.upd"
    assert_names "$1" ZALUpdate.exe ZAL.exe
}
