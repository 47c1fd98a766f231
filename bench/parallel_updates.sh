#!/usr/bin/env bash
# Copies side by side: one copy of q9m-updater updating one q9m-devsim over a private JACK
# server, then COUNT copies (default 20) each updating its own device at the same moment.
# Prints both wall times, their ratio, and the largest peak memory of any copy.
# Usage: bench/parallel_updates.sh BUILD_DIR [COUNT]   (a Release build is the one to measure)
set -euo pipefail
build=$(cd "$1" && pwd) count=${2:-20}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export Q9M_ALLOW_STAND_IN_IMAGES=1  # the devices are simulated: stand-in images may go to them
work="$build/bench-parallel"
run() {
  "$here/../tests/e2e/jack_copies.sh" "$build/devsim/q9m-devsim" "$build/app/q9m-updater" \
    "$work/$1" "$1" | tee "$work/$1.out" | grep -E "^all |^All |FAILED" >&2
  awk '/^all /{print $4}' "$work/$1.out"
}
mkdir -p "$work"
one=$(run 1)
many=$(run "$count")
peaks() { sed -n 's/.*resident \([0-9]*\), proportional \([0-9]*\), private \([0-9]*\).*/\1 \2 \3/p' "$work/$count.out" |
  sort -n -k"$1" | tail -1 | cut -d' ' -f"$1"; }
echo "one copy: $one s; $count copies: $many s; ratio $(echo "scale=2; $many / $one" | bc)"
echo "largest peak per copy (KiB): resident $(peaks 1) (counts the JACK server's shared segment in full)," \
  "proportional $(peaks 2), private $(peaks 3)"
