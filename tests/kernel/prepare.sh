#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# SPDX-FileCopyrightText: The cdrw-fwupdate developers
# Prepares, once, the guest kernel for the kernel test: fetches Debian's kernel image package with
# apt-get download, unpacks it with dpkg-deb (nothing is installed) and keeps the kernel and the
# modules the guest loads in CACHE_DIR:
#   CACHE_DIR/vmlinuz          the kernel
#   CACHE_DIR/modules/*.ko     the modules the guests load (kWanted) and every module they depend
#                              on, uncompressed
#   CACHE_DIR/modules.load     the module file names in the order they are to be loaded
#   CACHE_DIR/modules.dep      per module file, the files it depends on: "a.ko b.ko c.ko"
#   CACHE_DIR/version          the package name and version the files came from
# A cache that already holds every wanted module is kept as it is, without any look-up.
#
# usage: prepare.sh CACHE_DIR
# Exit status: 0 ready; 77 the kernel cannot be had here (the reason is printed); other: a fault.
set -euo pipefail

readonly kSkip=77
# The kernel's own SCSI target; the generic driver; the CD driver (its media polling); the host
# drivers of QEMU's virtio-scsi controller, of the IDE controller (through libata) and of USB mass
# storage behind xHCI.
readonly kWanted=(scsi_debug sg sr_mod virtio_pci virtio_scsi ata_piix xhci-pci usb-storage)

cache=${1:?usage: prepare.sh CACHE_DIR}
complete=1
for name in "${kWanted[@]}"; do
  [ -f "$cache/modules/$name.ko" ] || complete=0
done
if [ "$complete" = 1 ] && [ -f "$cache/version" ] && [ -f "$cache/vmlinuz" ] &&
  [ -f "$cache/modules.load" ] && [ -f "$cache/modules.dep" ]; then
  exit 0
fi

cannot() {
  echo "kernel image unavailable: $*" >&2
  exit "$kSkip"
}

for tool in apt-get apt-cache dpkg-deb objcopy; do
  command -v "$tool" >/dev/null || cannot "$tool is not installed"
done

# The package the metapackage points at, e.g. linux-image-6.1.0-57-amd64.
kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null |
    sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*\)$/\1/p' | head -n 1
}

package=$(kernel_package)
if [ -z "$package" ] && [ "$(id -u)" = 0 ]; then
  apt-get update -q >/dev/null 2>&1 || true
  package=$(kernel_package)
fi
[ -n "$package" ] || cannot "apt-cache knows no linux-image-amd64 (no package lists?)"

work=$(mktemp -d "${TMPDIR:-/tmp}/cdrw-kernel.XXXXXX")
trap 'rm -rf "$work"' EXIT

(cd "$work" && apt-get download -q "$package" >"$work/download.log" 2>&1) ||
  cannot "apt-get download $package failed: $(tail -n 1 "$work/download.log")"
deb=$(find "$work" -maxdepth 1 -name '*.deb' | head -n 1)
[ -n "$deb" ] || cannot "apt-get download $package left no package file"
dpkg-deb -x "$deb" "$work/root"

vmlinuz=$(find "$work/root/boot" -name 'vmlinuz-*' | head -n 1)
[ -n "$vmlinuz" ] || cannot "$package holds no /boot/vmlinuz-*"
moddir=$(find "$work/root/lib/modules" -mindepth 1 -maxdepth 1 -type d | head -n 1)
[ -n "$moddir" ] || cannot "$package holds no /lib/modules/VERSION"

# Module file of a module name (the kernel treats - and _ alike in names).
module_file() {
  local pattern
  pattern=$(printf '%s' "$1" | sed 's/[-_]/[-_]/g')
  find "$moddir/kernel" -regextype posix-extended \
    -regex ".*/${pattern}\.ko(\.xz|\.zst|\.gz)?" | head -n 1
}

# Writes an uncompressed copy of a module file.
unpack_module() {
  case "$1" in
    *.ko.xz) xz -dc "$1" >"$2" ;;
    *.ko.zst) zstd -qdc "$1" >"$2" ;;
    *.ko.gz) gzip -dc "$1" >"$2" ;;
    *) cp "$1" "$2" ;;
  esac
}

# Value of one field of the module's .modinfo section (NUL-separated name=value strings).
modinfo_field() {
  objcopy -O binary -j .modinfo "$1" "$work/modinfo.bin"
  tr '\0' '\n' <"$work/modinfo.bin" | sed -n "s/^$2=//p"
}

mkdir -p "$work/cache/modules"
: >"$work/cache/modules.load"
: >"$work/cache/modules.dep"
declare -A placed=()

# Places a module after everything it depends on.
place() {
  local name=$1 file dep
  [ -n "${placed[$name]:-}" ] && return 0
  placed[$name]=1
  file=$(module_file "$name")
  [ -n "$file" ] || cannot "module $name is missing from $package"
  unpack_module "$file" "$work/cache/modules/$name.ko"
  local line="$name.ko"
  for dep in $(modinfo_field "$work/cache/modules/$name.ko" depends | tr ',' ' '); do
    place "$dep"
    line+=" $dep.ko"
  done
  echo "$name.ko" >>"$work/cache/modules.load"
  echo "$line" >>"$work/cache/modules.dep"
}

for name in "${kWanted[@]}"; do
  place "$name"
done

cp "$vmlinuz" "$work/cache/vmlinuz"
echo "$package $(dpkg-deb -f "$deb" Version)" >"$work/cache/version"

rm -rf "$cache"
mkdir -p "$(dirname "$cache")"
mv "$work/cache" "$cache"
echo "kernel cached in $cache: $(cat "$cache/version")"
