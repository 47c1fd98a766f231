# Sourced by the VM's scenario scripts: q9m-devsim on the emulated USB devices' own ends, and
# the check that a device verified its update. The script defines fail MESSAGE and sets devsim
# (q9m-devsim), gadget (usb-midi-gadget.sh), work (its folder) and the array pids (processes to
# end on exit).
# shellcheck shell=bash

declare -A devsim_pid # q9m-devsim of each device

# start_device I [DEVSIM OPTIONS...]: q9m-devsim on gadget I's own end; returns once it is open.
start_device() {
  local index=$1 log=$work/devsim-$1.log
  shift
  "$devsim" --raw "q9mdev$index" --exit-after-end --timeout 900 "$@" >"$log" 2>&1 &
  pids+=("$!")
  devsim_pid[$index]=$!
  for _ in $(seq 100); do
    grep -q "on raw MIDI device" "$log" && return 0
    kill -0 "$!" 2>/dev/null || break
    sleep 0.1
  done
  cat "$log"
  fail "q9m-devsim did not open device $index"
}

# counter FILE DIRECTION: the byte counter of a card's first raw MIDI device.
counter() { awk -v key="$2" '$1 == key { print $4; exit }' "$1"; }

# device_card I: the card number of gadget I's own end.
device_card() { grep -l -x "q9mdev$1" /proc/asound/card*/id | tr -dc 0-9; }

# check_device I: the device verified a complete update; a cut message is forgiven only when
# the kernel's counters show bytes lost between the host's card and the device's. Says why not.
check_device() {
  local index=$1 status=0 card sent received log=$work/devsim-$1.log
  wait "${devsim_pid[$index]}" || status=$?
  echo "--- device $index"
  cat "$log"
  card=$("$gadget" host-card "$index")
  sent=$(counter "/proc/asound/card$card/midi0" Tx)
  received=$(counter "/proc/asound/card$(device_card "$index")/midi0" Rx)
  echo "device $index: host side sent $sent bytes, device side received $received"
  [ "$status" -eq 0 ] && return 0
  if ! grep -q "update: started, EndUpdate received, completed" "$log" ||
    ! grep -q "flash: matches the layout" "$log"; then
    echo "device $index did not verify a complete update"
  elif grep -E "^  " "$log" | grep -qv "without F7 at its end"; then
    echo "device $index saw protocol violations"
  elif [ "$sent" -le "$received" ]; then
    echo "device $index got cut messages, but the USB link lost no byte: the host cut them"
  else
    echo "device $index: the USB link lost $((sent - received)) bytes; the resend recovered"
    return 0
  fi
  return 1
}
