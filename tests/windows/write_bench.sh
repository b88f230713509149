#!/usr/bin/env bash
# The whole headless write, natively and under Wine, on this machine against the same prompt board
# (a simulator that answers at once and boots in 0.3 s): the median of three runs each, and their
# ratio. Prints one line "headless write under Wine: ...".
# Usage: write_bench.sh <Windows program folder> <native build dir (Release)>
set -eu
program="$(cd "$1" && pwd)"
native="$(cd "$2" && pwd)"
work="$(mktemp -d)"
export WINEPREFIX="$work/prefix"
source "$(dirname "${BASH_SOURCE[0]}")/wine_board.sh"
cleanup() {
    wine_board_stop
    wineserver -k >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT

wine_prefix_make "$program" nx7
mkdir -p "$work/linux/Orvanta"
cp "$native/src/app/nx7ifbprog" "$work/linux/"

# start_board [simulator options...]: a prompt board, as Wine's COM9 (and pinned for the native
# tool with --pin).
start_board() {
    wine_board_start "$native/tools/ifb-sim/ifb-sim" "$work" --restart-ms 300 --ap-ip 127.0.0.1 --ota-service "$@" ||
        { echo "the board simulator did not start" >&2; exit 1; }
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
    start_board
    w=$(timed wine 'C:\nx7\nx7ifbprog.exe' --headless --write --yes)
    wine_board_stop
    start_board --pin "$linux_ini" --com 9
    l=$(timed "$work/linux/nx7ifbprog" --headless --write --yes)
    wine_board_stop
    [ "$run" = warm ] && continue
    linux_times+=("$l")
    wine_times+=("$w")
done
l=$(printf '%s\n' "${linux_times[@]}" | median)
w=$(printf '%s\n' "${wine_times[@]}" | median)
awk -v l="$l" -v w="$w" 'BEGIN {
    printf "headless write under Wine: %.3f s, natively %.3f s (medians of 3): %.2f x (goal <= 1.3 x)\n", w, l, w / l }'
