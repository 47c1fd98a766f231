#!/usr/bin/env bash
# Whole updates over ALSA to emulated USB MIDI devices, run inside the test VM by run-in-vm.sh
# (one scenario per VM). q9m-devsim serves on each device's own end (its gadget card's raw MIDI
# device) and verifies the flash; the updater names no port: it finds "USB Audio Device" itself.
#
# usage: scenarios.sh SCENARIO BUILD_DIR WORK_DIR
#   cli         one device, q9m-update-cli --wait started before the host sees the device: it
#               must learn of the card's port from the sequencer's announcements
#   dialog      one device, q9m-updater (offscreen, pressing Execute itself)
#   two-copies  two identical devices, copies 1 and 2 of q9m-updater side by side
#   slow-intake one device that takes in its first SLOW_BYTES bytes at 8,000 bytes/s
#   unplug      one device unplugged mid-update: q9m-update-cli reports the error and ends;
#               plugged in again, the dialog's Rescan Device lists it under the same name, and
#               the dialog updates it
#
# The emulated USB link may rarely lose a byte (about one in 8.5 MB measured): the device then
# sees one cut message, and the host's resend recovers. That is told apart from a host's fault
# by the kernel's byte counters: the host side's card sent more than the device side received.
set -euo pipefail
scenario=$1 build=$2 work=$3
[ "${Q9M_VM:-0}" = 1 ] || { echo "scenarios.sh runs inside the test VM (tests/alsa_vm/run-in-vm.sh)"; exit 2; }
devsim=$build/devsim/q9m-devsim
cli=$build/app/q9m-update-cli
dialog=$build/app/q9m-updater
gadget=$Q9M_VM_GADGET
export Q9M_ALLOW_STAND_IN_IMAGES=1
# The slow device's slow part: its first 40 or so blocks (a whole update at 8,000 bytes/s would
# take over 17 minutes).
SLOW_BYTES=200000
rm -rf "$work"
mkdir -p "$work"

source "$(dirname "${BASH_SOURCE[0]}")/../support/stop_started.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../support/await_line.sh"
source "$(dirname "${BASH_SOURCE[0]}")/usb_devices.sh"

fail() {
  echo "FAILED: $*"
  exit 1
}

run_cli() {
  local status=0
  "$cli" --timeout 600 >"$work/cli.log" 2>&1 || status=$?
  cat "$work/cli.log"
  return $status
}

run_dialog() {
  local name=$1 status=0
  Q9M_UPDATER_AUTORUN=1 "$dialog" >"$work/$name.log" 2>&1 || status=$?
  cat "$work/$name.log"
  return $status
}

# One device, one host; the host is "cli" or "dialog".
single_update() {
  local host=$1
  shift
  start_device 0 "$@"
  if [ "$host" = cli ]; then run_cli; else run_dialog dialog; fi || fail "the updater did not complete"
  grep -q "Version update completed." "$work/$host.log" || fail "no \"Version update completed.\""
  check_device 0 || fail "the device did not verify its update"
}

case $scenario in
cli)
  # The device's end is served before the host takes the device into use, so that the first
  # message that the host sends finds it.
  "$gadget" disconnect 0
  start_device 0
  "$cli" --wait 120 --timeout 600 >"$work/cli.log" 2>&1 &
  cli_pid=$!
  pids+=("$cli_pid")
  await_line "$work/cli.log" "^Waiting for" "$cli_pid" 60 "q9m-update-cli waiting"
  # It waits on the sequencer's announcements, not by listing again now and then.
  grep -A2 '"announcements"' /proc/asound/seq/clients | grep -q "Connected From: 0:1" || {
    cat /proc/asound/seq/clients
    fail "q9m-update-cli's port watch is not subscribed to System:Announce"
  }
  "$gadget" connect 0
  status=0
  wait "$cli_pid" || status=$?
  cat "$work/cli.log"
  [ $status -eq 0 ] || fail "q9m-update-cli --wait ended with status $status"
  grep -q "^Updating through MIDI OUT \"USB Audio Device\"" "$work/cli.log" ||
    fail "q9m-update-cli did not take the device that came"
  grep -q "Version update completed." "$work/cli.log" || fail "no \"Version update completed.\""
  check_device 0 || fail "the device did not verify its update"
  ;;
dialog) single_update dialog ;;
slow-intake) single_update cli --intake-rate "8000:$SLOW_BYTES" ;;
two-copies)
  start_device 0
  start_device 1
  Q9M_UPDATER_AUTORUN=1 "$dialog" >"$work/copy-1.log" 2>&1 &
  copy1=$!
  # Copy 2 takes the next instance number once copy 1 holds the first.
  for _ in $(seq 100); do grep -q "^Window: " "$work/copy-1.log" && break; sleep 0.1; done
  Q9M_UPDATER_AUTORUN=1 "$dialog" >"$work/copy-2.log" 2>&1 &
  copy2=$!
  # Which process holds which raw MIDI device, once both are writing blocks.
  (sleep 15 && grep -H . /proc/asound/card*/midi0 >"$work/owners") &
  s1=0 s2=0
  wait $copy1 || s1=$?
  wait $copy2 || s2=$?
  cat "$work/copy-1.log" "$work/copy-2.log"
  echo "copy 1: pid $copy1, copy 2: pid $copy2; raw MIDI owners after 15 s:"
  cat "$work/owners" 2>/dev/null || true
  [ $s1 -eq 0 ] && [ $s2 -eq 0 ] || fail "copy 1 ended with $s1, copy 2 with $s2"
  checked=0
  check_device 0 || checked=1
  check_device 1 || checked=1
  [ $checked -eq 0 ] || fail "a device did not verify its update"
  ;;
unplug)
  start_device 0
  "$cli" --timeout 600 >"$work/cli.log" 2>&1 &
  cli_pid=$!
  pids+=("$cli_pid")
  # Unplugged once a megabyte has gone out: in the middle of writing the first image.
  card=$("$gadget" host-card 0)
  deadline=$((SECONDS + 120))
  until [ "$(counter "/proc/asound/card$card/midi0" Tx)" -gt 1000000 ]; do
    kill -0 "$cli_pid" 2>/dev/null || { cat "$work/cli.log"; fail "q9m-update-cli ended before the unplug"; }
    [ $SECONDS -lt $deadline ] || fail "no megabyte sent within 120 s"
    sleep 0.2
  done
  "$gadget" unplug 0
  unplugged=$(date +%s)
  status=0
  wait $cli_pid || status=$?
  took=$(($(date +%s) - unplugged))
  cat "$work/cli.log"
  echo "q9m-update-cli ended with status $status, $took s after the unplug"
  [ $status -eq 1 ] || fail "expected exit status 1 (update failed)"
  grep -q "Time out error(2)" "$work/cli.log" || fail "expected \"Time out error(2)\""
  # 32 sends of a block, each waiting 1,000 ms and 100 ms more before the next: 35 s, and
  # more in this slow VM.
  [ $took -le 60 ] || fail "took $took s to give up"
  wait "${devsim_pid[0]}" || true
  grep -q "went away" "$work/devsim-0.log" || fail "q9m-devsim did not see its device go"

  # The dialog, opened while the device is away, lists it again after Rescan Device.
  Q9M_UPDATER_AUTORUN=1 Q9M_UPDATER_AUTORUN_RESCAN_WHEN="$work/plugged-in" "$dialog" \
    >"$work/dialog.log" 2>&1 &
  dialog_pid=$!
  pids+=("$dialog_pid")
  await_line "$work/dialog.log" "^Ports:" "$dialog_pid" 30 "the dialog's port lists"
  "$gadget" plug 0
  start_device 0
  touch "$work/plugged-in"
  status=0
  wait "$dialog_pid" || status=$?
  cat "$work/dialog.log"
  grep "^Ports:" "$work/dialog.log" | grep -q "'USB Audio Device'" &&
    fail "the device was listed before it was plugged in again"
  grep -q "^Rescanned. Ports: MIDI Out 'USB Audio Device' .* MIDI In 'USB Audio Device'" \
    "$work/dialog.log" || fail "Rescan Device did not list the device under its name"
  [ $status -eq 0 ] && grep -q "Version update completed." "$work/dialog.log" ||
    fail "the dialog did not update the device plugged in again"
  check_device 0 || fail "the device did not verify its update"
  ;;
*) fail "unknown scenario $scenario" ;;
esac
echo "PASSED: $scenario"
