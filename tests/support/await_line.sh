# Sourced by the test scripts, which define fail MESSAGE.
# shellcheck shell=bash

# await_line LOG PATTERN PID SECONDS WHAT: waits until LOG holds a line that matches PATTERN (a
# grep pattern), written by the program PID. Fails, showing LOG, when the program ends without
# writing it or SECONDS pass; WHAT names what was awaited.
await_line() {
  local log=$1 pattern=$2 pid=$3 seconds=$4 what=$5
  local deadline=$((SECONDS + seconds))
  until grep -q -- "$pattern" "$log"; do
    if ! kill -0 "$pid" 2>/dev/null; then
      grep -q -- "$pattern" "$log" && return 0 # written just before it ended
      cat "$log"
      fail "$what: the program ended first"
    fi
    [ $SECONDS -lt $deadline ] || { cat "$log"; fail "$what: not within $seconds s"; }
    sleep 0.2
  done
}
