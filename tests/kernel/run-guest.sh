#!/usr/bin/env bash
# The kernel test: boots a guest under QEMU's software emulation with the kernel's own SCSI target
# (scsi_debug presenting a CD unit), the SCSI generic driver, the manager and the driver program,
# keeps the guest's serial output and checks it with check-serial.sh.
#
# usage: run-guest.sh CACHE_DIR DRIVER MANAGER_DIR WORK_DIR [check-serial.sh options...]
#   CACHE_DIR    the kernel cache (prepared here by prepare.sh when missing)
#   WORK_DIR     receives initramfs.cpio.gz and serial.log
# Exit status: 0 passed; 77 skipped (QEMU, busybox-static or the kernel package cannot be had; the
# reason is printed); other: failed.
set -euo pipefail

readonly kSkip=77
readonly kBootSeconds=150  # a boot takes well under a minute under software emulation
readonly kMemory=512
# The unit scsi_debug presents: a CD/DVD unit (peripheral type 5) with INQUIRY texts of full
# field width, so trailing blanks travel through every layer.
readonly kVendor='VEK     '
readonly kProduct='CD-RW KT-1210   '
readonly kRevision='1.0K'
# The driver's passes (see init.sh). With fixed-format sense: every failure retried, in the ATAPI
# form and then in the SCSI form; then the second failure ignored; then the second failure
# stopped. With descriptor-format sense: every failure retried.
readonly kPasses=(
  'dsense=0 --run=atapi --run=scsi --run=scsi:retry,ignore --run=atapi:retry,stop'
  'dsense=1 --run=scsi'
)

if [ $# -lt 4 ]; then
  echo "usage: run-guest.sh CACHE_DIR DRIVER MANAGER_DIR WORK_DIR [check options...]" >&2
  exit 2
fi
cache=$1 driver=$2 manager_dir=$3 work=$4
shift 4
here=$(cd "$(dirname "$0")" && pwd)

skip() {
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
# opts=1 makes the target log every command it receives and every sense it answers with.
"$here/make-initramfs.sh" "$cache" "$driver" "$manager_dir" "$work/initramfs.cpio.gz" \
  ptype=5 "inq_vendor=$kVendor" "inq_product=$kProduct" "inq_rev=$kRevision" dev_size_mb=4 \
  opts=1 -- "${kPasses[@]}"

started=$SECONDS
boot_status=0
timeout --kill-after=10 "$kBootSeconds" qemu-system-x86_64 \
  -machine accel=tcg -m "$kMemory" -nographic -no-reboot -nic none \
  -kernel "$cache/vmlinuz" -initrd "$work/initramfs.cpio.gz" \
  -append 'console=ttyS0 panic=-1 quiet' </dev/null |
  sed -E 's/\r//g; s/\x1b(\[[0-9;?]*[A-Za-z]|c)//g' >"$work/serial.log" ||
  boot_status=$?
echo "guest ran $((SECONDS - started)) s (QEMU status $boot_status); serial output in $work/serial.log"
if [ "$boot_status" = 124 ]; then
  echo "FAILED: the guest did not power off within $kBootSeconds s"
fi

"$here/check-serial.sh" "$work/serial.log" "$kVendor" "$kProduct" "$kRevision" "$@"
