// The simulated recorder bus, built as a drive-access manager library (wnaspi32.DLL in the sim/
// folder). It exports the two entry points every manager defines:
//   GetASPI32SupportInfo  status 0x01 and the number of simulated adapters
//   SendASPI32Command     answers host adapter inquiries, device types and SCSI commands
// Default bus: adapter 0 (own id 7) with recorders at targets 2 and 4, adapter 1 (own id 7)
// with a recorder at target 0.
#include <cstdint>
#include <cstring>

#include "aspi/AspiRecords.h"

namespace {

constexpr std::uint8_t kAdapterCount = 2;
constexpr std::uint8_t kOwnId = 7;

void answerHostAdapterInquiry(aspi::SRB_HAInquiry &srb) {
    if (srb.SRB_HaId >= kAdapterCount) {
        aspi::storeStatus(srb.SRB_Status, aspi::SS_INVALID_HA);
        return;
    }
    srb.HA_Count = kAdapterCount;
    srb.HA_SCSI_ID = kOwnId;
    std::memcpy(srb.HA_ManagerId, "SIMULATED BUS   ", 16);
    std::memcpy(srb.HA_Identifier, "SIM ADAPTER     ", 16);
    aspi::storeStatus(srb.SRB_Status, aspi::SS_COMP);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) std::uint32_t GetASPI32SupportInfo() {
    return (static_cast<std::uint32_t>(aspi::SS_COMP) << 8) | kAdapterCount;
}

extern "C" __attribute__((visibility("default"))) std::uint32_t SendASPI32Command(void *record) {
    auto *header = static_cast<aspi::SRB_Header *>(record);
    switch (header->SRB_Cmd) {
        case aspi::SC_HA_INQUIRY:
            answerHostAdapterInquiry(*static_cast<aspi::SRB_HAInquiry *>(record));
            break;
        case aspi::SC_GET_DEV_TYPE:
        case aspi::SC_EXEC_SCSI_CMD: {
            // No units yet: every target is absent.
            auto *exec = static_cast<aspi::SRB_ExecSCSICmd *>(record);
            if (header->SRB_Cmd == aspi::SC_EXEC_SCSI_CMD) {
                exec->SRB_HaStat = aspi::HASTAT_SEL_TO;
            }
            aspi::storeStatus(header->SRB_Status, aspi::SS_NO_DEVICE);
            break;
        }
        default:
            aspi::storeStatus(header->SRB_Status, aspi::SS_INVALID_SRB);
            break;
    }
    return header->SRB_Status;
}
