// The two entry points every manager defines, exported with C linkage, over moduleManager():
//   uint32_t GetASPI32SupportInfo(void)  enumerates the generic SCSI devices; returns status 0x01
//                                        in bits 8..15 and the number of adapters in bits 0..7
//   uint32_t SendASPI32Command(void *)   serves SC_HA_INQUIRY, SC_GET_DEV_TYPE and
//                                        SC_EXEC_SCSI_CMD; the request is complete, SRB_Status
//                                        stored last, when it returns
#include <cstdint>
#include <mutex>

#include "managers/sg/ModuleManager.h"

namespace {

std::mutex g_lock;

}  // namespace

extern "C" __attribute__((visibility("default"))) std::uint32_t GetASPI32SupportInfo() {
    const std::lock_guard<std::mutex> hold(g_lock);
    return sg::moduleManager().supportInfo();
}

extern "C" __attribute__((visibility("default"))) std::uint32_t SendASPI32Command(void *record) {
    const std::lock_guard<std::mutex> hold(g_lock);
    return sg::moduleManager().send(record);
}
