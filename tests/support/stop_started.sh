# Sourced by the test scripts in the VM: every process whose id the script adds to `pids` is
# ended when the script exits, however it exits. A script that has more to undo calls
# stop_started from a trap of its own.
# shellcheck shell=bash
pids=()
stop_started() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap stop_started EXIT
