#!/usr/bin/env bash
# Every device from one command over ALSA: boots the test VM with 4 emulated USB MIDI devices
# (tests/alsa_vm/run-in-vm.sh; as root) and inside it, with q9m-devsim on each device's own end,
# updates one device with q9m-update-cli, then all 4 at once with q9m-update-cli --all, every
# device verifying its flash: once with devices that take bytes as fast as the link carries
# them, once with devices that take in 100,000 bytes a second. Then the test bed alone: the
# same bytes written by dd to one host card, then to all 4 at once, with cat reading each
# device's own end. Prints the wall times and ratios: where the emulation takes the VM's CPUs,
# the bed's own ratio is the best that --all can show.
# usage: bench/alsa_all_devices.sh BUILD_DIR   (a Release build, e.g. build/bench)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
count=4
if [ "${Q9M_VM:-0}" != 1 ]; then
  build=$(cd "${1:?usage: bench/alsa_all_devices.sh BUILD_DIR}" && pwd)
  exec "$here/../tests/alsa_vm/run-in-vm.sh" --devices "$count" --timeout 1200 -- \
    "$here/alsa_all_devices.sh" "$build"
fi
build=$1
work=$(mktemp -d)
devsim=$build/devsim/q9m-devsim
gadget=$Q9M_VM_GADGET
export Q9M_ALLOW_STAND_IN_IMAGES=1
source "$here/../tests/support/stop_started.sh"
source "$here/../tests/alsa_vm/usb_devices.sh"
now() { date +%s.%N; }
# The VM's CPU time so far, busy and all: the devices' ends run in this same VM, so a run that
# keeps its CPUs busy is bound by the emulation, not by the updater.
cpu_ticks() { awk '$1 == "cpu" { print $2 + $3 + $4 + $7 + $8, $2 + $3 + $4 + $5 + $6 + $7 + $8 }' /proc/stat; }
busy_since() {
  local busy total b t
  read -r busy total <<<"$1"
  read -r b t < <(cpu_ticks)
  echo "scale=0; 100 * ($b - $busy) / ($t - $total)" | bc
}
fail() {
  echo "alsa_all_devices: $*" >&2
  exit 1
}

# one_and_all LABEL [DEVSIM OPTIONS...]: one device updated, then all of them by --all, each
# device verified; appends the wall times, CPU shares and their ratio to $work/results.
one_and_all() {
  local label=$1 one one_busy all all_busy start ticks i
  shift
  # One device: the CLI takes the first "USB Audio Device" itself.
  start_device 0 "$@"
  start=$(now) ticks=$(cpu_ticks)
  /usr/bin/time -f "%U s user, %S s system" -o "$work/one.time" \
    "$build/app/q9m-update-cli" --timeout 900 >"$work/one.log" 2>&1 || { cat "$work/one.log"; fail "$label, one device: the update failed"; }
  one=$(echo "$(now) - $start" | bc -l) one_busy=$(busy_since "$ticks")
  check_device 0 >"$work/check-one.log" || { cat "$work/check-one.log"; fail "$label: one device did not verify"; }

  for i in $(seq 0 $((count - 1))); do start_device "$i" "$@"; done
  start=$(now) ticks=$(cpu_ticks)
  # The exit status is not 0 here: the gadgets' own ends ("f_midi") are listed on this same
  # machine as pairs too, and q9m-devsim holds them, so --all cannot open them. The summary must
  # show every USB device completed.
  /usr/bin/time -f "%U s user, %S s system" -o "$work/all.time" \
    "$build/app/q9m-update-cli" --all --timeout 900 >"$work/all.log" 2>&1 || true
  all=$(echo "$(now) - $start" | bc -l) all_busy=$(busy_since "$ticks")
  [ "$(grep -cE "^[0-9A-F]{8} +USB Audio Device( \([0-9]+\))? +completed" "$work/all.log")" = "$count" ] ||
    { cat "$work/all.log"; fail "$label: --all did not complete all $count USB devices"; }
  for i in $(seq 0 $((count - 1))); do
    check_device "$i" >"$work/check-$i.log" || { cat "$work/check-$i.log"; fail "$label: device $i did not verify"; }
  done
  tail -n $((count + 2)) "$work/all.log"
  {
    printf '%s, 1 device: %.1f s, VM CPUs %d %% busy (the updater: %s)\n' "$label" "$one" "$one_busy" "$(tail -1 "$work/one.time")"
    printf '%s, %d devices by --all: %.1f s, VM CPUs %d %% busy (the updater: %s); ratio %.3f\n' \
      "$label" "$count" "$all" "$all_busy" "$(tail -1 "$work/all.time")" "$(echo "$all / $one" | bc -l)"
  } >>"$work/results"
  echo "$all / $one" | bc -l >"$work/ratio"
}

# Devices that take bytes as fast as the emulated link carries them; then devices that take in
# 100,000 bytes a second, as a device busy writing its flash, which leaves the VM's CPUs room.
one_and_all "full speed"
full_ratio=$(cat "$work/ratio")
cp "$work/one.log" "$work/one-full.log"
one_and_all "devices taking 100,000 bytes/s" --intake-rate 100000

# The bed alone: as many bytes as one update sent, as System Exclusive messages of a write
# block's length, with no protocol, no replies and no pacing.
bytes=$(sed -n 's/.*completed\. (\([0-9,]*\) bytes.*/\1/p' "$work/one-full.log" | tr -d ,)
[ -n "$bytes" ] || { cat "$work/one-full.log"; fail "the one device's log does not say how many bytes it sent"; }
python3 -c 'import sys
n = int(sys.argv[1]); m = bytes([0xF0]) + bytes(i % 128 for i in range(4698)) + bytes([0xF7])
sys.stdout.buffer.write((m * (n // len(m) + 1))[:n - 1] + bytes([0xF7]))' "$bytes" >"$work/stream.syx"
plain_writes() {
  local n=$1 readers=() writers=() i start
  for i in $(seq 0 $((n - 1))); do
    cat "/dev/snd/midiC$(device_card "$i")D0" >/dev/null &
    readers+=("$!")
  done
  sleep 1 # the readers have opened their ends
  start=$(now)
  for i in $(seq 0 $((n - 1))); do
    dd if="$work/stream.syx" of="/dev/snd/midiC$("$gadget" host-card "$i")D0" bs=4700 status=none &
    writers+=("$!")
  done
  for i in "${writers[@]}"; do wait "$i" || fail "a plain write to a device failed"; done
  echo "$(now) - $start" | bc -l
  sleep 0.5 # what is still on the link
  kill "${readers[@]}"
}
ticks=$(cpu_ticks)
bed_one=$(plain_writes 1) bed_one_busy=$(busy_since "$ticks")
ticks=$(cpu_ticks)
bed_all=$(plain_writes "$count") bed_all_busy=$(busy_since "$ticks")

cat "$work/results"
printf 'the bed alone, %d bytes each: 1 device %.1f s (%d %% busy), %d devices %.1f s (%d %% busy); ratio %.3f\n' \
  "$bytes" "$bed_one" "$bed_one_busy" "$count" "$bed_all" "$bed_all_busy" "$(echo "$bed_all / $bed_one" | bc -l)"
printf -- 'full speed: the --all ratio over the bed ratio: %.3f\n' "$(echo "$full_ratio / ($bed_all / $bed_one)" | bc -l)"
