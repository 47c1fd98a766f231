# Sourced by the end-to-end scripts: starts a private JACK server (dummy driver, period 256)
# whose log goes to $work/jackd.log, and on exit stops every process whose id is in `pids`
# (politely first; what still runs after 5 s is killed).
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
cleanup() { stop_processes "${pids[@]}"; }
trap cleanup EXIT

jackd -n "$JACK_DEFAULT_SERVER" -d dummy -p 256 >"$work/jackd.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  jack_lsp >/dev/null 2>&1 && break
  sleep 0.1
done
