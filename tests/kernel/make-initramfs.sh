#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# SPDX-FileCopyrightText: The cdrw-fwupdate developers
# Builds the kernel test's initramfs (cpio newc, gzip): busybox-static with its applet links, the
# cached modules, a non-root user in group cdrom, the driver program, the program itself and the
# manager folder, the shared libraries they need (as ldd names them, with the dynamic loader) and
# init.sh as /init.
#
# usage: make-initramfs.sh CACHE_DIR DRIVER PROGRAM MANAGER_DIR OUTPUT MODULES UNITS PARAM...
#                          [-- PASS...]
#   CACHE_DIR    what prepare.sh left (modules/, modules.load, modules.dep)
#   DRIVER       the driver program, placed as /opt/cdrw/bin/cdrw-kernel-driver
#   PROGRAM      cdrw-fwupdate as built, placed as /opt/cdrw/cdrw-fwupdate, where its RUNPATH
#                ($ORIGIN/lib) names the manager's folder
#   MANAGER_DIR  a folder holding wnaspi32.DLL; its files go to /opt/cdrw/lib
#   OUTPUT       the .cpio.gz to write
#   MODULES      the modules the guest loads, comma-separated (their dependencies come along):
#                scsi_debug,sg
#   UNITS        how many CD units init.sh waits for before the first pass
#   PARAM...     the parameters scsi_debug is loaded with, one word each (blanks allowed):
#                ptype=5 "inq_vendor=VEK     " ...
#   PASS...      the driver's passes, one word each (see init.sh): "dsense=1 --run=scsi"
set -euo pipefail

if [ $# -lt 7 ]; then
  echo "usage: make-initramfs.sh CACHE_DIR DRIVER PROGRAM MANAGER_DIR OUTPUT MODULES UNITS" \
    "PARAM... [-- PASS...]" >&2
  exit 2
fi
cache=$1 driver=$2 program=$3 manager_dir=$4 output=$5 modules=$6 units=$7
shift 7
params=() passes=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  params+=("$1")
  shift
done
[ $# -eq 0 ] || shift
for pass in "$@"; do
  if ! [[ $pass =~ ^[A-Za-z0-9_.,:=@\ -]+$ ]]; then
    echo "make-initramfs: pass '$pass' holds a character init.sh cannot pass on" >&2
    exit 2
  fi
  passes+=("$pass")
done
here=$(cd "$(dirname "$0")" && pwd)

readonly kUser=burner
readonly kUserId=1000
readonly kCdromGroupId=24  # Debian's fixed id of group cdrom

busybox=$(command -v busybox || true)
if [ -z "$busybox" ]; then
  echo "make-initramfs: busybox is needed (Debian package busybox-static)" >&2
  exit 1
fi

root=$(mktemp -d "${TMPDIR:-/tmp}/cdrw-initramfs.XXXXXX")
trap 'rm -rf "$root"' EXIT
chmod 0755 "$root"
mkdir -p "$root"/{bin,dev,proc,sys,tmp,etc/cdrw,modules,opt/cdrw/bin,opt/cdrw/lib}
chmod 1777 "$root/tmp"

cp "$busybox" "$root/bin/busybox"
for applet in $("$busybox" --list); do
  [ "$applet" = busybox ] || ln -s busybox "$root/bin/$applet"
done

# The modules asked for and, through modules.dep, all they depend on, in the cache's load order.
declare -A needed=()
need() {
  local file=$1 dep
  [ -n "${needed[$file]:-}" ] && return 0
  needed[$file]=1
  for dep in $(sed -n "s/^${file//./\\.} //p" "$cache/modules.dep"); do
    need "$dep"
  done
}
for module in ${modules//,/ }; do
  [ -f "$cache/modules/$module.ko" ] || {
    echo "make-initramfs: module $module is not in $cache" >&2
    exit 1
  }
  need "$module.ko"
done
while read -r file; do
  if [ -n "${needed[$file]:-}" ]; then
    cp "$cache/modules/$file" "$root/modules/"
    echo "$file" >>"$root/modules/modules.load"
  fi
done <"$cache/modules.load"

cat >"$root/etc/passwd" <<EOF
root:x:0:0:root:/root:/bin/sh
$kUser:x:$kUserId:$kUserId:CD recorder user:/tmp:/bin/sh
EOF
cat >"$root/etc/group" <<EOF
root:x:0:
cdrom:x:$kCdromGroupId:$kUser
$kUser:x:$kUserId:
EOF
echo "$kUser" >"$root/etc/cdrw/user"
echo "$units" >"$root/etc/cdrw/units"
printf '%s\n' "${params[@]}" >"$root/etc/cdrw/scsi_debug.params"
printf '%s\n' "${passes[@]}" >"$root/etc/cdrw/passes"

cp "$driver" "$root/opt/cdrw/bin/cdrw-kernel-driver"
cp "$program" "$root/opt/cdrw/cdrw-fwupdate"
cp -L "$manager_dir"/* "$root/opt/cdrw/lib/"

# Every shared library the driver, the program and the manager load, at the path the loader looks
# for it. The program's include Qt's widget and display libraries, which it links but does not use
# in an update from the shell: the guest has no display.
copy_libraries() {
  local lib
  for lib in $(ldd "$1" 2>/dev/null | sed -n 's/.*=> \(\/[^ ]*\) .*/\1/p; s/^[[:space:]]*\(\/[^ ]*\) .*/\1/p'); do
    if [ ! -e "$root$lib" ]; then
      mkdir -p "$root$(dirname "$lib")"
      cp -L "$lib" "$root$lib"
    fi
  done
}
copy_libraries "$busybox"  # none for busybox-static
copy_libraries "$driver"
copy_libraries "$program"
for file in "$manager_dir"/*; do
  copy_libraries "$file"
done

install -m 0755 "$here/init.sh" "$root/init"

mkdir -p "$(dirname "$output")"
(cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc --owner=0:0 --quiet) | gzip -1 >"$output"
