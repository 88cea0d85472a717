// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "image/UpdateFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

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
    if (other.empty()) {
        errno = ENOENT;
        return -1;
    }
    return openForReading(other);
}

// Opens an existing side file for writing, neither creating nor cutting it, to learn that it may
// be written and which file it is. Only a regular file is taken: a pipe, directory, device or
// socket of that name is refused before it is opened (opening a device can act on it) and again
// after (it may have been swapped in between), O_NONBLOCK keeps a pipe from blocking the open,
// and O_NOFOLLOW refuses a symbolic link swapped in meanwhile. Gives -1 with errno ENOENT when
// there is no such file.
int openExisting(const std::string &name) {
    struct stat entry {};
    if (::lstat(name.c_str(), &entry) == 0 && !S_ISREG(entry.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    const int fd = ::open(name.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    return fd < 0 ? -1 : keepRegularFile(fd);
}

// The folder a file name is in: "." for a bare name.
std::string folderOf(const std::string &name) {
    const auto slash = name.rfind('/');
    return slash == std::string::npos ? std::string(".")
           : slash == 0               ? std::string("/")
                                      : name.substr(0, slash);
}

std::string baseOf(const std::string &name) {
    const auto slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
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

constexpr std::size_t kRandomDigits = 16;
constexpr const char *kTemporarySuffix = ".tmp";
// Tries of a new name; one taken already is someone's file, and a few random names more all
// taken mean something else is wrong.
constexpr int kNameAttempts = 8;

// A name beside `target` that nobody can guess: "<target>.<16 random hex digits>.tmp".
std::string temporaryName(const std::string &target) {
    static std::random_device source;
    const std::uint64_t number = (std::uint64_t{source()} << 32) | source();
    char digits[kRandomDigits + 1];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(number));
    return target + "." + digits + kTemporarySuffix;
}

// Whether `entry` is a name temporaryName() gives for a target named `base`.
bool isTemporaryName(const std::string &entry, const std::string &base) {
    const std::size_t length = base.size() + 1 + kRandomDigits + std::strlen(kTemporarySuffix);
    if (entry.size() != length || !entry.starts_with(base + ".") ||
        !entry.ends_with(kTemporarySuffix)) {
        return false;
    }
    const std::string digits = entry.substr(base.size() + 1, kRandomDigits);
    return digits.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// Whether this process may rename over another user's file in another user's sticky folder:
// only with CAP_FOWNER in its effective set (root has it).
bool mayOverrideStickyFolders() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (::syscall(SYS_capget, &header, data) != 0) {
        return ::geteuid() == 0;
    }
    return (data[CAP_TO_INDEX(CAP_FOWNER)].effective & CAP_TO_MASK(CAP_FOWNER)) != 0;
}

// Whether this user may put a new file at `target`, as rename(2) decides: its folder must be
// writable and searchable, and in a sticky folder (/tmp, a group share) a file that is there
// already must be this user's, or the folder must be, unless the process holds CAP_FOWNER.
// Another user's file there may well be writable, and yet cannot be renamed over.
bool mayReplace(const std::string &target) {
    const std::string folder = folderOf(target);
    struct stat dir {};
    if (::stat(folder.c_str(), &dir) != 0 ||
        ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        return false;
    }
    struct stat file {};
    if ((dir.st_mode & S_ISVTX) == 0 || ::lstat(target.c_str(), &file) != 0) {
        return true;
    }
    const uid_t user = ::geteuid();
    return file.st_uid == user || dir.st_uid == user || mayOverrideStickyFolders();
}

// Removes the new files an ended process of this program left beside `target` (killed between
// writing them and renaming them): regular files of temporaryName()'s form on which no process
// holds a lock. A file another user left in a sticky folder stays; it is not this user's to
// remove.
void removeLeftovers(const std::string &target) {
    DIR *dir = ::opendir(folderOf(target).c_str());
    if (dir == nullptr) {
        return;
    }
    const std::string base = baseOf(target);
    std::vector<std::string> candidates;
    while (const dirent *entry = ::readdir(dir)) {
        if (isTemporaryName(entry->d_name, base)) {
            candidates.emplace_back(entry->d_name);
        }
    }
    const int folder = ::dirfd(dir);
    for (const std::string &name : candidates) {
        struct stat named {};
        if (::fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(named.st_mode)) {
            continue;
        }
        const int fd = ::openat(folder, name.c_str(),
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        struct stat opened {};
        if (::fstat(fd, &opened) == 0 && opened.st_dev == named.st_dev &&
            opened.st_ino == named.st_ino && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            ::unlinkat(folder, name.c_str(), 0);
        }
        ::close(fd);
    }
    ::closedir(dir);
}

// Whether open(2) refused O_TMPFILE because the file system (or the kernel) has no unnamed
// files: a named new file takes its place.
bool noUnnamedFiles(int error) {
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

// Creates a new file beside `target` under a name nobody can guess, given in `name`. A name that
// is taken (by anything, a link included) is never opened: another is tried.
int createNamed(const std::string &target, std::string &name) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        name = temporaryName(target);
        const int fd = ::open(
            name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
        if (fd >= 0) {
            return fd;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    name.clear();
    return -1;
}

// The warning for a file that could not be opened, naming it and why: the system's words for
// `error`, or `why` where the system said nothing (0).
void warnOpen(const char *text, const std::string &name, int error, const char *why = "") {
    const std::string reason = error == EINVAL ? "not a regular file"
                               : error != 0    ? std::strerror(error)
                                               : why;
    platform::fileWarning(text, "cannot open " + name + ": " + reason);
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
    closeOne(m_hex);
    closeOne(m_bin.fd);
    closeOne(m_asc.fd);
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

// Learns what the side file's name is now: nothing (a new file), a regular file that may be
// written, or a symbolic link. The name itself is what gets replaced, in the HEX file's folder: a
// link is never followed to write or replace the file it points to, which may be anyone's (in a
// shared folder another user can plant a link to this user's files). What a link points to is
// only looked at, so that a link to a device, pipe or folder, or to the HEX file or the other
// side file, is still refused. Either way this user must be allowed to put a file at the name.
bool UpdateFiles::inspect(const std::string &name, SideFile &side) {
    side.target = name;
    struct stat named {};
    if (::lstat(name.c_str(), &named) == 0 && S_ISLNK(named.st_mode)) {
        struct stat pointed {};
        if (::stat(name.c_str(), &pointed) == 0) {
            if (!S_ISREG(pointed.st_mode)) {
                errno = EINVAL;  // said as "not a regular file"
                return false;
            }
            side.existed = true;
            side.device = pointed.st_dev;
            side.inode = pointed.st_ino;
        }
        errno = EPERM;            // when this user may not put a file there
        return mayReplace(name);  // a link that points nowhere is replaced as well
    }
    const int fd = openExisting(name);
    if (fd < 0) {
        if (errno != ENOENT) {
            return false;
        }
        errno = EPERM;  // when this user may not put a file there
        return mayReplace(name);
    }
    struct stat entry {};
    const bool known = ::fstat(fd, &entry) == 0;
    ::close(fd);
    side.existed = known;
    side.device = entry.st_dev;
    side.inode = entry.st_ino;
    if (known) {
        side.keptMode = entry.st_mode & 07777;
    }
    errno = EPERM;  // when this user may not put a file there
    return known && mayReplace(name);
}

// Creates the empty new file beside the side file's name, with the permission bits of the
// regular file it replaces (or those a new file gets), and locks it for as long as it is open.
bool UpdateFiles::createTemporary(SideFile &side) {
    removeLeftovers(side.target);
    side.fd = ::open(folderOf(side.target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (side.fd < 0 && noUnnamedFiles(errno)) {
        side.fd = createNamed(side.target, side.temporary);
    }
    if (side.fd < 0) {
        return false;
    }
    (void)::flock(side.fd, LOCK_EX | LOCK_NB);
    if (side.keptMode) {
        (void)::fchmod(side.fd, *side.keptMode);
    }
    return true;
}

// Gives an unnamed new file a name beside its target, through /proc/self/fd (or, without /proc,
// the descriptor itself where the kernel allows that).
bool UpdateFiles::nameTemporary(SideFile &side) {
    if (!side.temporary.empty()) {
        return true;
    }
    const std::string self = "/proc/self/fd/" + std::to_string(side.fd);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string name = temporaryName(side.target);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
            (errno != EEXIST &&
             ::linkat(side.fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0)) {
            side.temporary = name;
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    return false;
}

UpdateFiles::Placed UpdateFiles::putInPlace(SideFile &side) {
    const char *from = side.temporary.c_str();
    const char *to = side.target.c_str();
    struct stat present {};
    const bool exists = ::lstat(to, &present) == 0;
    // Exchanged, the old file stays at the temporary name until the pair is complete; a new
    // name is taken only while it is free.
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, exists ? RENAME_EXCHANGE : RENAME_NOREPLACE) ==
        0) {
        if (exists) {
            return Placed::Exchanged;
        }
    } else if ((errno != EINVAL && errno != ENOSYS) || ::rename(from, to) != 0) {
        return Placed::Not;  // else the file system cannot exchange names: a plain rename
    }
    side.temporary.clear();
    return exists ? Placed::Replaced : Placed::Created;
}

void UpdateFiles::takeBack(SideFile &side, Placed placed) {
    if (placed == Placed::Exchanged) {
        (void)::renameat2(AT_FDCWD, side.temporary.c_str(), AT_FDCWD, side.target.c_str(),
                          RENAME_EXCHANGE);
    } else if (placed == Placed::Created) {
        ::unlink(side.target.c_str());
    }
}

UpdateFiles::Fault UpdateFiles::replaceSideFiles() {
    if (!nameTemporary(m_bin) || !closeOne(m_bin.fd)) {
        return Fault::Bin;
    }
    if (!nameTemporary(m_asc) || !closeOne(m_asc.fd)) {
        return Fault::Asc;
    }
    // Both names are checked before either is replaced: another user's file that took a name
    // meanwhile refuses the pair, not its second half.
    if (!mayReplace(m_bin.target)) {
        return Fault::Bin;
    }
    if (!mayReplace(m_asc.target)) {
        return Fault::Asc;
    }
    const Placed bin = putInPlace(m_bin);
    if (bin == Placed::Not) {
        return Fault::Bin;
    }
    if (::rename(m_asc.temporary.c_str(), m_asc.target.c_str()) != 0) {
        takeBack(m_bin, bin);
        return Fault::Asc;
    }
    m_asc.temporary.clear();
    if (bin == Placed::Exchanged) {
        ::unlink(m_bin.temporary.c_str());  // the previous .bin
        m_bin.temporary.clear();
    }
    return Fault::None;
}

bool UpdateFiles::syncSideFolders() const {
    const std::string binFolder = folderOf(m_bin.target);
    const std::string ascFolder = folderOf(m_asc.target);
    return syncFolder(binFolder) && (ascFolder == binFolder || syncFolder(ascFolder));
}

bool OpenUpdateFiles(const UpdateFileNames &names, UpdateFiles &files) {
    files.m_hex = openHexFile(names.HexName);
    if (files.m_hex < 0) {
        warnOpen("Can not open the .HEX file !", names.HexName, errno);
        return false;
    }
    struct stat hex {};
    (void)::fstat(files.m_hex, &hex);
    // Nothing is created for a side file that is the HEX file or the other side file.
    UpdateFiles::SideFile &bin = files.m_bin;
    int error = 0;
    if (!UpdateFiles::inspect(names.BinName, bin) || bin.isFile(hex.st_dev, hex.st_ino) ||
        !UpdateFiles::createTemporary(bin)) {
        // The system's reason, unless the name is the HEX file's.
        error = bin.isFile(hex.st_dev, hex.st_ino) ? 0 : errno;
        files.discard();
        warnOpen("Can not open the .BIN file !", names.BinName, error, "it is the HEX file");
        return false;
    }
    UpdateFiles::SideFile &asc = files.m_asc;
    if (!UpdateFiles::inspect(names.AscName, asc) || asc.isFile(hex.st_dev, hex.st_ino) ||
        (bin.existed && asc.isFile(bin.device, bin.inode)) || !UpdateFiles::createTemporary(asc)) {
        const bool other = asc.isFile(hex.st_dev, hex.st_ino) ||
                           (bin.existed && asc.isFile(bin.device, bin.inode));
        error = other ? 0 : errno;
        files.discard();
        warnOpen("Can not open the .ASC file !", names.AscName, error,
                 "it is the HEX file or the .BIN file");
        return false;
    }
    return true;
}

}  // namespace image
