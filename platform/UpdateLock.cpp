// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "platform/UpdateLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/UpdateGuard.h"

namespace platform {

namespace {

// Opens the lock file read-only (enough for flock), creating it when it is missing. An existing
// file is opened without O_CREAT: in a sticky world-writable folder such as /run/lock, the kernel
// refuses O_CREAT on another user's file. Never blocks and never follows a link: anyone may put a
// named pipe or a link there, whose open would wait for a writer or reach another file.
int openLockFile(const std::string &path) {
    constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::open(path.c_str(), kFlags);
        if (fd >= 0 || errno != ENOENT) {
            return fd;
        }
        const int created = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0644);
        if (created >= 0 || errno != EEXIST) {
            return created;
        }
    }
    return -1;
}

}  // namespace

std::string UpdateGuardSettings::defaultLockPath() {
    constexpr const char *kName = "/cdrw-fwupdate.lock";
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (::access("/run/lock", F_OK) != 0 && runtime != nullptr && runtime[0] != '\0') {
        return std::string(runtime) + kName;
    }
    return std::string("/run/lock") + kName;
}

UpdateLock::UpdateLock(const std::string &path) {
    m_fd = openLockFile(path);
    if (m_fd < 0) {
        std::fprintf(stderr,
                     "cdrw-fwupdate: cannot open the update lock %s (%s); going on without\n",
                     path.c_str(), std::strerror(errno));
        return;
    }
    struct stat status {};
    if (::fstat(m_fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        // A pipe, a folder or a device put there holds nothing and must not be locked.
        std::fprintf(stderr,
                     "cdrw-fwupdate: the update lock %s is not a regular file; going on "
                     "without\n",
                     path.c_str());
        ::close(m_fd);
        m_fd = -1;
        return;
    }
    if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
        return;
    }
    const int error = errno;
    ::close(m_fd);
    m_fd = -1;
    if (error == EWOULDBLOCK) {
        m_heldElsewhere = true;
        return;
    }
    std::fprintf(stderr, "cdrw-fwupdate: cannot lock %s (%s); going on without\n", path.c_str(),
                 std::strerror(error));
}

UpdateLock::~UpdateLock() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

}  // namespace platform
