#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# SPDX-FileCopyrightText: The cdrw-fwupdate developers
# The program with a standard output whose reader has gone, as `cdrw-fwupdate | true` leaves it:
# the EDC trace's dots must not end it. The rehearsal driver, loaded with LD_PRELOAD, presses
# Update and picks the example firmware, then ends the process with status 0 once the wait notice
# shows, when every block has been sent. With MODE window-without-stderr, or shell-without-stderr
# (the shell's update, ended at its wait), it starts with `2>&-`: descriptor 2 is then /dev/null.
# usage: stdout-gone.sh PROGRAM DRIVER SIMULATOR-FOLDER EXAMPLE-HEX [MODE]
set -eu
program=$1 driver=$2 simulator=$3 example=$4 mode=${5:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$example" "$work/"
mkdir "$work/tmp"
# A runtime folder of its own: the simulator's unit locks are not shared with other tests.
mkdir -m 700 "$work/runtime"
cd "$work"

if [ "$mode" = shell-without-stderr ]; then
  env XDG_STATE_HOME="$work/state" LD_LIBRARY_PATH="$simulator" CDRW_SIM_BUS= \
    CDRW_SIM_LOG="$work/requests.log" "$program" --update "${example##*/}" --unit 0:7:2 --yes \
    >"$work/err" 2>&- &
  while kill -0 $! && [ "$(grep -c ' cdb=3b .*status=0x01' requests.log)" != 3 ]; do sleep 0.1; done
  readlink "/proc/$!/fd/2" >"$work/tmp/standard-error" || true
  kill -KILL $! && echo 0 >"$work/status"
fi

# The update lock is machine-wide, and other copies of the program (other tests) may hold it:
# where a mount namespace of its own can be had, the program gets an empty /run/lock.
set --
if unshare -rm sh -c 'mount -t tmpfs tmpfs /run/lock' 2>/dev/null; then
  set -- unshare -rm sh -c 'mount -t tmpfs tmpfs /run/lock && exec "$@"' sh
fi

# `true` ends at once, so the program's standard output is a pipe that nobody reads.
[ "$mode" = shell-without-stderr ] || ( status=0
  if [ -n "$mode" ]; then exec 2>&-; else exec 2>"$work/err"; fi
  # In a sanitizer build the preloaded driver comes before the sanitizer's runtime.
  "$@" timeout 120 env TMPDIR="$work/tmp" XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work/runtime" \
    QT_QPA_PLATFORM=offscreen LD_PRELOAD="$driver" \
    ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
    LD_LIBRARY_PATH="$simulator" CDRW_SIM_BUS= CDRW_SIM_LOG="$work/requests.log" \
    CDRW_SIM_IMAGES= "$program" || status=$?
  echo "$status" >"$work/status" ) | true

status=$(cat "$work/status")
[ ! -f "$work/err" ] || cat "$work/err" >&2
blocks=$(grep -c ' cdb=3b .*status=0x01' "$work/requests.log" || true)
stderr=$(cat "$work/tmp/standard-error" 2>/dev/null || echo unknown)
echo "status $status, WRITE BUFFER blocks taken: $blocks, descriptor 2 at the wait: $stderr"
[ "$status" = 0 ] && [ "$blocks" = 3 ] && { [ -z "$mode" ] || [ "$stderr" = /dev/null ]; }
