// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The three files of one update: the HEX file it reads and the two side files it writes.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include "image/FileNames.h"

namespace image {

// Owns the open HEX file and the two side files of one update. The new contents of a side file
// are written to a file of their own in the HEX file's folder, beside the name they are to
// take (a name that is a symbolic link is replaced itself, never followed): an unnamed file
// (O_TMPFILE) where the file system has them, else a new file under a name nobody can guess
// (<name>.<16 random hex digits>.tmp). Each holds an flock while this process has it open, so
// that a later run tells a file left by an ended process (SIGKILL) from one being written, and
// removes it. replaceSideFiles() puts both in place, all or nothing; until then the old files
// stay as they were. Closes what is still open and removes what was not put in place when
// destroyed.
class UpdateFiles {
  public:
    UpdateFiles() = default;
    ~UpdateFiles() { discard(); }
    UpdateFiles(const UpdateFiles &) = delete;
    UpdateFiles &operator=(const UpdateFiles &) = delete;

    // Descriptors, -1 when not open; bin() and asc() are the new contents being written.
    int hex() const { return m_hex; }
    int bin() const { return m_bin.fd; }
    int asc() const { return m_asc.fd; }
    // The names the new side files replace (through a link: the file it points to), for messages.
    const std::string &binName() const { return m_bin.target; }
    const std::string &ascName() const { return m_asc.target; }

    // Closes the HEX file.
    void closeHex() { closeOne(m_hex); }
    // Closes all three; new contents not yet put in place are dropped.
    void close();

    // Which side file could not be put in place.
    enum class Fault { None, Bin, Asc };
    // Once both are written and synced: gives both new files their names in their folders,
    // closes them (an error of close(2) is that file's fault), checks again that this user may
    // replace both old names, then puts the .bin and then the .asc in place by rename(2). When
    // the .asc cannot be put in place, the .bin's old state comes back (the previous file, kept
    // by an exchange of the two names, or no file): neither or both are replaced. On a file
    // system that cannot exchange two names the .bin's previous file is not kept; the check
    // before the first rename is then what keeps the pair whole.
    Fault replaceSideFiles();
    // Puts the entries of the side files' folders on the disk, so that the new names survive a
    // power cut too.
    bool syncSideFolders() const;

  private:
    friend bool OpenUpdateFiles(const UpdateFileNames &names, UpdateFiles &files);

    struct SideFile {
        int fd = -1;
        std::string temporary;  // the new file's name while it has one beside the target
        std::string target;     // the name it replaces, in the HEX file's folder
        bool existed = false;   // the name was (or linked to) a file of this device and inode:
        dev_t device = 0;
        ino_t inode = 0;
        std::optional<mode_t> keptMode;  // the regular file's permission bits, which it keeps

        bool isFile(dev_t otherDevice, ino_t otherInode) const {
            return existed && device == otherDevice && inode == otherInode;
        }
    };

    static bool closeOne(int &fd);
    static bool inspect(const std::string &name, SideFile &side);
    static bool createTemporary(SideFile &side);
    static bool nameTemporary(SideFile &side);
    // How putInPlace() left a side file's name.
    enum class Placed {
        Not,        // as it was
        Exchanged,  // the new file holds it; the old one is at the temporary name
        Created,    // the new file holds it; there was none
        Replaced,   // the new file holds it; the old one is gone (no exchange on this system)
    };
    static Placed putInPlace(SideFile &side);
    // Gives the name back what it held before putInPlace() (not possible after Replaced).
    static void takeBack(SideFile &side, Placed placed);
    // Closes all three and removes the new files that were not put in place.
    void discard();

    int m_hex = -1;
    SideFile m_bin;
    SideFile m_asc;
};

// Opens, in this order, HexName for reading, then BinName and AscName for writing, each as a
// new file beside its name, in the current directory. When HexName does not exist but exactly one
// file of the current directory has that name in another letter case (FW01.HEX for FW01.hex), that
// file is read. A side file name that exists must be a regular file that may be written, or a
// symbolic link, which is replaced itself and never written through (it must point nowhere or to a
// regular file); neither may be the HEX file nor the other side file. The folder must let this
// user replace the name (a file or link of another user in a sticky folder such as /tmp does
// not). New files that an ended
// process of this program left for a side file's name are removed first. On the first failure
// shows "Can not open the .HEX file !", "Can not open the .BIN file !" or "Can not open the
// .ASC file !" (warning icon, no caption), closes what it opened, removes the new files and
// returns false: every existing file stays as it was. `files` must hold nothing open.
bool OpenUpdateFiles(const UpdateFileNames &names, UpdateFiles &files);

}  // namespace image
