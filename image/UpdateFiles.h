// SPDX-License-Identifier: GPL-2.0-or-later
// The three files of one update: the HEX file it reads and the two side files it writes.
#pragma once

#include "image/FileNames.h"

namespace image {

// Owns up to three open file descriptors and closes whatever is still open when destroyed.
class UpdateFiles {
  public:
    UpdateFiles() = default;
    ~UpdateFiles() { close(); }
    UpdateFiles(const UpdateFiles &) = delete;
    UpdateFiles &operator=(const UpdateFiles &) = delete;

    // Descriptors, -1 when not open.
    int hex() const { return m_hex; }
    int bin() const { return m_bin; }
    int asc() const { return m_asc; }

    // Closes one file and gives the result of close(2): false when the system reports an error
    // (for a file being written, data may then be lost). Closing a closed file gives true.
    bool closeHex() { return closeOne(m_hex); }
    bool closeBin() { return closeOne(m_bin); }
    bool closeAsc() { return closeOne(m_asc); }
    // Closes all three.
    void close();

  private:
    friend bool OpenUpdateFiles(const UpdateFileNames &names, UpdateFiles &files);
    static bool closeOne(int &fd);

    int m_hex = -1;
    int m_bin = -1;
    int m_asc = -1;
};

// Opens, in this order, HexName for reading, BinName and AscName for writing (created, or cut
// to zero length if they exist). When HexName does not exist but exactly one file of the current
// directory has that name in another letter case (FW01.HEX for FW01.hex), that file is read.
// A side file that is the HEX file or the other side file (through a link) is refused before
// anything is cut. On the first failure shows "Can not open the .HEX file !", "Can not open the
// .BIN file !" or "Can not open the .ASC file !" (warning icon, no caption), closes what it
// opened and returns false; when only the .asc cannot be opened, the .bin stays, empty.
// `files` must hold nothing open.
bool OpenUpdateFiles(const UpdateFileNames &names, UpdateFiles &files);

}  // namespace image
