#!/usr/bin/env bash
# The demo on a machine with the ALSA sequencer, run inside the test VM by run-in-vm.sh (one
# scenario per VM, without emulated USB devices: q9m-devsim's own clients are the only
# "USB Audio Device" there). q9m-devsim serves on the sequencer through alsa-lib.
#
# usage: demo_scenarios.sh SCENARIO BUILD_DIR WORK_DIR
#   demo     dev/demo as the README says (no display: it starts Xvfb itself), with BUILD_DIR
#            as its build: the update completes, the device verifies it, and the device's
#            sequencer input saw no error
#   loaded   q9m-devsim on the sequencer and the dialog (offscreen), with both CPUs kept busy
#            by two spinning shells: the update still completes and verifies
set -euo pipefail
scenario=$1 build=$2 work=$3
[ "${Q9M_VM:-0}" = 1 ] || { echo "demo_scenarios.sh runs inside the test VM (tests/alsa_vm/run-in-vm.sh)"; exit 2; }
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export Q9M_ALLOW_STAND_IN_IMAGES=1
rm -rf "$work"
mkdir -p "$work"

source "$root/tests/support/stop_started.sh"
source "$root/tests/support/await_line.sh"

fail() {
  echo "FAILED: $*"
  exit 1
}

# check_device_log LOG: a verified update whose sequencer input saw no error.
check_device_log() {
  grep -q "update: started, EndUpdate received, completed" "$1" || fail "no complete update in $1"
  grep -q "flash: matches the layout" "$1" || fail "the flash does not match in $1"
  grep -q "on ALSA sequencer" "$1" || fail "q9m-devsim was not on the sequencer"
  grep -q "sequencer input: .* 0 input errors" "$1" || fail "input errors in $1"
  ! grep -q "input error:" "$1" || fail "input errors in $1"
}

case $scenario in
demo)
  [ -e /dev/snd/seq ] || fail "no ALSA sequencer in the VM"
  started=$(date +%s)
  status=0
  # As a user's shell would have it: no display, and Qt on its default platform (xcb).
  env -u DISPLAY -u QT_QPA_PLATFORM Q9M_DEMO_BUILD="$build" "$root/dev/demo" \
    >"$work/demo.log" 2>&1 || status=$?
  cat "$work/demo.log"
  echo "dev/demo ended with status $status after $(($(date +%s) - started)) s"
  [ $status -eq 0 ] || fail "dev/demo did not complete"
  grep -q "^Outcome: update completed in .* the simulated device verified its flash." \
    "$work/demo.log" || fail "dev/demo did not report a verified update"
  grep -q "^Version update completed." "$work/demo.log" || fail "no \"Version update completed.\""
  check_device_log "$build/devsim.log"
  ;;
loaded)
  for _ in 1 2; do
    (while :; do :; done) &
    pids+=("$!")
  done
  "$build/devsim/q9m-devsim" --exit-after-end --timeout 900 >"$work/devsim.log" 2>&1 &
  devsim=$!
  pids+=("$devsim")
  await_line "$work/devsim.log" "^q9m-devsim: device" "$devsim" 60 "q9m-devsim's ports"
  started=$(date +%s)
  status=0
  Q9M_UPDATER_AUTORUN=1 "$build/app/q9m-updater" >"$work/dialog.log" 2>&1 || status=$?
  cat "$work/dialog.log"
  echo "the dialog ended with status $status after $(($(date +%s) - started)) s, both CPUs busy"
  [ $status -eq 0 ] || fail "the dialog did not complete the update"
  wait "$devsim" || { cat "$work/devsim.log"; fail "the device did not verify its update"; }
  cat "$work/devsim.log"
  check_device_log "$work/devsim.log"
  ;;
*) fail "unknown scenario $scenario" ;;
esac
echo "PASSED: $scenario"
