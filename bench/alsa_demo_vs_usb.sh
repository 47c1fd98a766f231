#!/usr/bin/env bash
# The README's first command on a machine with the ALSA sequencer, next to an update over an
# emulated USB MIDI device. Boots the test VM (tests/alsa_vm/run-in-vm.sh; as root) and inside
# it, one after the other:
#   1. the dialog (offscreen, pressing Execute itself) updating q9m-devsim on the emulated USB
#      device's own end: the update's wall time;
#   2. with that device unplugged, dev/demo as the README says (Xvfb, q9m-devsim on the
#      sequencer, the dialog), using BUILD_DIR as it is: the whole script's wall time, the
#      update's own (as dev/demo reports it), and the input errors in q9m-devsim's log.
# Prints both figures and their ratios; fails when an update does not complete and verify.
# usage: bench/alsa_demo_vs_usb.sh BUILD_DIR   (a Release build, e.g. build/bench)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [ "${Q9M_VM:-0}" != 1 ]; then
  build=$(cd "${1:?usage: bench/alsa_demo_vs_usb.sh BUILD_DIR}" && pwd)
  exec "$here/../tests/alsa_vm/run-in-vm.sh" --devices 1 --timeout 900 -- "$here/alsa_demo_vs_usb.sh" "$build"
fi
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export Q9M_ALLOW_STAND_IN_IMAGES=1
now() { date +%s.%N; }
fail() {
  echo "alsa_demo_vs_usb: $*" >&2
  exit 1
}

# 1. Over the emulated USB device.
"$build/devsim/q9m-devsim" --raw q9mdev0 --exit-after-end --timeout 900 >"$work/devsim-usb.log" 2>&1 &
devsim=$!
for _ in $(seq 100); do grep -q "on raw MIDI device" "$work/devsim-usb.log" && break; sleep 0.1; done
start=$(now)
Q9M_UPDATER_AUTORUN=1 "$build/app/q9m-updater" >"$work/dialog-usb.log" 2>&1 ||
  { cat "$work/dialog-usb.log" "$work/devsim-usb.log" >&2; fail "the update over USB failed"; }
usb=$(echo "$(now) - $start" | bc -l)
wait "$devsim" || { cat "$work/devsim-usb.log" >&2; fail "the USB device did not verify its update"; }

# 2. dev/demo over the sequencer, with the USB device gone (its name is the simulated one's).
"$Q9M_VM_GADGET" unplug 0
start=$(now)
env -u DISPLAY -u QT_QPA_PLATFORM Q9M_DEMO_BUILD="$build" "$here/../dev/demo" >"$work/demo.log" 2>&1 ||
  { cat "$work/demo.log" >&2; fail "dev/demo failed"; }
demo=$(echo "$(now) - $start" | bc -l)
update=$(sed -n 's/^Outcome: update completed in \([0-9]*\) s.*/\1/p' "$work/demo.log")
errors=$(sed -n 's/.*sequencer input: .* events, \([0-9]*\) input errors/\1/p' "$build/devsim.log")
[ -n "$update" ] && [ -n "$errors" ] || { cat "$work/demo.log" >&2; fail "dev/demo's report is incomplete"; }

printf 'update over the emulated USB device (dialog): %.1f s\n' "$usb"
printf 'dev/demo over the sequencer, whole script:   %.1f s (%.2f x the USB update)\n' "$demo" \
  "$(echo "$demo / $usb" | bc -l)"
printf 'dev/demo over the sequencer, the update:     %d s (%.2f x the USB update)\n' "$update" \
  "$(echo "$update / $usb" | bc -l)"
echo "q9m-devsim's sequencer input errors: $errors"
