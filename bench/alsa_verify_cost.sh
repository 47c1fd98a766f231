#!/usr/bin/env bash
# What --verify costs on the ALSA test VM's emulated USB MIDI device. Boots the VM
# (tests/alsa_vm/run-in-vm.sh; as root) and inside it updates q9m-devsim on the device's own end
# with q9m-update-cli twice, without and with --verify, each device verifying its flash.
# Prints both wall times, the read-back's cost in seconds and as a share of the plain update.
# usage: bench/alsa_verify_cost.sh BUILD_DIR   (a Release build, e.g. build/bench)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [ "${Q9M_VM:-0}" != 1 ]; then
  build=$(cd "${1:?usage: bench/alsa_verify_cost.sh BUILD_DIR}" && pwd)
  exec "$here/../tests/alsa_vm/run-in-vm.sh" --devices 1 --timeout 900 -- "$here/alsa_verify_cost.sh" "$build"
fi
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export Q9M_ALLOW_STAND_IN_IMAGES=1
now() { date +%s.%N; }
fail() {
  echo "alsa_verify_cost: $*" >&2
  exit 1
}

# update NAME CLI_OPTIONS...: one whole update; prints its wall time in seconds.
update() {
  local name=$1
  shift
  "$build/devsim/q9m-devsim" --raw q9mdev0 --exit-after-end --timeout 900 >"$work/$name-devsim.log" 2>&1 &
  local devsim=$!
  for _ in $(seq 100); do grep -q "on raw MIDI device" "$work/$name-devsim.log" && break; sleep 0.1; done
  local start
  start=$(now)
  "$build/app/q9m-update-cli" --timeout 900 "$@" >"$work/$name.log" 2>&1 ||
    { cat "$work/$name.log" "$work/$name-devsim.log" >&2; fail "$name: the update failed"; }
  echo "$(now) - $start" | bc -l
  wait "$devsim" || { cat "$work/$name-devsim.log" >&2; fail "$name: the device did not verify its flash"; }
}

plain=$(update plain)
verified=$(update verified --verify)
grep -q "verifying" "$work/verified.log" || { cat "$work/verified.log" >&2; fail "--verify did not read back"; }
printf 'update over the emulated USB device:               %.1f s\n' "$plain"
printf 'the same with --verify:                            %.1f s\n' "$verified"
printf 'read-back cost:                                    %.1f s (%.0f %% of the update)\n' \
  "$(echo "$verified - $plain" | bc -l)" "$(echo "($verified - $plain) * 100 / $plain" | bc -l)"
