// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The 16 x 16 glyphs of the command error dialog's buttons, each with its greyed disabled form.
#pragma once

#include <QIcon>

namespace errors {

QIcon retryGlyph();   // black exclamation mark inside a red circular arrow
QIcon ignoreGlyph();  // black exclamation mark crossed out by a red X
QIcon stopGlyph();    // black exclamation mark inside a red circle with a diagonal bar

}  // namespace errors
