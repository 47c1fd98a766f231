#!/usr/bin/env bash
# What only the kernel shows of the ALSA backend, run inside the test VM by run-in-vm.sh with
# three emulated devices: each step runs one test of alsa_vm_fault_test.
#   a port opened by the index it was listed at after another device went away, and after it
#   went away itself; the sequencer ports with another program subscribed to the device; the
#   sequencer refused where /proc/asound is hidden; the close after an unplug mid-message.
#
# usage: fault_scenarios.sh BUILD_DIR WORK_DIR
set -euo pipefail
build=$1 work=$2
[ "${Q9M_VM:-0}" = 1 ] || { echo "fault_scenarios.sh runs inside the test VM (tests/alsa_vm/run-in-vm.sh)"; exit 2; }
[ "${Q9M_VM_DEVICES:-0}" -ge 3 ] || { echo "needs --devices 3"; exit 2; }
test=$build/tests/alsa_vm/alsa_vm_fault_test
rm -rf "$work"
mkdir -p "$work"
status=0

step() {
  local filter=$1
  shift
  echo "--- $filter"
  "$@" "$test" --gtest_filter="*.$filter" --gtest_brief=1 || status=1
}

step ThePortListedIsOpenedAfterAnotherDeviceWentAwayAndAGoneOneIsRefused
step NoOtherProgramGetsOrInjectsEventsThroughTheSequencerPorts
# As in a container that masks it, or a kernel built without it.
step ASequencerPortWhoseBufferCannotBeSeenIsRefused \
  unshare --mount --propagation private sh -c 'mount -t tmpfs none /proc/asound && exec "$@"' sh

step ClosingAfterAnUnplugMidMessageDoesNotWaitForTheKernelsDrain

[ $status -eq 0 ] && echo "PASSED: fault scenarios" || echo "FAILED: fault scenarios"
exit $status
