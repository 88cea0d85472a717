#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# SPDX-FileCopyrightText: The cdrw-fwupdate developers
# Runs a test program on Qt's X11 platform against an X server of its own (Xvfb on a free display,
# without a window manager), for tests that read back what a window told the X server. Without
# Xvfb the test reports itself skipped (status 77).
# usage: on-x-server.sh PROGRAM [ARGUMENT...]
set -u
if ! command -v Xvfb >/dev/null 2>&1; then
  echo "Xvfb is not installed (apt-get install xvfb): skipped"
  exit 77
fi
server=
work=$(mktemp -d)
trap '[ -z "$server" ] || { kill "$server"; wait "$server"; }; rm -rf "$work"' EXIT
# The server writes its display number to descriptor 3 once it takes connections.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$work/display" 2>"$work/log" &
server=$!
tries=0
while [ ! -s "$work/display" ]; do
  if ! kill -0 "$server" 2>/dev/null || [ "$tries" -ge 100 ]; then
    cat "$work/log" >&2
    echo "Xvfb did not start" >&2
    exit 1
  fi
  sleep 0.1
  tries=$((tries + 1))
done
DISPLAY=:$(cat "$work/display") QT_QPA_PLATFORM=xcb "$@"
