// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "managers/sim/TraceBus.h"

#include <algorithm>

#include "aspi/AspiRecords.h"

namespace sim {

namespace {

// A text of the trace in its INQUIRY field: bytes not given are NUL, as in a bus file.
template <std::size_t N>
void fill(std::array<std::uint8_t, N> &field, const std::string &text) {
    std::copy_n(text.begin(), std::min(N, text.size()), field.begin());
}

}  // namespace

BusDescription busFromTrace(const update::Trace &trace) {
    BusDescription bus;
    bus.adapters.resize(trace.adapter + 1);
    bus.adapters[trace.adapter].ownId = static_cast<std::uint8_t>(trace.ownId);
    UnitDescription unit;
    unit.adapter = static_cast<std::uint8_t>(trace.adapter);
    unit.target = static_cast<std::uint8_t>(trace.target);
    fill(unit.vendor, trace.vendor);
    fill(unit.product, trace.product);
    fill(unit.revision, trace.revision);
    bus.units.push_back(unit);
    for (const update::TraceCommand &command : trace.commands) {
        if (command.cdb.front() != aspi::kOpWriteBuffer) {
            continue;
        }
        RecordedReply reply{unit.adapter,         unit.target,
                            command.aspiStatus,   command.hostAdapterStatus,
                            command.targetStatus, {}};
        if (command.sense) {
            reply.sense = *command.sense;
        }
        bus.recorded.push_back(reply);
    }
    return bus;
}

ParseResult parseBusOrTrace(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos || text[first] != '{') {
        return parseBusFile(text);
    }
    const update::TraceParse trace = update::parseTrace(text);
    ParseResult result;
    if (!trace.trace) {
        result.errorLine = static_cast<int>(trace.errorLine);
        result.error = "not a trace this program can replay: " + trace.error;
        return result;
    }
    result.bus = busFromTrace(*trace.trace);
    return result;
}

}  // namespace sim
