// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Fuzz target of the simulator's bus file: any text is read; a refused one names a line of it,
// an accepted one describes a consistent bus, and the simulated bus built from it answers host
// adapter inquiries and device-type requests for every adapter and target.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "aspi/AspiRecords.h"
#include "fuzz/FuzzCheck.h"
#include "managers/sim/BusFile.h"
#include "managers/sim/SimBus.h"

namespace {

constexpr unsigned kMaxTarget = 15;

using fuzz_support::check;

void checkBus(const sim::BusDescription &bus) {
    check(!bus.adapters.empty() || (bus.units.empty() && bus.failures.empty()));
    for (const sim::UnitDescription &unit : bus.units) {
        check(unit.adapter < bus.adapters.size() && unit.target <= kMaxTarget);
        check(unit.deviceType <= 0x1F);
        check(std::count_if(bus.units.begin(), bus.units.end(), [&](const auto &other) {
                  return other.adapter == unit.adapter && other.target == unit.target;
              }) == 1);
    }
    for (const sim::BlockFailure &failure : bus.failures) {
        check(failure.status != aspi::SS_PENDING && failure.offset <= 0xFFFFFF);
        check(std::any_of(bus.units.begin(), bus.units.end(), [&](const auto &unit) {
            return unit.adapter == failure.adapter && unit.target == failure.target;
        }));
    }
}

// Asks every declared adapter (and one more) for its inquiry and each target for its type.
void askBus(const sim::BusDescription &description) {
    sim::SimBus bus(description, {});
    const std::uint32_t support = bus.supportInfo();
    check((support >> 8) == aspi::SS_COMP && (support & 0xFF) == description.adapters.size());
    for (std::size_t adapter = 0; adapter <= description.adapters.size(); ++adapter) {
        aspi::SRB_HAInquiry inquiry{};
        inquiry.SRB_Cmd = aspi::SC_HA_INQUIRY;
        inquiry.SRB_HaId = static_cast<std::uint8_t>(adapter);
        bus.handle(&inquiry);
        check(inquiry.SRB_Status != aspi::SS_PENDING);
        for (unsigned target = 0; target <= kMaxTarget; ++target) {
            aspi::SRB_GDEVBlock type{};
            type.SRB_Cmd = aspi::SC_GET_DEV_TYPE;
            type.SRB_HaId = static_cast<std::uint8_t>(adapter);
            type.SRB_Target = static_cast<std::uint8_t>(target);
            bus.handle(&type);
            const bool present = bus.unit(type.SRB_HaId, type.SRB_Target) != nullptr;
            check(present == (type.SRB_Status == aspi::SS_COMP));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const sim::ParseResult result = sim::parseBusFile(text);
    if (!result.bus) {
        const auto lines = std::count(text.begin(), text.end(), '\n') + 1;
        check(result.errorLine >= 1 && result.errorLine <= lines && !result.error.empty());
        return 0;
    }
    check(result.errorLine == 0 && result.error.empty());
    checkBus(*result.bus);
    askBus(*result.bus);
    return 0;
}
