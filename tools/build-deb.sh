#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# SPDX-FileCopyrightText: The cdrw-fwupdate developers
# Builds the Debian package with dpkg-buildpackage from a copy of the source tree and leaves the
# .deb files, the .changes and the .buildinfo in OUTDIR (dpkg-buildpackage writes them beside
# the tree it builds, so the copy sits in OUTDIR/src and nothing lands beside the repository).
# DEB_BUILD_OPTIONS is passed on (nocheck: no tests; parallel=N). OUTDIR/source-commit names
# the commit built when the tree was clean, so that a later caller can tell the packages are
# current; it is empty for a tree with changes.
#
# usage: tools/build-deb.sh OUTDIR [LOG]   (LOG: dpkg-buildpackage's output goes there instead
#                                          of standard output)
set -euo pipefail
out=$1 log=${2:-}
source=$(cd "$(dirname "$0")/.." && pwd)
version=$(dpkg-parsechangelog -l "$source/debian/changelog" -S Version)

rm -rf "$out"
mkdir -p "$out/src/cdrw-fwupdate-$version"
tree=$out/src/cdrw-fwupdate-$version
commit=
if git -C "$source" rev-parse --git-dir >/dev/null 2>&1; then
  # The files git knows of and the new ones it does not ignore, as they are in the work tree.
  (cd "$source" && git ls-files -z --cached --others --exclude-standard |
     while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
     tar --null -T - -cf -) | tar -xf - -C "$tree"
  [ -z "$(git -C "$source" status --porcelain)" ] && commit=$(git -C "$source" rev-parse HEAD)
else
  tar -C "$source" --exclude='./build' --exclude='./build-*' -cf - . | tar -xf - -C "$tree"
fi

build() { (cd "$tree" && dpkg-buildpackage -us -uc -b); }
if [ -n "$log" ]; then
  build >"$log" 2>&1 || { tail -n 60 "$log" >&2; false; }
else
  build
fi || {
  echo "dpkg-buildpackage failed (the tree it built is $tree)" >&2
  exit 1
}
mv "$out"/src/*.deb "$out"/src/*.changes "$out"/src/*.buildinfo "$out"/
rm -rf "$out/src"
echo "$commit" >"$out/source-commit"
