#!/usr/bin/env bash
# Runs a command inside a small VM that has ALSA and emulated USB MIDI devices: qemu (TCG)
# boots Debian's own kernel with this machine's root shared read-write over virtio-9p, plugs in
# N emulated USB MIDI devices (see usb-midi-gadget.sh), runs the command as root in the current
# folder with the current environment, and powers off. Passes back the command's output and
# exit status; keeps the kernel log. Fails when the kernel logged a MIDI buffer overrun.
#
# usage: run-in-vm.sh [options] [--] COMMAND [ARGS...]
#   --devices N      emulated USB MIDI devices (default 1): gadgets 0..N-1, device ends hw:q9mdevI,0
#   --virmidi        also load snd-virmidi (card "VirMIDI", 4 raw/sequencer ports)
#   --timeout S      power the VM off after S seconds (default 900); exit status 124 then
#   --memory MB      guest memory (default 1024)
#   --dmesg FILE     keep the kernel log in FILE
#   --allow-overrun  do not fail on "overrun" in the kernel log
#   --cpu MODEL      qemu's CPU model (default max); wine needs qemu64, since with max the guest
#                    kernel oopses on wine's first program
# Inside, Q9M_VM=1, Q9M_VM_DEVICES=N and Q9M_VM_GADGET (the path of usb-midi-gadget.sh, for
# unplugging and plugging in during a test) are set, and QT_QPA_PLATFORM defaults to offscreen.
# Q9M_VM_CACHE names the cache folder (default ~/.cache/q9m-alsa-vm).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

die() {
  echo "run-in-vm: $*" >&2
  exit 2
}

devices=1 virmidi=0 timeout=900 memory=1024 dmesg_file='' allow_overrun=0 cpu=max
while [ $# -gt 0 ]; do
  case $1 in
  --devices) devices=${2:?}; shift 2 ;;
  --virmidi) virmidi=1; shift ;;
  --timeout) timeout=${2:?}; shift 2 ;;
  --memory) memory=${2:?}; shift 2 ;;
  --dmesg) dmesg_file=${2:?}; shift 2 ;;
  --allow-overrun) allow_overrun=1; shift ;;
  --cpu) cpu=${2:?}; shift 2 ;;
  --) shift; break ;;
  -*) die "unknown option $1" ;;
  *) break ;;
  esac
done
[ $# -gt 0 ] || die "no command given (usage: run-in-vm.sh [options] [--] COMMAND [ARGS...])"
{ [[ $devices =~ ^[0-9]+$ ]] && [ "$devices" -le 32 ]; } || die "--devices takes 0 to 32"
command -v qemu-system-x86_64 >/dev/null || die "needs qemu-system-x86 (apt-get install qemu-system-x86)"
[ "$(id -u)" -eq 0 ] || die "must run as root (the VM shares this machine's root with root's rights)"

cache=${Q9M_VM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/q9m-alsa-vm}
image=$("$here/prepare-vm.sh" "$cache") || die "could not prepare the VM (see above)"

mkdir -p "$cache/jobs"
job=$(mktemp -d "$cache/jobs/job.XXXXXX")
[[ $job != *[[:space:]]* ]] || die "the cache folder's path must not contain spaces: $job"
# Q9M_VM_KEEP=1 keeps the job folder (console, kernel log, output) for a look afterwards.
if [ "${Q9M_VM_KEEP:-0}" = 1 ]; then
  echo "run-in-vm: job folder $job" >&2
else
  trap 'rm -rf "$job"' EXIT
fi

# The job: the caller's environment (minus what names this machine's desktop session), folder
# and command, run by vm-job.sh inside the VM.
cp "$here/vm-job.sh" "$job/vm-job.sh"
(
  unset DISPLAY WAYLAND_DISPLAY XDG_RUNTIME_DIR DBUS_SESSION_BUS_ADDRESS
  export Q9M_VM=1 Q9M_VM_DEVICES=$devices Q9M_VM_GADGET=$here/usb-midi-gadget.sh
  export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
  export -p
) >"$job/env"
pwd >"$job/cwd"
printf '%q ' "$@" >"$job/command"

started=$(date +%s%N)
set +e
timeout -k 10 "$timeout" qemu-system-x86_64 \
  -machine pc,accel=tcg -cpu "$cpu" -smp 2 -m "$memory" \
  -nodefaults -no-user-config -display none -no-reboot \
  -serial "file:$job/console" \
  -kernel "$image/vmlinuz" -initrd "$image/initramfs.cpio.gz" \
  -append "console=ttyS0 ${Q9M_VM_KERNEL_ARGS:-quiet} panic=-1 q9m.job=$job q9m.devices=$devices q9m.virmidi=$virmidi" \
  -fsdev "local,id=hostroot,path=/,security_model=passthrough,multidevs=remap" \
  -device virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot
qemu_status=$?
set -e
elapsed_ms=$((($(date +%s%N) - started) / 1000000))

[ -f "$job/output" ] && cat "$job/output"
[ -n "$dmesg_file" ] && [ -f "$job/dmesg" ] && cp "$job/dmesg" "$dmesg_file"

# The console carries terminal escape sequences; strip them before showing its end.
console_tail() {
  sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g; s/\x1bc//g' "$job/console" | tail -n 30 >&2
}
if [ "$qemu_status" -eq 124 ] || [ "$qemu_status" -eq 137 ]; then
  echo "run-in-vm: the VM did not finish within $timeout s; its console ended:" >&2
  console_tail
  exit 124
fi
if [ ! -f "$job/status" ]; then
  echo "run-in-vm: the VM ended (qemu status $qemu_status) without the command's exit status; its console ended:" >&2
  console_tail
  exit 2
fi
status=$(cat "$job/status")
echo "run-in-vm: command exited with status $status; the VM ran $((elapsed_ms / 1000)).$((elapsed_ms % 1000 / 100)) s" >&2
if [ "$allow_overrun" -eq 0 ] && grep -i "overrun" "$job/dmesg" >&2; then
  echo "run-in-vm: the kernel logged a buffer overrun (above)" >&2
  [ "$status" -ne 0 ] || status=3
fi
exit "$status"
