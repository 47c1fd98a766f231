#!/bin/sh
# The ALSA test VM's first process (busybox). Loads the modules, plugs in the emulated USB MIDI
# devices, mounts the host's root (shared over virtio-9p), runs the job in it through vm-job.sh, and leaves the job's status and the
# kernel log in the job folder before powering off.
# Kernel command line: q9m.job=HOST_DIR q9m.devices=N q9m.virmidi=0|1
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev

job='' devices=1 virmidi=0
for arg in $(cat /proc/cmdline); do
  case $arg in
  q9m.job=*) job=${arg#q9m.job=} ;;
  q9m.devices=*) devices=${arg#q9m.devices=} ;;
  q9m.virmidi=*) virmidi=${arg#q9m.virmidi=} ;;
  esac
done

fail() {
  echo "vm-init: $*"
  poweroff -f
}

for module in $(cat /modules/order); do
  params=
  case $module in
  dummy_hcd.ko) params=num=$((devices > 0 ? devices : 1)) ;;
  snd-virmidi.ko) [ "$virmidi" = 1 ] || continue ;;
  esac
  insmod "/modules/$module" $params || fail "insmod $module failed"
done

# Plugged in one after the other, so that their order on the host side is always the same.
mount -t configfs configfs /sys/kernel/config
i=0
while [ $i -lt "$devices" ]; do
  usb-midi-gadget add $i || fail "could not plug in emulated USB MIDI device $i"
  i=$((i + 1))
done

mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000,cache=loose hostroot /mnt || fail "cannot mount the host's root"
mount -t proc proc /mnt/proc
mount -t sysfs sys /mnt/sys
mount -t devtmpfs dev /mnt/dev
mount -t configfs configfs /mnt/sys/kernel/config
mkdir -p /mnt/dev/shm /mnt/dev/pts
mount -t tmpfs -o mode=1777 shm /mnt/dev/shm
mount -t devpts devpts /mnt/dev/pts
# qemu's 9p server refuses to open sockets and pipes: X's sockets need a folder of the VM's own.
mkdir -p /mnt/tmp/.X11-unix
mount -t tmpfs -o mode=1777 x11 /mnt/tmp/.X11-unix
ln -s /proc/self/fd /mnt/dev/fd # for the shells' process substitution
ln -s /proc/self/fd/0 /mnt/dev/stdin
ln -s /proc/self/fd/1 /mnt/dev/stdout
ln -s /proc/self/fd/2 /mnt/dev/stderr

[ -d "/mnt$job" ] || fail "no job folder $job"
chroot /mnt /bin/bash "$job/vm-job.sh" "$job" >"/mnt$job/output" 2>&1
echo $? >"/mnt$job/status"
dmesg >"/mnt$job/dmesg"
sync
poweroff -f
