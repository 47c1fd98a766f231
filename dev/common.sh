# Shared by the dev scripts: installing what the build needs, and configuring a build folder.
# shellcheck shell=bash

repo_root() { cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd; }

# Debian packages the build, the tests and the demo need (the Windows cross-build and its
# tests under wine included).
Q9M_PACKAGES=(
  cmake ninja-build g++ clang libclang-rt-14-dev libfuzzer-14-dev pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  librtmidi-dev libjack-jackd2-dev jackd2
  qt6-base-dev xvfb x11-apps imagemagick xauth
  dpkg-dev lintian desktop-file-utils appstream librsvg2-bin man-db qt6-gtk-platformtheme
  libasound2-dev bc qemu-system-x86 busybox-static cpio kmod
  libsystemd-dev dbus python3-dbusmock
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev googletest
  wine wine64 nsis zip unzip
)

# Installs the packages that are missing (through sudo when not root).
ensure_packages() {
  local missing=() p
  # One query for all: each dpkg-query reads the whole package database, which takes long on
  # a slow machine (the ALSA test VM reads it over 9p).
  local -A installed=()
  while read -r p; do installed[$p]=1; done < <(
    dpkg-query -W -f='${Status} ${Package}\n' "${Q9M_PACKAGES[@]}" 2>/dev/null |
      awk '$1 == "install" && $2 == "ok" && $3 == "installed" { print $4 }' || true
  )
  for p in "${Q9M_PACKAGES[@]}"; do
    [ -n "${installed[$p]:-}" ] || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
}

# configure_and_build DIR [cmake options...]
configure_and_build() {
  local dir=$1
  shift
  cmake -S "$(repo_root)" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}
