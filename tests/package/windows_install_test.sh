#!/usr/bin/env bash
# The Windows installer and the portable .zip under wine, in a wine prefix of their own:
# a silent install, the installed q9m-update-cli runs and tells its version, the Start-menu
# entry and the entry in the list of apps are there; a silent uninstall then leaves no file,
# no entry and no registry key. The portable .zip's q9m-update-cli runs as it is.
#   windows_install_test.sh PACKAGE_DIR WORK_DIR
set -euo pipefail
package_dir=$(realpath "$1")
work=$(realpath -m "$2")  # wine takes only an absolute prefix

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

installer=$(ls "$package_dir"/q9m-updater-*-setup.exe 2>/dev/null | head -1)
portable=$(ls "$package_dir"/q9m-updater-*-portable.zip 2>/dev/null | head -1)
[ -n "$installer" ] || fail "no installer in $package_dir (build the windows-package target)"
[ -n "$portable" ] || fail "no portable .zip in $package_dir"
version=${installer##*/q9m-updater-}
version=${version%-setup.exe}
cli_version=${version%-standin}

rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=$(command -v /usr/lib/wine/wine64 || command -v wine)
wineserver=$(command -v /usr/lib/wine/wineserver64 || command -v wineserver)
trap '"$wineserver" -k 2>/dev/null || true' EXIT
mkdir -p "$WINEPREFIX"
"$wine" wineboot -i >/dev/null 2>&1

# Ends when every program of the prefix has ended (the uninstaller runs from a copy of itself).
settle() { "$wineserver" -w; }
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Q9mUpdater'
reg_value() { "$wine" reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' | awk -v n="$1" '$1 == n { $1 = $2 = ""; sub(/^ +/, ""); print }'; }

# NSIS takes /D= only unquoted, so the folder has no blank.
folder="$WINEPREFIX/drive_c/Q9mTestInstall"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Q9m Updater.lnk"

echo "install: $installer"
"$wine" "$installer" /S '/D=C:\Q9mTestInstall' >/dev/null 2>&1 || fail "the installer failed ($?)"
settle
for file in q9m-update-cli.exe COPYRIGHT.txt uninstall.exe; do
  [ -f "$folder/$file" ] || fail "not installed: $file"
done
if unzip -l "$portable" | grep -q q9m-updater.exe; then
  [ -f "$folder/q9m-updater.exe" ] || fail "not installed: q9m-updater.exe"
fi
[ -f "$shortcut" ] || fail "no Start-menu entry"
[ "$(reg_value DisplayName)" = "Q9m Updater" ] || fail "DisplayName is '$(reg_value DisplayName)'"
[ "$(reg_value DisplayVersion)" = "$version" ] || fail "DisplayVersion is '$(reg_value DisplayVersion)'"
[ -n "$(reg_value Publisher)" ] || fail "no Publisher"

said=$("$wine" "$folder/q9m-update-cli.exe" --version 2>/dev/null | tr -d '\r')
echo "$said" | grep -qx "q9m-update-cli $cli_version" || fail "the installed CLI said: $said"
echo "installed; q9m-update-cli --version: $(echo "$said" | head -1)"

echo "uninstall"
"$wine" "$folder/uninstall.exe" /S >/dev/null 2>&1 || fail "the uninstaller failed ($?)"
settle
if [ -e "$folder" ]; then
  fail "left after uninstalling: $(cd "$folder" && find . -mindepth 1 | tr '\n' ' ')"
fi
[ ! -e "$shortcut" ] || fail "the Start-menu entry is left"
if "$wine" reg query "$key" >/dev/null 2>&1; then fail "the Uninstall key is left"; fi
echo "uninstalled: no file, no entry, no key left"

echo "portable: $portable"
mkdir -p "$WINEPREFIX/drive_c/portable"
unzip -q "$portable" -d "$WINEPREFIX/drive_c/portable"
said=$("$wine" 'C:\portable\q9m-update-cli.exe' --version 2>/dev/null | tr -d '\r')
echo "$said" | grep -qx "q9m-update-cli $cli_version" || fail "the portable CLI said: $said"
echo "PASS"
