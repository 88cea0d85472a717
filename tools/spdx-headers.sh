#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# SPDX-FileCopyrightText: The cdrw-fwupdate developers
# Gives every file of the project the two lines that REUSE asks for, as a comment in the
# file's own syntax: its licence (GPL-2.0-or-later; CC0-1.0 for the AppStream metainfo) and its
# copyright holder (the cdrw-fwupdate developers). They go first, or after a "#!" or "<?xml"
# line; a file with a licence line keeps it and gets the copyright line after it. Files that
# cannot carry a comment are named in .reuse/dep5 and left alone, as are the licence texts. Run
# from the top of the tree after adding files; `reuse lint` then checks the whole tree.
set -euo pipefail

# The tags are put together here, so that REUSE tools do not read them as this file's own.
spdx=SPDX
owner="$spdx-FileCopyrightText: The cdrw-fwupdate developers"

# The Files: patterns of .reuse/dep5 (a "*" there matches "/" too, as it does in [[ == ]]).
mapfile -t covered < <(awk '/^Files:/ { on = 1; sub(/^Files:/, "") } /^[^ ]/ && !/^Files:/ { on = 0 }
                            on { for (i = 1; i <= NF; i++) print $i }' .reuse/dep5)

# comment FILE TEXT: TEXT as a comment line of FILE's syntax.
comment() {
  case $1 in
    *.cpp | *.h) echo "// $2" ;;
    *.md | *.xml | *.xml.in) echo "<!-- $2 -->" ;;
    *.[1-8] | *.[1-8].in) echo ".\\\" $2" ;;
    *.map) echo "/* $2 */" ;;
    *) echo "# $2" ;;
  esac
}

git ls-files -z | while IFS= read -r -d '' file; do
  case $file in LICENSES/* | COPYING | .reuse/*) continue ;; esac
  for pattern in "${covered[@]}"; do
    # shellcheck disable=SC2053
    [[ $file == $pattern ]] && continue 2
  done
  head -n 4 "$file" | grep -qF "$spdx-FileCopyrightText:" && continue
  licence="$spdx-License-Identifier: GPL-2.0-or-later"
  [[ $file == *.metainfo.xml ]] && licence="$spdx-License-Identifier: CC0-1.0"
  copyright_line=$(comment "$file" "$owner")
  if at=$(head -n 3 "$file" | grep -n "$spdx-License-Identifier:" | cut -d: -f1); then
    lines=$copyright_line
  else
    lines=$(comment "$file" "$licence")$'\n'$copyright_line
    at=0
    head -n 1 "$file" | grep -qE '^(#!|<\?xml)' && at=1
  fi
  { head -n "$at" "$file"; printf '%s\n' "$lines"; tail -n +"$((at + 1))" "$file"; } >"$file.spdx"
  chmod --reference="$file" "$file.spdx"
  mv "$file.spdx" "$file"
done
