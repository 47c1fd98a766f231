#!/usr/bin/env bash
# Prepares what the ALSA test VM boots: Debian's own kernel (this machine's kernel has no sound
# support) and an initramfs of busybox and the kernel modules the test bed needs, in load order.
# Cached in CACHE_DIR/<kernel package>; rebuilt only when missing or when its scripts changed.
# Prints the folder that holds vmlinuz and initramfs.cpio.gz.
#
# usage: prepare-vm.sh CACHE_DIR
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cache=${1:?usage: prepare-vm.sh CACHE_DIR}
mkdir -p "$cache"

die() {
  echo "prepare-vm: $*" >&2
  exit 1
}

for tool in apt-get apt-cache dpkg depmod modprobe cpio gzip; do
  command -v "$tool" >/dev/null || die "needs $tool"
done
busybox=/bin/busybox
{ [ -x "$busybox" ] && "$busybox" --list | grep -x insmod >/dev/null; } || die "needs busybox-static (/bin/busybox with insmod)"

# Only one preparation at a time: tests may start several VMs at once.
exec 9>"$cache/.lock"
flock 9

# The versioned kernel package that linux-image-amd64 depends on.
kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ { print $2; exit }'
}
package=$(kernel_package)
if [ -z "$package" ]; then
  apt-get update -qq >/dev/null || true
  package=$(kernel_package)
fi
[ -n "$package" ] || die "apt-cache does not know linux-image-amd64; run apt-get update"

dir="$cache/$package"
# The modules, in the order modprobe would load them; dummy_hcd gets its device count at boot.
modules=(configfs virtio_pci 9pnet_virtio 9p snd-seq-dummy snd-seq-midi snd-usb-audio
  libcomposite usb_f_midi dummy_hcd snd-virmidi)
stamp=$(cat "$here/vm-init.sh" "$here/usb-midi-gadget.sh" "$busybox" | sha256sum | cut -c1-16)-${modules[*]}
if [ -f "$dir/initramfs.cpio.gz" ] && [ "$(cat "$dir/stamp" 2>/dev/null)" = "$stamp" ]; then
  echo "$dir"
  exit 0
fi

mkdir -p "$dir"
# The package is kept; what is unpacked from it is not (it is large).
deb=$(find "$dir" -maxdepth 1 -name "*.deb" | head -n1)
if [ -z "$deb" ]; then
  echo "prepare-vm: fetching $package" >&2
  (cd "$dir" && apt-get download "$package" >/dev/null 2>"$dir/apt.log") ||
    die "apt-get download $package failed: $(cat "$dir/apt.log")"
  deb=$(find "$dir" -maxdepth 1 -name "*.deb" | head -n1)
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg -x "$deb" "$work/kernel"
version=$(ls "$work/kernel/lib/modules")
depmod -b "$work/kernel" "$version"
cp "$work/kernel/boot/vmlinuz-$version" "$dir/vmlinuz"

root=$work/initramfs
mkdir -p "$root"/{bin,dev,proc,sys,mnt,modules}
cp "$busybox" "$root/bin/busybox"
for applet in sh mount insmod mkdir ln cat echo sleep poweroff dmesg chroot sync; do
  ln -s busybox "$root/bin/$applet"
done
# Each module once, in the first order it is needed; vm-init.sh loads them as listed.
: >"$root/modules/order"
for module in "${modules[@]}"; do
  modprobe -d "$work/kernel" -S "$version" --show-depends "$module" | awk '$1 == "insmod" { print $2 }' |
    while read -r path; do
      name=$(basename "$path")
      grep -qx "$name" "$root/modules/order" && continue
      cp "$path" "$root/modules/$name"
      echo "$name" >>"$root/modules/order"
    done
done
cp "$here/vm-init.sh" "$root/init"
cp "$here/usb-midi-gadget.sh" "$root/bin/usb-midi-gadget"
chmod +x "$root/init" "$root/bin/usb-midi-gadget"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$dir/initramfs.cpio.gz.tmp"
mv "$dir/initramfs.cpio.gz.tmp" "$dir/initramfs.cpio.gz"
echo "$stamp" >"$dir/stamp"
echo "$dir"
