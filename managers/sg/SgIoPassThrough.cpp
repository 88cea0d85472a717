// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "managers/sg/SgIoPassThrough.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace sg {

namespace {

constexpr std::size_t kLongestCdb = 16;
constexpr unsigned kMillisecondsPerSecond = 1000;
constexpr unsigned kDefaultTimeoutMilliseconds = 60000;  // for a command that names none

int transferDirection(DataDirection direction) {
    switch (direction) {
        case DataDirection::toHost:
            return SG_DXFER_FROM_DEV;
        case DataDirection::toUnit:
            return SG_DXFER_TO_DEV;
        case DataDirection::none:
            break;
    }
    return SG_DXFER_NONE;
}

}  // namespace

int SgIoPassThrough::open(const std::string &path) {
    const int handle = ::open(path.c_str(), O_RDWR | O_NONBLOCK);
    if (handle < 0) {
        return -errno;
    }
    const int flags = ::fcntl(handle, F_GETFL);
    if (flags < 0 || ::fcntl(handle, F_SETFL, flags & ~O_NONBLOCK) < 0) {
        const int error = errno;
        ::close(handle);
        return -error;
    }
    return handle;
}

void SgIoPassThrough::close(int handle) {
    ::close(handle);
}

int SgIoPassThrough::openNode(const std::string &path, int flags) {
    const int descriptor = ::open(path.c_str(), flags);
    return descriptor >= 0 ? descriptor : -errno;
}

PassThroughResult SgIoPassThrough::run(int handle, const PassThroughCommand &command) {
    PassThroughResult result;
    const bool moves = command.direction != DataDirection::none;
    if (command.cdb.empty() || command.cdb.size() > kLongestCdb || command.length > INT_MAX ||
        (moves && command.length > 0 && command.data == nullptr) ||
        static_cast<unsigned>(std::max(command.timeoutSeconds, 0)) >
            UINT_MAX / kMillisecondsPerSecond) {
        result.osError = EINVAL;
        return result;
    }
    sg_io_hdr_t header{};
    header.interface_id = 'S';
    header.dxfer_direction = moves ? transferDirection(command.direction) : SG_DXFER_NONE;
    header.cmd_len = static_cast<unsigned char>(command.cdb.size());
    header.cmdp = const_cast<unsigned char *>(command.cdb.data());
    header.mx_sb_len = static_cast<unsigned char>(result.sense.size());
    header.sbp = result.sense.data();
    header.dxfer_len = moves ? command.length : 0;
    header.dxferp = moves ? command.data : nullptr;
    header.timeout = command.timeoutSeconds > 0
                         ? static_cast<unsigned>(command.timeoutSeconds) * kMillisecondsPerSecond
                         : kDefaultTimeoutMilliseconds;

    if (::ioctl(handle, SG_IO, &header) < 0) {
        result.osError = errno;
        return result;
    }
    result.scsiStatus = header.status;
    result.hostStatus = static_cast<std::uint8_t>(header.host_status);
    result.driverStatus = static_cast<std::uint8_t>(header.driver_status);
    result.senseLength = std::min<std::size_t>(header.sb_len_wr, result.sense.size());
    result.residual = header.resid;
    return result;
}

}  // namespace sg
