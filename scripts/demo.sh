#!/usr/bin/env bash
# Installs what is missing, builds, and runs the tool's main job on its built-in default: a whole
# firmware write against the board simulator, with the project's own uploader and a real OTA
# transfer on loopback. With a display the window opens (click "書き込み開始", then OK in the
# dialogs); without one the same run happens headless.
# Usage: scripts/demo.sh [--headless | --window]
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

mode=auto
case "${1:-}" in
--headless) mode=headless ;;
--window) mode=window ;;
"") ;;
*) echo "usage: scripts/demo.sh [--headless | --window]" >&2; exit 2 ;;
esac

nx7_install_packages
cd "$NX7_ROOT"
nx7_build build -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=g++ -- nx7ifbprog ifb-sim espota

demo="$NX7_ROOT/demo"
rm -rf "$demo"
mkdir -p "$demo/bin/Orvanta"
cp build/src/app/nx7ifbprog "$demo/bin/"
ini="$demo/bin/Orvanta/nx7ifbprog.ini"
cat >"$ini" <<INI
[Option]
ComPort=9
ComSpeed=4
App_ESPOta=$NX7_ROOT/build/tools/espota/espota
CONECT_WAIT_TIME=15000
Prog_WAIT_TIME=60000
INI

# The simulated board: its access point is on loopback, where its OTA service listens for the
# uploader; the ROM version it reports after the update is the one found in the received image.
sim_out="$demo/ifb-sim.out"
build/tools/ifb-sim/ifb-sim --pty --pin "$ini" --com 9 --rom-version 3020KMT27 --model "PB-RL11 demo board" \
    --ap-ip 127.0.0.1 --ap-name IFB-DEMO-AP --ota-service --record "$demo/requests.txt" \
    >"$sim_out" 2>"$demo/ifb-sim.err" &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do
    grep -q '^PTY ' "$sim_out" 2>/dev/null && break
    sleep 0.1
done
if ! grep -q '^PTY ' "$sim_out"; then
    echo "The board simulator did not start:" >&2
    cat "$demo/ifb-sim.err" >&2
    exit 1
fi
echo "Board simulator on $(sed -n 's/^PTY //p' "$sim_out"), pinned as COM9 in $ini"

if [ "$mode" = auto ]; then
    if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then mode=window; else mode=headless; fi
fi

status=0
if [ "$mode" = window ]; then
    "$demo/bin/nx7ifbprog" || status=$?
else
    "$demo/bin/nx7ifbprog" --headless --write --yes || status=$?
fi
echo
if [ "$status" -eq 0 ]; then
    echo "Demo finished: the tool reported success (exit status 0)."
else
    echo "Demo finished with exit status $status." >&2
fi
exit "$status"
