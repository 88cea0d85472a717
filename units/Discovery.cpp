// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "units/Discovery.h"

#include <algorithm>

#include "aspi/DriveCommands.h"
#include "units/FirmwareVariants.h"
#include "units/UnitLine.h"

namespace units {

namespace {

constexpr std::uint8_t kLun = 0;
}  // namespace

void ScanUnits(MainState &state, UnitListView &view) {
    state.AdapterCount = 0;
    const std::uint16_t support = state.aspi.AspiSupport();
    if ((support >> 8) != aspi::SS_COMP) {
        return;
    }
    // The unit table holds adapters 0 to 2; further adapters could not be listed or updated.
    state.AdapterCount = static_cast<std::uint8_t>(std::min<int>(support & 0xFF, kTableAdapters));

    const aspi::DriveCommands commands(state.aspi, [&view] { return view.busType(); });

    // One record serves every adapter of the scan; what the manager wrote for one adapter stays
    // in it. The status byte is cleared before each hand-over so that a stale success can never
    // be read back as the next adapter's answer.
    aspi::SRB_HAInquiry adapterInquiry{};
    adapterInquiry.SRB_Cmd = aspi::SC_HA_INQUIRY;
    for (int adapter = 0; adapter < state.AdapterCount; ++adapter) {
        adapterInquiry.SRB_HaId = static_cast<std::uint8_t>(adapter);
        adapterInquiry.SRB_Status = aspi::SS_PENDING;
        if (state.aspi.SendHostAdapterInquiry(adapterInquiry) != aspi::SS_COMP) {
            continue;
        }
        const int ownId = adapterInquiry.HA_SCSI_ID;
        const auto ha = static_cast<std::uint8_t>(adapter);
        // Target 7 is the usual id of the adapter itself and is never asked.
        for (int target = 0; target < kTableTargets; ++target) {
            const auto id = static_cast<std::uint8_t>(target);
            state.units.Eligible[adapter * kTableTargets + target] = 0;
            state.LastResult =
                commands.SendInquiry(ha, id, kLun, state.InquiryData, state.LastSense);
            if ((state.LastResult & 0xFF) != aspi::SS_COMP) {
                continue;
            }
            storeUnitTexts(state.units, adapter, target, state.InquiryData);
            // Asked as every scan asks it; the answer changes neither table nor list.
            state.LastResult = commands.GetDeviceType(ha, id, kLun);
            view.appendUnitLine(UnitLine(state.units, adapter, ownId, target));
            CheckUnitEligibility(state.units, view.firmwareVariant(), adapter, target,
                                 entryText(state.units.vendor[adapter][target], 8));
        }
    }
}

std::vector<std::string> scanAtStart(MainState &state, int variant) {
    // Collects the lines with the selections the window starts with.
    class Lines : public UnitListView {
      public:
        explicit Lines(int variant) : m_variant(variant) {}
        int busType() const override { return aspi::kBusScsi; }
        int firmwareVariant() const override { return m_variant; }
        void appendUnitLine(const std::string &line) override { lines.push_back(line); }
        std::vector<std::string> lines;

      private:
        int m_variant;
    } view(variant);
    state.allocateBuffers();
    state.aspi.LoadAspiManager();
    ScanUnits(state, view);
    return view.lines;
}

}  // namespace units
