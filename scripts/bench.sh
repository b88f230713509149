#!/usr/bin/env bash
# Builds the tool, the board simulator and the uploader and prints the speed figures of a prompt
# board (a simulator that answers at once and boots in 0.3 s). One section per figure; each
# section prints one line "<figure>: <measured> (<what it is held against>)".
# Figures come from an optimised build of their own, so they say what users get.
# Usage: scripts/bench.sh [build dir]   (default: build-release)
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

build="${1:-build-release}"
cd "$NX7_ROOT"
nx7_build "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++ -DNX7_BUILD_TESTS=ON -- nx7ifbprog ifb-sim espota nx7_wait_bench \
    >/dev/null
build="$(cd "$build" && pwd)" # absolute from here on: the settings file names the uploader by it

work="$(mktemp -d)"
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

boot_ms=300
fixed_pauses=2.0 # the start's fixed pauses in seconds

# A fresh tool folder and a simulator pinned as COM9 in its settings.
start_board() {
    rm -rf "$work/bin" && mkdir -p "$work/bin/Orvanta"
    cp "$build/src/app/nx7ifbprog" "$work/bin/"
    ini="$work/bin/Orvanta/nx7ifbprog.ini"
    printf '[Option]\nComPort=9\nComSpeed=4\nApp_ESPOta=%s\nCONECT_WAIT_TIME=15000\nProg_WAIT_TIME=60000\n' \
        "$build/tools/espota/espota" >"$ini"
    "$build/tools/ifb-sim/ifb-sim" --pty --pin "$ini" --com 9 --restart-ms "$boot_ms" --ap-ip 127.0.0.1 \
        --ota-service >"$work/sim.out" 2>"$work/sim.err" &
    sim_pid=$!
    for _ in $(seq 1 100); do
        grep -q '^PTY ' "$work/sim.out" 2>/dev/null && return 0
        sleep 0.05
    done
    echo "the board simulator did not start" >&2
    cat "$work/sim.err" >&2
    exit 1
}

stop_board() {
    kill "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
    sim_pid=
}

# Seconds (three decimals) a command takes; its output goes to $work/run.log.
timed() {
    local t0 t1
    t0=$(date +%s.%N)
    "$@" >"$work/run.log" 2>&1 || { echo "failed: $*" >&2; cat "$work/run.log" >&2; exit 1; }
    t1=$(date +%s.%N)
    echo "$t0 $t1" | awk '{ printf "%.3f", $2 - $1 }'
}

# --- reply round trip: from the reply's bytes on the line to the wait returning ---
"$build/tests/bench/nx7_wait_bench" --seconds 2 --samples 30 | sed -n 's/^reply delay/reply round trip: delay/p'

# --- launch -> closed: a headless start and close against a prompt board ---
start_board
s=$(timed "$work/bin/nx7ifbprog" --headless --yes)
stop_board
awk -v s="$s" -v p="$fixed_pauses" 'BEGIN {
    printf "launch -> closed: %.3f s (fixed pauses %.1f s; goal <= %.3f s = 1.05 x pauses; ratio %.2f)\n",
        s, p, 1.05 * p, s / p }'

# --- whole headless write: start, OTA transfer over loopback, restart, version check, close ---
start_board
s=$(timed "$work/bin/nx7ifbprog" --headless --write --yes)
stop_board
awk -v s="$s" -v p="$fixed_pauses" -v b="$boot_ms" 'BEGIN {
    floor = p + 2 * b / 1000
    printf "headless write: %.3f s (floor %.3f s = pauses + two %d ms boots; goal <= %.3f s = 1.25 x pauses + boots, plus the transfer)\n",
        s, floor, b, 1.25 * p + 2 * b / 1000 }'

# --- uploader flood memory: peak resident size while the uploader prints without pause ---
# (the tool stays well under 100 MB whatever the uploader prints)
nx7_build "$build" -- nx7_uploader_flood_bench >/dev/null
"$build/tests/update/nx7_uploader_flood_bench" "${FLOOD_SECONDS:-4}"
