#!/usr/bin/env bash
# Copies coming and going while they update, as on a busy bench: a private JACK server, one
# q9m-devsim per instance number, COUNT copies of q9m-updater (offscreen, each pressing
# Execute itself), a refused copy COUNT + 1, one copy killed outright and another started in
# its place (it must take the freed number), then SIGTERM to every copy in the middle of its
# update. Each SIGTERMed copy must end as Exit does: status 0 or, under the automation, 1 for
# an update that did not complete; never by a signal, never with a sanitizer report. Run it on
# a sanitizer build (with LSAN_OPTIONS and ASAN_OPTIONS as dev/test sets them) ROUNDS times.
# Usage: jack_churn.sh DEVSIM UPDATER WORKDIR [ROUNDS] [COUNT]
set -euo pipefail
devsim=$1 updater=$2 rounds=${4:-1} count=${5:-20}
work=$(mkdir -p "$3" && cd "$3" && pwd)
mkdir -p "$work/runtime"
chmod 700 "$work/runtime"
source "$(dirname "${BASH_SOURCE[0]}")/private_jack.sh"
export XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen Q9M_UPDATER_AUTORUN=1
export Q9M_ALLOW_STAND_IN_IMAGES=1  # the devices are simulated
port_name() { if [ "$1" -eq 1 ]; then echo "USB Audio Device"; else echo "USB Audio Device ($1)"; fi; }

failed=0
# check NAME STATUS LOG...: a copy's end must be a normal one, without a sanitizer report.
check() {
  local name=$1 status=$2
  shift 2
  if [ "$status" -ge 128 ] || [ "$status" -gt 1 ] || grep -qE "Sanitizer|runtime error" "$@"; then
    echo "round $round: $name ended with status $status"
    grep -hE -A30 "Sanitizer|runtime error" "$@" | head -60 || true
    failed=1
  fi
}

for round in $(seq "$rounds"); do
  dir="$work/round-$round"
  mkdir -p "$dir"
  devsims=()
  for n in $(seq "$count"); do
    start_devsim "$devsim" "$dir/devsim-$n.log" --timeout 600 --port "$(port_name "$n")" \
      --client-suffix "-$round-$n"
    devsims+=("$devsim_pid")
  done

  copies=()
  for n in $(seq "$count"); do
    "$updater" >"$dir/updater-$n.log" 2>"$dir/updater-$n.err" &
    copies+=($!)
    pids+=($!)
  done
  # Every copy holds its number and shows its window before the next steps.
  for _ in $(seq 600); do
    [ "$(cat "$dir"/updater-*.log | grep -c '^Window: ')" -ge "$count" ] && break
    sleep 0.1
  done

  # One copy too many: refused, without a window.
  status=0
  "$updater" >"$dir/refused.log" 2>"$dir/refused.err" || status=$?
  grep -q "It is forbidden to launch more than $count instance" "$dir/refused.log" ||
    { echo "round $round: copy $((count + 1)) was not refused"; failed=1; }
  [ "$status" -eq 1 ] || { echo "round $round: refused copy ended with status $status"; failed=1; }

  # One copy killed outright mid-update; the next copy takes its number.
  victim=$((RANDOM % count))
  # The copies started together, so the number each took is in its own first line.
  taken=$(sed -n 's/^Window: .* (\([0-9]*\))$/\1/p' "$dir/updater-$((victim + 1)).log")
  sleep "0.$((RANDOM % 10))"
  kill -9 "${copies[$victim]}"
  wait "${copies[$victim]}" 2>/dev/null || true
  "$updater" >"$dir/replacement.log" 2>"$dir/replacement.err" &
  copies[$victim]=$!
  pids+=($!)
  for _ in $(seq 300); do
    grep -q '^Window: ' "$dir/replacement.log" && break
    sleep 0.1
  done
  expected="Window: Vela Q9m System v2.00 Updater${taken:+ ($taken)}"
  grep -qx "$expected" "$dir/replacement.log" ||
    { echo "round $round: the replacement did not take the number ${taken:-1}"; failed=1; }

  # Everyone stops in the middle of the update.
  sleep "$((1 + RANDOM % 3)).$((RANDOM % 10))"
  for pid in "${copies[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for n in $(seq "$count"); do
    status=0
    wait "${copies[$((n - 1))]}" || status=$?
    log="$dir/updater-$n"
    [ $((n - 1)) -eq "$victim" ] && log="$dir/replacement"
    check "copy $n" "$status" "$log.log" "$log.err"
  done
  check "refused copy" 0 "$dir/refused.err"
  stop_processes "${devsims[@]}"
  echo "round $round: done"
done
[ $failed -eq 0 ] && echo "Every copy ended as Exit does, in all $rounds rounds." || { echo "FAILED"; exit 1; }
