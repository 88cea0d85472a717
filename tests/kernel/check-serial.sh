#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# SPDX-FileCopyrightText: The cdrw-fwupdate developers
# Checks the serial output of the kernel test's guest (see init.sh and KernelDriver.cpp for the
# lines). The driver's lines say what the program showed and answered (in a pass of the program
# itself, what it showed on the terminal and what the driver answered there); the GUEST KCMD lines
# say what each unit received, as the kernel logged it. What a unit answered comes from the unit's own
# log: the kernel's target logs it (GUEST KSENSE), QEMU's units log it in QEMU's trace. Each pass
# of the driver (GUEST PASS n ... GUEST PASS-END n) is checked on its own lines. Prints one line
# per failed check, then the log; exits 0 only when every check holds.
#
# usage: check-serial.sh SERIAL_LOG VENDOR PRODUCT REVISION [--expect=none|unit]
#        check-serial.sh SERIAL_LOG --buses=UNITS_LOG [--expect=none|unit]
#   VENDOR...      the texts the scsi_debug unit was given
#   --buses=FILE   the guest with QEMU's virtio-scsi, ATAPI and USB units; FILE is QEMU's trace
#   --expect=none  the manager reports no adapter (a manager that serves no device)
#   --expect=unit  the manager lists the units and the updates reach them (default)
set -uo pipefail

# The text as an extended regular expression that matches it literally.
# shellcheck disable=SC2001 # a bracket class is clearer in sed
literal() { sed 's/[][\.*^$+?(){}|]/\\&/g' <<<"$1"; }

full_log=$1
shift
units_log=""
if [[ ${1:-} == --buses=* ]]; then
  units_log=${1#--buses=}
  shift
else
  vendor_text=$1 product_text=$2 revision_text=$3
  shift 3
fi
expect=unit
for option in "$@"; do
  case $option in
    --expect=none) expect=none ;;
    --expect=unit) expect=unit ;;
    *) echo "check-serial.sh: unknown option $option" >&2; exit 2 ;;
  esac
done

# The units of the buses guest as the list must show them, in the manager's adapter order
# (hosts ascending: virtio-scsi, then libata, then USB), each on its own adapter: line, the
# INQUIRY texts as the unit pads them, and where QEMU's trace records its commands (scsi: QEMU's
# SCSI layer, by SCSI id; ide: the IDE controller). QEMU's ATAPI unit reports QEMU's own texts,
# which make it ineligible.
readonly kBusUnits=(
  "0:7:3|VEK     |CD-RW KT-1220V  |2.0Q|scsi"
  "1:7:0|QEMU    |QEMU DVD-ROM    |2.5+|ide"
  "2:7:0|VEK     |CD-RW KT-1230U  |2.0Q|scsi"
)

# What the image of the driver's firmware file (37768 bytes with its EDC) must go down as:
# offset, length, mode and last-block flag of each WRITE BUFFER.
readonly kBlocks=("0 16384 6 0" "16384 16384 6 0" "32768 5000 7 1")
# The program's texts for the sense the units answer with (key,asc,ascq as scsi_debug logs it):
# the sense key's name, then the additional sense text (the program has none for 3F/16 nor for
# 4B/03, the transport problem scsi_debug injects).
declare -A kSenseTexts=(
  [0x6,0x29,0x0]="Unit attention|Power on,reset,or BUS device reset occurred"
  [0x6,0x29,0x1]="Unit attention|Power on occurred"
  [0x6,0x29,0x2]="Unit attention|SCSI BUS reset occurred"
  [0x6,0x3f,0x16]="Unit attention|"
  [0x2,0x3a,0x0]="Not ready|Medium not present"
  [0xb,0x4b,0x3]="Aborted command|"
)
readonly kInjectedSense=0xb,0x4b,0x3

failures=0
where=""  # "pass N: " while a pass is checked
fail() {
  echo "CHECK FAILED: $where$*"
  failures=$((failures + 1))
}
log=$full_log
has_line() { grep -qxF -- "$1" "$log"; }
blanks() { printf "%$1s" ""; }

# The guest itself.
has_line "GUEST CDRW-KERNEL-TEST-END" || fail "the guest never reached its end marker"
grep -q "^GUEST INSMOD-FAILED" "$log" && fail "a module did not load: $(grep '^GUEST INSMOD-FAILED' "$log")"
has_line "GUEST NO-SG-NODE" && fail "the SCSI generic driver made no device node"

# The units the test expects, each as "node hctl record line-text": its generic node, its address,
# where its answers are recorded and its line in the unit list. The node must carry the unit's
# INQUIRY texts, root:cdrom 0660.
units=()
expect_unit() {
  local vendor_text=$1 product_text=$2 revision_text=$3 own_address=$4 sg_line
  # $5: where the unit's answers are recorded: target (scsi_debug), scsi or ide (QEMU)
  sg_line=$(grep -m1 -E "^GUEST SG sg[0-9]+ hctl=[0-9]+:[0-9]+:[0-9]+:0 type=5 vendor='$(literal "$vendor_text")' model='$(literal "$product_text")' rev='$(literal "$revision_text")' node=crw-rw----:root:cdrom$" "$log")
  if [ -z "$sg_line" ]; then
    fail "no CD unit node with the INQUIRY texts '$vendor_text' '$product_text' '$revision_text', owned root:cdrom, mode 0660"
    return
  fi
  local sg hctl
  sg=$(cut -d' ' -f3 <<<"$sg_line")
  hctl=$(sed -n 's/.* hctl=\([0-9:]*\) .*/\1/p' <<<"$sg_line")
  # The unit line: adapter, the adapter's own id 7 and the target, then the INQUIRY texts as the
  # unit pads them, 9, 7 and 5 blanks before them.
  units+=("$sg $hctl $5 $own_address$(blanks 9)$vendor_text$(blanks 7)$product_text$(blanks 5)$revision_text")
}
if [ -z "$units_log" ]; then
  expect_unit "$vendor_text" "$product_text" "$revision_text" "0:7:0" target
else
  for unit in "${kBusUnits[@]}"; do
    IFS='|' read -r address u_vendor u_product u_revision u_record <<<"$unit"
    expect_unit "$u_vendor" "$u_product" "$u_revision" "$address" "$u_record"
  done
  # The adapters follow the hosts: the lines' units sit on ascending hosts.
  previous=-1
  for unit in "${units[@]}"; do
    read -r _ u_hctl _ <<<"$unit"
    [ "${u_hctl%%:*}" -gt "$previous" ] || fail "the units do not sit on ascending hosts: ${units[*]}"
    previous=${u_hctl%%:*}
  done
  [ "$(grep -c '^GUEST SG ' "$log")" = "${#kBusUnits[@]}" ] ||
    fail "the guest has $(grep -c '^GUEST SG ' "$log") generic nodes, not ${#kBusUnits[@]}"
fi

# The kernel's count of the commands the unit received, and of those that failed, while the
# driver ran.
count() {
  local line value
  line=$(grep -m1 "^GUEST COUNT $sg phase=$1 " "$log")
  value=${line##* "$2"=}
  echo "${value%% *}"
}

# The WRITE BUFFER commands the target received, in order, as "form offset length mode flag
# sense" (sense "-" when it answered GOOD), from the CDB bytes the kernel logged.
attempts=()
read_attempts() {
  local kind unit rest cdb
  attempts=()
  while read -r _ kind unit rest; do
    [ "$unit" = "$hctl" ] || continue
    if [ "$kind" = KSENSE ]; then
      local last=$((${#attempts[@]} - 1))
      if [ "$last" -ge 0 ] && [ "${attempts[$last]##* }" = - ]; then
        attempts[last]="${attempts[$last]% -} $rest"
      fi
      continue
    fi
    read -ra cdb <<<"$rest"
    [ "${cdb[0]}" = 3b ] || continue
    local form flag_byte
    case ${#cdb[@]} in
      10) form=scsi flag_byte=${cdb[9]} ;;
      12) form=atapi flag_byte=${cdb[11]} ;;
      *) fail "a WRITE BUFFER of ${#cdb[@]} bytes: $rest"; continue ;;
    esac
    [ "${cdb[2]}" = 00 ] || fail "a WRITE BUFFER to buffer ${cdb[2]}: $rest"
    attempts+=("$form $((16#${cdb[3]}${cdb[4]}${cdb[5]})) $((16#${cdb[6]}${cdb[7]}${cdb[8]})) $((16#${cdb[1]})) $((16#$flag_byte >> 7)) -")
  done < <(grep -E '^GUEST (KCMD|KSENSE) ' "$log")
  if [ "$record" = scsi ]; then
    read_unit_answers
  fi
}

# QEMU's units: what the unit at SCSI id $target answered to each WRITE BUFFER, from QEMU's
# trace (a sense it built for the command's tag before its next command, else GOOD), given to
# the attempts in order. The kernel must have logged as many commands as the unit received.
read_unit_answers() {
  local answers=() tag="" event rest
  while read -r event rest; do
    local -a words
    read -ra words <<<"$rest"
    [ "${words[1]}" = "$target" ] || continue
    if [ "$event" = scsi_req_parsed ]; then
      tag=""
      [ "${words[7]}" = 59 ] || continue
      tag=${words[5]}
      answers+=("-")
    elif [ -n "$tag" ] && [ "${words[5]}" = "$tag" ]; then
      answers[-1]=$(printf '0x%x,0x%x,0x%x' "${words[7]}" "${words[9]}" "${words[11]}")
      tag=""
    fi
  done < <(grep -E '^scsi_req_(parsed|build_sense) ' "$units_log")
  if [ "${#answers[@]}" != "${#attempts[@]}" ]; then
    fail "the unit at id $target received ${#answers[@]} WRITE BUFFER commands, the kernel logged ${#attempts[@]}"
    return
  fi
  local i
  for i in "${!attempts[@]}"; do
    attempts[i]="${attempts[$i]% -} ${answers[$i]}"
  done
}

# The error dialog number $1 must show the failure the kernel logged as sense $2 for unit
# $target: address, operation code, sense key with its name, ASC/ASCQ and the sense text.
check_dialog() {
  local number=$1 sense=$2 texts key asc ascq
  if [ -z "${kSenseTexts[$sense]+set}" ]; then
    fail "the target answered with sense $sense, which this test has no texts for"
    return
  fi
  texts=${kSenseTexts[$sense]}
  IFS=, read -r key asc ascq <<<"$sense"
  local expected=("Host Adapter ID:$adapter   Device ID:$target" "Operate Code:3b"
    "Sense Key:${key#0x}  ${texts%%|*}" "ASC:${asc#0x}  ASCQ:${ascq#0x}" "${texts#*|}" "")
  local shown=()
  mapfile -t shown < <(sed -n -e "s/^DIALOG $number //p" -e "s/^DIALOG $number\$//p" "$log")
  if [ "${shown[*]@Q}" != "${expected[*]@Q}" ]; then
    fail "error dialog $number shows ${shown[*]@Q}; for sense $sense it must show ${expected[*]@Q}"
  fi
  [ "$sense" = "$kInjectedSense" ] && injected_dialogs=$((injected_dialogs + 1))
}

# The next of the attempts (at index $next, which it advances), due as block $block in form $1:
# sets a_sense to what the target answered ("-" for GOOD). Fails with status 1 when the target
# never received it, 2 when it received another command first ($2 names the run).
take_attempt() {
  local a_form a_off a_len a_mode a_flag
  if [ "$next" -ge "${#attempts[@]}" ]; then
    fail "$2the target never received the block at offset ${kBlocks[$block]%% *}"
    return 1
  fi
  read -r a_form a_off a_len a_mode a_flag a_sense <<<"${attempts[$next]}"
  next=$((next + 1))
  if [ "$a_form $a_off $a_len $a_mode $a_flag" != "$1 ${kBlocks[$block]}" ]; then
    fail "$2the target received '$a_form $a_off $a_len $a_mode $a_flag' where '$1 ${kBlocks[$block]}' was due"
    return 2
  fi
}

# What the passes together must have shown.
complete_forms="" stopped_runs=0 descriptor_dialogs=0 programs=0
injected_dialogs=0 injected_fixed=0 injected_descriptor=0 dropped_inquiries=0 ineligible_runs=0

# Walks the driver's runs against the commands the target received: every block goes down in
# order with its offset, length, mode and flag; every command the target failed is shown in an
# error dialog and then retried, skipped or ends the run as the answer says; a command that went
# down is never shown as failed; nothing is sent after a Stop or after the last block.
walk_runs() {
  local line_number=$1 next=0 dialogs=0 run form outcome
  while read -r _ run form _; do
    form=${form#form=}
    outcome=$(sed -n "s/^RUN-END $run outcome=//p" "$log")
    # An update aimed at QEMU's ATAPI unit ends before sending (checked in check_unit).
    if [ "$outcome" = not-eligible ] && [ "$record" = ide ]; then
      continue
    fi
    local block=0 answer="" all_down=1 stopped=0 ignored=0 dialog
    local -a shown_dialogs
    mapfile -t shown_dialogs < <(sed -n "s/^ERROR-DIALOG \([0-9]*\) run=$run\$/\1/p" "$log")
    while [ "$block" -lt "${#kBlocks[@]}" ]; do
      take_attempt "$form" "run $run: "
      case $? in
        1) break ;;
        2) return ;;  # the rest would only repeat the step out of line
      esac
      if [ "$a_sense" = - ]; then
        block=$((block + 1))
        continue
      fi
      if [ "${#shown_dialogs[@]}" = 0 ]; then
        fail "run $run: the target failed a command ($a_sense) that no error dialog of this run shows"
        return
      fi
      dialog=${shown_dialogs[0]}
      shown_dialogs=("${shown_dialogs[@]:1}")
      dialogs=$((dialogs + 1))
      check_dialog "$dialog" "$a_sense"
      answer=$(sed -n "s/^ANSWER $dialog //p" "$log")
      case $answer in
        retry) ;;
        ignore) all_down=0 ignored=$((ignored + 1)) block=$((block + 1)) ;;
        stop) all_down=0 stopped=1; break ;;
        *) fail "error dialog $dialog has no answer"; return ;;
      esac
    done
    if [ "$stopped" = 1 ]; then
      stopped_runs=$((stopped_runs + 1))
      [ "$outcome" = stopped ] || fail "run $run was stopped but ended '$outcome'"
    else
      [ "$outcome" = declined ] || fail "run $run sent every block but ended '$outcome'"
      [ "$all_down" = 1 ] && complete_forms+=" $form"
    fi
    # The final wait and question belong to a run that was not stopped, and only to it; after
    # ignored blocks the question says how many the unit did not take instead of "completed".
    local tail question="Update completed. Shutdown PC."
    [ "$ignored" = 0 ] ||
      question="The unit did not take $ignored of ${#kBlocks[@]} blocks: its firmware may be incomplete. Update it again before you switch the PC off. End the program?"
    tail=$(sed -n "/^RUN $run /,/^RUN-END $run /p" "$log")
    local finished=0
    grep -qxF "SLEEP 70000" <<<"$tail" &&
      grep -qxF "BOX caption='Confirm' text='$question' answer=no" <<<"$tail" &&
      finished=1
    [ "$finished" = $((1 - stopped)) ] || fail "run $run: the final wait and question do not fit its end"
    [ "${#shown_dialogs[@]}" = 0 ] ||
      fail "run $run: error dialogs ${shown_dialogs[*]} show failures the target never answered"
  done < <(grep -E "^RUN [0-9]+ form=(scsi|atapi) answers=[^ ]* line=$line_number\$" "$log")

  [ "$next" = "${#attempts[@]}" ] ||
    fail "the target received $((${#attempts[@]} - next)) WRITE BUFFER commands after the runs had ended"
  unit_dialogs=$dialogs
  if grep -q '^GUEST PASS [0-9]* .*dsense=1' "$log"; then
    descriptor_dialogs=$((descriptor_dialogs + dialogs))
  fi
}

# The driver (and the program it starts) ran as a non-root member of group cdrom, the target took
# its attributes, and the driver ended normally.
check_identity() {
  identity=$(grep -m1 '^IDENTITY ' "$log")
  if [ -z "$identity" ]; then
    fail "the driver printed no identity"
  else
    [[ $identity =~ uid=0\  ]] && fail "the driver ran as root: $identity"
    [[ $identity =~ groups=(.*,)?24(,|$) ]] || fail "the driver is not in group cdrom (24): $identity"
  fi
  grep -q "^GUEST SET-FAILED" "$log" && fail "a target attribute was not set: $(grep '^GUEST SET-FAILED' "$log")"
  has_line "GUEST DRIVER-EXIT 0" || fail "the driver ended with a failure status"
}

# A pass of the buses guest in which the program listed the units as JSON: each unit's transport
# in the list's order (virtio-scsi, libata, USB), the USB unit with its bridge's id.
check_list_pass() {
  check_identity
  [ "$expect" = unit ] || return 0
  has_line "PROGRAM-EXIT 0" || fail "--list ended with status $(sed -n 's/^PROGRAM-EXIT //p' "$log"), not 0"
  local kinds
  kinds=$(sed -n 's/^TTY *"transport": "\([a-z]*\)",\{0,1\}$/\1/p' "$log" | tr '\n' ' ')
  [ "$kinds" = "scsi ata usb " ] || fail "--list --json gave the transports '$kinds', not 'scsi ata usb'"
  grep -qE '^TTY *"usb_id": "[0-9a-f]{4}:[0-9a-f]{4}",?$' "$log" ||
    fail "--list --json gave no usb_id for the USB unit"
}

# A pass of the buses guest in which the program was asked to update the unit behind the USB
# bridge: refused with status 1 and the bridge named, no side file written, no WRITE BUFFER sent.
check_bridge_pass() {
  check_identity
  [ "$expect" = unit ] || return 0
  has_line "PROGRAM-EXIT 1" || fail "the update of the USB unit ended with status $(sed -n 's/^PROGRAM-EXIT //p' "$log"), not 1"
  grep -qE '^TTY The unit 2:7:0 is attached through a USB bridge \([0-9a-f]{4}:[0-9a-f]{4}\)\. ' "$log" ||
    fail "the program did not refuse the unit behind the USB bridge, naming the bridge"
  has_line "SIDE-FILES none" || fail "the refused update wrote its side files"
  grep -qE '^GUEST KCMD [0-9:]+ 3b ' "$log" && fail "a WRITE BUFFER reached a unit in the refused update"
  return 0
}

# The checks of a pass in which the program itself updated the unit from a shell, with --yes, on
# a terminal where the driver retried each failed block: the unit received what a driver's run in
# the ATAPI form (the window's default) sends, every failure was shown with the error dialog's
# lines, the wait was counted down, and the program ended with status 0.
check_program_pass() {
  check_identity
  if [ "$expect" = none ]; then
    grep -q '^TTY cdrw-fwupdate: no unit ' "$log" || fail "the program did not say that there is no unit"
    has_line "PROGRAM-EXIT 1" || fail "the program did not end with status 1"
    return
  fi
  has_line "PROGRAM-EXIT 0" || fail "the program ended with status $(sed -n 's/^PROGRAM-EXIT //p' "$log"), not 0"
  local unit
  for unit in "${units[@]}"; do
    read -r sg hctl record line_text <<<"$unit"
    IFS=: read -r _ _ target _ <<<"$hctl"
    adapter=${line_text%%:*}
    has_line "TTY Unit:  $line_text" || continue  # the program updated another unit
    check_scan "$hctl"
    read_attempts
    local next=0 block=0 dialog=0 a_sense
    while [ "$block" -lt "${#kBlocks[@]}" ]; do
      take_attempt atapi "the program: " || break
      if [ "$a_sense" = - ]; then
        block=$((block + 1))
      else
        dialog=$((dialog + 1))
        check_dialog "$dialog" "$a_sense"
        has_line "ANSWER $dialog retry" || fail "error dialog $dialog was not answered"
      fi
    done
    [ "$next" = "${#attempts[@]}" ] ||
      fail "the target received $((${#attempts[@]} - next)) WRITE BUFFER commands after the last block"
    [ "$(grep -c '^ERROR-DIALOG ' "$log")" = "$dialog" ] ||
      fail "the program showed $(grep -c '^ERROR-DIALOG ' "$log") failures; the target answered $dialog"
    unit_dialogs=$dialog
    check_counts
    has_line "TTY Wait a moment please... 70 s" || fail "the program did not count the wait down"
    has_line "TTY Update completed. Shutdown PC." || fail "the program did not say that the update is complete"
    programs=$((programs + 1))
  done
}

# The checks of one pass, on its lines in $log.
check_pass() {
  # The driver: a non-root member of group cdrom, bound to the manager, ending normally.
  check_identity
  grep -qE '^SUPPORT word=0x01[0-9a-f]{2}$' "$log" || fail "the manager's support word is not ready"
  has_line "DRIVER-END" || fail "the driver did not finish"

  if [ "$expect" = none ]; then
    has_line "NO-ADAPTER" || fail "the manager was expected to report no adapter"
    return
  fi
  [ "${#units[@]}" -gt 0 ] || return

  # A pass in which the kernel's target drops every command (opts with 0x4, every_nth=1): the
  # scan's INQUIRY ends at the manager's time-out of 10 s and leaves the unit out of the list.
  local pass_words dropping=0
  pass_words=$(grep -m1 '^GUEST PASS ' "$log")
  if [[ " $pass_words " == *" every_nth=1 "* ]] && [[ $pass_words =~ \ opts=(0x[0-9a-fA-F]+|[0-9]+) ]] &&
    (((${BASH_REMATCH[1]} & 4) != 0)); then
    dropping=1
  fi
  if [ "$dropping" = 1 ]; then
    has_line "NO-UNIT" || fail "the unit whose INQUIRY was dropped is listed"
    local scan_ms
    scan_ms=$(sed -n 's/^SCAN-END ms=//p' "$log")
    [ "${scan_ms:-0}" -ge 10000 ] || fail "the scan ended after ${scan_ms:-?} ms, before the INQUIRY time-out"
    grep -q '^RUN ' "$log" && fail "an update ran without a listed unit"
    dropped_inquiries=$((dropped_inquiries + 1))
  else
    # Each unit exactly as the list shows it, in the manager's adapter order, and nothing else.
    local listed expected=()
    for unit in "${units[@]}"; do
      expected+=("${unit#* * * }")
    done
    mapfile -t listed < <(sed -n 's/^UNIT-LINE //p' "$log")
    [ "${listed[*]@Q}" = "${expected[*]@Q}" ] ||
      fail "the list shows ${listed[*]@Q}; it must show ${expected[*]@Q}"
  fi

  local line_number=0
  for unit in "${units[@]}"; do
    line_number=$((line_number + 1))
    read -r sg hctl record line_text <<<"$unit"
    IFS=: read -r _ _ target _ <<<"$hctl"
    adapter=${line_text%%:*}
    check_unit "$line_number"
  done
}

# The scan asked the unit at $1 for INQUIRY in the SCSI form first; every later command is a
# WRITE BUFFER.
check_scan() {
  local first others
  first=$(grep -m1 "^GUEST KCMD $1 " "$log")
  [ "$first" = "GUEST KCMD $1 12 00 00 00 62 00" ] || fail "the scan's INQUIRY to $1 is not its first command: $first"
  others=$(grep "^GUEST KCMD $1 " "$log" | tail -n +2 | grep -v "^GUEST KCMD $1 3b ")
  [ -z "$others" ] || fail "commands other than WRITE BUFFER after the scan: $others"
}

# The kernel's counters agree with its log and with the dialogs: each command the unit ($sg,
# $hctl) received was logged, and each one that failed ($unit_dialogs) was shown as failed.
check_counts() {
  if [ -n "$(count before requests)" ] && [ -n "$(count after errors)" ]; then
    local requests errors logged
    requests=$(($(count after requests) - $(count before requests)))
    errors=$(($(count after errors) - $(count before errors)))
    logged=$(grep -c "^GUEST KCMD $hctl " "$log")
    [ "$requests" = "$logged" ] || fail "the kernel counted $requests commands to $sg, its log holds $logged"
    [ "$errors" = "$unit_dialogs" ] || fail "the kernel failed $errors commands to $sg, the program showed $unit_dialogs"
  else
    fail "the kernel's command counts of $sg are missing"
  fi
}

# The checks of one unit ($sg, $hctl, $target) in one pass: the commands it received, the runs
# aimed at it (list line $1) and the kernel's counters.
check_unit() {
  check_scan "$hctl"
  read_attempts
  unit_dialogs=0
  walk_runs "$1"

  # A unit the update may not be aimed at: the run ends after the side files, silently.
  local run
  for run in $(sed -n "s/^RUN \([0-9]*\) .* line=$1\$/\1/p" "$log"); do
    if [ "$(sed -n "s/^RUN-END $run outcome=//p" "$log")" = not-eligible ]; then
      sed -n "/^RUN $run /,/^RUN-END $run /p" "$log" | grep -qE '^(BOX|ERROR-DIALOG|SLEEP|IMAGE) ' &&
        fail "run $run at an ineligible unit showed or sent something"
      ineligible_runs=$((ineligible_runs + 1))
    fi
  done

  check_counts
  if [ -n "$units_log" ]; then
    local failed
    failed=$(grep -c "^GUEST KSENSE-TEXT $hctl " "$log")
    [ "$failed" = "$unit_dialogs" ] || fail "the kernel logged sense $failed times for $hctl, the program showed $unit_dialogs"
  fi
}

passes=$(grep -c '^GUEST PASS [0-9]* ' "$full_log")
[ "$passes" -ge 1 ] || fail "the driver never ran"
pass_log=$(mktemp)
trap 'rm -f "$pass_log"' EXIT
for ((pass = 1; pass <= passes; pass++)); do
  sed -n "/^GUEST PASS $pass /,/^GUEST PASS-END $pass\$/p" "$full_log" >"$pass_log"
  grep -qx "GUEST PASS-END $pass" "$pass_log" || fail "pass $pass did not end"
  log=$pass_log where="pass $pass: "
  injected_dialogs=0
  if grep -qE '^GUEST PASS [0-9]+ program --list' "$log"; then
    check_list_pass
  elif grep -qE '^GUEST PASS [0-9]+ program --update=[^ ]* --unit=2:7:0' "$log"; then
    check_bridge_pass
  elif grep -qE '^GUEST PASS [0-9]+ (.* )?program( |$)' "$log"; then
    check_program_pass
  else
    check_pass
  fi
  if grep -q '^GUEST PASS [0-9]* .*dsense=1' "$log"; then
    injected_descriptor=$((injected_descriptor + injected_dialogs))
  else
    injected_fixed=$((injected_fixed + injected_dialogs))
  fi
  log=$full_log where=""
done

if [ "$expect" = unit ] && [ -z "$units_log" ]; then
  [[ $complete_forms == *scsi* ]] || fail "no run sent the whole image in the SCSI form"
  [[ $complete_forms == *atapi* ]] || fail "no run sent the whole image in the ATAPI form"
  [ "$stopped_runs" -ge 1 ] || fail "no run was stopped"
  [ "$descriptor_dialogs" -ge 1 ] || fail "no error dialog showed sense the target gave in descriptor format"
  [ "$injected_fixed" -ge 1 ] || fail "no error dialog showed an injected failure in fixed-format sense"
  [ "$injected_descriptor" -ge 1 ] || fail "no error dialog showed an injected failure in descriptor-format sense"
  [ "$dropped_inquiries" -ge 1 ] || fail "no pass dropped the scan's INQUIRY"
  [ "$programs" -ge 1 ] || fail "the program itself updated no unit from a shell"
elif [ "$expect" = unit ]; then
  [ "$stopped_runs" -ge 2 ] || fail "the updates of the virtio-scsi and USB units were not both stopped"
  [ "$ineligible_runs" -ge 1 ] || fail "no update was aimed at the ineligible ATAPI unit"
  grep -qE '^ide_atapi_cmd .* cmd: 0x3b$' "$units_log" && fail "the ATAPI unit received a WRITE BUFFER"
fi

if [ "$failures" != 0 ]; then
  echo "---- serial output ($full_log) ----"
  cat "$full_log"
  exit 1
fi
echo "kernel test: all checks passed (expect=$expect)"
