# The environment of every Wine run, sourced by the Windows targets' scripts:
# a prefix of the build's own, no debug output, no Mono or Gecko prompt, no
# menu entries or file types written into the real home, and the Polish
# locale, from which Wine takes the ANSI code page of the lab's PCs, 1250.

wine_env() { # PREFIX
    export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    export LANG=pl_PL.UTF-8 LC_ALL=pl_PL.UTF-8
    unset LANGUAGE
}

# Makes the prefix unless it is there, then sets each NAME=VALUE in its user
# environment (HKCU\Environment): Wine takes no QT_* variable from the Unix one.
wine_prefix() { # PREFIX [NAME=VALUE]...
    wine_env "$1"
    shift
    if [[ ! -f $WINEPREFIX/system.reg ]]; then
        mkdir -p "$WINEPREFIX"
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
