// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Fuzz target of the trace reader and its replay: any text is read as the simulator reads its bus.
// A refused trace names a line of it; an accepted one describes one unit at its address whose
// commands are numbered in order with sound fields, and the unit built from it answers as many
// WRITE BUFFER commands as it recorded, and more, each with a status the program can judge.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "aspi/AspiRecords.h"
#include "fuzz/FuzzCheck.h"
#include "managers/sim/SimBus.h"
#include "managers/sim/SimUnit.h"
#include "managers/sim/TraceBus.h"
#include "update/TraceReader.h"

namespace {

using fuzz_support::check;

void checkTrace(const update::Trace &trace) {
    check(trace.adapter <= 7 && trace.ownId <= 15 && trace.target <= 15);
    check(trace.vendor.size() <= 8 && trace.product.size() <= 16 && trace.revision.size() <= 4);
    for (const update::TraceCommand &command : trace.commands) {
        check(command.cdb.size() >= 6 && command.cdb.size() <= 16);
        check(command.aspiStatus != aspi::SS_PENDING);
        check(command.dataSha256.empty() || command.dataSha256.size() == 64);
        check(command.answer.empty() || command.answer == "retry" || command.answer == "ignore" ||
              command.answer == "stop");
    }
}

// Sends one more WRITE BUFFER than the trace recorded to its unit.
void replay(const update::Trace &trace) {
    const sim::BusDescription bus = sim::busFromTrace(trace);
    check(bus.adapters.size() == trace.adapter + 1 && bus.units.size() == 1);
    sim::SimUnit unit(bus.units[0], {}, bus.recorded);
    std::vector<std::uint8_t> block(16, 0x5A);
    const std::uint8_t cdb[10] = {aspi::kOpWriteBuffer, 6, 0, 0, 0, 0, 0, 0, 16, 0};
    for (std::size_t n = 0; n <= bus.recorded.size(); ++n) {
        const sim::Reply reply = unit.execute(cdb, sizeof cdb, block.data(), 16);
        check(reply.status != aspi::SS_PENDING);
        check(n < bus.recorded.size() || reply.status == aspi::SS_COMP);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const update::TraceParse parsed = update::parseTrace(text);
    if (!parsed.trace) {
        const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
        check(parsed.errorLine >= 1 && parsed.errorLine <= lines && !parsed.error.empty());
        return 0;
    }
    check(parsed.errorLine == 0 && parsed.error.empty());
    checkTrace(*parsed.trace);
    replay(*parsed.trace);
    check(sim::parseBusOrTrace(text).bus.has_value());
    return 0;
}
