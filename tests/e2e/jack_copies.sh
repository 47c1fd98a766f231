#!/usr/bin/env bash
# Several copies of the updater side by side, as a user runs them: a private JACK server, one
# q9m-devsim per copy with the port names that copy n preselects ("USB Audio Device" for 1,
# "USB Audio Device (n)" from 2 on), and COUNT copies of q9m-updater started at the same moment,
# offscreen, each pressing Execute itself. Passes when every copy reports completion and every
# device verified its flash. Prints each copy's wall time and peak resident memory, and the wall
# time of the whole run.
# Usage: jack_copies.sh DEVSIM UPDATER WORKDIR COUNT
set -euo pipefail
devsim=$1 updater=$2 work=$3 count=$4
mkdir -p "$work"
rm -f "$work"/devsim-* "$work"/updater-* "$work"/time-* "$work"/memory-* "$work"/report-*
mkdir -p "$work/runtime"
chmod 700 "$work/runtime"
# Periods of 512 frames (10.7 ms): while the copies start together, this 2-core machine's
# scheduler stalls for up to 9 ms were seen. At 256 frames such a stall makes clients miss a
# cycle, and JACK then loses the MIDI events of that cycle: an identity or erase reply, which
# the protocol does not ask for again. That is JACK's behaviour, not what this test is about.
jack_period=512
source "$(dirname "${BASH_SOURCE[0]}")/private_jack.sh"
# The instance numbers of these copies are theirs alone, apart from any copy the user runs.
export XDG_RUNTIME_DIR="$work/runtime"
port_name() { if [ "$1" -eq 1 ]; then echo "USB Audio Device"; else echo "USB Audio Device ($1)"; fi; }

devsim_pids=()
for n in $(seq "$count"); do
  start_devsim "$devsim" "$work/devsim-$n.log" --exit-after-end --timeout 900 \
    --port "$(port_name "$n")" --client-suffix "-$n" --json "$work/report-$n.json"
  devsim_pids+=("$devsim_pid")
done

start=$(date +%s.%N)
updater_pids=()
for n in $(seq "$count"); do
  QT_QPA_PLATFORM=offscreen Q9M_UPDATER_AUTORUN=1 \
    /usr/bin/time -f "%e %M" -o "$work/time-$n" "$updater" >"$work/updater-$n.log" 2>"$work/updater-$n.err" &
  updater_pids+=($!)
  pids+=($!)
done
# Peak memory of every copy, sampled twice a second: resident (which counts the JACK server's
# shared segment, mapped by every JACK client, in full), proportional (that segment shared out
# among its users) and private (the copy's own pages).
sample_memory() {
  local n pid rss pss private
  declare -A peak_rss peak_pss peak_private
  while :; do
    any_running "${updater_pids[@]}" || break
    for n in $(seq "$count"); do
      pid=$(cat "/proc/${updater_pids[$((n - 1))]}/task/${updater_pids[$((n - 1))]}/children" 2>/dev/null) || continue
      pid=${pid// /}
      [ -n "$pid" ] || continue
      read -r rss pss private < <(awk '/^Rss:/{r=$2} /^Pss:/{p=$2} /^Private_(Clean|Dirty):/{v+=$2} END{print r, p, v}' "/proc/$pid/smaps_rollup" 2>/dev/null) || continue
      [ -n "$rss" ] || continue
      (( rss > ${peak_rss[$n]:-0} )) && peak_rss[$n]=$rss
      (( pss > ${peak_pss[$n]:-0} )) && peak_pss[$n]=$pss
      (( private > ${peak_private[$n]:-0} )) && peak_private[$n]=$private
      echo "${peak_rss[$n]} ${peak_pss[$n]} ${peak_private[$n]}" >"$work/memory-$n"
    done
    sleep 0.5
  done
}
sample_memory &
sampler=$!
failed=0
for n in $(seq "$count"); do
  wait "${updater_pids[$((n - 1))]}" || { echo "copy started as $n: exit status $?"; failed=1; }
done
end=$(date +%s.%N)
wait "$sampler" || true
# A device whose copy gave up would wait for its own time-out: give the devices 15 s to
# finish their reports, then stop the rest (their status then counts as a failure).
await_end 150 "${devsim_pids[@]}"
for pid in "${devsim_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
for n in $(seq "$count"); do
  wait "${devsim_pids[$((n - 1))]}" || { echo "device $n (port '$(port_name "$n")') did not verify a complete update"; failed=1; }
done

for n in $(seq "$count"); do
  read -r seconds _ <"$work/time-$n" || true
  read -r rss pss private <"$work/memory-$n" || true
  echo "copy $n: $(head -1 "$work/updater-$n.log") / $(grep -m1 -E "Version update completed|error|Error|Can't" "$work/updater-$n.log" || echo "no outcome"): ${seconds:-?} s; peak KiB: resident ${rss:-?}, proportional ${pss:-?}, private ${private:-?}"
done
echo "all $count copies: $(echo "$end - $start" | bc) s wall"
if [ $failed -ne 0 ]; then
  for n in $(seq "$count"); do
    echo "--- copy $n"; cat "$work/updater-$n.log" "$work/updater-$n.err"
    echo "--- device $n"; cat "$work/devsim-$n.log"
  done
  echo "FAILED"
  exit 1
fi
# Every copy took a different number, so every title is different.
[ "$(cat "$work"/updater-*.log | grep -c '^Window: ' )" -eq "$count" ]
[ "$(cat "$work"/updater-*.log | grep '^Window: ' | sort -u | wc -l)" -eq "$count" ]
echo "All $count copies completed; every device verified its flash."
