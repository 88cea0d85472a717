// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "app/EmptyListNotice.h"

#include <algorithm>
#include <cstring>

namespace app {

namespace {

constexpr const char *kLead = "No CD-R/RW unit is listed: ";

// "1 CD/DVD unit was" or "3 CD/DVD units were".
std::string unitsWere(unsigned count) {
    return std::to_string(count) + (count == 1 ? " CD/DVD unit was" : " CD/DVD units were");
}

// The denied units' nodes as the manager named them, each read no further than its field, and
// how many more there are.
std::string deniedNodes(const aspi::ScanReport &report) {
    const std::size_t named = std::min<std::size_t>(report.DeniedUnits, aspi::kReportedNodes);
    std::string nodes;
    for (std::size_t i = 0; i < named; ++i) {
        const char *node = report.DeniedNodes[i];
        nodes += (i == 0 ? "" : ", ") + std::string(node, strnlen(node, aspi::kReportedNodeLength));
    }
    if (report.DeniedUnits > named) {
        const std::size_t others = report.DeniedUnits - named;
        nodes += " and " + std::to_string(others) + (others == 1 ? " other node" : " other nodes");
    }
    return nodes;
}

// "1 CD/DVD unit was found that an update holds: ...", and to wait a minute.
std::string heldUnits(unsigned count) {
    const bool one = count == 1;
    return unitsWere(count) + " found that " + (one ? "an update holds" : "updates hold") +
           ": another copy of this program is updating " + (one ? "it" : "them") +
           ", or an update ended less than 70 seconds ago and the unit may still be storing its "
           "firmware.\n\n"
           "Wait a minute, then start this program again.";
}

}  // namespace

std::optional<std::string> heldUnitsText(const std::optional<aspi::ScanReport> &report) {
    if (!report || report->HeldUnits == 0) {
        return std::nullopt;
    }
    return heldUnits(report->HeldUnits);
}

std::optional<std::string> emptyUnitListText(int listedUnits,
                                             const std::optional<aspi::ScanReport> &report) {
    if (listedUnits != 0 || !report) {
        return std::nullopt;
    }
    if (report->DriverLoaded == 0) {
        return std::string(kLead) +
               "the kernel's generic SCSI driver (sg), through which this program reaches the "
               "units, is not loaded.\n\n"
               "Load it now with:\n    sudo modprobe sg\n"
               "To load it at every start too, add a line \"sg\" to a file in\n"
               "/etc/modules-load.d/, for example:\n"
               "    echo sg | sudo tee /etc/modules-load.d/sg.conf\n\n"
               "Then start this program again.";
    }
    if (report->DeniedUnits > 0) {
        const bool one = report->DeniedUnits == 1;
        return std::string(kLead) + unitsWere(report->DeniedUnits) +
               " found that you may not use: " + deniedNodes(*report) + ".\n\n" +
               "Members of the group \"cdrom\" may use " + (one ? "it" : "them") +
               ", and so may the user of a local desktop session. To join the group:\n"
               "    sudo usermod -aG cdrom $USER\n"
               "then log out, log in again and start this program again.";
    }
    if (report->HeldUnits > 0) {
        return std::string(kLead) + heldUnits(report->HeldUnits);
    }
    if (report->CdUnits == 0) {
        return std::string(kLead) +
               "no CD/DVD unit was found on this computer.\n\n"
               "Connect the recorder and switch it on, then start this program again.";
    }
    const bool one = report->CdUnits == 1;
    return std::string(kLead) + unitsWere(report->CdUnits) + " found, but " +
           (one ? "it did" : "none of them did") +
           " not answer.\n\n"
           "Check the recorder's cable and power, then start this program again.";
}

}  // namespace app
