# shellcheck shell=bash
# Sourced by every script that runs Wine: the one environment the project's Wine runs share.

# wine_env PREFIX [WINEDEBUG]: exports the prefix (made absolute), Wine's debug channels (-all unless given:
# Wine's own notes would bury what the programs print) and the DLL overrides: no Mono or Gecko installer,
# which would look for a network there is not, and no menu builder writing desktop entries for the
# prefix's programs.
wine_env() {
    WINEPREFIX=$(realpath -m "$1")
    WINEDEBUG=${2:--all}
    WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
}

# with_display COMMAND...: runs COMMAND on the caller's display or, lacking one, in a throwaway Xvfb. Wine's
# services expect a display even for commands that open no window, and time out without one.
with_display() {
    if [ -n "${DISPLAY:-}" ]; then
        "$@"
    else
        xvfb-run -a "$@"
    fi
}
