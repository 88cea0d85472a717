// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Host adapter numbering: each (host, channel) pair that holds a device is one adapter, and its
// devices are the targets by SCSI id.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "managers/sg/SysfsScan.h"

namespace sg {

// The support word's count is one byte.
inline constexpr std::size_t kMaxAdapters = 255;

struct Adapter {
    int host = 0;
    int channel = 0;
    std::vector<ScsiDevice> units;  // LUN 0 devices, ascending by id
};

// Groups the devices into adapters and numbers them from 0: first the pairs that hold a CD/DVD
// unit, then the others, each group in ascending (host, channel) order, so that the recorders
// sit on the first adapters, the ones a scan walks. Only LUN 0 devices with an id that fits the
// one-byte target field are addressable; a pair with none of them is no adapter. At most
// kMaxAdapters are kept.
std::vector<Adapter> numberAdapters(const std::vector<ScsiDevice> &devices);

// The unit at a target of an adapter, or nullptr when none answers there (any LUN but 0 included).
const ScsiDevice *findUnit(const Adapter &adapter, std::uint8_t target, std::uint8_t lun);

}  // namespace sg
