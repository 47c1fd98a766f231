#!/bin/sh
# Emulated USB MIDI devices inside the ALSA test VM: gadget I is a USB MIDI function ("f_midi")
# on the dummy USB device controller dummy_udc.I, plugged into the VM's own dummy host
# controller. The kernel's snd-usb-audio driver takes it like a real device: card, sequencer
# client "USB Audio Device", port "USB Audio Device MIDI 1". The device's own end is the raw MIDI
# device of the gadget's card, card id q9mdevI (hw:q9mdevI,0), which exists while plugged in.
#
# usage: usb-midi-gadget.sh add I        create gadget I and plug it in
#        usb-midi-gadget.sh unplug I     unplug it (the host side's card goes away)
#        usb-midi-gadget.sh plug I       plug it in again
#        usb-midi-gadget.sh disconnect I the host takes it out of use (deauthorized): the host
#                                        side's card goes away, the device's own end stays
#        usb-midi-gadget.sh connect I    the host takes it into use again
#        usb-midi-gadget.sh host-card I  the host side's card number while plugged in
# Each waits until the host side has seen the change. Plain sh with builtins where it can: the
# VM's init runs it with busybox, and every program started in the VM costs about 0.1 s.
set -eu
gadgets=/sys/kernel/config/usb_gadget

die() {
  echo "usb-midi-gadget: $*" >&2
  exit 1
}

[ $# -eq 2 ] || die "usage: usb-midi-gadget.sh add|unplug|plug|disconnect|connect|host-card I"
command=$1 index=$2
case $index in '' | *[!0-9]*) die "not a device index: $index" ;; esac
gadget=$gadgets/q9m$index
udc=dummy_udc.$index

# The host side's card sits below the dummy host controller of the same index.
host_card() {
  for card in /sys/devices/platform/dummy_hcd."$index"/usb*/*/*/sound/card[0-9]*; do
    [ -e "$card" ] || return 1
    echo "${card##*card}"
    return 0
  done
  return 1
}

# The host side's USB device of the gadget: its folder below the dummy host controller.
host_device() {
  for device in /sys/devices/platform/dummy_hcd."$index"/usb*/*-*; do
    case $device in *:*) continue ;; esac # an interface, not a device
    [ -e "$device/authorized" ] && echo "$device" && return 0
  done
  return 1
}

# A card's kernel sequencer client is number 16 + 4 * card.
has_sequencer_client() {
  while read -r line; do
    case $line in "Client"*" $((16 + 4 * $1)) : "*) return 0 ;; esac
  done </proc/asound/seq/clients
  return 1
}

# wait_for present|absent: the host side's card and its sequencer client, for up to 10 s.
wait_for() {
  tries=0
  while [ $tries -lt 100 ]; do
    if card=$(host_card); then
      [ "$1" = present ] && has_sequencer_client "$card" && return 0
    elif [ "$1" = absent ]; then
      return 0
    fi
    sleep 0.1
    tries=$((tries + 1))
  done
  die "gadget $index: the host side did not become $1 within 10 s"
}

case $command in
add)
  [ -d "/sys/class/udc/$udc" ] || die "no USB device controller $udc (dummy_hcd loaded with too few devices?)"
  [ ! -d "$gadget" ] || die "gadget $index exists already"
  function=$gadget/functions/midi.usb$index
  mkdir "$gadget" # configfs fills it in; the folders below need it first
  mkdir "$gadget/strings/0x409" "$function" "$gadget/configs/c.1"
  mkdir "$gadget/configs/c.1/strings/0x409"
  echo 0x1d6b >"$gadget/idVendor" # Linux Foundation, multifunction composite gadget
  echo 0x0104 >"$gadget/idProduct"
  echo 0x0200 >"$gadget/bcdUSB"
  echo "Q9m test bed" >"$gadget/strings/0x409/manufacturer"
  echo "USB Audio Device" >"$gadget/strings/0x409/product"
  echo "q9m-$index" >"$gadget/strings/0x409/serialnumber"
  echo "q9mdev$index" >"$function/id"
  echo 512 >"$function/buflen" # the kernel's defaults, stated: the USB request size and count
  echo 32 >"$function/qlen"
  echo "MIDI" >"$gadget/configs/c.1/strings/0x409/configuration"
  ln -s "$function" "$gadget/configs/c.1/"
  echo "$udc" >"$gadget/UDC"
  wait_for present
  ;;
plug)
  echo "$udc" >"$gadget/UDC"
  wait_for present
  ;;
unplug)
  echo "" >"$gadget/UDC"
  wait_for absent
  ;;
disconnect | connect)
  device=$(host_device) || die "gadget $index is not plugged in"
  if [ "$command" = connect ]; then
    echo 1 >"$device/authorized"
    wait_for present
  else
    echo 0 >"$device/authorized"
    wait_for absent
  fi
  ;;
host-card)
  host_card || die "gadget $index is not plugged in"
  ;;
*) die "unknown command $command" ;;
esac
