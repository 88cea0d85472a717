// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The kernel side of the manager: opening a unit's generic SCSI device and running one command on
// it. Everything above this seam (enumeration, record checks, result mapping) is plain code that
// tests drive with a fake; the real implementation is SgIoPassThrough.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace sg {

enum class DataDirection { none, toHost, toUnit };

// One SCSI command as handed to the kernel. The CDB and the data buffer belong to the caller and
// stay valid until run() returns.
struct PassThroughCommand {
    std::span<const std::uint8_t> cdb;
    DataDirection direction = DataDirection::none;
    std::uint8_t *data = nullptr;  // toHost: filled by the unit; toUnit: read from
    std::uint32_t length = 0;      // bytes to move; 0 with DataDirection::none
    int timeoutSeconds = 60;       // the kernel aborts the command after this long
};

inline constexpr std::size_t kSenseCapacity = 32;

// Linux host and driver bytes that the mapping and the real backend both name.
inline constexpr std::uint8_t kDidTimeOut = 0x03;
inline constexpr std::uint8_t kDriverError = 0x04;
inline constexpr std::uint8_t kDriverTimeout = 0x06;
inline constexpr std::uint8_t kDriverSense = 0x08;
inline constexpr std::uint8_t kDriverMask = 0x0F;  // the high bits carry retry suggestions

// What the kernel reported for one command, in the kernel's own codes.
struct PassThroughResult {
    int osError = 0;                // errno when the command never completed; nothing else is set
    std::uint8_t scsiStatus = 0;    // the unit's SCSI status byte (0x02 CHECK CONDITION)
    std::uint8_t hostStatus = 0;    // the Linux host byte (DID_*)
    std::uint8_t driverStatus = 0;  // the Linux driver byte (DRIVER_*)
    std::array<std::uint8_t, kSenseCapacity> sense{};  // zero past senseLength
    std::size_t senseLength = 0;                       // sense bytes the unit returned
    int residual = 0;                                  // bytes requested but not moved
};

class PassThrough {
  public:
    virtual ~PassThrough() = default;

    // Opens the device read-write. Returns a handle (>= 0) or a negated errno.
    virtual int open(const std::string &path) = 0;

    // Closes a handle that open() returned.
    virtual void close(int handle) = 0;

    // Opens any device node with the given open(2) flags, for holding it rather than for
    // commands: a plain descriptor, closed with close(2). Returns it or a negated errno.
    virtual int openNode(const std::string &path, int flags) = 0;

    // Runs one command on an open handle and waits for it to end (completed, failed or timed
    // out). Never throws.
    virtual PassThroughResult run(int handle, const PassThroughCommand &command) = 0;
};

}  // namespace sg
