#!/usr/bin/env bash
# The Debian packages as a user gets them: builds them from a finished build folder (cpack),
# checks them with lintian (no error may remain), installs them with apt-get, checks the
# installed desktop entry, metainfo and manual pages, runs the installed q9m-updater under Xvfb
# and the installed q9m-update-cli against the installed q9m-devsim over a private JACK server,
# each to a completed and verified update, and removes the packages again, checking that none
# of their files is left behind. Runs apt-get as root (through sudo when not root). Usage: install_test.sh BUILD_DIR WORKDIR
set -euo pipefail
build=$1 work=$2
rm -rf "$work"
mkdir -p "$work/debs" "$work/runtime"
chmod 700 "$work/runtime"
packages=(q9m-updater q9m-devsim)
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
for p in "${packages[@]}"; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q installed; then
    echo "FAILED: $p is installed already; this test installs and removes it, so remove it first."
    exit 1
  fi
done

(cd "$work/debs" && cpack -G DEB --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log"; exit 1; }
debs=("$work"/debs/*.deb)
echo "Built: ${debs[*]##*/}"
lintian_status=0
lintian --fail-on error "${debs[@]}" >"$work/lintian.log" 2>&1 || lintian_status=$?
grep -v "running with root privileges" "$work/lintian.log" || true
[ $lintian_status -eq 0 ] || { echo "FAILED: lintian found errors"; exit 1; }
echo "lintian: no errors."

# What each package puts on the system, and which of those paths were there before.
for deb in "${debs[@]}"; do dpkg-deb --fsys-tarfile "$deb" | tar -t; done | sed 's|^\./|/|; s|/$||' |
  grep -v '^$' | sort -u >"$work/paths"
: >"$work/new-paths"
while read -r path; do [ -e "$path" ] || echo "$path" >>"$work/new-paths"; done <"$work/paths"

removed=0
remove_packages() {
  [ $removed -eq 0 ] || return 0
  removed=1
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${packages[@]}" >"$work/purge.log" 2>&1
}
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/private_jack.sh"
trap 'cleanup; remove_packages' EXIT

"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${debs[@]}" \
  >"$work/install.log" 2>&1 || { cat "$work/install.log"; exit 1; }
echo "Installed: $(dpkg-query -W -f='${Package} ${Version}, ' "${packages[@]}")"
desktop-file-validate /usr/share/applications/org.q9m_updater.q9m_updater.desktop
appstreamcli validate --no-net /usr/share/metainfo/org.q9m_updater.q9m_updater.metainfo.xml
for page in q9m-updater q9m-update-cli q9m-devsim; do
  [ -z "$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)" ] ||
    { echo "FAILED: the manual page of $page has warnings"; exit 1; }
done
/usr/bin/q9m-update-cli --version

# The simulated device may be updated by a build with stand-in images.
export Q9M_ALLOW_STAND_IN_IMAGES=1 XDG_RUNTIME_DIR="$work/runtime"
# run_against_devsim NAME COMMAND...: one update by COMMAND against a fresh q9m-devsim.
run_against_devsim() {
  local name=$1 devsim_pid status=0 verdict=0
  shift
  start_devsim /usr/bin/q9m-devsim "$work/devsim-$name.log" --exit-after-end --timeout 600
  "$@" >"$work/$name.log" 2>&1 || status=$?
  wait "$devsim_pid" || verdict=$?
  if [ $status -ne 0 ] || [ $verdict -ne 0 ] || ! grep -q "Version update completed." "$work/$name.log"; then
    cat "$work/$name.log" "$work/devsim-$name.log"
    echo "FAILED: installed $name exit status $status, q9m-devsim exit status $verdict"
    exit 1
  fi
  echo "Installed $name: update completed, verified by the device."
}
run_against_devsim q9m-updater xvfb-run -a -s "-screen 0 800x600x24 -nolisten tcp" \
  env Q9M_UPDATER_AUTORUN=1 Q9M_UPDATER_SCREENSHOT="$work/installed-updater.png" /usr/bin/q9m-updater
run_against_devsim q9m-update-cli /usr/bin/q9m-update-cli --timeout 600

cleanup
remove_packages
left=$(dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' "${packages[@]}" 2>/dev/null | grep -v '^un\|^  ' || true)
[ -z "$left" ] || { echo "FAILED: still known to dpkg: $left"; exit 1; }
leftovers=$(while read -r path; do [ ! -e "$path" ] || echo "$path"; done <"$work/new-paths")
[ -z "$leftovers" ] || { echo "FAILED: left behind after removal:"; echo "$leftovers"; exit 1; }
echo "Removed: none of the packages' $(wc -l <"$work/paths") paths that were new is left."
