// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The test program's own open(2), which stands in for the C library's (a definition in the
// program comes first for every caller in it). While image_test::unnamedFilesRefused is set it
// refuses O_TMPFILE with EOPNOTSUPP, as a file system without unnamed files does; everything
// else goes to the kernel unchanged. Kept in a file of its own: with _FORTIFY_SOURCE, <fcntl.h>
// defines open() itself.
#include <linux/fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>

namespace image_test {
bool unnamedFilesRefused = false;
}

namespace {

int openFile(const char *path, int flags, va_list rest) {
    unsigned mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
        mode = va_arg(rest, unsigned);
    }
    if (image_test::unnamedFilesRefused && (flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_openat, AT_FDCWD, path, flags, mode));
}

}  // namespace

extern "C" int open(const char *path, int flags, ...) {
    va_list rest;
    va_start(rest, flags);
    const int fd = openFile(path, flags, rest);
    va_end(rest);
    return fd;
}

extern "C" int open64(const char *path, int flags, ...) {
    va_list rest;
    va_start(rest, flags);
    const int fd = openFile(path, flags | O_LARGEFILE, rest);
    va_end(rest);
    return fd;
}
