#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# SPDX-FileCopyrightText: The cdrw-fwupdate developers
# First process of the kernel test's guest (busybox sh). Brings up the kernel's SCSI target
# (scsi_debug) and the SCSI generic driver, gives the generic nodes of CD units the owner and mode
# that Debian's udev rules give them, runs the driver program, or the program itself from a shell,
# in passes as a non-root member of the cdrom group, prints after each pass the commands the target
# received as the kernel logged them, then the end marker, and powers the guest off. Every line it
# prints starts with GUEST.
PATH=/bin
export PATH

say() { echo "GUEST $*"; }

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
# Pseudo-terminals, for the program run as from a terminal.
mkdir -p /dev/pts
mount -t devpts -o ptmxmode=0666,mode=0620 devpts /dev/pts
exec </dev/console >/dev/console 2>&1
echo  # the firmware's last line may lack its end
mkdir -p /tmp

# Modules in dependency order. The bus scan runs synchronously so the units exist once their host
# driver is loaded; USB mass storage scans its units at once instead of after its usual second.
# The target's own parameters come one per line from the file the image was built with; each
# value is quoted, as the kernel splits the parameters at blanks otherwise.
while read -r module; do
  set --
  case $module in
    scsi_mod.ko) set -- scan=sync ;;
    usb-storage.ko) set -- delay_use=0 ;;
    scsi_debug.ko)
      while IFS= read -r param; do
        set -- "$@" "${param%%=*}=\"${param#*=}\""
      done </etc/cdrw/scsi_debug.params
      ;;
  esac
  insmod "/modules/$module" "$@" || say "INSMOD-FAILED $module"
done </modules/modules.load

# The generic nodes appear as sg registers the units; a USB unit only once its bridge has been
# enumerated, a few seconds after its module loaded. Wait for as many CD units as the image
# expects, at most 30 s.
cd_units() {
  found=0
  for class in /sys/class/scsi_generic/sg*; do
    [ -e "$class" ] && [ -e "/dev/${class##*/}" ] || continue
    case $(cat "$class/device/type") in
      5) found=$((found + 1)) ;;
    esac
  done
  echo $found
}
tries=0
while [ "$(cd_units)" -lt "$(cat /etc/cdrw/units)" ] && [ $tries -lt 300 ]; do
  usleep 100000
  tries=$((tries + 1))
done
say "CD-UNITS $(cd_units) after $((tries / 10)).$((tries % 10)) s"
if ! ls /dev/sg* >/dev/null 2>&1; then
  say "NO-SG-NODE"
  dmesg | tail -n 30 | sed 's/^/GUEST DMESG /'
fi

# Debian's udev rules: SCSI generic nodes of CD/DVD (type 5) and WORM (type 4) units belong to
# group cdrom with mode 0660; others stay root's.
for class in /sys/class/scsi_generic/sg*; do
  [ -e "$class" ] || continue
  name=${class##*/}
  type=$(cat "$class/device/type")
  hctl=$(basename "$(readlink "$class/device")")
  case $type in
    4 | 5)
      chown root:cdrom "/dev/$name"
      chmod 0660 "/dev/$name"
      ;;
  esac
  vendor=$(cat "$class/device/vendor")
  model=$(cat "$class/device/model")
  rev=$(cat "$class/device/rev")
  node=$(stat -c '%A:%U:%G' "/dev/$name")
  say "SG $name hctl=$hctl type=$type vendor='$vendor' model='$model' rev='$rev' node=$node"
done
# The CD driver's block devices, where it is loaded: root:cdrom 0660, as Debian's udev makes them.
for class in /sys/class/block/sr*; do
  [ -e "$class" ] || continue
  name=${class##*/}
  chown root:cdrom "/dev/$name"
  chmod 0660 "/dev/$name"
  say "SR $name hctl=$(basename "$(readlink "$class/device")") node=$(stat -c '%A:%U:%G' "/dev/$name")"
done

# The driver marks the end of its update guard (right before it lets go of the unit) in the
# kernel's log, among the commands.
chmod 0666 /dev/kmsg

# The kernel's own count of the commands each unit was sent and of those that ended in error,
# so the test can hold the driver's view against the kernel's.
counts() {
  for class in /sys/class/scsi_generic/sg*; do
    [ -e "$class" ] || continue
    say "COUNT ${class##*/} phase=$1 requests=$(($(cat "$class/device/iorequest_cnt"))) errors=$(($(cat "$class/device/ioerr_cnt")))"
  done
}

# Sets a target attribute; the target refuses some (delay, ndelay) while a command is under way,
# such as the CD driver's media poll, so it is tried for up to 5 s.
set_attribute() {
  tries=0
  until echo "$2" >"/sys/bus/pseudo/drivers/scsi_debug/$1" 2>/dev/null; do
    tries=$((tries + 1))
    [ $tries -lt 50 ] || return 1
    usleep 100000
  done
}

# Another program holding the first CD block device exclusively (as a mount or a recording
# program does), as the cdrom-group user, until the pass is over. Waits (at most 10 s) until it
# holds the device.
occupant=
start_occupant() {
  rm -f /tmp/occupied
  for node in /dev/sr*; do
    break
  done
  su -s /bin/sh "$(cat /etc/cdrw/user)" -c \
    "LD_LIBRARY_PATH=/opt/cdrw/lib exec /opt/cdrw/bin/cdrw-kernel-driver --occupy=$node" </dev/null &
  occupant=$!
  tries=0
  while [ ! -e /tmp/occupied ] && [ $tries -lt 100 ]; do
    usleep 100000
    tries=$((tries + 1))
  done
}

# One pass of the driver. Words NAME=VALUE set the target's driver attribute NAME (under
# /sys/bus/pseudo/drivers/scsi_debug) first; words starting with -- are the driver's arguments;
# the word occupy has another program hold the CD block device during the pass; the word program
# runs the program itself instead, with the -- words as its arguments, on a terminal the driver
# answers at (its --at-terminal), and marks its end in the kernel's log. The pass's lines are
# framed by GUEST PASS n and GUEST PASS-END n.
run_pass() {
  number=$1
  shift
  args=
  occupy=0
  program=
  for word in "$@"; do
    case $word in
      --*) args="$args $word" ;;
      *=*) set_attribute "${word%%=*}" "${word#*=}" || say "SET-FAILED $word" ;;
      occupy) occupy=1 ;;
      program) program=" --at-terminal /opt/cdrw/cdrw-fwupdate" ;;
    esac
  done
  say "PASS $number $*"
  counts before
  # From here on the target's log (scsi_debug loaded with opts=1) holds this pass's commands.
  echo "cdrw-kernel-test: pass $number starts" >/dev/kmsg
  # Units other than the kernel's target have the mid-layer log what it sends them and how each
  # command ended (the queueing and completion levels of the SCSI logging).
  if [ ! -d /sys/bus/pseudo/drivers/scsi_debug ]; then
    echo $(((7 << 9) | (7 << 12))) >/proc/sys/dev/scsi/logging_level
  fi
  [ $occupy = 0 ] || start_occupant
  say "RUN driver as $(cat /etc/cdrw/user) with:$program$args"
  su -s /bin/sh "$(cat /etc/cdrw/user)" -c \
    "cd /tmp && LD_LIBRARY_PATH=/opt/cdrw/lib exec /opt/cdrw/bin/cdrw-kernel-driver$program$args" </dev/null
  say "DRIVER-EXIT $?"
  [ -z "$program" ] || echo "cdrw-kernel-test: program ends" >/dev/kmsg
  if [ -n "$occupant" ]; then
    kill "$occupant"
    wait "$occupant" 2>/dev/null
    occupant=
  fi
  echo 0 >/proc/sys/dev/scsi/logging_level
  counts after
  # Every command a unit received (CDB bytes) and every sense it answered with, in order, by the
  # unit's H:C:T:L. The kernel's target logs the sense as key,asc,ascq:
  #   GUEST KCMD 0:0:0:0 3b 06 00 00 40 00 00 40 00 00
  #   GUEST KSENSE 0:0:0:0 0x6,0x29,0x2
  # and the end of the driver's update guard as GUEST KMARK guard-ends, the end of the program as
  # GUEST KMARK program-ends.
  # The mid-layer logs each command twice (sent, done) and the sense in words:
  #   GUEST KSENSE-TEXT 0:0:3:0 Not Ready [current] | Medium not present
  dmesg | sed -n "/cdrw-kernel-test: pass $number starts/,\$p" | sed -n \
    -e 's/^.* \([0-9]*:[0-9]*:[0-9]*:[0-9]*\): scsi_debug: tag=[^,]*, cmd \(.*[^ ]\) *$/GUEST KCMD \1 \2/p' \
    -e 's/^.* \([0-9]*:[0-9]*:[0-9]*:[0-9]*\): scsi_debug: *\[sense_key,asc,ascq\]: \[\(.*\)\]$/GUEST KSENSE \1 \2/p' \
    -e 's/^.*cdrw-kernel-test: guard ends$/GUEST KMARK guard-ends/p' \
    -e 's/^.*cdrw-kernel-test: program ends$/GUEST KMARK program-ends/p' \
    -e 's/^.* \([0-9]*:[0-9]*:[0-9]*:[0-9]*\): \(tag#[0-9]*\) \(Send\):.*/SEND \1 \2/p' \
    -e 's/^.* \([0-9]*:[0-9]*:[0-9]*:[0-9]*\): \(tag#[0-9]*\) CDB: [^0-9]*\([0-9a-f][0-9a-f]\( [0-9a-f][0-9a-f]\)*\) *$/CDB \1 \2 \3/p' \
    -e 's/^.* \([0-9]*:[0-9]*:[0-9]*:[0-9]*\): tag#[0-9]* Sense Key : \(.*[^ ]\) *$/KEY \1 \2/p' \
    -e 's/^.* \([0-9]*:[0-9]*:[0-9]*:[0-9]*\): tag#[0-9]* Add\. Sense: \(.*[^ ]\) *$/ASC \1 \2/p' |
    while read -r kind unit rest; do
      case $kind in
        GUEST) echo "$kind $unit $rest" ;;
        SEND) sent="$unit $rest" ;;
        CDB)
          # The CDB line that follows the sending is the command; the one after Done repeats it.
          if [ "$sent" = "$unit ${rest%% *}" ]; then
            say "KCMD $unit ${rest#* }"
            sent=
          fi
          ;;
        KEY) key=$rest ;;
        ASC) say "KSENSE-TEXT $unit $key | $rest" ;;
      esac
    done
  say "PASS-END $number"
}

# The passes, one a line (make-initramfs.sh admits no quotes in them).
passes=0
while IFS= read -r pass; do
  passes=$((passes + 1))
  # shellcheck disable=SC2086 # the words of the line are the arguments
  run_pass "$passes" $pass
done </etc/cdrw/passes
say "CDRW-KERNEL-TEST-END"
poweroff -f
