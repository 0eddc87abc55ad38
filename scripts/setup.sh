#!/usr/bin/env bash
# Installs, from Debian's archive, whatever the build and the tests need and this machine lacks.
# Idempotent: a second run installs nothing and changes nothing. An archive that fails is tried again a
# few times (scripts/apt.sh); one that keeps failing ends the setup with one line saying why.
set -euo pipefail

packages=(
    cmake ninja-build g++ git
    libgtest-dev googletest
    clang libclang-rt-14-dev clang-format llvm-14
    g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
    wine64 xvfb xauth xdotool x11-utils imagemagick
    locales fonts-dejavu-core fonts-liberation
    python3
    osslsigncode openssl ca-certificates
)

# shellcheck source=scripts/apt.sh
source "$(dirname "$0")/apt.sh"

mapfile -t missing < <(missing_packages "${packages[@]}")
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    apt_install setup "Debian's archive may be mid-sync or out of reach: run this again later." "${missing[@]}" ||
        exit 1
fi

# Wine garbles non-ASCII file names under a locale that glibc does not have.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
    echo "setup: generating the ja_JP.UTF-8 locale"
    "${as_root[@]}" localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
