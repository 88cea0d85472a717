#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# SPDX-FileCopyrightText: The cdrw-fwupdate developers
# The program with a standard stream it cannot use. Without MODE: with a standard output whose
# reader has gone, as `cdrw-fwupdate | true` leaves it: the EDC trace's dots must not end it. The
# rehearsal driver, loaded with LD_PRELOAD, presses Update and picks the example firmware, then
# ends the process with status 0 once the wait notice shows, when every block has been sent.
# MODE window-without-stderr: the same update started with `2>&-`; descriptor 2 must be
# /dev/null at the wait. MODE shell-without-stderr: the shell's update (--update, --yes) started
# with `2>&-`, whose descriptor 2 must be /dev/null at the wait; it is then ended.
# usage: stdout-gone.sh PROGRAM DRIVER SIMULATOR-FOLDER EXAMPLE-HEX [MODE]
set -eu
program=$1 driver=$2 simulator=$3 example=$4 mode=${5:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$example" "$work/"
mkdir "$work/tmp"
cd "$work"

blocksTaken() {
  grep -c ' cdb=3b .*status=0x01' "$work/requests.log" 2>/dev/null || true
}

if [ "$mode" = shell-without-stderr ]; then
  # The unit's own hold keeps other updates out; no lock file is needed.
  env XDG_STATE_HOME="$work/state" LD_LIBRARY_PATH="$simulator" CDRW_SIM_BUS= \
    CDRW_SIM_LOG="$work/requests.log" CDRW_SIM_IMAGES= DISPLAY= WAYLAND_DISPLAY= \
    "$program" --update "$(basename "$example")" --unit 0:7:2 --yes >"$work/out" 2>&- &
  pid=$!
  tries=0
  until [ "$(blocksTaken)" = 3 ] || [ $tries = 600 ] || ! kill -0 "$pid" 2>/dev/null; do
    sleep 0.1
    tries=$((tries + 1))
  done
  stderr=$(readlink "/proc/$pid/fd/2" || echo closed)
  # The update waits 70 s, and its keeper would hold the unit as long after the program has gone:
  # both end here.
  for stat in /proc/[0-9]*/stat; do
    read -r line <"$stat" 2>/dev/null || continue
    set -- ${line##*) }
    [ "$2" = "$pid" ] && kill -KILL "${stat#/proc/}" 2>/dev/null || true
  done 2>/dev/null
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  cat "$work/out" >&2
  echo "WRITE BUFFER blocks taken: $(blocksTaken), descriptor 2 at the wait: $stderr"
  [ "$(blocksTaken)" = 3 ] && [ "$stderr" = /dev/null ]
  exit
fi

# The update lock is machine-wide, and other copies of the program (other tests) may hold it:
# where a mount namespace of its own can be had, the program gets an empty /run/lock.
set --
if unshare -rm sh -c 'mount -t tmpfs tmpfs /run/lock' 2>/dev/null; then
  set -- unshare -rm sh -c 'mount -t tmpfs tmpfs /run/lock && exec "$@"' sh
fi

# `true` ends at once, so the program's standard output is a pipe that nobody reads.
( status=0
  # In a sanitizer build the preloaded driver comes before the sanitizer's runtime.
  run() {
    "$@" timeout 120 env TMPDIR="$work/tmp" XDG_STATE_HOME="$work/state" \
      QT_QPA_PLATFORM=offscreen LD_PRELOAD="$driver" \
      ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
      LD_LIBRARY_PATH="$simulator" CDRW_SIM_BUS= CDRW_SIM_LOG="$work/requests.log" \
      CDRW_SIM_IMAGES= "$program"
  }
  if [ "$mode" = window-without-stderr ]; then
    run "$@" 2>&- || status=$?
  else
    run "$@" 2>"$work/err" || status=$?
  fi
  echo "$status" >"$work/status" ) | true

status=$(cat "$work/status")
[ -f "$work/err" ] && cat "$work/err" >&2
blocks=$(blocksTaken)
echo "status $status, WRITE BUFFER blocks taken: $blocks"
if [ "$mode" = window-without-stderr ]; then
  stderr=$(cat "$work/tmp/standard-error" 2>/dev/null || echo "not written")
  echo "descriptor 2 at the wait: $stderr"
  [ "$stderr" = /dev/null ] || exit 1
fi
[ "$status" = 0 ] && [ "$blocks" = 3 ]
