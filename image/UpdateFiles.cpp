// SPDX-License-Identifier: GPL-2.0-or-later
#include "image/UpdateFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/Platform.h"

namespace image {

namespace {

// Keeps an open descriptor only when it is a regular file, and then takes back the O_NONBLOCK it
// was opened with; otherwise closes it and gives -1 (errno EINVAL for a file of another kind).
int keepRegularFile(int fd) {
    struct stat entry {};
    bool kept = ::fstat(fd, &entry) == 0;
    if (kept && !S_ISREG(entry.st_mode)) {
        errno = EINVAL;
        kept = false;
    }
    if (kept && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0) {
        return fd;
    }
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
}

// Opens an existing regular file for reading. O_NONBLOCK keeps a FIFO of that name from
// blocking the open; anything but a regular file is refused.
int openForReading(const std::string &name) {
    const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    return fd < 0 ? -1 : keepRegularFile(fd);
}

// The one entry of the current directory whose name equals `name` but for letter case, or an
// empty string when there is none or more than one.
std::string caseBlindMatch(const std::string &name) {
    DIR *dir = ::opendir(".");
    if (dir == nullptr) {
        return {};
    }
    std::string found;
    int matches = 0;
    while (const dirent *entry = ::readdir(dir)) {
        if (::strcasecmp(entry->d_name, name.c_str()) == 0) {
            found = entry->d_name;
            ++matches;
        }
    }
    ::closedir(dir);
    return matches == 1 ? found : std::string{};
}

int openHexFile(const std::string &name) {
    const int fd = openForReading(name);
    if (fd >= 0 || errno != ENOENT) {
        return fd;
    }
    const std::string other = caseBlindMatch(name);
    return other.empty() ? -1 : openForReading(other);
}

// Opens a side file for writing, creating it if it does not exist; an existing file is not cut
// here (see cutToZero). Only a regular file, or a link to one, is taken: a pipe, directory,
// device or socket of that name is refused before it is opened (opening a device can act on it)
// and again after (it may have been swapped in between), and O_NONBLOCK keeps a pipe from
// blocking the open.
int openForWriting(const std::string &name) {
    struct stat entry {};
    if (::stat(name.c_str(), &entry) == 0 && !S_ISREG(entry.st_mode)) {
        return -1;
    }
    const int fd =
        ::open(name.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    return fd < 0 ? -1 : keepRegularFile(fd);
}

// Whether two open descriptors are the same file (through a link, a hard link or a name that
// differs only in letter case): the side files must neither overwrite the HEX file nor each
// other.
bool sameFile(int a, int b) {
    struct stat first {};
    struct stat second {};
    return ::fstat(a, &first) == 0 && ::fstat(b, &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

bool cutToZero(int fd) {
    return ::ftruncate(fd, 0) == 0;
}

void warn(const char *text) {
    platform::messageBox(text, std::nullopt, platform::Icon::Warning);
}

}  // namespace

bool UpdateFiles::closeOne(int &fd) {
    if (fd < 0) {
        return true;
    }
    const int result = ::close(fd);
    fd = -1;
    return result == 0;
}

void UpdateFiles::close() {
    closeHex();
    closeBin();
    closeAsc();
}

bool OpenUpdateFiles(const UpdateFileNames &names, UpdateFiles &files) {
    files.m_hex = openHexFile(names.HexName);
    if (files.m_hex < 0) {
        warn("Can not open the .HEX file !");
        return false;
    }
    // Nothing is cut before all three are known to be different files.
    files.m_bin = openForWriting(names.BinName);
    if (files.m_bin < 0 || sameFile(files.m_bin, files.m_hex)) {
        files.close();
        warn("Can not open the .BIN file !");
        return false;
    }
    files.m_asc = openForWriting(names.AscName);
    if (files.m_asc >= 0 &&
        (sameFile(files.m_asc, files.m_hex) || sameFile(files.m_asc, files.m_bin))) {
        files.close();
        warn("Can not open the .ASC file !");
        return false;
    }
    if (!cutToZero(files.m_bin)) {
        files.close();
        warn("Can not open the .BIN file !");
        return false;
    }
    // An .asc that cannot be opened leaves the .bin created or cut, as opening it in order does.
    if (files.m_asc < 0 || !cutToZero(files.m_asc)) {
        files.close();
        warn("Can not open the .ASC file !");
        return false;
    }
    return true;
}

}  // namespace image
