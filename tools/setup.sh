# SPDX-License-Identifier: GPL-2.0-or-later
# SPDX-FileCopyrightText: The cdrw-fwupdate developers
# Sourced by ./run, ./test and ./package: installs the Debian packages the build needs (as root
# through apt-get; otherwise it names what is missing) and configures and builds a build folder.
set -euo pipefail

CDRW_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-svg-dev libgl-dev libxcb1-dev
  libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev
  libsystemd-dev
  clang libclang-rt-14-dev binutils
  fonts-dejavu-core fonts-liberation2 fonts-ipafont-gothic
  desktop-file-utils
  dbus-daemon
  xvfb
)

# ./package and the package test (label package): dpkg-buildpackage (whose other needs are the
# Build-Depends of debian/control, which cdrw_install_build_depends installs); the test checks
# the packages with lintian and the metainfo with appstreamcli.
CDRW_PACKAGING_PACKAGES=(
  dpkg-dev file lintian appstream
)

# The kernel test boots a guest (QEMU, software emulation) from Debian's kernel image package,
# which it fetches itself with apt-get download; without these it reports itself skipped.
CDRW_KERNEL_PACKAGES=(
  qemu-system-x86 busybox-static cpio gzip xz-utils zstd binutils
)

cdrw_missing_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  echo "${missing[@]:-}"
}

# cdrw_install_packages pkg...: installs what is missing, or names it and fails.
cdrw_install_packages() {
  local missing
  missing=$(cdrw_missing_packages "$@")
  [ -z "$missing" ] && return 0
  if [ "$(id -u)" = 0 ]; then
    echo "Installing: $missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q >/dev/null
    # shellcheck disable=SC2086
    apt-get install -y -q --no-install-recommends $missing >/dev/null
  else
    echo "These Debian packages are missing: $missing" >&2
    echo "Install them with: sudo apt-get install $missing" >&2
    return 1
  fi
}

# cdrw_install_build_depends: installs the Build-Depends of debian/control that are missing
# (apt-get build-dep on this tree), or names them and fails. Needs dpkg-dev.
cdrw_install_build_depends() {
  local unmet
  unmet=$(dpkg-checkbuilddeps 2>&1) && return 0
  if [ "$(id -u)" = 0 ]; then
    echo "Installing the Build-Depends: ${unmet##*: }"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q >/dev/null
    apt-get build-dep -y -q --no-install-recommends ./ >/dev/null
  else
    echo "$unmet" >&2
    echo "Install them with: sudo apt-get build-dep ./" >&2
    return 1
  fi
}

# cdrw_build DIR [cmake options...] [-- targets...]: configures the first time (and again when
# options are given, so that they hold in a folder another command configured), then builds the
# targets named, or all, incrementally. One build at a time per folder: `./run demo` started
# while `./test` builds in build/ waits for that build (a lock on DIR/.cdrw-build.lock), then
# finds its targets built.
cdrw_build() {
  local dir=$1; shift
  local options=() targets=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do options+=("$1"); shift; done
  if [ $# -gt 0 ]; then shift; targets=(--target "$@"); fi
  mkdir -p "$dir"
  (
    if ! flock -n 9; then
      echo "Waiting for the other build in $dir/ to finish ..." >&2
      flock 9
    fi
    if [ ! -f "$dir/build.ninja" ] || [ ${#options[@]} -gt 0 ]; then
      cmake -S . -B "$dir" -G Ninja "${options[@]}" >/dev/null
    fi
    cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
  ) 9>"$dir/.cdrw-build.lock"
}
