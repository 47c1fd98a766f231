# Sourced by the end-to-end scripts: starts a private JACK server (dummy driver, period
# $jack_period frames, 256 unless the script set it)
# whose log goes to $work/jackd.log, and on exit stops every process whose id is in `pids`
# (politely first; what still runs after 5 s is killed); a failing script ends with a summary
# of the server's log.
export JACK_DEFAULT_SERVER="q9m-e2e-$$"
export JACK_NO_AUDIO_RESERVATION=1

pids=()
# any_running PID...: true while one of them still runs.
any_running() {
  local pid
  for pid in "$@"; do kill -0 "$pid" 2>/dev/null && return 0; done
  return 1
}
# await_end TENTHS PID...: waits up to TENTHS tenths of a second for all of them to end.
await_end() {
  local tenths=$1
  shift
  for _ in $(seq "$tenths"); do
    any_running "$@" || return 0
    sleep 0.1
  done
}
# stop_processes PID...: SIGTERM, then SIGKILL for any that has not ended within 5 s.
stop_processes() {
  local pid
  for pid in "$@"; do kill "$pid" 2>/dev/null || true; done
  await_end 50 "$@"
  for pid in "$@"; do kill -9 "$pid" 2>/dev/null || true; done
  for pid in "$@"; do wait "$pid" 2>/dev/null || true; done
}
# jackd_log_summary: the server's log, each distinct line once, in order, with its count: a
# client that stops answering repeats one line every period.
jackd_log_summary() {
  echo "--- jackd log (count, line)"
  awk 'NF { if (!seen[$0]++) order[++n] = $0 } END { for (i = 1; i <= n; i++) print seen[order[i]], order[i] }' \
    "$work/jackd.log"
}
# On a failure, the server's side of it too.
cleanup() {
  local status=$?
  stop_processes "${pids[@]}"
  if [ "$status" -ne 0 ]; then jackd_log_summary; fi
}
trap cleanup EXIT

source "$(dirname "${BASH_SOURCE[0]}")/../support/await_line.sh"
# fail MESSAGE: ends the script as failed; await_line calls it.
fail() {
  echo "FAILED: $*"
  exit 1
}

# start_devsim DEVSIM LOG ARGS...: starts q9m-devsim with ARGS, its output to LOG, and returns
# once its ports are open, with its id in devsim_pid. Devices start one after the other, and
# nothing polls the server meanwhile: a client that closes while a device opens its two
# clients can leave one of them never run by jackd (see q9m-devsim's JackProbe).
start_devsim() {
  local program=$1 log=$2
  shift 2
  "$program" "$@" >"$log" 2>&1 &
  devsim_pid=$!
  pids+=($devsim_pid)
  await_line "$log" "listening on" "$devsim_pid" 30 "q9m-devsim opening its ports"
}

# await_progress JSONL PID: waits up to 30 s until q9m-update-cli --json (PID) has written its
# first progress event into JSONL, which it does a second into the rows, or has ended.
await_progress() {
  local jsonl=$1 pid=$2
  for _ in $(seq 300); do
    grep -q '"event":"progress"' "$jsonl" 2>/dev/null && return 0
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
}

jackd -n "$JACK_DEFAULT_SERVER" -d dummy -p "${jack_period:-256}" >"$work/jackd.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  jack_lsp >/dev/null 2>&1 && break
  sleep 0.1
done
