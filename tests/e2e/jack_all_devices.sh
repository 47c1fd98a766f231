#!/usr/bin/env bash
# q9m-update-cli --all over a private JACK server. First with no device: it must refuse with
# status 2. Then GOOD simulated devices ("Q9m n") and WRONG ones that answer with a code no
# Q9m has ("Other n"): every good device must complete and verify its flash, every wrong one
# must be skipped, named in the summary, and receive nothing after the identity request; the
# exit status is 0 when there is no wrong device, else 1. Prints the wall time of the run.
# Usage: jack_all_devices.sh DEVSIM UPDATER WORKDIR GOOD [WRONG]
set -euo pipefail
devsim=$1 updater=$2 work=$3 good=$4 wrong=${5:-0}
mkdir -p "$work"
rm -f "$work"/devsim-* "$work"/report-* "$work"/updater.*
# As for copies side by side: periods of 10.7 ms ride out this machine's scheduler stalls.
jack_period=512
source "$(dirname "${BASH_SOURCE[0]}")/private_jack.sh"

status=0
"$updater" --all --json >"$work/updater.none" 2>&1 || status=$?
[ $status -eq 2 ] || fail "--all with no device: exit status $status, not 2"
grep -q '"event":"error".*no MIDI OUT and MIDI IN ports of one name' "$work/updater.none" ||
  fail "--all with no device did not say why: $(cat "$work/updater.none")"

good_pids=()
for n in $(seq "$good"); do
  start_devsim "$devsim" "$work/devsim-good-$n.log" --exit-after-end --timeout 900 \
    --port "Q9m $n" --client-suffix "-good-$n" --json "$work/report-good-$n.json"
  good_pids+=("$devsim_pid")
done
wrong_pids=()
for n in $(seq "$wrong"); do
  start_devsim "$devsim" "$work/devsim-wrong-$n.log" --timeout 900 --code 4C000000 \
    --port "Other $n" --client-suffix "-wrong-$n" --json "$work/report-wrong-$n.json"
  wrong_pids+=("$devsim_pid")
done

start=$(date +%s.%N)
status=0
/usr/bin/time -f "%e s wall, %U s user, %S s system" -o "$work/updater.time" \
  "$updater" --all --timeout 900 >"$work/updater.out" 2>"$work/updater.err" || status=$?
end=$(date +%s.%N)
cat "$work/updater.out" "$work/updater.err"

failed=0
expected=0
[ "$wrong" -eq 0 ] || expected=1
[ $status -eq $expected ] || { echo "exit status $status, not $expected"; failed=1; }
for n in $(seq "$good"); do
  wait "${good_pids[$((n - 1))]}" || { echo "device 'Q9m $n' did not verify a complete update"; failed=1; }
  grep -Eq "Q9m $n +completed" "$work/updater.out" || { echo "'Q9m $n' not completed in the summary"; failed=1; }
done
for pid in "${wrong_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
for n in $(seq "$wrong"); do
  wait "${wrong_pids[$((n - 1))]}" || true
  grep -Eq "^4C000000 +Other $n +skipped .*identifying the device" "$work/updater.out" ||
    { echo "'Other $n' not named as skipped in the summary"; failed=1; }
  grep -q '"beginUpdates": 0, "erases": 0, "writeBlocks": 0' "$work/report-wrong-$n.json" ||
    { echo "'Other $n' received more than the identity request:"; cat "$work/report-wrong-$n.json"; failed=1; }
done
if [ $failed -ne 0 ]; then
  for f in "$work"/devsim-*.log; do echo "--- $f"; cat "$f"; done
  fail "--all with $good good and $wrong wrong devices"
fi
echo "all $good devices: $(echo "$end - $start" | bc) s wall ($(tail -1 "$work/updater.time"))"
echo "--all updated $good devices and skipped $wrong; exit status $status."
