#!/usr/bin/env bash
# Checks the serial output of the kernel test's guest (see init.sh and KernelDriver.cpp for the
# lines). Prints one line per failed check, then the log; exits 0 only when every check holds.
#
# usage: check-serial.sh SERIAL_LOG VENDOR PRODUCT REVISION [--expect=none|unit]
#   --expect=none  the manager reports no adapter (a manager that serves no device)
#   --expect=unit  the manager lists the scsi_debug unit and the download reaches it (default)
set -uo pipefail

# The text as an extended regular expression that matches it literally.
# shellcheck disable=SC2001 # a bracket class is clearer in sed
literal() { sed 's/[][\.*^$+?(){}|]/\\&/g' <<<"$1"; }

log=$1
vendor=$(literal "$2") product=$(literal "$3") revision=$(literal "$4")
expect=unit
for option in "${@:5}"; do
  case $option in
    --expect=none) expect=none ;;
    --expect=unit) expect=unit ;;
    *) echo "check-serial.sh: unknown option $option" >&2; exit 2 ;;
  esac
done

failures=0
fail() {
  echo "CHECK FAILED: $*"
  failures=$((failures + 1))
}
has_line() { grep -qxF -- "$1" "$log"; }

# The guest itself.
has_line "GUEST CDRW-KERNEL-TEST-END" || fail "the guest never reached its end marker"
grep -q "^GUEST INSMOD-FAILED" "$log" && fail "a module did not load: $(grep '^GUEST INSMOD-FAILED' "$log")"
has_line "GUEST NO-SG-NODE" && fail "the SCSI generic driver made no device node"
sg=$(grep -m1 -E "^GUEST SG sg[0-9]+ hctl=[0-9]+:[0-9]+:[0-9]+:0 type=5 vendor='$vendor' model='$product' rev='$revision' node=crw-rw----:root:cdrom$" "$log" | cut -d' ' -f3)
[ -n "$sg" ] || fail "no CD unit node with the target's INQUIRY texts, owned root:cdrom, mode 0660"

# The driver: a non-root member of group cdrom, bound to the manager, ending normally.
identity=$(grep -m1 '^IDENTITY ' "$log")
if [ -z "$identity" ]; then
  fail "the driver printed no identity"
else
  [[ $identity =~ uid=0\  ]] && fail "the driver ran as root: $identity"
  [[ $identity =~ groups=(.*,)?24(,|$) ]] || fail "the driver is not in group cdrom (24): $identity"
fi
grep -qE '^SUPPORT word=0x01[0-9a-f]{2} status=0x01 ' "$log" || fail "the manager's support word is not ready"
has_line "DRIVER-END" || fail "the driver did not finish"
has_line "GUEST DRIVER-EXIT 0" || fail "the driver ended with a failure status"

# Nothing may read as success that the kernel reported as failure, and an executed command that
# failed (status 0x04) names its adapter or target status. Other statuses (0x81 no adapter, 0x82
# no device) are the manager's own answers and carry neither.
while read -r line; do
  result=$(sed -n 's/.* result=0x\([0-9a-f]\{4\}\).*/\1/p' <<<"$line")
  hastat=$(sed -n 's/.* hastat=0x\([0-9a-f]\{2\}\).*/\1/p' <<<"$line")
  targstat=$(sed -n 's/.* targstat=0x\([0-9a-f]\{2\}\).*/\1/p' <<<"$line")
  status=${result:2:2}
  if [ "$status" = 01 ] && { [ "$hastat" != 00 ] || [ "$targstat" != 00 ]; }; then
    fail "success reported for a failed command: $line"
  fi
  if [ "$status" = 04 ] && [ "$hastat" = 00 ] && [ "$targstat" = 00 ]; then
    fail "a failure without adapter or target status: $line"
  fi
  if [ "$hastat" = 00 ] && [ "$targstat" = 02 ] && ! [[ $line =~ \ raw=7[0-3]\  ]]; then
    fail "CHECK CONDITION without sense data: $line"
  fi
done < <(grep -E '^(UNIT|NO-UNIT|WB) ' "$log")

if [ "$expect" = none ]; then
  has_line "NO-ADAPTER" || fail "the manager was expected to report no adapter"
else
  unit=$(grep -m1 -E "^UNIT [0-9]+:[0-9]+:0 result=0x0001 hastat=0x00 targstat=0x00 type=0x05 vendor='$vendor' product='$product' rev='$revision'$" "$log")
  if [ -z "$unit" ]; then
    fail "the scsi_debug unit is not listed with its INQUIRY texts"
  else
    address=$(cut -d' ' -f2 <<<"$unit")
    # The kernel's count of commands sent to the unit and of those that failed must match what
    # the driver saw: the manager neither hides a failure nor sends anything on its own.
    sent=$(grep -cE "^(UNIT|NO-UNIT) $address |^WB .* unit=$address " "$log")
    failed=$(grep -E "^NO-UNIT $address |^WB .* unit=$address " "$log" | grep -cv ' result=0x..01 ')
    count() {
      local line value
      line=$(grep -m1 "^GUEST COUNT $sg phase=$1 " "$log")
      value=${line##* "$2"=}
      echo "${value%% *}"
    }
    if [ -n "$sg" ] && [ -n "$(count before requests)" ] && [ -n "$(count after errors)" ]; then
      requests=$(($(count after requests) - $(count before requests)))
      errors=$(($(count after errors) - $(count before errors)))
      [ "$requests" = "$sent" ] || fail "the kernel saw $requests commands to $sg, the driver sent $sent"
      [ "$errors" = "$failed" ] || fail "the kernel failed $errors commands to $sg, the driver saw $failed fail"
    else
      fail "the kernel's command counts of the unit are missing"
    fi
    has_line "DEVTYPE $address result=0x0501" || fail "get-device-type of $address is not CD (5)"
    # Every block of both command forms, in order, with its offset, length, mode and flag; the
    # last attempt of each block must succeed.
    for form in scsi atapi; do
      for block in "0 16384 6 0" "16384 16384 6 0" "32768 5000 7 1"; do
        read -r off len mode flag <<<"$block"
        prefix="WB form=$form unit=$address off=$off len=$len mode=$mode flag=$flag "
        last=$(grep -F -- "$prefix" "$log" | tail -n 1)
        if [ -z "$last" ]; then
          fail "no $form block at offset $off"
        elif ! [[ $last =~ \ result=0x0001\  ]]; then
          fail "the $form block at offset $off did not go down: $last"
        fi
      done
    done
  fi
fi

if [ "$failures" != 0 ]; then
  echo "---- serial output ($log) ----"
  cat "$log"
  exit 1
fi
echo "kernel test: all checks passed (expect=$expect)"
