#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# SPDX-FileCopyrightText: The cdrw-fwupdate developers
# Writes debian/changelog from CHANGELOG.md, the one changelog we edit; the package name and the
# maintainer come from debian/control. Run it after every change to CHANGELOG.md (and after a
# merge that touched it), and commit both.
#
# usage: tools/debian-changelog.sh [--check]
#   --check  write nothing; exit 1, naming this command, when debian/changelog is not what
#            CHANGELOG.md gives (the package test and a ctest row run this)
set -euo pipefail
cd "$(dirname "$0")/.."

package=$(sed -n 's/^Source: *//p' debian/control)
maintainer=$(sed -n 's/^Maintainer: *//p' debian/control)
generated=$(awk -v package="$package" -v maintainer="$maintainer" \
  -f tools/debian-changelog.awk CHANGELOG.md)

case "${1:-}" in
  --check)
    if [ "$generated" != "$(cat debian/changelog 2>/dev/null)" ]; then
      echo "debian/changelog is out of step with CHANGELOG.md:" >&2
      diff <(echo "$generated") debian/changelog >&2 || true
      echo "Run tools/debian-changelog.sh and commit debian/changelog." >&2
      exit 1
    fi ;;
  "") echo "$generated" >debian/changelog ;;
  *) echo "usage: tools/debian-changelog.sh [--check]" >&2; exit 2 ;;
esac
