# shellcheck shell=bash
# Sourced by scripts/setup-i386.sh after the install: how this machine runs 32-bit (i386) programs, with
# binfmt_misc set up to match. Two modes:
#   native  the kernel runs them itself. An entry of the project's that hands them to qemu-i386 is removed:
#           it would put the emulator in the way of the kernel, a hundred times slower, and on some machines
#           32-bit Wine under qemu does not start at all.
#   qemu    the kernel cannot run them: qemu-i386 is registered for them with binfmt_misc.
# Only running a program tells: a kernel built with 32-bit support may have it switched off at boot, or by
# the hypervisor beneath it. ZAL_I386_MODE=native, for checking only, makes the 32-bit stage take the
# native path where 32-bit programs can only be emulated; the emulator stays registered then.
# Needs as_root (scripts/apt.sh) and binfmt, the binfmt_misc directory.

# The project's entry; the name it has always had, so that an entry left by an older setup is found too.
I386_ENTRY=qemu-i386
# The verdict, once i386_kernel_verdict has found it.
I386_NATIVE=

# i386_tiny_program FILE: a static i386 ELF of 96 bytes that calls exit(42) and nothing else: the ELF header,
# one loadable segment at 0x08048000 holding the whole file, and the code at 0x08048054,
# mov eax, 1; mov ebx, 42; int 0x80.
i386_tiny_program() {
    local elf
    elf='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' # 32-bit, little-endian, version 1
    elf+='\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08'       # executable, i386, entry point
    elf+='\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00'       # program headers at 52, no sections
    elf+='\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'       # header sizes, one program header
    elf+='\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' # PT_LOAD of offset 0
    elf+='\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' # 96 bytes, read and execute
    elf+='\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80'       # the code
    printf '%b' "$elf" >"$1"
    chmod +x "$1"
}

# i386_run PROGRAM: runs it; prints its exit status and, after a blank, what it said on stderr, on one line.
i386_run() {
    local said status=0
    said=$("$1" 2>&1 >/dev/null) || status=$?
    printf '%s %s\n' "$status" "$(printf '%s' "$said" | tr '\n' ' ' | sed 's/^.*: //')"
}

# i386_private_run PROGRAM: i386_run in a user and mount namespace of its own, with a binfmt_misc instance of
# its own, which holds no entry (Linux 6.7 and later), so that nothing but the kernel can run PROGRAM; nothing
# on this machine changes. Prints nothing where such a namespace or instance cannot be made.
i386_private_run() {
    unshare --user --map-root-user --mount bash -c '
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || exit 0
        source "$0" && i386_run "$1"' "${BASH_SOURCE[0]}" "$1" 2>/dev/null || true
}

# i386_switched_off_run PROGRAM: i386_run with the project's entry switched off for the moment, where the
# namespace of i386_private_run cannot be made (kernels before 6.7). Nothing else runs 32-bit programs then:
# the test command sets up 32-bit Wine before anything else. The entry goes back on however this ends.
i386_switched_off_run() {
    local entry=$binfmt/$I386_ENTRY
    if [ "$(head -n 1 "$entry" 2>/dev/null)" != enabled ]; then
        i386_run "$1"
        return
    fi
    echo 0 | "${as_root[@]}" tee "$entry" >/dev/null 2>&1 || return 0
    trap 'echo 1 | "${as_root[@]}" tee "$entry" >/dev/null 2>&1' EXIT
    i386_run "$1"
    echo 1 | "${as_root[@]}" tee "$entry" >/dev/null 2>&1 || true
    trap - EXIT
}

# i386_kernel_verdict: whether the kernel runs 32-bit programs itself: sets I386_NATIVE (1 or 0) and
# I386_WHY, what the tiny program's run showed. Needs no package, so it may be asked before the install.
i386_kernel_verdict() {
    local dir tiny ran how
    dir=$(mktemp -d)
    tiny=${ZAL_I386_TINY:-$dir/tiny32}
    [ -n "${ZAL_I386_TINY:-}" ] || i386_tiny_program "$tiny"
    how="in a binfmt_misc of its own"
    ran=$(i386_private_run "$tiny")
    if [ -z "$ran" ]; then
        case $(head -n 1 "$binfmt/$I386_ENTRY" 2>/dev/null || echo none) in
        enabled) how="with the project's qemu-i386 entry switched off for the moment" ;;
        none) how="with no qemu-i386 entry registered" ;;
        *) how="with the project's qemu-i386 entry switched off" ;;
        esac
        ran=$(i386_switched_off_run "$tiny")
    fi
    rm -rf "$dir"
    I386_NATIVE=0
    case $ran in
    '')
        I386_WHY="the kernel's own support could not be tried: neither a binfmt_misc of its own nor the entry switched off"
        ;;
    '42 '*)
        I386_NATIVE=1
        I386_WHY="a tiny 32-bit program ran $how"
        ;;
    *)
        local said=${ran#* }
        I386_WHY="a tiny 32-bit program run $how ${said:+said \"${said% }\" and }ended with ${ran%% *}, not 42"
        ;;
    esac
}

# i386_qemu_entry: qemu-i386 registered and switched on; prints "SKIPPED: <reason>" and returns 3 where the
# kernel refuses binfmt_misc.
i386_qemu_entry() {
    if [ ! -e "$binfmt/register" ]; then
        if ! "${as_root[@]}" mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null; then
            echo "SKIPPED: binfmt_misc cannot be mounted here (the kernel or the sandbox refuses it)"
            return 3
        fi
    fi
    if [ ! -e "$binfmt/$I386_ENTRY" ]; then
        local magic mask
        magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
        mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
        if ! printf '%s' ":$I386_ENTRY:M::$magic:$mask:/usr/bin/qemu-i386:OCF" |
            "${as_root[@]}" tee "$binfmt/register" >/dev/null 2>&1; then
            echo "SKIPPED: the kernel refused to register qemu-i386 with binfmt_misc"
            return 3
        fi
    fi
    # An entry switched off (echo 0 > the entry) would leave 32-bit programs failing with "Exec format
    # error" rather than skipped.
    if [ "$(head -n 1 "$binfmt/$I386_ENTRY")" != enabled ]; then
        echo 1 | "${as_root[@]}" tee "$binfmt/$I386_ENTRY" >/dev/null
    fi
}

# i386_set_up_mode: finds the mode, sets binfmt_misc up for it and says which, in one line for the log:
# "setup-i386: 32-bit mode native|qemu (...)". The line of a mode in which 32-bit programs run through the
# emulator says "through qemu-i386". Returns 3, having said SKIPPED, where qemu is needed and binfmt_misc is
# refused; 2 for a ZAL_I386_MODE it does not know.
i386_set_up_mode() {
    local forced=${ZAL_I386_MODE:-}
    case $forced in
    '' | native) ;;
    *)
        echo "setup-i386: ZAL_I386_MODE=$forced is unknown; the only value is native, for checking only" >&2
        return 2
        ;;
    esac
    [ -n "${I386_NATIVE:-}" ] || i386_kernel_verdict
    if [ "$I386_NATIVE" = 1 ]; then
        local removed=
        if [ -e "$binfmt/$I386_ENTRY" ]; then
            echo -1 | "${as_root[@]}" tee "$binfmt/$I386_ENTRY" >/dev/null
            removed="; the project's qemu-i386 entry, which shadowed it, is removed"
        fi
        echo "setup-i386: 32-bit mode native: the kernel runs 32-bit programs itself ($I386_WHY)$removed"
        return 0
    fi
    i386_qemu_entry || return
    if [ "$forced" = native ]; then
        echo "setup-i386: 32-bit mode native, forced by ZAL_I386_MODE=native for checking only: the kernel" \
            "runs no 32-bit programs ($I386_WHY), so they run through qemu-i386"
    else
        echo "setup-i386: 32-bit mode qemu: the kernel runs no 32-bit programs ($I386_WHY), so they run" \
            "through qemu-i386"
    fi
}
