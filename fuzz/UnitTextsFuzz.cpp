// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Fuzz target of what the program learns about a unit from outside: the texts the kernel's
// device model shows the real manager (entry name, the address its device link names, type and
// the host's driver name; any bytes, with or without line end, NULs, overlong) and the unit's
// INQUIRY answer (any length, any status), through adapter numbering to the unit table and the
// unit line, and back from the line to the unit's address.
//
// Input, read with libFuzzer's data provider: the device count, then per device its name,
// address, whether its type attribute is readable and its type text; the driver name; the
// INQUIRY answer and the SCSI status, host and driver bytes of the command; the variant.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "aspi/LowMemory.h"
#include "fuzz/FuzzCheck.h"
#include "managers/sg/AdapterMap.h"
#include "managers/sg/ExecCommand.h"
#include "managers/sg/SgManager.h"
#include "managers/sg/SysfsScan.h"
#include "units/FirmwareVariants.h"
#include "units/UnitLine.h"

namespace {

constexpr int kMaxDevices = 4;
constexpr std::size_t kMaxText = 80;
constexpr std::size_t kMaxAnswer = 128;
// "a:o:t", 9 blanks, vendor, 7 blanks, product, 5 blanks, revision.
constexpr std::size_t kMaxLineLength = 5 + 9 + 8 + 7 + 16 + 5 + 4;

using fuzz_support::check;

// Whether the variant takes a unit with this 8-byte vendor field, read straight from the variant
// table: the field's text (the bytes before its first NUL) with every byte of code 0x20 or below
// cut from both ends is the variant's vendor word, letter for letter in either case (the words
// are plain ASCII capitals).
bool takenByVariant(int variant, const char *field) {
    const char *word = units::kFirmwareVariants[static_cast<std::size_t>(variant)].vendorWord;
    if (word == nullptr) {
        return true;
    }
    std::string_view text(field, ::strnlen(field, 8));
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20) {
        text.remove_prefix(1);
    }
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20) {
        text.remove_suffix(1);
    }
    const std::string_view expected(word);
    if (text.size() != expected.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != expected[i] && text[i] != expected[i] - 'A' + 'a') {
            return false;
        }
    }
    return true;
}

std::vector<sg::ScsiDevice> readDevices(FuzzedDataProvider &input) {
    std::vector<sg::ScsiDevice> devices;
    const int count = input.ConsumeIntegralInRange(1, kMaxDevices);
    for (int i = 0; i < count; ++i) {
        const std::string name = input.ConsumeRandomLengthString(kMaxText);
        const std::string address = input.ConsumeRandomLengthString(kMaxText);
        const bool typeReadable = input.ConsumeBool();
        const std::string type = input.ConsumeRandomLengthString(kMaxText);
        const auto device = sg::deviceFromTexts(
            name, address, typeReadable ? std::optional<std::string_view>(type) : std::nullopt);
        if (device) {
            check(device->name == name);
            check(device->host >= 0 && device->channel >= 0 && device->id >= 0 &&
                  device->lun >= 0 && device->type >= 0);
            check(typeReadable || device->type == sg::kTypeUnknown);
            devices.push_back(*device);
        }
    }
    sg::sortByEntryNumber(devices);
    return devices;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::vector<sg::ScsiDevice> devices = readDevices(input);
    const std::string procName = input.ConsumeRandomLengthString(kMaxText);
    const std::string answer = input.ConsumeRandomLengthString(kMaxAnswer);
    sg::PassThroughResult result;
    result.scsiStatus = input.ConsumeIntegral<std::uint8_t>();
    result.hostStatus = input.ConsumeIntegral<std::uint8_t>();
    result.driverStatus = input.ConsumeIntegral<std::uint8_t>();
    const int variant = input.ConsumeIntegralInRange(0, 6);

    const std::vector<sg::Adapter> adapters = sg::numberAdapters(devices);
    check(adapters.size() <= devices.size());

    units::UnitTable units;
    // The INQUIRY buffer keeps what an earlier answer left past a shorter one, as the program's
    // does; it is as long as the program's.
    static std::array<std::uint8_t, aspi::kInquiryLength> inquiry;
    inquiry.fill(0);
    for (std::size_t a = 0; a < adapters.size(); ++a) {
        const std::string driver = sg::driverNameFromText(procName, adapters[a].host);
        check(!driver.empty() && driver.find('\n') == std::string::npos);
        if (a >= static_cast<std::size_t>(units::kTableAdapters)) {
            continue;
        }
        for (int target = 0; target < units::kTableTargets; ++target) {
            const sg::ScsiDevice *unit =
                sg::findUnit(adapters[a], static_cast<std::uint8_t>(target), 0);
            if (unit == nullptr) {
                continue;
            }
            check(unit->id == target && unit->lun == 0 && unit->host == adapters[a].host &&
                  unit->channel == adapters[a].channel);

            // The kernel puts the answer into the buffer; the manager fills the record.
            std::memcpy(inquiry.data(), answer.data(), std::min(answer.size(), inquiry.size()));
            aspi::SRB_ExecSCSICmd record{};
            record.SRB_SenseLen = aspi::kSenseLength;
            if (sg::applyResult(result, sg::DataDirection::toHost, record) != aspi::SS_COMP) {
                continue;
            }
            units::storeUnitTexts(units, static_cast<int>(a), target, inquiry.data());
            check(units.vendor[a][target][8] == '\0');
            const std::string line =
                units::UnitLine(units, static_cast<int>(a), sg::kOwnScsiId, target);
            check(line.size() <= kMaxLineLength);
            std::uint8_t lineAdapter = 0xFF;
            std::uint8_t lineTarget = 0xFF;
            check(units::DecodeUnitLine(line, lineAdapter, lineTarget));
            check(lineAdapter == a && lineTarget == target);
            units::CheckUnitEligibility(units, variant, static_cast<int>(a), target,
                                        units::entryText(units.vendor[a][target], 8));
            check(units.Eligible[a * units::kTableTargets + static_cast<std::size_t>(target)] ==
                  (takenByVariant(variant, units.vendor[a][target]) ? 1 : 0));
        }
    }
    return 0;
}
