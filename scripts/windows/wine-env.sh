# The environment of every Wine run, sourced by the Windows targets' scripts:
# a prefix of the build's own, no debug output, no Mono or Gecko prompt, no
# menu entries or file types written into the real home, and the Polish
# locale, from which Wine takes the ANSI code page of the lab's PCs, 1250.
# HOME lies in the prefix too: Wine links the user's Documents and Desktop
# to it, and a program writing there must not reach the real one.

wine_env() { # PREFIX
    export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    # Numbers as in C: the scripts' own arithmetic reads "1.5", not "1,5".
    export LANG=pl_PL.UTF-8 LC_NUMERIC=C HOME=$1/home
    unset LC_ALL LANGUAGE XDG_CONFIG_HOME XDG_DATA_HOME XDG_DESKTOP_DIR XDG_DOCUMENTS_DIR
}

# Makes the prefix unless it is there, then sets each NAME=VALUE in its user
# environment (HKCU\Environment): Wine takes no QT_* variable from the Unix one.
wine_prefix() { # PREFIX [NAME=VALUE]...
    wine_env "$1"
    shift
    [[ $(basename "$WINEPREFIX") == wine-* ]] || { echo "wine_prefix: not a prefix of ours: $WINEPREFIX" >&2; return 1; }
    # A prefix made with another home is made again.
    if [[ ! -f $WINEPREFIX/system.reg || ! -d $HOME ]]; then
        wineserver -k 2>/dev/null || true
        rm -rf "$WINEPREFIX"
        mkdir -p "$HOME"
        wineboot -i >/dev/null 2>&1
        wineserver -w
    fi
    if (($#)); then
        local reg="$WINEPREFIX/kesto-environment.reg" kv value
        printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Environment]\r\n' >"$reg"
        for kv; do
            value=${kv#*=}
            value=${value//\\/\\\\}
            printf '"%s"="%s"\r\n' "${kv%%=*}" "$value" >>"$reg"
        done
        wine regedit /S "$(wine_path "$reg")" >/dev/null 2>&1
        wineserver -w
    fi
}

# A Unix path as Wine's Windows programs see it (drive Z: is the root).
wine_path() { local p; p=$(realpath -m "$1"); printf 'Z:%s' "${p//\//\\}"; }
