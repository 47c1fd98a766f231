#!/usr/bin/env bash
# Every device from one command: q9m-update-cli --all updating one q9m-devsim over a private
# JACK server, then N devices (default 4 and 20) at the same moment in the same process.
# Prints each wall time, its ratio to the one device's, and the CPU time the process used.
# Usage: bench/all_devices.sh BUILD_DIR [N...]   (a Release build is the one to measure)
set -euo pipefail
build=$(cd "$1" && pwd)
shift

counts=("$@")
[ $# -gt 0 ] || counts=(4 20)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export Q9M_ALLOW_STAND_IN_IMAGES=1  # the devices are simulated: stand-in images may go to them
work="$build/bench-all-devices"
mkdir -p "$work"
run() {
  "$here/../tests/e2e/jack_all_devices.sh" "$build/devsim/q9m-devsim" "$build/app/q9m-update-cli" \
    "$work/$1" "$1" >"$work/$1.out" 2>&1 || { tail -30 "$work/$1.out" >&2; exit 1; }
  sed -n 's/^all [0-9]* devices: \([0-9.]*\) s wall (\(.*\))$/\1 \2/p' "$work/$1.out"
}
read -r one rest < <(run 1)
echo "1 device: $one s ($rest)"
for n in "${counts[@]}"; do
  read -r many rest < <(run "$n")
  echo "$n devices: $many s ($rest); ratio $(echo "scale=3; $many / $one" | bc)"
done
