#!/usr/bin/env bash
# Every device from one command over ALSA: boots the test VM with 4 emulated USB MIDI devices
# (tests/alsa_vm/run-in-vm.sh; as root) and inside it, with q9m-devsim on each device's own end,
# updates one device with q9m-update-cli, then all 4 at once with q9m-update-cli --all. Every
# device must verify its flash. Prints both wall times and their ratio.
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

# One device: the CLI takes the first "USB Audio Device" itself.
start_device 0
start=$(now) ticks=$(cpu_ticks)
/usr/bin/time -f "%U s user, %S s system" -o "$work/one.time" \
  "$build/app/q9m-update-cli" --timeout 900 >"$work/one.log" 2>&1 || { cat "$work/one.log"; fail "one device: the update failed"; }
one=$(echo "$(now) - $start" | bc -l) one_busy=$(busy_since "$ticks")
check_device 0 >"$work/check-one.log" || { cat "$work/check-one.log"; fail "one device did not verify"; }

for i in $(seq 0 $((count - 1))); do start_device "$i"; done
start=$(now) ticks=$(cpu_ticks)
# The exit status is not 0 here: the gadgets' own ends ("f_midi") are listed on this same
# machine as pairs too, and q9m-devsim holds them, so --all cannot open them. The summary must
# show every USB device completed.
/usr/bin/time -f "%U s user, %S s system" -o "$work/all.time" \
  "$build/app/q9m-update-cli" --all --timeout 900 >"$work/all.log" 2>&1 || true
all=$(echo "$(now) - $start" | bc -l) all_busy=$(busy_since "$ticks")
[ "$(grep -cE "^[0-9A-F]{8} +USB Audio Device( \([0-9]+\))? +completed" "$work/all.log")" = "$count" ] ||
  { cat "$work/all.log"; fail "--all did not complete all $count USB devices"; }
for i in $(seq 0 $((count - 1))); do
  check_device "$i" >"$work/check-$i.log" || { cat "$work/check-$i.log"; fail "device $i did not verify"; }
done
tail -n $((count + 2)) "$work/all.log"
printf '1 device: %.1f s, VM CPUs %d %% busy (the updater: %s)\n' "$one" "$one_busy" "$(tail -1 "$work/one.time")"
printf '%d devices by --all: %.1f s, VM CPUs %d %% busy (the updater: %s); ratio %.3f\n' "$count" \
  "$all" "$all_busy" "$(tail -1 "$work/all.time")" \
  "$(echo "$all / $one" | bc -l)"
