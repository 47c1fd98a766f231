#!/usr/bin/env bash
# Runs one scenario of wine_scenarios.sh in the ALSA test VM: makes the wine prefix outside the VM
# first (once, about 10 s here; in the VM it would take minutes), then starts the VM with the
# emulated USB devices that the scenario needs and the CPU model that wine needs there.
#
# usage: wine_vm.sh SCENARIO LINUX_BUILD WINDOWS_BUILD WORK_DIR
#   SCENARIO is usb, seq, two-copies or unplug (see wine_scenarios.sh). Needs what run-in-vm.sh
#   needs, and wine. WORK_DIR.dmesg keeps the VM's kernel log.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
[ $# -eq 4 ] || { echo "usage: wine_vm.sh SCENARIO LINUX_BUILD WINDOWS_BUILD WORK_DIR" >&2; exit 2; }
scenario=$1 linux=$(realpath "$2") windows=$(realpath "$3") work=$(realpath -m "$4")
case $scenario in
usb | unplug) devices=1 ;;
seq) devices=0 ;;
two-copies) devices=2 ;;
*) echo "wine_vm.sh: unknown scenario $scenario" >&2; exit 2 ;;
esac
wine=/usr/lib/wine/wine64 wineserver=/usr/lib/wine/wineserver
[ -x "$wine" ] || wine=wine wineserver=wineserver

prefix=$windows/wine-vm-prefix
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot -i \
    >/dev/null 2>&1 || { echo "wine_vm.sh: could not make the wine prefix $prefix" >&2; exit 2; }
  WINEPREFIX=$prefix "$wineserver" -w
fi
# The dialog needs no X display: wine's null graphics driver. It must be the prefix's own
# setting, since wine's desktop process picks the driver for every program.
if ! grep -q '^"Graphics"="null"' "$prefix/user.reg"; then
  WINEPREFIX=$prefix WINEDEBUG=-all "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics \
    /d null /f >/dev/null 2>&1 || { echo "wine_vm.sh: no null display in $prefix" >&2; exit 2; }
  WINEPREFIX=$prefix "$wineserver" -w
fi
exec "$here/run-in-vm.sh" --cpu qemu64 --devices "$devices" --timeout 1200 --dmesg "$work.dmesg" \
  -- "$here/wine_scenarios.sh" "$scenario" "$linux" "$windows" "$work" "$prefix"
