// SPDX-License-Identifier: GPL-2.0-or-later
// The real drive-access manager over the kernel's SCSI pass-through, built as wnaspi32.DLL in the
// folder named by the executable's RUNPATH. It exports, with C linkage, exactly the two entry
// points every manager defines, and nothing else:
//   uint32_t GetASPI32SupportInfo(void)  enumerates the generic SCSI devices; returns status 0x01
//                                        in bits 8..15 and the number of adapters in bits 0..7
//   uint32_t SendASPI32Command(void *)   serves SC_HA_INQUIRY, SC_GET_DEV_TYPE and
//                                        SC_EXEC_SCSI_CMD; the request is complete, SRB_Status
//                                        stored last, when it returns
// It reads /sys and opens /dev/sgN read-write; it reads no variable of its own.
#include <cstdint>
#include <mutex>

#include "managers/sg/SgManager.h"
#include "managers/sg/SgUtilsPassThrough.h"

namespace {

std::mutex g_lock;

// Built on first use and kept until the process ends; the manager is never unloaded.
sg::SgManager &manager() {
    static sg::SgUtilsPassThrough passThrough;
    static sg::SgManager instance(sg::SgConfig{}, passThrough);
    return instance;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) std::uint32_t GetASPI32SupportInfo() {
    const std::lock_guard<std::mutex> hold(g_lock);
    return manager().supportInfo();
}

extern "C" __attribute__((visibility("default"))) std::uint32_t SendASPI32Command(void *record) {
    const std::lock_guard<std::mutex> hold(g_lock);
    return manager().send(record);
}
