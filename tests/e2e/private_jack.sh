# Sourced by the end-to-end scripts: starts a private JACK server (dummy driver, period 256)
# whose log goes to $work/jackd.log, and on exit stops every process whose id is in `pids`.
export JACK_DEFAULT_SERVER="q9m-e2e-$$"
export JACK_NO_AUDIO_RESERVATION=1

pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

jackd -n "$JACK_DEFAULT_SERVER" -d dummy -p 256 >"$work/jackd.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  jack_lsp >/dev/null 2>&1 && break
  sleep 0.1
done
