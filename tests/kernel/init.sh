#!/bin/sh
# First process of the kernel test's guest (busybox sh). Brings up the kernel's SCSI target
# (scsi_debug) and the SCSI generic driver, gives the generic nodes of CD units the owner and mode
# that Debian's udev rules give them, runs the driver program in passes as a non-root member of
# the cdrom group, prints after each pass the commands the target received as the kernel logged
# them, then the end marker, and powers the guest off. Every line it prints starts with GUEST.
PATH=/bin
export PATH

say() { echo "GUEST $*"; }

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
exec </dev/console >/dev/console 2>&1
echo  # the firmware's last line may lack its end
mkdir -p /tmp

# Modules in dependency order. The bus scan runs synchronously so the units exist once
# scsi_debug is loaded. The target's own parameters come one per line from the file the image was
# built with; each value is quoted, as the kernel splits the parameters at blanks otherwise.
while read -r module; do
  set --
  case $module in
    scsi_mod.ko) set -- scan=sync ;;
    scsi_debug.ko)
      while IFS= read -r param; do
        set -- "$@" "${param%%=*}=\"${param#*=}\""
      done </etc/cdrw/scsi_debug.params
      ;;
  esac
  insmod "/modules/$module" "$@" || say "INSMOD-FAILED $module"
done </modules/modules.load

# The generic nodes appear as sg registers the units; allow a little time for that.
tries=0
while ! ls /dev/sg* >/dev/null 2>&1 && [ $tries -lt 50 ]; do
  usleep 100000
  tries=$((tries + 1))
done
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

# The kernel's own count of the commands each unit was sent and of those that ended in error,
# so the test can hold the driver's view against the kernel's.
counts() {
  for class in /sys/class/scsi_generic/sg*; do
    [ -e "$class" ] || continue
    say "COUNT ${class##*/} phase=$1 requests=$(($(cat "$class/device/iorequest_cnt"))) errors=$(($(cat "$class/device/ioerr_cnt")))"
  done
}

# One pass of the driver. Words NAME=VALUE set the target's driver attribute NAME (under
# /sys/bus/pseudo/drivers/scsi_debug) first; words starting with -- are the driver's arguments.
# The pass's lines are framed by GUEST PASS n and GUEST PASS-END n.
run_pass() {
  number=$1
  shift
  args=
  for word in "$@"; do
    case $word in
      --*) args="$args $word" ;;
      *=*) echo "${word#*=}" >"/sys/bus/pseudo/drivers/scsi_debug/${word%%=*}" ||
        say "SET-FAILED $word" ;;
    esac
  done
  say "PASS $number $*"
  counts before
  # From here on the target's log (scsi_debug loaded with opts=1) holds this pass's commands.
  echo "cdrw-kernel-test: pass $number starts" >/dev/kmsg
  say "RUN driver as $(cat /etc/cdrw/user) with:$args"
  su -s /bin/sh "$(cat /etc/cdrw/user)" -c \
    "cd /tmp && LD_LIBRARY_PATH=/opt/cdrw/lib exec /opt/cdrw/bin/cdrw-kernel-driver$args" </dev/null
  say "DRIVER-EXIT $?"
  counts after
  # Every command the target received (CDB bytes) and every sense it answered with
  # (key,asc,ascq), in order, by the unit's H:C:T:L:
  #   GUEST KCMD 0:0:0:0 3b 06 00 00 40 00 00 40 00 00
  #   GUEST KSENSE 0:0:0:0 0x6,0x29,0x2
  dmesg | sed -n "/cdrw-kernel-test: pass $number starts/,\$p" | sed -n \
    -e 's/^.* \([0-9]*:[0-9]*:[0-9]*:[0-9]*\): scsi_debug: tag=[^,]*, cmd \(.*[^ ]\) *$/GUEST KCMD \1 \2/p' \
    -e 's/^.* \([0-9]*:[0-9]*:[0-9]*:[0-9]*\): scsi_debug: *\[sense_key,asc,ascq\]: \[\(.*\)\]$/GUEST KSENSE \1 \2/p'
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
