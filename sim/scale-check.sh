#!/bin/bash
# Measures kelvora-camsim at scale: starts it with the options given, reports how long it took
# to listen, its threads, resident memory and open files, asks every address at once with
# kelvora-camsim-probe, and reports the same again. Loopback only.
#
#   sim/scale-check.sh BUILD_DIR [kelvora-camsim options]
#   sim/scale-check.sh build-rel --cameras 1000 --consecutive addresses --bind 127.1.0.1 --port 18080
set -euo pipefail

build=${1:?usage: sim/scale-check.sh BUILD_DIR [kelvora-camsim options]}
shift
camsim="$build/sim/kelvora-camsim"
probe="$build/sim/kelvora-camsim-probe"
for p in "$camsim" "$probe"; do
    [ -x "$p" ] || { echo "scale-check: $p is missing; build it first" >&2; exit 2; }
done

# The probe asks the same addresses the cameras take: answering, silent and closed ones alike.
cameras=1 silent=0 closed=0 bind=127.0.0.1 port=8080 consecutive=ports
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
    next=${args[i + 1]:-}
    case ${args[i]} in
    -n | --cameras) cameras=$next ;;
    --silent) silent=$next ;;
    --closed) closed=$next ;;
    -b | --bind) bind=$next ;;
    -p | --port) port=$next ;;
    --consecutive) consecutive=$next ;;
    esac
done
if [ "$port" = 0 ]; then
    echo "scale-check: give a port; with port 0 the probe cannot know where the cameras are" >&2
    exit 2
fi
span=$((cameras + silent + closed))

log=$(mktemp)
pid=
cleanup() {
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
        kill -TERM "$pid"
        wait "$pid" 2>/dev/null || true
    fi
    rm -f "$log"
}
trap cleanup EXIT

report() {
    local threads rss files
    threads=$(awk '/^Threads:/ {print $2}' "/proc/$pid/status")
    rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")
    files=$(find "/proc/$pid/fd" -mindepth 1 -maxdepth 1 | wc -l)
    printf '%-22s threads %6s  VmRSS %8s KiB  open files %6s\n' "$1" "$threads" "$rss" "$files"
}

start=$(date +%s%N)
"$camsim" --quiet "$@" >"$log" 2>&1 &
pid=$!
for _ in $(seq 3000); do
    grep -q '^Type the address' "$log" && break
    kill -0 "$pid" 2>/dev/null || { cat "$log" >&2; exit 1; }
    sleep 0.01
done
grep -q '^Type the address' "$log" || { echo "scale-check: no start within 30 s" >&2; cat "$log" >&2; exit 1; }
echo "kelvora-camsim $* listening after $((($(date +%s%N) - start) / 1000000)) ms"
report "after start:"
"$probe" --count "$span" --consecutive "$consecutive" --timeout 5000 "$bind:$port" || true
report "after the inquiries:"
