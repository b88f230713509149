#!/usr/bin/env bash
# The whole headless write, natively and under Wine, on this machine against the same prompt board
# (a simulator that answers at once and boots in 0.3 s): the median of three runs each, and their
# ratio. Prints one line "headless write under Wine: ...".
# Usage: write_bench.sh <Windows program folder> <native build dir (Release)>
set -eu
program="$(cd "$1" && pwd)"
native="$(cd "$2" && pwd)"
export LC_ALL=C.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
work="$(mktemp -d)"
export WINEPREFIX="$work/prefix"
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    wineserver -k >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT

wineboot -i >/dev/null 2>&1
# The boot's server ends first: a second one would refuse to start, and without one that stays,
# every run would pay for starting Wine's services again.
wineserver -w
wineserver -p >/dev/null 2>&1
mkdir -p "$WINEPREFIX/drive_c/nx7" "$work/linux/Orvanta"
cp -r "$program/." "$WINEPREFIX/drive_c/nx7/"
cp "$native/src/app/nx7ifbprog" "$work/linux/"
wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v Serial9 /t REG_SZ /d COM9 /f >/dev/null 2>&1

# start_board <settings file> <pin: yes|no>
start_board() {
    local pin=()
    [ "$2" = yes ] && pin=(--pin "$1" --com 9)
    "$native/tools/ifb-sim/ifb-sim" --pty "${pin[@]}" --restart-ms 300 --ap-ip 127.0.0.1 --ota-service \
        >"$work/sim.out" 2>"$work/sim.err" &
    sim_pid=$!
    for _ in $(seq 1 100); do
        grep -q '^PTY ' "$work/sim.out" 2>/dev/null && break
        sleep 0.05
    done
    ln -sfn "$(sed -n 's/^PTY //p' "$work/sim.out")" "$WINEPREFIX/dosdevices/com9"
}

stop_board() {
    kill "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=
}

# Seconds one command takes; a failed run ends the benchmark.
timed() {
    local t0 t1
    t0=$(date +%s.%N)
    "$@" >"$work/run.log" 2>&1 || { echo "failed: $*" >&2; tail -20 "$work/run.log" >&2; exit 1; }
    t1=$(date +%s.%N)
    echo "$t0 $t1" | awk '{ printf "%.3f", $2 - $1 }'
}

median() { sort -n | sed -n 2p; }

linux_ini="$work/linux/Orvanta/nx7ifbprog.ini"
win_ini="$WINEPREFIX/drive_c/nx7/Orvanta/nx7ifbprog.ini"
mkdir -p "$(dirname "$win_ini")"
linux_times=()
wine_times=()
# A first Wine run warms its caches (DLLs, fonts) as a technician's second start would find them.
for run in warm 1 2 3; do
    printf '[Option]\nComPort=9\nComSpeed=4\nApp_ESPOta=%s\nCONECT_WAIT_TIME=15000\nProg_WAIT_TIME=60000\n' \
        "$native/tools/espota/espota" >"$linux_ini"
    printf '[Option]\r\nComPort=9\r\nComSpeed=4\r\nApp_ESPOta=C:\\nx7\\espota.exe\r\nCONECT_WAIT_TIME=15000\r\nProg_WAIT_TIME=60000\r\n' \
        >"$win_ini"
    start_board "$win_ini" no
    w=$(timed wine 'C:\nx7\nx7ifbprog.exe' --headless --write --yes)
    stop_board
    start_board "$linux_ini" yes
    l=$(timed "$work/linux/nx7ifbprog" --headless --write --yes)
    stop_board
    [ "$run" = warm ] && continue
    linux_times+=("$l")
    wine_times+=("$w")
done
l=$(printf '%s\n' "${linux_times[@]}" | median)
w=$(printf '%s\n' "${wine_times[@]}" | median)
awk -v l="$l" -v w="$w" 'BEGIN {
    printf "headless write under Wine: %.3f s, natively %.3f s (medians of 3): %.2f x (goal <= 1.3 x)\n", w, l, w / l }'
