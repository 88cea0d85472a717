// The program that the kernel test runs inside its guest, as a non-root member of group cdrom:
// it binds the drive-access manager by name, asks every adapter for the units on targets 0 to 6
// and sends a short firmware download (WRITE BUFFER modes 6 and 7 with offsets) to the first
// CD unit, once in the SCSI and once in the ATAPI command form. Every request and its answer is
// one line on standard output, so the test reads the guest's serial output line by line:
//
//   IDENTITY uid=1000 gid=1000 groups=24,1000
//   SUPPORT word=0x0101 status=0x01 adapters=1
//   ADAPTER 0 status=0x01 count=1 own_id=7 manager='...' identifier='...'
//   DEVTYPE 0:0:0 result=0x0501
//   UNIT 0:0:0 result=0x0001 hastat=0x00 targstat=0x00 type=0x05 vendor='...' product='...'
//        rev='...'                                        (one line)
//   NO-UNIT 0:1:0 result=0x0082 hastat=0x00 targstat=0x00
//   WB form=scsi unit=0:0:0 off=16384 len=16384 mode=6 flag=0 attempt=1 result=0x0204
//      hastat=0x00 targstat=0x02 sense=06/29/02 raw=70 00 06 ...   (one line)
//   DRIVER-END
//
// A block that fails is sent once more (a scripted Retry), then the download goes on.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "aspi/AspiManager.h"
#include "aspi/AspiRecords.h"
#include "aspi/LowMemory.h"

namespace {

constexpr int kLastTarget = 6;
constexpr std::uint8_t kCdUnitType = 0x05;
constexpr std::uint32_t kBlockSize = 16384;
// Two full blocks and a short one: both modes, non-zero offsets and a short last length.
constexpr std::uint32_t kImageLength = 2 * kBlockSize + 5000;
constexpr int kAttemptsPerBlock = 2;
constexpr std::uint8_t kLastBlockFlag = 0x80;

struct Unit {
    std::uint8_t adapter;
    std::uint8_t target;
    std::uint8_t type;
};

enum class Form { Scsi, Atapi };

const char *formName(Form form) {
    return form == Form::Scsi ? "scsi" : "atapi";
}

// Printable text of a fixed-width INQUIRY field, exactly as long as the field.
std::string fieldText(const std::uint8_t *bytes, std::size_t length) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = static_cast<char>(bytes[i]);
        text += (c >= 0x20 && c < 0x7F) ? c : '.';
    }
    return text;
}

std::string hexBytes(const std::uint8_t *bytes, std::size_t length) {
    std::string text;
    char part[4];
    for (std::size_t i = 0; i < length; ++i) {
        std::snprintf(part, sizeof part, i == 0 ? "%02x" : " %02x", bytes[i]);
        text += part;
    }
    return text;
}

// Sense key, ASC and ASCQ as KK/AA/QQ, from fixed (0x70/0x71) or descriptor (0x72/0x73) sense.
std::string senseSummary(const std::uint8_t *sense) {
    const std::uint8_t code = sense[0] & 0x7F;
    unsigned key = 0, asc = 0, ascq = 0;
    if (code == 0x72 || code == 0x73) {
        key = sense[1] & 0x0F;
        asc = sense[2];
        ascq = sense[3];
    } else {
        key = sense[2] & 0x0F;
        asc = sense[12];
        ascq = sense[13];
    }
    char text[16];
    std::snprintf(text, sizeof text, "%02x/%02x/%02x", key, asc, ascq);
    return text;
}

void printIdentity() {
    std::string groups;
    gid_t list[32];
    const int count = getgroups(32, list);
    for (int i = 0; i < count; ++i) {
        groups += (i == 0 ? "" : ",") + std::to_string(list[i]);
    }
    std::printf("IDENTITY uid=%u gid=%u groups=%s\n", static_cast<unsigned>(getuid()),
                static_cast<unsigned>(getgid()), groups.c_str());
}

aspi::SRB_ExecSCSICmd executeRecord(const Unit &unit, std::uint8_t flags, void *buffer,
                                    std::uint32_t length) {
    aspi::SRB_ExecSCSICmd srb{};
    srb.SRB_Cmd = aspi::SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = unit.adapter;
    srb.SRB_Flags = flags;
    srb.SRB_Target = unit.target;
    srb.SRB_BufLen = length;
    srb.SRB_BufPointer = aspi::lowAddress(buffer);
    srb.SRB_SenseLen = aspi::kSenseLength;
    return srb;
}

// The adapter and target statuses and, on CHECK CONDITION, the sense bytes, as line fields.
std::string outcomeFields(const aspi::SRB_ExecSCSICmd &srb, const std::uint8_t *sense) {
    char text[48];
    std::snprintf(text, sizeof text, "hastat=0x%02x targstat=0x%02x", srb.SRB_HaStat,
                  srb.SRB_TargStat);
    std::string fields = text;
    if (srb.SRB_HaStat == aspi::HASTAT_OK && srb.SRB_TargStat == aspi::STATUS_CHKCOND) {
        fields += " sense=" + senseSummary(sense) + " raw=" + hexBytes(sense, aspi::kSenseLength);
    }
    return fields;
}

std::optional<std::uint8_t> deviceType(const aspi::AspiManager &manager, const Unit &unit) {
    aspi::SRB_GDEVBlock srb{};
    srb.SRB_Cmd = aspi::SC_GET_DEV_TYPE;
    srb.SRB_HaId = unit.adapter;
    srb.SRB_Target = unit.target;
    const aspi::CommandResult result = manager.SendAndWait(srb);
    std::printf("DEVTYPE %u:%u:0 result=0x%04x\n", unit.adapter, unit.target, result);
    if ((result & 0xFF) != aspi::SS_COMP) {
        return std::nullopt;
    }
    return srb.SRB_DeviceType;
}

// INQUIRY in its SCSI form (6-byte CDB, 98 bytes). Returns the unit when one answered.
std::optional<Unit> inquire(const aspi::AspiManager &manager, std::uint8_t *inquiryData,
                            std::uint8_t adapter, std::uint8_t target) {
    Unit unit{adapter, target, 0};
    std::memset(inquiryData, 0, aspi::kInquiryLength);
    aspi::SRB_ExecSCSICmd srb =
        executeRecord(unit, aspi::SRB_DIR_IN, inquiryData, aspi::kInquiryLength);
    srb.SRB_CDBLen = 6;
    srb.CDBByte[0] = 0x12;
    srb.CDBByte[4] = static_cast<std::uint8_t>(aspi::kInquiryLength);
    std::uint8_t sense[aspi::kSenseLength] = {};
    const aspi::CommandResult result = manager.SendAndWait(srb, sense);
    if (result != aspi::kCommandSuccess) {
        std::printf("NO-UNIT %u:%u:0 result=0x%04x %s\n", adapter, target, result,
                    outcomeFields(srb, sense).c_str());
        return std::nullopt;
    }
    unit.type = inquiryData[0] & 0x1F;
    std::printf("UNIT %u:%u:0 result=0x%04x %s type=0x%02x vendor='%s' product='%s' rev='%s'\n",
                adapter, target, result, outcomeFields(srb, sense).c_str(), unit.type,
                fieldText(inquiryData + 8, 8).c_str(), fieldText(inquiryData + 16, 16).c_str(),
                fieldText(inquiryData + 32, 4).c_str());
    deviceType(manager, unit);
    return unit;
}

std::vector<Unit> scanUnits(const aspi::AspiManager &manager, std::uint8_t *inquiryData) {
    std::vector<Unit> units;
    const unsigned adapters = manager.AspiSupport() & 0xFF;
    for (unsigned adapter = 0; adapter < adapters; ++adapter) {
        aspi::SRB_HAInquiry srb{};
        srb.SRB_Cmd = aspi::SC_HA_INQUIRY;
        srb.SRB_HaId = static_cast<std::uint8_t>(adapter);
        const std::uint8_t status = manager.SendHostAdapterInquiry(srb);
        std::printf("ADAPTER %u status=0x%02x count=%u own_id=%u manager='%s' identifier='%s'\n",
                    adapter, status, srb.HA_Count, srb.HA_SCSI_ID,
                    fieldText(srb.HA_ManagerId, sizeof srb.HA_ManagerId).c_str(),
                    fieldText(srb.HA_Identifier, sizeof srb.HA_Identifier).c_str());
        for (int target = 0; target <= kLastTarget; ++target) {
            if (auto unit = inquire(manager, inquiryData, static_cast<std::uint8_t>(adapter),
                                    static_cast<std::uint8_t>(target))) {
                units.push_back(*unit);
            }
        }
    }
    return units;
}

// One WRITE BUFFER block: 10-byte CDB with the flag in byte 9 (SCSI) or 12-byte CDB with the
// flag in byte 11 (ATAPI); offset and length big-endian, 24 bits each.
aspi::CommandResult writeBufferBlock(const aspi::AspiManager &manager, const Unit &unit, Form form,
                                     std::uint8_t *data, std::uint32_t offset, std::uint32_t length,
                                     std::uint8_t mode, bool lastBlock, int attempt) {
    aspi::SRB_ExecSCSICmd srb = executeRecord(unit, aspi::SRB_DIR_OUT, data, length);
    srb.SRB_CDBLen = form == Form::Scsi ? 10 : 12;
    srb.CDBByte[0] = 0x3B;
    srb.CDBByte[1] = mode;
    srb.CDBByte[3] = static_cast<std::uint8_t>(offset >> 16);
    srb.CDBByte[4] = static_cast<std::uint8_t>(offset >> 8);
    srb.CDBByte[5] = static_cast<std::uint8_t>(offset);
    srb.CDBByte[6] = static_cast<std::uint8_t>(length >> 16);
    srb.CDBByte[7] = static_cast<std::uint8_t>(length >> 8);
    srb.CDBByte[8] = static_cast<std::uint8_t>(length);
    srb.CDBByte[form == Form::Scsi ? 9 : 11] = lastBlock ? kLastBlockFlag : 0;
    std::uint8_t sense[aspi::kSenseLength] = {};
    const aspi::CommandResult result = manager.SendAndWait(srb, sense);
    std::printf(
        "WB form=%s unit=%u:%u:0 off=%u len=%u mode=%u flag=%u attempt=%d result=0x%04x %s\n",
        formName(form), unit.adapter, unit.target, offset, length, mode, lastBlock ? 1u : 0u,
        attempt, result, outcomeFields(srb, sense).c_str());
    return result;
}

// The blocks of an update: mode 6 for every block but the last, mode 7 (and the last-block
// flag) for the last one. A failed block is sent once more.
void sendImage(const aspi::AspiManager &manager, const Unit &unit, Form form, std::uint8_t *image) {
    for (std::uint32_t offset = 0; offset < kImageLength; offset += kBlockSize) {
        const std::uint32_t length = std::min(kBlockSize, kImageLength - offset);
        const bool last = offset + length == kImageLength;
        for (int attempt = 1; attempt <= kAttemptsPerBlock; ++attempt) {
            if (writeBufferBlock(manager, unit, form, image + offset, offset, length, last ? 7 : 6,
                                 last, attempt) == aspi::kCommandSuccess) {
                break;
            }
        }
    }
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    printIdentity();

    aspi::LowBuffers buffers;
    if (!aspi::allocateLowBuffers(buffers)) {
        std::printf("LOW-MEMORY-FAILED\n");
        return 2;
    }
    for (std::uint32_t i = 0; i < kImageLength; ++i) {
        buffers.DownloadImage[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }

    // A binding failure reports itself on standard error and ends the process with status 1.
    aspi::AspiManager manager;
    manager.LoadAspiManager();
    const std::uint16_t support = manager.AspiSupport();
    std::printf("SUPPORT word=0x%04x status=0x%02x adapters=%u\n", support, support >> 8,
                support & 0xFF);

    const std::vector<Unit> units = scanUnits(manager, buffers.InquiryData);
    const Unit *cdUnit = nullptr;
    for (const Unit &unit : units) {
        if (unit.type == kCdUnitType) {
            cdUnit = &unit;
            break;
        }
    }
    if (cdUnit == nullptr) {
        std::printf(units.empty() && (support & 0xFF) == 0 ? "NO-ADAPTER\n" : "NO-CD-UNIT\n");
    } else {
        sendImage(manager, *cdUnit, Form::Scsi, buffers.DownloadImage);
        sendImage(manager, *cdUnit, Form::Atapi, buffers.DownloadImage);
    }
    std::printf("DRIVER-END\n");
    return 0;
}
