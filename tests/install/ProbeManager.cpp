// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// A manager for the install test: it serves no adapter and reports where it was loaded from.
// When the program asks for the support word it writes, to the file named by CDRW_PROBE_REPORT,
//   loaded <path>     the file this library was mapped from, as the dynamic loader found it
//   mapped <path>     each file named wnaspi32.DLL that is mapped into the process
// (written under a temporary name and then renamed, so a reader never sees half a report), and
// answers status 0x01 with no adapter, so the program comes up with an empty list and no box.
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "aspi/AspiRecords.h"

#define PROBE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

void writeReport(const std::string &path) {
    const std::string partial = path + ".partial";
    {
        std::ofstream out(partial, std::ios::trunc);
        Dl_info info{};
        if (dladdr(reinterpret_cast<void *>(&writeReport), &info) != 0 &&
            info.dli_fname != nullptr) {
            out << "loaded " << info.dli_fname << '\n';
        }
        std::ifstream maps("/proc/self/maps");
        for (std::string line; std::getline(maps, line);) {
            const auto slash = line.find('/');
            if (slash != std::string::npos && line.ends_with("/wnaspi32.DLL")) {
                out << "mapped " << line.substr(slash) << '\n';
            }
        }
    }
    std::rename(partial.c_str(), path.c_str());
}

}  // namespace

PROBE_EXPORT std::uint32_t GetASPI32SupportInfo() {
    if (const char *report = std::getenv("CDRW_PROBE_REPORT"); report != nullptr && *report) {
        writeReport(report);
    }
    return std::uint32_t{aspi::SS_COMP} << 8;  // no adapter
}

PROBE_EXPORT std::uint32_t SendASPI32Command(void *record) {
    // With no adapter nothing should arrive here; refuse whatever does.
    auto *header = static_cast<aspi::SRB_Header *>(record);
    aspi::storeStatus(header->SRB_Status, aspi::SS_INVALID_HA);
    return aspi::SS_INVALID_HA;
}
