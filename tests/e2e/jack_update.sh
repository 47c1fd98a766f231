#!/usr/bin/env bash
# A complete update over real MIDI ports: a private JACK server, the simulated device
# q9m-devsim on it, and the updater's console front end with the real input port, output
# port and 1 ms timer. Passes when the updater reports completion and the device verified its
# flash. Usage: jack_update.sh DEVSIM UPDATER WORKDIR [DEVSIM OPTIONS...]
set -euo pipefail
devsim=$1 updater=$2 work=$3
shift 3
mkdir -p "$work"
source "$(dirname "${BASH_SOURCE[0]}")/private_jack.sh"

start_devsim "$devsim" "$work/devsim.log" --exit-after-end --timeout 600 \
  --json "$work/report.json" "$@"

updater_status=0
"$updater" --timeout 600 >"$work/updater.log" 2>&1 || updater_status=$?
devsim_status=0
wait "$devsim_pid" || devsim_status=$?
cat "$work/updater.log"
cat "$work/devsim.log"
if [ $updater_status -ne 0 ] || [ $devsim_status -ne 0 ]; then
  echo "FAILED: updater exit status $updater_status, q9m-devsim exit status $devsim_status"
  exit 1
fi
grep -q "Version update completed." "$work/updater.log"
echo "Update completed over JACK and verified by the device."
