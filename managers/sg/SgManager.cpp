// The real drive-access manager over the kernel's SCSI pass-through, built as wnaspi32.DLL in the
// folder named by the executable's RUNPATH. It exports the two entry points every manager defines:
//   GetASPI32SupportInfo  status 0x01 and the number of adapters found
//   SendASPI32Command     answers host adapter inquiries, device types and SCSI commands
#include <cstdint>

#include "aspi/AspiRecords.h"

extern "C" __attribute__((visibility("default"))) std::uint32_t GetASPI32SupportInfo() {
    return static_cast<std::uint32_t>(aspi::SS_COMP) << 8;
}

extern "C" __attribute__((visibility("default"))) std::uint32_t SendASPI32Command(void *record) {
    auto *header = static_cast<aspi::SRB_Header *>(record);
    aspi::storeStatus(header->SRB_Status, aspi::SS_INVALID_HA);
    return aspi::SS_INVALID_HA;
}
