# shellcheck shell=bash
# Texts and paths: Windows paths of Unix ones, Windows-1252 bytes, and the styles and texts the tool's windows carry. Sourced by tests/e2e/lib.sh.

winpath() { # UNIX_PATH -> the Windows path Wine gives it through drive Z:
    local path
    path=$(realpath -m "$1")
    printf 'Z:%s' "${path//\//\\}"
}

cp1252() { # UTF8_TEXT -> its Windows-1252 bytes
    printf '%s' "$1" | iconv -f UTF-8 -t CP1252
}

cp1252_hex() { # UTF8_TEXT -> lower-case hex of its Windows-1252 bytes, as the probe reports texts
    printf '%s' "$1" | iconv -f UTF-8 -t CP1252 | od -An -v -tx1 | tr -d ' \n'
}

hex() { printf '0x%08x' "$(($1))"; } # NUMBER -> 0x followed by 8 hex digits, as the probe reports styles

# The tool's windows as every suite expects them.
WS_VISIBLE=0x10000000
# CreateWindowEx adds WS_EX_WINDOWEDGE to every window with a caption, whatever was asked for; the tool
# asks for none, so it is masked before comparing.
WS_EX_WINDOWEDGE=0x100
WS_TABSTOP=0x00010000
FORM_STYLE=0x06C80000 # WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS | WS_CLIPCHILDREN
APP_STYLE=0x84CA0000  # WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX
CS_DBLCLKS=0x8
BS_DEFPUSHBUTTON=0x1
SS_ICON=0x3
TITLE_HEX=$(cp1252_hex "Atualização do ZAL")
BUTTON_HEX=$(cp1252_hex "Concluir Atualização")

_e2e_pct() {
    if [[ $1 =~ ^[A-Za-z0-9._/:,+=@-]*$ ]]; then
        printf '%s' "$1"
        return
    fi
    printf '%s' "$1" | LC_ALL=C od -An -v -tx1 | LC_ALL=C awk '
        BEGIN { for (i = 33; i < 127; i++) if (i != 37) safe[sprintf("%02x", i)] = sprintf("%c", i) }
        { for (i = 1; i <= NF; i++) printf "%s", (($i in safe) ? safe[$i] : "%" toupper($i)) }'
}
