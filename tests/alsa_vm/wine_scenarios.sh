#!/usr/bin/env bash
# Whole updates by the Windows build's q9m-update-cli.exe and its dialog q9m-updater.exe under
# wine, inside the ALSA test VM (one scenario per VM; wine_vm.sh prepares and starts it). Wine's
# MIDI driver reaches the ALSA sequencer, so the devices are q9m-devsim on an emulated USB
# device's own end, or q9m-devsim's own sequencer clients; each device verifies its flash.
#
# usage: wine_scenarios.sh SCENARIO LINUX_BUILD WINDOWS_BUILD WORK_DIR WINEPREFIX
#   usb         one emulated USB device (VM with --devices 1). Wine names it after its port,
#               "USB Audio Device MIDI 1" (its "client - port" would not fit 31 characters),
#               which no copy preselects: the CLI names it. Also: --list, and a port name longer
#               than 31 characters refused with a clear error; then the dialog, unattended, with
#               that port picked, updates the device
#   seq         q9m-devsim on the sequencer (--devices 0): its clients are named like their port,
#               so wine lists it as "USB Audio Device" and the CLI names no port; then the dialog,
#               unattended, updates it once more on the ports it preselected
#   two-copies  two emulated USB devices (--devices 2), two CLIs side by side, each with its own
#               device: "USB Audio Device MIDI 1" and "USB Audio Device MIDI 1 (2)", with both
#               VM CPUs kept busy besides: no reply may be lost (no block sent twice)
#   unplug      one emulated USB device unplugged mid-update: the CLI reports a time-out, exit 1
# LINUX_BUILD holds devsim/q9m-devsim, WINDOWS_BUILD app/q9m-update-cli.exe and
# app/q9m-updater.exe; WINEPREFIX is a prefix made outside the VM (wine_vm.sh does, with wine's
# null display driver for the dialog), since making one in the VM takes minutes.
set -euo pipefail
scenario=$1 linux=$2 windows=$3 work=$4 prefix=$5
[ "${Q9M_VM:-0}" = 1 ] || { echo "wine_scenarios.sh runs inside the test VM (tests/alsa_vm/wine_vm.sh)"; exit 2; }
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
devsim=$linux/devsim/q9m-devsim
cli=$windows/app/q9m-update-cli.exe
dialog=$windows/app/q9m-updater.exe
gadget=$Q9M_VM_GADGET
export Q9M_ALLOW_STAND_IN_IMAGES=1
rm -rf "$work"
mkdir -p "$work"

source "$here/../support/stop_started.sh"
# The wine server goes too, once the programs it served are gone.
trap 'stop_started; "$wineserver" -k 2>/dev/null || true' EXIT
source "$here/../support/await_line.sh"
source "$here/usb_devices.sh"

fail() {
  echo "FAILED: $*"
  exit 1
}

# Wine in the VM: its server's socket must be on a file system of the VM's own (the host's root
# comes over 9p, which holds no sockets). One server runs for the whole scenario, so that only
# the first program pays for wine's start (over a minute in this VM).
wine=/usr/lib/wine/wine64 wineserver=/usr/lib/wine/wineserver
[ -x "$wine" ] || wine=wine wineserver=wineserver
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
export TMPDIR=/dev/shm/wine-tmp
mkdir -p "$TMPDIR"
"$wineserver" -p

# snd-seq-midi copies each event for a card's port into a buffer of its own, 4 KiB by default,
# and cuts a longer event ("MIDI output buffer overrun"); wine's driver sends each long message
# as one event. So the 4,700-byte blocks need a larger buffer, read when the port opens. That
# is wine's way to the device, not Windows', whose drivers take any length.
echo 65536 >/sys/module/snd_seq_midi/parameters/output_buffer_size

# Wine 8.0's process exit in this VM: once a program has used winmm, wine often ends it with a
# segmentation fault (status 139) after its work is done, also a program of a few lines that
# only counts the ports. In the exit's DLL detach, a thread of wine's ALSA MIDI driver faults on
# its way back from a system call into code that is gone. Not the program's fault: the program's
# own crash would be a Windows exception, which wine reports ("Unhandled exception"). So each
# run reports in JSON, and after a 139 the exit status is the one that the program reported.
#
# run_cli NAME [ARGUMENTS...]: the CLI under wine with --json, its output in $work/NAME.log and
# shown; returns the CLI's exit status.
run_cli() {
  local name=$1 status=0 reported
  shift
  "$wine" "$cli" --json "$@" >"$work/$name.log" 2>&1 || status=$?
  grep -v "^ALSA lib" "$work/$name.log" || true # wine's audio probe: no sound card here
  reported=$(sed -n 's/.*"event":"done".*"exit_status":\([0-9]*\).*/\1/p' "$work/$name.log" | tail -1)
  if [ $status -eq 139 ] && ! grep -q "Unhandled" "$work/$name.log"; then
    if [ -n "$reported" ]; then
      status=$reported
    elif grep -q '"event":"ports"' "$work/$name.log"; then
      status=0 # --list reports no status: its list was complete
    fi
    echo "$name: wine's exit fault (status 139) after the program's end; taken: $status"
  fi
  echo "$name: exit status $status"
  return $status
}

# update_over NAME PORT [CLI ARGUMENTS...]: one whole update over PORT (both directions), or
# over the preselected ports when PORT is empty.
update_over() {
  local name=$1 port=$2
  shift 2
  local ports=()
  [ -z "$port" ] || ports=(--out "$port" --in "$port")
  run_cli "$name" "${ports[@]}" --timeout 900 "$@" || fail "$name did not complete"
  grep -q '"event":"done","result":"completed"' "$work/$name.log" ||
    fail "$name: the update did not complete"
}

# run_dialog NAME [ENVIRONMENT...]: the dialog under wine, unattended (Q9M_UPDATER_AUTORUN=1:
# it presses Execute, prints its boxes instead of showing them, prints the outcome and closes),
# its output in $work/NAME.log and shown; fails unless the update completed. A GUI program
# reports no JSON, so after wine's exit fault (139, above) the printed outcome is the status.
run_dialog() {
  local name=$1 status=0
  shift
  env Q9M_UPDATER_AUTORUN=1 "$@" "$wine" "$dialog" >"$work/$name.log" 2>&1 || status=$?
  sed -i 's/\r$//' "$work/$name.log" # its stdout is in the Windows text mode
  grep -v "^ALSA lib" "$work/$name.log" || true
  if [ $status -eq 139 ] && ! grep -q "Unhandled" "$work/$name.log"; then
    status=1
    grep -qx "Version update completed." "$work/$name.log" && status=0
    echo "$name: wine's exit fault (status 139) after the program's end; taken: $status"
  fi
  echo "$name: exit status $status"
  [ $status -eq 0 ] && grep -qx "Version update completed." "$work/$name.log" ||
    fail "$name: the update did not complete"
}

# q9m-devsim on its own sequencer clients, for one update; check_seq_device waits for its end
# and its verdict.
start_seq_device() {
  "$devsim" --exit-after-end --timeout 900 >"$work/devsim.log" 2>&1 &
  devsim_seq=$!
  pids+=("$devsim_seq")
  await_line "$work/devsim.log" "^q9m-devsim: device" "$devsim_seq" 60 "q9m-devsim's ports"
}
check_seq_device() {
  local status=0
  wait "$devsim_seq" || status=$?
  cat "$work/devsim.log"
  [ $status -eq 0 ] && grep -q "flash: matches the layout" "$work/devsim.log" ||
    fail "the device did not verify its update"
}

usb="USB Audio Device MIDI 1" # wine's name for the emulated device
started=$(date +%s)
# Wine's start, so that the times below are the updates'.
"$wine" "$cli" --version >"$work/version.log" 2>&1 || fail "q9m-update-cli.exe does not run under wine"
echo "wine started in $(($(date +%s) - started)) s"

case $scenario in
usb)
  start_device 0
  run_cli list --list || fail "--list failed"
  grep -qF "{\"name\":\"$usb\",\"default\":false}" "$work/list.log" || fail "\"$usb\" is not listed"
  status=0
  run_cli long-name --out "A port name longer than thirty-one characters" || status=$?
  [ $status -eq 2 ] && grep -q "no MIDI OUT port is named" "$work/long-name.log" ||
    fail "a port name of more than 31 characters was not refused clearly"
  # The whole update by the dialog: the CLI's over a named USB port is two-copies'.
  begun=$(date +%s)
  run_dialog dialog Q9M_UPDATER_AUTORUN_PORT="$usb"
  echo "the dialog's update took $(($(date +%s) - begun)) s"
  check_device 0 || fail "the device did not verify the dialog's update"
  ;;
seq)
  start_seq_device
  begun=$(date +%s)
  update_over cli ""
  echo "the update took $(($(date +%s) - begun)) s"
  check_seq_device
  start_seq_device
  begun=$(date +%s)
  run_dialog dialog
  echo "the dialog's update took $(($(date +%s) - begun)) s"
  check_seq_device
  ;;
two-copies)
  start_device 0
  start_device 1
  for _ in 1 2; do
    (while :; do :; done) &
    pids+=("$!")
  done
  begun=$(date +%s)
  (update_over copy-1 "$usb") >"$work/copy-1.out" 2>&1 &
  copy1=$!
  (update_over copy-2 "$usb (2)") >"$work/copy-2.out" 2>&1 &
  copy2=$!
  s1=0 s2=0
  wait $copy1 || s1=$?
  wait $copy2 || s2=$?
  cat "$work/copy-1.out" "$work/copy-2.out"
  echo "both copies ended $(($(date +%s) - begun)) s after they started"
  [ $s1 -eq 0 ] && [ $s2 -eq 0 ] || fail "copy 1 ended with $s1, copy 2 with $s2"
  checked=0
  check_device 0 || checked=1
  check_device 1 || checked=1
  [ $checked -eq 0 ] || fail "a device did not verify its update"
  ! grep -q "blocks: .* [1-9][0-9]* repeats" "$work"/devsim-*.log || fail "a block was sent twice"
  ;;
unplug)
  start_device 0
  "$wine" "$cli" --json --out "$usb" --in "$usb" --timeout 900 >"$work/cli.log" 2>&1 &
  cli_pid=$!
  pids+=("$cli_pid")
  card=$("$gadget" host-card 0)
  deadline=$((SECONDS + 300))
  until [ "$(counter "/proc/asound/card$card/midi0" Tx)" -gt 1000000 ]; do
    kill -0 "$cli_pid" 2>/dev/null || { cat "$work/cli.log"; fail "the CLI ended before the unplug"; }
    [ $SECONDS -lt $deadline ] || fail "no megabyte sent within 300 s"
    sleep 0.2
  done
  "$gadget" unplug 0
  unplugged=$(date +%s)
  wait $cli_pid || true
  grep -v "^ALSA lib" "$work/cli.log" || true
  echo "the CLI ended $(($(date +%s) - unplugged)) s after the unplug"
  grep -q '"event":"done","result":"failed","exit_status":1' "$work/cli.log" ||
    fail "expected the result failed, exit status 1"
  grep -q "Time out error(2)" "$work/cli.log" || fail "expected \"Time out error(2)\""
  ;;
*) fail "unknown scenario $scenario" ;;
esac
echo "PASSED: $scenario ($(($(date +%s) - started)) s in all)"
