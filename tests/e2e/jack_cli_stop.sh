#!/usr/bin/env bash
# q9m-update-cli stopped by Ctrl-C in the middle of an update, as a script drives it: every
# line of --json output must be one JSON object, the events must come in their order (waiting,
# start, steps and progress, then error and done), and the program must end with the "stopped"
# status 3 and say where it stopped. The program starts before the device: with --wait it must
# see the device's ports when the server registers them, and then start.
# Usage: jack_cli_stop.sh DEVSIM CLI WORKDIR
set -euo pipefail
devsim=$1 cli=$2 work=$3
mkdir -p "$work"
source "$(dirname "${BASH_SOURCE[0]}")/private_jack.sh"

"$cli" --json --wait 60 >"$work/cli.jsonl" 2>"$work/cli.err" &
cli_pid=$!
pids+=($cli_pid)
await_line "$work/cli.jsonl" '"event":"waiting"' "$cli_pid" 30 "q9m-update-cli waiting"
start_devsim "$devsim" "$work/devsim.log" --timeout 120
await_progress "$work/cli.jsonl" "$cli_pid"
kill -INT "$cli_pid"
status=0
wait "$cli_pid" || status=$?

python3 - "$work/cli.jsonl" "$status" <<'PY'
import json, sys
lines = open(sys.argv[1], encoding="utf-8").read().splitlines()
events = [json.loads(line)["event"] for line in lines]  # raises on a line that is not JSON
print(" ".join(events))
assert events[:2] == ["waiting", "start"], events
assert set(events[2:-2]) <= {"step", "progress"} and "progress" in events, events
steps = [json.loads(l)["step"] for l in lines if json.loads(l)["event"] == "step"]
assert steps == list(range(1, len(steps) + 1)), steps  # each step once, in order
assert events[-2:] == ["error", "done"], events
error, done = json.loads(lines[-2]), json.loads(lines[-1])
assert error["result"] == "stopped" and "step" in error["where"], error
# Step 4 erases from address 0, so 0 is an address like any other.
assert isinstance(error.get("address"), int) and error["device_state"], error
assert done["result"] == "stopped" and done["exit_status"] == 3, done
assert sys.argv[2] == "3", "exit status " + sys.argv[2]
print("Stopped by SIGINT with status 3,", error["where"])
PY
