// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The 16 x 16 pictures of the file chooser: one per kind of volume and one per kind of folder
// entry.
#pragma once

#include <QIcon>

#include "dialogs/ChooserModel.h"
#include "dialogs/Volumes.h"

namespace dialogs {

QIcon volumeGlyph(VolumeKind kind);
QIcon folderGlyph(EntryKind kind);

}  // namespace dialogs
