// SPDX-License-Identifier: GPL-2.0-or-later
#include "managers/sg/SgUtilsPassThrough.h"

#include <fcntl.h>
#include <scsi/sg_pt.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>

namespace sg {

int SgUtilsPassThrough::open(const std::string &path) {
    const int handle = scsi_pt_open_flags(path.c_str(), O_RDWR | O_NONBLOCK, 0);
    if (handle < 0) {
        return handle;
    }
    const int flags = ::fcntl(handle, F_GETFL);
    if (flags < 0 || ::fcntl(handle, F_SETFL, flags & ~O_NONBLOCK) < 0) {
        const int error = errno;
        scsi_pt_close_device(handle);
        return -error;
    }
    return handle;
}

void SgUtilsPassThrough::close(int handle) {
    scsi_pt_close_device(handle);
}

int SgUtilsPassThrough::openNode(const std::string &path, int flags) {
    const int descriptor = ::open(path.c_str(), flags);
    return descriptor >= 0 ? descriptor : -errno;
}

PassThroughResult SgUtilsPassThrough::run(int handle, const PassThroughCommand &command) {
    PassThroughResult result;
    if (command.length > INT_MAX || command.cdb.size() > 16) {
        result.osError = EINVAL;
        return result;
    }
    const std::unique_ptr<sg_pt_base, void (*)(sg_pt_base *)> object(construct_scsi_pt_obj(),
                                                                     destruct_scsi_pt_obj);
    if (!object) {
        result.osError = ENOMEM;
        return result;
    }
    sg_pt_base *pt = object.get();
    set_scsi_pt_cdb(pt, command.cdb.data(), static_cast<int>(command.cdb.size()));
    set_scsi_pt_sense(pt, result.sense.data(), static_cast<int>(result.sense.size()));
    const int length = static_cast<int>(command.length);
    if (command.direction == DataDirection::toHost) {
        set_scsi_pt_data_in(pt, command.data, length);
    } else if (command.direction == DataDirection::toUnit) {
        set_scsi_pt_data_out(pt, command.data, length);
    }

    const int outcome = do_scsi_pt(pt, handle, command.timeoutSeconds, 0);
    if (outcome < 0) {
        result.osError = -outcome;
        return result;
    }
    if (outcome == SCSI_PT_DO_TIMEOUT) {
        // Systems whose pass-through reports a time-out this way rather than in the host byte.
        result.hostStatus = kDidTimeOut;
        return result;
    }
    if (outcome != SCSI_PT_DO_START_OK) {
        // The library refused the request itself (bad parameters, unsupported).
        result.osError = EINVAL;
        return result;
    }

    result.scsiStatus = static_cast<std::uint8_t>(get_scsi_pt_status_response(pt));
    result.hostStatus = static_cast<std::uint8_t>(get_scsi_pt_transport_err(pt));
    result.senseLength = static_cast<std::size_t>(
        std::clamp(get_scsi_pt_sense_len(pt), 0, static_cast<int>(result.sense.size())));
    result.residual = get_scsi_pt_resid(pt);
    // The library keeps the driver byte to itself; its result category tells the two cases that
    // matter: sense data delivered by the driver, and a driver failure with no host status.
    switch (get_scsi_pt_result_category(pt)) {
        case SCSI_PT_RESULT_SENSE:
            result.driverStatus = kDriverSense;
            break;
        case SCSI_PT_RESULT_TRANSPORT_ERR:
            if (result.hostStatus == 0) {
                result.driverStatus = kDriverError;
            }
            break;
        case SCSI_PT_RESULT_OS_ERR:
            result.osError = get_scsi_pt_os_err(pt);
            break;
        default:
            break;
    }
    return result;
}

}  // namespace sg
