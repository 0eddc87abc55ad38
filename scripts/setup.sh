#!/usr/bin/env bash
# Installs, from Debian's archive, whatever the build and the tests need and this machine lacks.
# Idempotent: a second run installs nothing and changes nothing.
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

# as_root VAR=VALUE... COMMAND...: through sudo when not root. The variables go on sudo's command line,
# since sudo starts the command with an environment of its own, without the caller's.
as_root=(env)
if [ "$(id -u)" -ne 0 ]; then
    as_root=(sudo)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    "${as_root[@]}" apt-get update -qq
    "${as_root[@]}" DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine garbles non-ASCII file names under a locale that glibc does not have.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
    echo "setup: generating the ja_JP.UTF-8 locale"
    "${as_root[@]}" localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
