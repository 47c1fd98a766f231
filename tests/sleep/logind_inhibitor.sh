#!/usr/bin/env bash
# The hold on sleep, shutdown and the lid switch, against python3-dbusmock's logind on a
# private system bus: q9m-update-cli over a private JACK server must hold a "block" inhibitor
# while it writes the simulated device, and the inhibitor must be gone once the run ends:
# completed, failed, stopped (SIGINT) or killed (SIGKILL); and q9m-updater's dialog (offscreen)
# must hold it likewise until Esc closes the window mid-update. Without logind the update goes on
# and says so once. Usage: logind_inhibitor.sh DEVSIM CLI UPDATER WORKDIR
set -euo pipefail
devsim=$1 cli=$2 updater=$3 work=$4
rm -rf "$work"
mkdir -p "$work"
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/private_jack.sh"

# A system bus of our own, stopped by its id with the rest.
cat >"$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$work/system_bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile >"$work/dbus.log" 2>&1 &
pids+=($!)
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/system_bus"
/usr/bin/python3 -m dbusmock --system --template logind >"$work/logind.log" 2>&1 &
logind_pid=$!
pids+=($logind_pid)

# The inhibitors logind holds for the updater, one line each: what, who, why, mode.
inhibitors() {
  /usr/bin/python3 - <<'PY' 2>/dev/null || true
import dbus
manager = dbus.SystemBus().get_object("org.freedesktop.login1", "/org/freedesktop/login1")
for what, who, why, mode, _, _ in manager.ListInhibitors(
        dbus_interface="org.freedesktop.login1.Manager"):
    if who == "Q9m updater":
        print(f"{what}|{who}|{why}|{mode}")
PY
}
for _ in $(seq 100); do
  dbus-send --system --print-reply --dest=org.freedesktop.login1 /org/freedesktop/login1 \
    org.freedesktop.login1.Manager.ListInhibitors >/dev/null 2>&1 && break
  sleep 0.1
done

# run_case NAME STATUS ACTION DEVSIM_OPTIONS...: one update; ACTION is end, int or kill.
run_case() {
  local name=$1 expect=$2 action=$3
  shift 3
  start_devsim "$devsim" "$work/$name-devsim.log" --timeout 300 --link-rate 1000000 "$@"
  "$cli" --json --timeout 300 >"$work/$name.jsonl" 2>"$work/$name.err" &
  local cli_pid=$!
  pids+=($cli_pid)
  await_progress "$work/$name.jsonl" "$cli_pid"  # writing
  local held
  held=$(inhibitors)
  echo "$name, while writing: $held"
  [ "$(echo "$held" | grep -c .)" = 1 ] || fail "$name: not one inhibitor while writing"
  [[ "$held" == "sleep:shutdown:handle-lid-switch|Q9m updater|"*"|block" ]] ||
    fail "$name: inhibitor $held"
  case $action in
    int) kill -INT "$cli_pid" ;;
    kill) kill -KILL "$cli_pid" ;;
  esac
  local status=0
  wait "$cli_pid" || status=$?
  [ "$status" = "$expect" ] || fail "$name: exit status $status, expected $expect"
  for _ in $(seq 30); do
    [ -z "$(inhibitors)" ] && break
    sleep 0.1
  done
  [ -z "$(inhibitors)" ] || fail "$name: the inhibitor outlived the run"
  ! grep -q "not held off" "$work/$name.err" || fail "$name: $(cat "$work/$name.err")"
  stop_processes "$devsim_pid"
  echo "$name: exit status $status, inhibitor gone"
}

run_case completed 0 end --exit-after-end
run_case failed 1 end --refuse-block 300:40
run_case stopped 3 int
run_case killed 137 kill

# The dialog, closed by Esc while it writes: the inhibitor appears with the first erase.
mkdir -p "$work/runtime"
chmod 700 "$work/runtime"
start_devsim "$devsim" "$work/dialog-devsim.log" --timeout 300 --link-rate 1000000
XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen Q9M_UPDATER_AUTORUN=1 \
  Q9M_UPDATER_AUTORUN_ESC_WHEN="$work/press-esc" "$updater" >"$work/dialog.log" 2>&1 &
dialog_pid=$!
pids+=($dialog_pid)
held=
for _ in $(seq 300); do
  held=$(inhibitors)
  [ -n "$held" ] && break
  kill -0 "$dialog_pid" 2>/dev/null || break
  sleep 0.1
done
echo "dialog, while writing: $held"
[[ "$held" == "sleep:shutdown:handle-lid-switch|Q9m updater|"*"|block" ]] ||
  fail "dialog: inhibitor '$held' while writing: $(cat "$work/dialog.log")"
touch "$work/press-esc"
wait "$dialog_pid" || true
grep -q "^Pressing Esc." "$work/dialog.log" || fail "dialog: Esc was not pressed: $(cat "$work/dialog.log")"
for _ in $(seq 30); do
  [ -z "$(inhibitors)" ] && break
  sleep 0.1
done
[ -z "$(inhibitors)" ] || fail "dialog: the inhibitor outlived the window"
stop_processes "$devsim_pid"
echo "dialog: closed by Esc mid-update, inhibitor gone"

# No logind on the bus: the update goes on, and says so once.
stop_processes "$logind_pid"
start_devsim "$devsim" "$work/nologind-devsim.log" --timeout 300 --link-rate 1000000
"$cli" --json --timeout 300 >"$work/nologind.jsonl" 2>"$work/nologind.err" &
cli_pid=$!
pids+=($cli_pid)
await_progress "$work/nologind.jsonl" "$cli_pid"
kill -INT "$cli_pid"
wait "$cli_pid" || true
grep -q '"event":"progress"' "$work/nologind.jsonl" || fail "no logind: the update did not go on"
[ "$(grep -c "not held off" "$work/nologind.err")" = 1 ] ||
  fail "no logind: not said once: $(cat "$work/nologind.err")"
cat "$work/nologind.err"
echo "The inhibitor lasted exactly as long as each run."
