// SPDX-License-Identifier: GPL-2.0-or-later
#include "image/UpdateFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
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

// Opens an existing side file for writing, neither creating nor cutting it, to learn that it may
// be written and which file it is. Only a regular file, or a link to one, is taken: a pipe,
// directory, device or socket of that name is refused before it is opened (opening a device can
// act on it) and again after (it may have been swapped in between), and O_NONBLOCK keeps a pipe
// from blocking the open. Gives -1 with errno ENOENT when there is no such file.
int openExisting(const std::string &name) {
    struct stat entry {};
    if (::stat(name.c_str(), &entry) == 0 && !S_ISREG(entry.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    const int fd = ::open(name.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    return fd < 0 ? -1 : keepRegularFile(fd);
}

// The folder a file name is in: "." for a bare name.
std::string folderOf(const std::string &name) {
    const auto slash = name.rfind('/');
    return slash == std::string::npos ? std::string(".")
           : slash == 0               ? std::string("/")
                                      : name.substr(0, slash);
}

// Puts a folder's entries on the disk. A file system that cannot sync a folder (EINVAL) has
// nothing to put there.
bool syncFolder(const std::string &folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return synced;
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

void UpdateFiles::discard() {
    close();
    for (SideFile *side : {&m_bin, &m_asc}) {
        if (!side->temporary.empty()) {
            ::unlink(side->temporary.c_str());
            side->temporary.clear();
        }
    }
}

// Learns what the side file's name is now: nothing (a new file), or a regular file that may be
// written, whose identity is kept and which is replaced where it is when the name is a link.
bool UpdateFiles::inspect(const std::string &name, SideFile &side) {
    side.target = name;
    const int fd = openExisting(name);
    if (fd < 0) {
        return errno == ENOENT;
    }
    struct stat entry {};
    const bool known = ::fstat(fd, &entry) == 0;
    ::close(fd);
    side.existed = known;
    side.device = entry.st_dev;
    side.inode = entry.st_ino;
    struct stat link {};
    if (known && ::lstat(name.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        char *resolved = ::realpath(name.c_str(), nullptr);
        if (resolved == nullptr) {
            return false;
        }
        side.target = resolved;
        std::free(resolved);
    }
    return known;
}

// Creates the empty temporary file beside the side file's target, named after it and the
// process, with the permission bits of the file it replaces (or those a new file gets).
bool UpdateFiles::createTemporary(SideFile &side) {
    struct stat old {};
    const bool keepMode = side.existed && ::stat(side.target.c_str(), &old) == 0;
    constexpr int kAttempts = 100;  // names left behind by an earlier process of the same id
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const std::string name =
            side.target + "." + std::to_string(::getpid()) + "-" + std::to_string(attempt) + ".tmp";
        side.fd = ::open(name.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
        if (side.fd >= 0) {
            side.temporary = name;
            if (keepMode) {
                (void)::fchmod(side.fd, old.st_mode & 07777);
            }
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    return false;
}

bool UpdateFiles::replaceOne(SideFile &side) {
    const bool renamed = ::rename(side.temporary.c_str(), side.target.c_str()) == 0;
    if (!renamed) {
        ::unlink(side.temporary.c_str());
    }
    side.temporary.clear();
    return renamed;
}

bool UpdateFiles::syncSideFolders() const {
    const std::string binFolder = folderOf(m_bin.target);
    const std::string ascFolder = folderOf(m_asc.target);
    return syncFolder(binFolder) && (ascFolder == binFolder || syncFolder(ascFolder));
}

bool OpenUpdateFiles(const UpdateFileNames &names, UpdateFiles &files) {
    files.m_hex = openHexFile(names.HexName);
    if (files.m_hex < 0) {
        warn("Can not open the .HEX file !");
        return false;
    }
    struct stat hex {};
    (void)::fstat(files.m_hex, &hex);
    // Nothing is created for a side file that is the HEX file or the other side file.
    UpdateFiles::SideFile &bin = files.m_bin;
    if (!UpdateFiles::inspect(names.BinName, bin) || bin.isFile(hex.st_dev, hex.st_ino) ||
        !UpdateFiles::createTemporary(bin)) {
        files.discard();
        warn("Can not open the .BIN file !");
        return false;
    }
    UpdateFiles::SideFile &asc = files.m_asc;
    if (!UpdateFiles::inspect(names.AscName, asc) || asc.isFile(hex.st_dev, hex.st_ino) ||
        (bin.existed && asc.isFile(bin.device, bin.inode)) || !UpdateFiles::createTemporary(asc)) {
        files.discard();
        warn("Can not open the .ASC file !");
        return false;
    }
    return true;
}

}  // namespace image
