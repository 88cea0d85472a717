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

// Opens an existing regular file for reading. O_NONBLOCK keeps a FIFO of that name from
// blocking the open; anything but a regular file is refused.
int openForReading(const std::string &name) {
    const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat entry {};
    if (::fstat(fd, &entry) != 0 || !S_ISREG(entry.st_mode) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
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

int openForWriting(const std::string &name) {
    return ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
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
    files.m_bin = openForWriting(names.BinName);
    if (files.m_bin < 0) {
        files.close();
        warn("Can not open the .BIN file !");
        return false;
    }
    files.m_asc = openForWriting(names.AscName);
    if (files.m_asc < 0) {
        files.close();
        warn("Can not open the .ASC file !");
        return false;
    }
    return true;
}

}  // namespace image
