#!/usr/bin/env bash
# Demo: starts the simulated camera, then Kelvora; stops the camera when Kelvora exits.
# Settings (environment): BUILD_DIR (build), SIM_MODEL (TK300; a comma list with SIM_CAMERAS,
# taken in turn), SIM_PORT (8080; free ports are taken when it is busy), SIM_USER (admin),
# SIM_PASSWORD (password), SIM_RESTART_SECONDS (2), SIM_CAMERAS (1: that many cameras on
# consecutive ports, a fleet for kelvora-fleet).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build}
model=${SIM_MODEL:-TK300}
port=${SIM_PORT:-8080}
user=${SIM_USER:-admin}
password=${SIM_PASSWORD:-password}
restart=${SIM_RESTART_SECONDS:-2}
cameras=${SIM_CAMERAS:-1}
camsim="$build/sim/kelvora-camsim"
samplegen="$build/sim/kelvora-samplegen"
app="$build/app/kelvora"
samples="$PWD/samples/qv-firmware"
log="$build/camsim.log"

if [ ! -x "$camsim" ]; then
    echo "run-demo: $camsim is missing; build first (make build)" >&2
    exit 1
fi
if [ ! -f "$samples/verup_list.ini" ]; then
    samples="$PWD/$build/demo-firmware"
    "$samplegen" "$samples" >/dev/null
fi

sim_pid=
stop_sim() {
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
}
trap stop_sim EXIT
trap 'exit 130' INT TERM

# Starts the camera on port $1 and sets $address once it listens.
start_sim() {
    "$camsim" --cameras "$cameras" --model "$model" --port "$1" --user "$user" --password "$password" \
        --restart-seconds "$restart" >"$log" 2>&1 &
    sim_pid=$!
    for _ in $(seq 50); do
        if [ "$cameras" -gt 1 ]; then
            address=$(sed -n 's/^camera: \([^ ]*\) .*/\1/p' "$log" 2>/dev/null | tr '\n' ' ')
            [ "$(wc -w <<<"$address")" -eq "$cameras" ] && return 0
        else
            address=$(sed -n 's/^address: //p' "$log" 2>/dev/null)
            [ -n "$address" ] && return 0
        fi
        kill -0 "$sim_pid" 2>/dev/null || break
        sleep 0.1
    done
    stop_sim
    sim_pid=
    return 1
}

address=
if ! start_sim "$port"; then
    echo "run-demo: cannot listen on port $port, taking a free one" >&2
    start_sim 0 || { cat "$log" >&2; exit 1; }
fi

if [ "$cameras" -gt 1 ]; then
    echo "Simulated cameras: $cameras"
    sed -n 's/^camera: /  /p' "$log"
else
    echo "Simulated camera: $(head -n 1 "$log" | sed 's/^Simulated camera //')"
    echo "  camera address:  $address"
fi
echo "  user ID:         $user"
echo "  password:        $password"
echo "  restart time:    $restart s"
echo "  firmware folder: $samples"
echo "  camera log:      $log"

if [ -x "$app" ]; then
    status=0
    "$app" || status=$?
    exit "$status"
fi
echo "run-demo: $app is not built; the camera runs until Ctrl+C"
wait "$sim_pid"
