#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# SPDX-FileCopyrightText: The cdrw-fwupdate developers
# The kernel test: boots a guest under QEMU's software emulation with CD units, the SCSI generic
# driver, the manager, the driver program and the program itself, keeps the guest's serial output
# and checks it with check-serial.sh (check-hold.sh for hold). Three guest configurations:
#   scsi_debug  the kernel's own SCSI target presenting a CD unit, with its fault injection
#   buses       QEMU's own CD units behind virtio-scsi, behind the IDE controller (libata ATAPI)
#               and behind a USB mass-storage bridge on xHCI
#   hold        the kernel's target again, with the CD driver polling it for media events every
#               2 s as Debian's desktops set it: what reaches the unit during an update with and
#               without the unit hold, and the hold refused while another program holds the unit
# In the scsi_debug and hold guests the program itself also updates the unit from a shell.
#
# usage: run-guest.sh CONFIG CACHE_DIR DRIVER PROGRAM MANAGER_DIR WORK_DIR
#                     [check-serial.sh options...]
#   CONFIG       scsi_debug, buses or hold
#   CACHE_DIR    the kernel cache (prepared here by prepare.sh when missing)
#   WORK_DIR     receives initramfs.cpio.gz, serial.log and, for buses, units.log (QEMU's own
#                record of the commands its units received)
# Exit status: 0 passed; 77 skipped (QEMU, busybox-static or the kernel package cannot be had; the
# reason is printed); other: failed. Under CI (CI=true) there is no skip: what would skip fails.
set -euo pipefail

readonly kSkip=77
# A boot takes well under a minute under software emulation; an update of the program itself
# waits its 70 s.
readonly kBootSeconds=300
readonly kMemory=512

# The scsi_debug guest. The unit: a CD/DVD unit (peripheral type 5) with INQUIRY texts of full
# field width, so trailing blanks travel through every layer.
readonly kVendor='VEK     '
readonly kProduct='CD-RW KT-1210   '
readonly kRevision='1.0K'
# Its passes (see init.sh). With fixed-format sense: every failure retried, in the ATAPI form and
# then in the SCSI form; then the second failure ignored; then the second failure stopped. With
# descriptor-format sense: every failure retried. Then the target's injected faults: every 3rd
# command answered ABORTED COMMAND (a transport problem), in fixed and in descriptor format, each
# failure retried; finally the scan's INQUIRY dropped, so it ends at the manager's time-out. Each
# pass after a fault pass sets the attributes back. The second pass is the program itself, updating
# the unit from a shell in the form the window defaults to (ATAPI).
readonly kDebugPasses=(
  'dsense=0 --run=atapi --run=scsi --run=scsi:retry,ignore --run=atapi:retry,stop'
  'program --update=lix1.hex --unit=0:7:0 --yes'
  'dsense=1 --run=scsi'
  'dsense=0 statistics=1 every_nth=3 opts=0x11 --run=scsi'
  'dsense=1 statistics=1 every_nth=3 opts=0x11 --run=atapi'
  'dsense=0 statistics=1 every_nth=1 opts=0x5'
)

# The hold guest's passes. Each command takes the target 0.4 s, so that the 10-block download
# lasts about 4 s, and the update's wait (the store time) lasts 5 s: without the hold, then with
# it, then with another program holding the block device exclusively; last the program itself,
# from a shell, with its own 70 s wait.
readonly kHoldBlocks=10
readonly kHoldPasses=(
  "ndelay=400000000 --without-hold --wait-ms=5000 --blocks=$kHoldBlocks --run=scsi"
  "ndelay=400000000 --wait-ms=5000 --blocks=$kHoldBlocks --run=scsi"
  "occupy --run=scsi"
  "ndelay=400000000 program --update=lix1.hex --unit=0:7:0 --yes"
)
# The desktop's media polling interval (Debian's udev rules set it for removable media).
readonly kHoldKernelArguments='block.events_dfl_poll_msecs=2000'

# The buses guest: QEMU's units. Vendor and product as the test gives them; the revision is
# given too, so that it does not follow QEMU's version. The ATAPI unit's texts are QEMU's own.
# The virtio unit sits at SCSI id 3 and the USB unit at id 0, which tells the two apart in
# QEMU's record.
readonly kBusVendor='VEK'
readonly kVirtioProduct='CD-RW KT-1220V'
readonly kUsbProduct='CD-RW KT-1230U'
readonly kBusRevision='2.0Q'
readonly kBusDevices=(
  -device virtio-scsi-pci,id=vs
  -drive if=none,id=cd0,media=cdrom
  -device "scsi-cd,bus=vs.0,scsi-id=3,drive=cd0,vendor=$kBusVendor,product=$kVirtioProduct,ver=$kBusRevision"
  -drive if=ide,media=cdrom,index=2
  -device qemu-xhci,id=xh
  -drive if=none,id=cd2,media=cdrom
  -device usb-bot,id=bot,bus=xh.0
  -device "scsi-cd,bus=bot.0,drive=cd2,vendor=$kBusVendor,product=$kUsbProduct,ver=$kBusRevision"
)
# QEMU's record of what its units received and answered.
readonly kBusTraces=(scsi_req_parsed scsi_req_build_sense ide_atapi_cmd)
# The passes: an update aimed at each listed unit, the SCSI form for the units of the test's
# vendor and the ATAPI form for the IDE unit (line 2), the USB unit's with its bridge check off;
# the program's list as JSON, with each unit's transport; the program's update of the USB unit,
# which it refuses.
readonly kBusPasses=(
  '--allow-usb-bridge --run=scsi:retry,retry,stop@1 --run=atapi@2 --run=scsi:retry,retry,stop@3'
  'program --list --json'
  'program --update=lix1.hex --unit=2:7:0 --yes'
)

if [ $# -lt 6 ]; then
  echo "usage: run-guest.sh CONFIG CACHE_DIR DRIVER PROGRAM MANAGER_DIR WORK_DIR" \
    "[check options...]" >&2
  exit 2
fi
config=$1 cache=$2 driver=$3 program=$4 manager_dir=$5 work=$6
shift 6
case $config in
  scsi_debug | buses | hold) ;;
  *) echo "run-guest.sh: unknown configuration $config" >&2; exit 2 ;;
esac
here=$(cd "$(dirname "$0")" && pwd)

skip() {
  if [ "${CI:-}" = true ]; then
    echo "FAILED: the kernel test cannot run under CI: $*"
    exit 1
  fi
  echo "SKIPPED: $*"
  exit "$kSkip"
}

command -v qemu-system-x86_64 >/dev/null ||
  skip "qemu-system-x86_64 is not installed (Debian package qemu-system-x86)"
command -v busybox >/dev/null || skip "busybox is not installed (Debian package busybox-static)"
command -v cpio >/dev/null || skip "cpio is not installed (Debian package cpio)"

status=0
prepared=$("$here/prepare.sh" "$cache" 2>&1) || status=$?
[ -z "$prepared" ] || echo "$prepared"
if [ "$status" = "$kSkip" ]; then
  skip "$(tail -n 1 <<<"$prepared")"
elif [ "$status" != 0 ]; then
  echo "FAILED: preparing the guest kernel ended with status $status"
  exit 1
fi
echo "guest kernel: $(cat "$cache/version")"

mkdir -p "$work"
rm -f "$work/serial.log" "$work/units.log"
qemu_extra=()
kernel_arguments='console=ttyS0 panic=-1 quiet'
if [ "$config" = hold ]; then
  "$here/make-initramfs.sh" "$cache" "$driver" "$program" "$manager_dir" "$work/initramfs.cpio.gz" \
    scsi_debug,sg,sr_mod 1 \
    ptype=5 "inq_vendor=$kVendor" "inq_product=$kProduct" "inq_rev=$kRevision" dev_size_mb=4 \
    opts=1 -- "${kHoldPasses[@]}"
  kernel_arguments+=" $kHoldKernelArguments"
elif [ "$config" = scsi_debug ]; then
  # opts=1 makes the target log every command it receives and every sense it answers with.
  "$here/make-initramfs.sh" "$cache" "$driver" "$program" "$manager_dir" "$work/initramfs.cpio.gz" \
    scsi_debug,sg 1 \
    ptype=5 "inq_vendor=$kVendor" "inq_product=$kProduct" "inq_rev=$kRevision" dev_size_mb=4 \
    opts=1 -- "${kDebugPasses[@]}"
else
  "$here/make-initramfs.sh" "$cache" "$driver" "$program" "$manager_dir" "$work/initramfs.cpio.gz" \
    virtio_pci,virtio_scsi,ata_piix,xhci-pci,usb-storage,sg 3 -- "${kBusPasses[@]}"
  qemu_extra=("${kBusDevices[@]}" -D "$work/units.log")
  for event in "${kBusTraces[@]}"; do
    qemu_extra+=(-trace "$event")
  done
fi

started=$SECONDS
boot_status=0
timeout --kill-after=10 "$kBootSeconds" qemu-system-x86_64 \
  -machine accel=tcg -m "$kMemory" -nographic -no-reboot -nic none \
  -kernel "$cache/vmlinuz" -initrd "$work/initramfs.cpio.gz" \
  -append "$kernel_arguments" "${qemu_extra[@]}" </dev/null |
  sed -E 's/\r//g; s/\x1b(\[[0-9;?]*[A-Za-z]|c)//g' >"$work/serial.log" ||
  boot_status=$?
echo "guest ran $((SECONDS - started)) s (QEMU status $boot_status); serial output in $work/serial.log"
if [ "$boot_status" = 124 ]; then
  echo "FAILED: the guest did not power off within $kBootSeconds s"
fi

if [ "$config" = hold ]; then
  "$here/check-hold.sh" "$work/serial.log" "$kHoldBlocks"
elif [ "$config" = scsi_debug ]; then
  "$here/check-serial.sh" "$work/serial.log" "$kVendor" "$kProduct" "$kRevision" "$@"
else
  "$here/check-serial.sh" "$work/serial.log" --buses="$work/units.log" "$@"
fi
