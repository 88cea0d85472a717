// SPDX-License-Identifier: GPL-2.0-or-later
// The three files of one update: the HEX file it reads and the two side files it writes.
#pragma once

#include <sys/types.h>

#include <string>

#include "image/FileNames.h"

namespace image {

// Owns the open HEX file and the two side files of one update. A side file is written under a
// temporary name in the folder of the file it replaces, and takes that file's name only when
// replaceBin() or replaceAsc() is called; until then the old file stays as it was. Closes what is
// still open and removes the temporary files that did not replace theirs when destroyed.
class UpdateFiles {
  public:
    UpdateFiles() = default;
    ~UpdateFiles() { discard(); }
    UpdateFiles(const UpdateFiles &) = delete;
    UpdateFiles &operator=(const UpdateFiles &) = delete;

    // Descriptors, -1 when not open; bin() and asc() are the temporary files being written.
    int hex() const { return m_hex; }
    int bin() const { return m_bin.fd; }
    int asc() const { return m_asc.fd; }

    // Closes one file and gives the result of close(2): false when the system reports an error
    // (for a file being written, data may then be lost). Closing a closed file gives true.
    bool closeHex() { return closeOne(m_hex); }
    bool closeBin() { return closeOne(m_bin.fd); }
    bool closeAsc() { return closeOne(m_asc.fd); }
    // Closes all three.
    void close();

    // Renames the closed temporary .bin (.asc) over its file's name. False when that fails; the
    // temporary file is then removed.
    bool replaceBin() { return replaceOne(m_bin); }
    bool replaceAsc() { return replaceOne(m_asc); }
    // Puts the entries of the side files' folders on the disk, so that the renamed names survive
    // a power cut too.
    bool syncSideFolders() const;

  private:
    friend bool OpenUpdateFiles(const UpdateFileNames &names, UpdateFiles &files);

    struct SideFile {
        int fd = -1;
        std::string temporary;  // empty once renamed or removed
        std::string target;     // the name it replaces, through a link to a regular file
        bool existed = false;   // the name was a file, of this device and inode:
        dev_t device = 0;
        ino_t inode = 0;

        bool isFile(dev_t otherDevice, ino_t otherInode) const {
            return existed && device == otherDevice && inode == otherInode;
        }
    };

    static bool closeOne(int &fd);
    static bool inspect(const std::string &name, SideFile &side);
    static bool createTemporary(SideFile &side);
    static bool replaceOne(SideFile &side);
    // Closes all three and removes the temporary files.
    void discard();

    int m_hex = -1;
    SideFile m_bin;
    SideFile m_asc;
};

// Opens, in this order, HexName for reading, then BinName and AscName for writing, each as a
// new temporary file in the folder of the file it is to replace (beside the name, or beside the
// regular file a link of that name points to). When HexName does not exist but exactly one file
// of the current directory has that name in another letter case (FW01.HEX for FW01.hex), that
// file is read. A side file name that exists must be a regular file that may be written, and
// neither the HEX file nor the other side file (through a link). On the first failure shows
// "Can not open the .HEX file !", "Can not open the .BIN file !" or "Can not open the .ASC file !"
// (warning icon, no caption), closes what it opened, removes the temporary files and returns
// false: every existing file stays as it was. `files` must hold nothing open.
bool OpenUpdateFiles(const UpdateFileNames &names, UpdateFiles &files);

}  // namespace image
