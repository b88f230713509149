# Sourced by the Wine tests and the Wine benchmark: a Wine prefix with the Windows program copied
# in, and the board simulator (running natively) as Wine's COM9. WINEPREFIX must be set.

# Wine turns arguments and file names into UTF-16 through the locale: it must be a UTF-8 one.
export LC_ALL=C.UTF-8 LANG=C.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# wine_prefix_make <program folder> <folder under C:\>...: a new prefix with the program in each
# folder. Its Wine server stays up (-p) until `wineserver -k`: a new one would take seconds to
# start for every run, and the serial registry entry lives only as long as it does.
wine_prefix_make() {
    local program="$1" folder
    shift
    wineboot -i >/dev/null 2>&1 || return 1
    wineserver -w # the boot's server ends first: a second one would refuse to start
    wineserver -p >/dev/null 2>&1
    for folder in "$@"; do
        mkdir -p "$WINEPREFIX/drive_c/$folder"
        cp -r "$program/." "$WINEPREFIX/drive_c/$folder/"
    done
    # A port is listed where its driver enters it; Wine's own mapping comes from dosdevices.
    wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v Serial9 /t REG_SZ /d COM9 /f >/dev/null 2>&1
}

# wine_board_start <simulator> <output folder> [simulator options...]: the board on a
# pseudo-terminal that Wine calls COM9; its pid in board_pid, its output in sim.out and sim.err.
wine_board_start() {
    local sim="$1" out="$2" pty=
    shift 2
    "$sim" --pty "$@" >"$out/sim.out" 2>"$out/sim.err" &
    board_pid=$!
    for _ in $(seq 1 100); do
        pty="$(sed -n 's/^PTY //p' "$out/sim.out" 2>/dev/null)"
        [ -n "$pty" ] && break
        sleep 0.05
    done
    [ -n "$pty" ] || return 1
    ln -sfn "$pty" "$WINEPREFIX/dosdevices/com9"
}

wine_board_stop() {
    [ -n "${board_pid:-}" ] && kill "$board_pid" 2>/dev/null && wait "$board_pid" 2>/dev/null
    board_pid=
    rm -f "$WINEPREFIX/dosdevices/com9"
    return 0
}
