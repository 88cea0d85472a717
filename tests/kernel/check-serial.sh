#!/usr/bin/env bash
# Checks the serial output of the kernel test's guest (see init.sh and KernelDriver.cpp for the
# lines). The driver's lines say what the program showed and answered; the GUEST KCMD/KSENSE lines
# say what the target received and answered, as the kernel logged it. Each pass of the driver
# (GUEST PASS n ... GUEST PASS-END n) is checked on its own lines. Prints one line per failed
# check, then the log; exits 0 only when every check holds.
#
# usage: check-serial.sh SERIAL_LOG VENDOR PRODUCT REVISION [--expect=none|unit]
#   --expect=none  the manager reports no adapter (a manager that serves no device)
#   --expect=unit  the manager lists the scsi_debug unit and the updates reach it (default)
set -uo pipefail

# The text as an extended regular expression that matches it literally.
# shellcheck disable=SC2001 # a bracket class is clearer in sed
literal() { sed 's/[][\.*^$+?(){}|]/\\&/g' <<<"$1"; }

full_log=$1
vendor_text=$2 product_text=$3 revision_text=$4
vendor=$(literal "$2") product=$(literal "$3") revision=$(literal "$4")
expect=unit
for option in "${@:5}"; do
  case $option in
    --expect=none) expect=none ;;
    --expect=unit) expect=unit ;;
    *) echo "check-serial.sh: unknown option $option" >&2; exit 2 ;;
  esac
done

# What the image of the driver's firmware file (37768 bytes with its EDC) must go down as:
# offset, length, mode and last-block flag of each WRITE BUFFER.
readonly kBlocks=("0 16384 6 0" "16384 16384 6 0" "32768 5000 7 1")
# The program's texts for the sense the target answers with (key,asc,ascq as the kernel logs
# it): the sense key's name, then the additional sense text (the program has none for 3F/16).
declare -A kSenseTexts=(
  [0x6,0x29,0x1]="Unit attention|Power on occurred"
  [0x6,0x29,0x2]="Unit attention|SCSI BUS reset occurred"
  [0x6,0x3f,0x16]="Unit attention|"
)

failures=0
where=""  # "pass N: " while a pass is checked
fail() {
  echo "CHECK FAILED: $where$*"
  failures=$((failures + 1))
}
log=$full_log
has_line() { grep -qxF -- "$1" "$log"; }

# The guest itself.
has_line "GUEST CDRW-KERNEL-TEST-END" || fail "the guest never reached its end marker"
grep -q "^GUEST INSMOD-FAILED" "$log" && fail "a module did not load: $(grep '^GUEST INSMOD-FAILED' "$log")"
has_line "GUEST NO-SG-NODE" && fail "the SCSI generic driver made no device node"
sg_line=$(grep -m1 -E "^GUEST SG sg[0-9]+ hctl=[0-9]+:[0-9]+:[0-9]+:0 type=5 vendor='$vendor' model='$product' rev='$revision' node=crw-rw----:root:cdrom$" "$log")
[ -n "$sg_line" ] || fail "no CD unit node with the target's INQUIRY texts, owned root:cdrom, mode 0660"
sg=$(cut -d' ' -f3 <<<"$sg_line")
hctl=$(sed -n 's/.* hctl=\([0-9:]*\) .*/\1/p' <<<"$sg_line")

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
  local expected=("Host Adapter ID:0   Device ID:$target" "Operate Code:3b"
    "Sense Key:${key#0x}  ${texts%%|*}" "ASC:${asc#0x}  ASCQ:${ascq#0x}" "${texts#*|}" "")
  local shown=()
  mapfile -t shown < <(sed -n -e "s/^DIALOG $number //p" -e "s/^DIALOG $number\$//p" "$log")
  if [ "${shown[*]@Q}" != "${expected[*]@Q}" ]; then
    fail "error dialog $number shows ${shown[*]@Q}; for sense $sense it must show ${expected[*]@Q}"
  fi
}

# What the passes together must have shown.
complete_forms="" stopped_runs=0 descriptor_dialogs=0

# Walks the driver's runs against the commands the target received: every block goes down in
# order with its offset, length, mode and flag; every command the target failed is shown in an
# error dialog and then retried, skipped or ends the run as the answer says; a command that went
# down is never shown as failed; nothing is sent after a Stop or after the last block.
walk_runs() {
  local next=0 dialog=0 run form outcome
  while read -r _ run form _; do
    form=${form#form=}
    outcome=$(sed -n "s/^RUN-END $run outcome=//p" "$log")
    local block=0 answer="" all_down=1 stopped=0
    while [ "$block" -lt "${#kBlocks[@]}" ]; do
      if [ "$next" -ge "${#attempts[@]}" ]; then
        fail "run $run: the target never received the block at offset ${kBlocks[$block]%% *}"
        break
      fi
      read -r a_form a_off a_len a_mode a_flag a_sense <<<"${attempts[$next]}"
      next=$((next + 1))
      if [ "$a_form $a_off $a_len $a_mode $a_flag" != "$form ${kBlocks[$block]}" ]; then
        fail "run $run: the target received '$a_form $a_off $a_len $a_mode $a_flag' where '$form ${kBlocks[$block]}' was due"
        return  # the rest would only repeat the step out of line
      fi
      if [ "$a_sense" = - ]; then
        block=$((block + 1))
        continue
      fi
      dialog=$((dialog + 1))
      if ! has_line "ERROR-DIALOG $dialog run=$run"; then
        fail "run $run: the target failed a command ($a_sense) that no error dialog of this run shows"
        return
      fi
      check_dialog "$dialog" "$a_sense"
      answer=$(sed -n "s/^ANSWER $dialog //p" "$log")
      case $answer in
        retry) ;;
        ignore) all_down=0 block=$((block + 1)) ;;
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
    # The final wait and question belong to a run that was not stopped, and only to it.
    local tail
    tail=$(sed -n "/^RUN $run /,/^RUN-END $run /p" "$log")
    local finished=0
    grep -qxF "SLEEP 70000" <<<"$tail" &&
      grep -qxF "BOX caption='Confirm' text='Update completed. Shutdown PC.' answer=no" <<<"$tail" &&
      finished=1
    [ "$finished" = $((1 - stopped)) ] || fail "run $run: the final wait and question do not fit its end"
  done < <(grep -E '^RUN [0-9]+ form=(scsi|atapi) ' "$log")

  [ "$next" = "${#attempts[@]}" ] ||
    fail "the target received $((${#attempts[@]} - next)) WRITE BUFFER commands after the runs had ended"
  [ "$dialog" = "$(grep -c '^ERROR-DIALOG ' "$log")" ] ||
    fail "$(grep -c '^ERROR-DIALOG ' "$log") error dialogs were shown for $dialog commands the target failed"
  if grep -q '^GUEST PASS [0-9]* .*dsense=1' "$log"; then
    descriptor_dialogs=$((descriptor_dialogs + dialog))
  fi
}

# The checks of one pass, on its lines in $log.
check_pass() {
  # The driver: a non-root member of group cdrom, bound to the manager, ending normally.
  identity=$(grep -m1 '^IDENTITY ' "$log")
  if [ -z "$identity" ]; then
    fail "the driver printed no identity"
  else
    [[ $identity =~ uid=0\  ]] && fail "the driver ran as root: $identity"
    [[ $identity =~ groups=(.*,)?24(,|$) ]] || fail "the driver is not in group cdrom (24): $identity"
  fi
  grep -q "^GUEST SET-FAILED" "$log" && fail "a target attribute was not set: $(grep '^GUEST SET-FAILED' "$log")"
  grep -qE '^SUPPORT word=0x01[0-9a-f]{2}$' "$log" || fail "the manager's support word is not ready"
  has_line "DRIVER-END" || fail "the driver did not finish"
  has_line "GUEST DRIVER-EXIT 0" || fail "the driver ended with a failure status"

  if [ "$expect" = none ]; then
    has_line "NO-ADAPTER" || fail "the manager was expected to report no adapter"
    return
  fi
  [ -n "$hctl" ] || return

  IFS=: read -r _ _ target _ <<<"$hctl"
  # The unit line exactly as the list shows it: adapter, the adapter's own id 7, target, then
  # the INQUIRY texts as the target pads them, 9, 7 and 5 blanks before them.
  blanks() { printf "%$1s" ""; }
  unit_line="UNIT-LINE 0:7:$target$(blanks 9)$vendor_text$(blanks 7)$product_text$(blanks 5)$revision_text"
  has_line "$unit_line" || fail "the unit is not listed as '${unit_line#UNIT-LINE }'"
  [ "$(grep -c '^UNIT-LINE ' "$log")" = 1 ] || fail "the list does not hold exactly one unit"

  # The scan asked the unit for INQUIRY in the SCSI form first; every later command is a
  # WRITE BUFFER.
  first=$(grep -m1 "^GUEST KCMD $hctl " "$log")
  [ "$first" = "GUEST KCMD $hctl 12 00 00 00 62 00" ] || fail "the scan's INQUIRY is not the first command: $first"
  others=$(grep "^GUEST KCMD $hctl " "$log" | tail -n +2 | grep -v "^GUEST KCMD $hctl 3b ")
  [ -z "$others" ] || fail "commands other than WRITE BUFFER after the scan: $others"

  read_attempts
  walk_runs

  # The kernel's counters agree with its log and with the dialogs: each command the unit
  # received was logged, and each one that failed was shown as failed.
  if [ -n "$(count before requests)" ] && [ -n "$(count after errors)" ]; then
    requests=$(($(count after requests) - $(count before requests)))
    errors=$(($(count after errors) - $(count before errors)))
    logged=$(grep -c "^GUEST KCMD $hctl " "$log")
    dialogs=$(grep -c '^ERROR-DIALOG ' "$log")
    [ "$requests" = "$logged" ] || fail "the kernel counted $requests commands to $sg, its log holds $logged"
    [ "$errors" = "$dialogs" ] || fail "the kernel failed $errors commands to $sg, the program showed $dialogs"
  else
    fail "the kernel's command counts of the unit are missing"
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
  check_pass
  log=$full_log where=""
done

if [ "$expect" = unit ]; then
  [[ $complete_forms == *scsi* ]] || fail "no run sent the whole image in the SCSI form"
  [[ $complete_forms == *atapi* ]] || fail "no run sent the whole image in the ATAPI form"
  [ "$stopped_runs" -ge 1 ] || fail "no run was stopped"
  [ "$descriptor_dialogs" -ge 1 ] || fail "no error dialog showed sense the target gave in descriptor format"
fi

if [ "$failures" != 0 ]; then
  echo "---- serial output ($full_log) ----"
  cat "$full_log"
  exit 1
fi
echo "kernel test: all checks passed (expect=$expect)"
