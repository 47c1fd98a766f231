#!/usr/bin/env bash
# How busy an update keeps an emulated USB MIDI link, over ALSA: the share of the time the link
# carries data. Boots the test VM (tests/alsa_vm/run-in-vm.sh; as root) and inside it:
#   1. the link's capacity: 1 MB of System Exclusive written to the host side's raw MIDI device
#      as fast as it goes, timed by the device side's byte counter;
#   2. a whole update at full speed (q9m-update-cli against q9m-devsim): bytes on the link
#      (the kernel's counter) / capacity / wall time;
#   3. a device that takes in its input at 32,000 bytes/s, for its first SLOW_BYTES bytes (a
#      whole update at that rate takes some 4.5 minutes): the time it spent taking in / the
#      time those bytes took to arrive, as q9m-devsim measures it.
# usage: bench/alsa_link_share.sh BUILD_DIR   (a Release build, e.g. build/bench)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [ "${Q9M_VM:-0}" != 1 ]; then
  build=$(cd "${1:?usage: bench/alsa_link_share.sh BUILD_DIR}" && pwd)
  exec "$here/../tests/alsa_vm/run-in-vm.sh" --devices 1 --timeout 900 -- "$here/alsa_link_share.sh" "$build"
fi
build=$1
SLOW_BYTES=1000000
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export Q9M_ALLOW_STAND_IN_IMAGES=1
host_card=$("$Q9M_VM_GADGET" host-card 0)
device_card=$(grep -l -x q9mdev0 /proc/asound/card*/id | tr -dc 0-9)
counter() { awk -v key="$2" '$1 == key { print $4; exit }' "/proc/asound/card$1/midi0"; }
now() { date +%s.%N; }

# 1. Capacity. The reader on the device side must keep up, or the gadget drops bytes.
cat "/dev/snd/midiC${device_card}D0" >/dev/null &
reader=$!
sleep 0.5
{ printf '\xF0'; head -c 999998 /dev/zero | tr '\0' '\x55'; printf '\xF7'; } >"$work/sysex"
before=$(counter "$device_card" Rx)
start=$(now)
dd if="$work/sysex" of="/dev/snd/midiC${host_card}D0" bs=4096 status=none
for _ in $(seq 600); do
  [ $(($(counter "$device_card" Rx) - before)) -ge 1000000 ] && break
  sleep 0.05
done
capacity=$(echo "1000000 / ($(now) - $start)" | bc -l)
kill "$reader"
wait "$reader" 2>/dev/null || true
printf 'link capacity: %.0f bytes/s\n' "$capacity"

# update [DEVSIM OPTIONS...]: prints the wall time and the bytes the host side sent.
update() {
  "$build/devsim/q9m-devsim" --raw q9mdev0 --exit-after-end --timeout 900 "$@" >"$work/devsim.log" 2>&1 &
  local devsim=$! sent start seconds
  for _ in $(seq 100); do grep -q "on raw MIDI device" "$work/devsim.log" && break; sleep 0.1; done
  sent=$(counter "$host_card" Tx)
  start=$(now)
  "$build/app/q9m-update-cli" >"$work/cli.log" 2>&1 || { cat "$work/cli.log" "$work/devsim.log" >&2; exit 1; }
  seconds=$(echo "$(now) - $start" | bc -l)
  # Figures count even when the device saw damaged messages (and the host sent them again).
  wait "$devsim" || grep -E "verdict|violations" "$work/devsim.log" >&2
  echo "$seconds $(($(counter "$host_card" Tx) - sent))"
}

# 2. Full speed.
read -r seconds bytes < <(update)
printf 'full speed: %d bytes in %.1f s (%.0f bytes/s); link busy %.1f%% of the time\n' \
  "$bytes" "$seconds" "$(echo "$bytes / $seconds" | bc -l)" \
  "$(echo "100 * $bytes / $capacity / $seconds" | bc -l)"

# 3. A device taking in 32,000 bytes/s.
update --intake-rate "32000:$SLOW_BYTES" >/dev/null
grep "took in the first" "$work/devsim.log" | sed 's/^q9m-devsim: /32,000 bytes\/s: /'
