#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# SPDX-FileCopyrightText: The cdrw-fwupdate developers
# Copies the window pictures that the tests draw (build/screenshots) into docs/ for the README.
# Run ./test (or ctest in build/) first.
set -euo pipefail
cd "$(dirname "$0")/.."
for name in MainFormUnits OpenFileDialog CommandError UpdateWait FinalQuestion; do
  cp "build/screenshots/$name.png" "docs/$name.png"
done
