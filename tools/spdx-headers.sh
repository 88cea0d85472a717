#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Gives each of the project's C++ sources, CMake files and shell scripts that lacks one an
# SPDX-License-Identifier line: the first line, or the second after a "#!" line. Run from the top
# of the tree after adding files; files that have the line are left as they are.
set -euo pipefail

tag='SPDX-License-Identifier: GPL-2.0-or-later'
git ls-files -z -- '*.cpp' '*.h' 'CMakeLists.txt' '*/CMakeLists.txt' '*.cmake' '*.sh' \
  run test package packaging/cdrw-fwupdate-demo.in debian/tests/rehearsal \
  debian/tests/demo-without-simulator debian/tests/real-manager |
  while IFS= read -r -d '' file; do
    head -n 2 "$file" | grep -qF "$tag" && continue
    case $file in
      *.cpp | *.h) line="// $tag" ;;
      *) line="# $tag" ;;
    esac
    if head -n 1 "$file" | grep -q '^#!'; then
      sed -i "1a $line" "$file"
    else
      sed -i "1i $line" "$file"
    fi
  done
