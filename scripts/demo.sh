#!/usr/bin/env bash
# The panel against the simulated bridge board: starts tamberlo-bridge-sim as port 1,
# waits until the port's link is there, starts the panel, and stops the simulator when
# the panel exits or when this script is interrupted. `make demo` builds first and then
# runs this. Arguments go to the simulator, e.g.
#   ./scripts/demo.sh --model ISD1790 --log -
set -euo pipefail
cd "$(dirname "$0")/.."

sim=build/bin/tamberlo-bridge-sim
panel=build/bin/tamberlo
for program in "$sim" "$panel"; do
    if [ ! -x "$program" ]; then
        echo "demo: $program is missing; run 'make demo' to build it" >&2
        exit 1
    fi
done

scratch=$(mktemp -d)
sim_pid=""
panel_pid=""

stop_process() {
    if [ -n "$1" ] && kill -0 "$1" 2>/dev/null; then
        kill -TERM "$1" 2>/dev/null || true
        wait "$1" 2>/dev/null || true
    fi
}
cleanup() {
    stop_process "$panel_pid"
    stop_process "$sim_pid"
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# The simulator and the panel must look in the same runtime directory for the link.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    mkdir -m 700 "$scratch/runtime"
    export XDG_RUNTIME_DIR="$scratch/runtime"
fi
link="$XDG_RUNTIME_DIR/tamberlo/port1"

# The simulator prints its device on standard output; the link must lead there (and not
# to a device some other simulator holds).
"$sim" --port 1 "$@" >"$scratch/device" &
sim_pid=$!
for _ in $(seq 100); do
    device=$(head -n 1 "$scratch/device" 2>/dev/null || true)
    if [ -n "$device" ] && [ "$(readlink "$link" 2>/dev/null)" = "$device" ]; then
        break
    fi
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        echo "demo: the bridge simulator did not start (see its message above)" >&2
        exit 1
    fi
    sleep 0.1
done
if [ "$(readlink "$link" 2>/dev/null)" != "${device:-}" ] || [ -z "${device:-}" ]; then
    echo "demo: port 1 did not appear at $link" >&2
    exit 1
fi
if [[ " ${DEMO_PANEL_ARGS:-} " == *" --plan "* ]]; then
    echo "demo: simulated ISD1700 bridge on $device is port 1; in the plan window add audio" \
        "files, then click 全部录音"
else
    echo "demo: simulated ISD1700 bridge on $device is port 1; open port 1 in the panel, then" \
        "click 1器件复位, 2器件上电, 3器件ID"
fi

# The panel runs in the background so that a signal to this script is handled at once.
# DEMO_PANEL_ARGS: its options, e.g. --plan for the plan window (make demo-plan).
# shellcheck disable=SC2086
"$panel" ${DEMO_PANEL_ARGS:-} &
panel_pid=$!
status=0
wait "$panel_pid" || status=$?
panel_pid=""
exit "$status"
