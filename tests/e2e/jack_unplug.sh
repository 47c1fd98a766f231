#!/usr/bin/env bash
# A device that goes away mid-update and comes back, over a private JACK server: q9m-devsim is
# killed while q9m-update-cli writes an image; the CLI must report "Time out error(2)"
# and end with status 1 within the 32 block sends' time-outs. Then the same happens under the
# dialog, whose window must stay usable: once the device is back, Rescan Device lists it again
# and a second Execute in the same window updates it, and the window's close ends the program.
# Usage: jack_unplug.sh DEVSIM CLI UPDATER WORKDIR
set -euo pipefail
devsim=$1 cli=$2 updater=$3 work=$4
rm -rf "$work"
mkdir -p "$work/runtime"
chmod 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime"
source "$(dirname "${BASH_SOURCE[0]}")/private_jack.sh"

start_devsim "$devsim" "$work/devsim-1.log" --exit-after-end --timeout 600
"$cli" --timeout 600 >"$work/cli.log" 2>&1 &
cli_pid=$!
pids+=($cli_pid)
# Image 136 fills most of the flash (6.3 MB) and takes tens of seconds, so the device is lost
# in the middle of a write. A smaller image can end within the progress line's interval, and
# the loss then falls on the next erase, which reports "Time out error(3)" instead.
await_line "$work/cli.log" "writing image 136" "$cli_pid" 120 "q9m-update-cli writing image 136"
kill -9 "$devsim_pid"
gone=$SECONDS
status=0
wait "$cli_pid" || status=$?
took=$((SECONDS - gone))
cat "$work/cli.log"
echo "q9m-update-cli ended with status $status, $took s after the device went away"
[ $status -eq 1 ] || fail "expected exit status 1 (update failed)"
grep -q "Time out error(2)" "$work/cli.log" || fail "expected \"Time out error(2)\""
# 32 sends of a block, each waiting 1,000 ms, with 100 ms between them: about 35 s.
[ $took -le 60 ] || fail "took $took s to give up"

start_devsim "$devsim" "$work/devsim-2.log" --exit-after-end --timeout 600
QT_QPA_PLATFORM=offscreen Q9M_UPDATER_AUTORUN=1 \
  Q9M_UPDATER_AUTORUN_AGAIN_WHEN="$work/back" "$updater" >"$work/dialog.log" 2>&1 &
dialog_pid=$!
pids+=($dialog_pid)
# The erases are done within a second or two; by then the dialog writes the first image.
sleep 4
kill -9 "$devsim_pid"
# After a failed run, autorun prints the port lists and waits for the device to come back.
await_line "$work/dialog.log" "^Ports:" "$dialog_pid" 90 "the dialog reporting the failure"
start_devsim "$devsim" "$work/devsim-3.log" --exit-after-end --timeout 600
touch "$work/back"
# Once the second run has ended the window closes, and its close must end the program at once.
await_line "$work/dialog.log" "Version update completed." "$dialog_pid" 120 "the second run"
await_end 100 "$dialog_pid"
any_running "$dialog_pid" && { cat "$work/dialog.log"; fail "the program did not end within 10 s of its last run"; }
status=0
wait "$dialog_pid" || status=$?
cat "$work/dialog.log"
grep -q "^Time out error" "$work/dialog.log" || fail "the dialog did not report the device's loss"
grep -q "^Rescanned. Ports: MIDI Out 'USB Audio Device' .* MIDI In 'USB Audio Device'" \
  "$work/dialog.log" || fail "Rescan Device did not list the device under its name"
[ $status -eq 0 ] && grep -q "Version update completed." "$work/dialog.log" ||
  fail "the same window did not update the device that came back"
wait "$devsim_pid" || fail "the device did not verify its update: $(cat "$work/devsim-3.log")"
echo "PASSED: the device's loss was reported, and the same window updated it once back"
