#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# SPDX-FileCopyrightText: The cdrw-fwupdate developers
# Checks the serial output of the kernel test's hold guest (run-guest.sh hold; lines as in init.sh
# and KernelDriver.cpp). The CD driver polls the unit for media events (GET EVENT STATUS
# NOTIFICATION, operation code 4a) every 2 s. Three passes:
#   1  the update without the unit hold: polls reach the unit between the blocks and in the store
#      time after the last one;
#   2  the update with the hold: no poll from the first block to the end of the update guard,
#      which the driver marks in the kernel's log right before it lets go of the unit (GUEST
#      KMARK guard-ends); closing the block device makes the kernel poll at once;
#   3  another program holds the block device exclusively: the hold is refused, the program says
#      why and sends nothing;
#   4  the program itself updates the unit from a shell (on a terminal where the driver retries
#      each failed block): nothing but WRITE BUFFER from the first block to the end of its 70 s
#      wait, then the one poll that letting go of the unit prompts at once (init.sh marks the
#      program's end in the kernel's log, GUEST KMARK program-ends, once it has ended), and
#      status 0.
# Prints one line per failed check (then the log), or the polls seen in the first two passes.
#
# usage: check-hold.sh SERIAL_LOG BLOCKS
#   BLOCKS  the number of WRITE BUFFER blocks of each update
set -uo pipefail

full_log=$1 blocks=$2
readonly kInUseText="The unit is in use by another program (a mounted disc or a recording program). Close that program or eject the disc, then try again."

failures=0
where=""
fail() {
  echo "CHECK FAILED: $where$*"
  failures=$((failures + 1))
}
log=$full_log
has_line() { grep -qxF -- "$1" "$log"; }

has_line "GUEST CDRW-KERNEL-TEST-END" || fail "the guest never reached its end marker"
grep -q "^GUEST INSMOD-FAILED" "$log" && fail "a module did not load: $(grep '^GUEST INSMOD-FAILED' "$log")"
grep -q "^GUEST SET-FAILED" "$log" && fail "a target attribute was not set: $(grep '^GUEST SET-FAILED' "$log")"
sr_line=$(grep -m1 '^GUEST SR sr[0-9]* ' "$log")
[[ $sr_line =~ \ node=brw-rw----:root:cdrom$ ]] || fail "no CD block device owned root:cdrom, mode 0660: ${sr_line:-none}"
hctl=$(sed -n 's/.* hctl=\([0-9:]*\) .*/\1/p' <<<"$sr_line")

# The unit's commands of the pass, one operation code a line, in the order the target got them,
# with the end of the update guard (or of the program) as the line "end".
opcodes() {
  sed -n -e "s/^GUEST KCMD $hctl \\([0-9a-f][0-9a-f]\\) .*/\\1/p" \
    -e 's/^GUEST KMARK \(guard\|program\)-ends$/end/p' "$log"
}
# Polls (4a) in the lines FROM..TO of opcodes (1-based, inclusive).
polls_in() { opcodes | sed -n "$1,$2p" | grep -c '^4a$'; }

# Pass n's lines.
pass_log=$(mktemp)
trap 'rm -f "$pass_log"' EXIT
select_pass() {
  sed -n "/^GUEST PASS $1 /,/^GUEST PASS-END $1\$/p" "$full_log" >"$pass_log"
  log=$pass_log where="pass $1: "
  grep -qx "GUEST PASS-END $1" "$log" || fail "the pass did not end"
  local identity
  identity=$(grep -m1 '^IDENTITY ' "$log")
  [[ $identity =~ uid=0\  ]] && fail "the driver ran as root: $identity"
  [[ $identity =~ groups=(.*,)?24(,|$) ]] || fail "the driver is not in group cdrom (24): $identity"
  has_line "GUEST DRIVER-EXIT 0" || fail "the driver ended with a failure status"
}

# An update that sent every block inside a guard (the target answers the command after each
# mode-6 block with a unit attention, so the program retries it); sets first, last and end to the
# lines of the first and the last WRITE BUFFER and of the guard's end in opcodes.
check_update() {
  has_line "RUN-END 1 outcome=declined" || fail "the update did not end at the final question"
  local sent
  sent=$(grep "^GUEST KCMD $hctl 3b " "$log" | sort -u | wc -l)
  [ "$sent" = "$blocks" ] || fail "the unit received $sent different WRITE BUFFER, not $blocks"
  first=$(opcodes | grep -n '^3b$' | head -n 1 | cut -d: -f1)
  last=$(opcodes | grep -n '^3b$' | tail -n 1 | cut -d: -f1)
  end=$(opcodes | grep -n '^end$' | head -n 1 | cut -d: -f1)
  if [ -z "$end" ] || [ "$end" -lt "${last:-0}" ]; then
    fail "the end of the guard is not marked after the last block"
    end=${last:-1}
  fi
  # The driver: the guard taken before the wait, let go after it.
  [ "$(grep -E '^(GUARD|SLEEP|GUARD-END)' "$log" | cut -d' ' -f1 | tr '\n' ' ')" = "GUARD SLEEP GUARD-END " ] ||
    fail "the guard is not held around the wait"
}

select_pass 1
[ "$(grep -c '^UNIT-LINE ' "$log")" = 1 ] || fail "the unit is not listed once"
has_line "UNIT-HOLD bound=no" || fail "the unit hold was bound"
has_line "GUARD unit-hold=no descriptors=0" || fail "the guard held the unit"
check_update
between=$(polls_in "${first:-1}" "${last:-1}")
store=$(polls_in "$((${last:-1} + 1))" "$end")
[ "$between" -ge 1 ] || fail "no poll reached the unit between the blocks"
[ "$store" -ge 1 ] || fail "no poll reached the unit in the store time"

select_pass 2
[ "$(grep -c '^UNIT-LINE ' "$log")" = 1 ] || fail "the unit is not listed once"
has_line "UNIT-HOLD bound=yes" || fail "the unit hold was not bound"
has_line "GUARD unit-hold=yes descriptors=2" || fail "the guard does not hold the unit through two descriptors"
check_update
held=$(polls_in "${first:-1}" "$end")
[ "$held" = 0 ] || fail "$held polls reached the unit from the first block to the end of the guard"
others=$(opcodes | sed -n "${first:-1},${end}p" | grep -vcE '^(3b|end)$')
[ "$others" = 0 ] || fail "$others other commands reached the unit from the first block to the end of the guard"

select_pass 3
[ "$(grep -c '^UNIT-LINE ' "$log")" = 1 ] || fail "the unit is not listed once"
has_line "OCCUPIED $(sed -n 's/^GUEST SR \(sr[0-9]*\) .*/\/dev\/\1/p' <<<"$sr_line")" || fail "the other program did not hold the block device"
has_line "BOX caption='' text='$kInUseText' answer=ok" || fail "the program did not say that the unit is in use"
has_line "RUN-END 1 outcome=unit-in-use" || fail "the update did not end as refused"
opcodes | grep -q '^3b$' && fail "a WRITE BUFFER reached the unit"
grep -q '^GUARD' "$log" && fail "the guard was taken"

select_pass 4
has_line "PROGRAM-EXIT 0" || fail "the program ended with status $(sed -n 's/^PROGRAM-EXIT //p' "$log"), not 0"
has_line "TTY Update completed. Shutdown PC." || fail "the program did not say that the update is complete"
sent=$(grep "^GUEST KCMD $hctl 3b " "$log" | sort -u | wc -l)
[ "$sent" = 3 ] || fail "the unit received $sent different WRITE BUFFER, not 3"
first=$(opcodes | grep -n '^3b$' | head -n 1 | cut -d: -f1)
end=$(opcodes | grep -n '^end$' | head -n 1 | cut -d: -f1)
if [ -z "$first" ] || [ -z "$end" ]; then
  fail "no block, or the program's end is not marked"
fi
# From the first block on, the unit hears nothing but WRITE BUFFER until the poll that letting go
# of it prompts (the CD driver follows that poll with its TEST UNIT READY).
program_polls=$(polls_in "${first:-1}" "${end:-1}")
[ "$program_polls" -le 1 ] || fail "$program_polls polls reached the unit from the first block to the program's end"
until_release=$(opcodes | sed -n "${first:-1},${end:-1}p" | sed '/^4a$/,$d')
others=$(grep -vcE '^3b$' <<<"$until_release")
[ "$others" = 0 ] || fail "$others other commands reached the unit before its hold was let go"
[ "$(grep -c '^3b$' <<<"$until_release")" = "$(opcodes | grep -c '^3b$')" ] ||
  fail "a WRITE BUFFER reached the unit after a poll"
log=$full_log where=""

if [ "$failures" != 0 ]; then
  echo "---- serial output ($full_log) ----"
  cat "$full_log"
  exit 1
fi
echo "kernel hold test: without the hold $between polls between the blocks and $store in the store time; with the hold $held from the first block to the end of the guard; refused while another program holds the unit; the program from a shell: $program_polls from its first block to its end"
