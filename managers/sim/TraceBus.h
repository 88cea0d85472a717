// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// A trace of an update (update/UpdateTrace.h) as a simulated bus, so that an update someone made
// on their drive replays here: the bus holds the trace's unit at its address (adapter:own
// id:target, with the adapters below it declared too) with its INQUIRY texts, and the unit
// answers its n-th WRITE BUFFER with the status words and sense of the n-th the trace recorded
// (SimUnit.h). The same HEX file, updated again with the same answers, meets the same failures at
// the same blocks.
#pragma once

#include <string_view>

#include "managers/sim/BusFile.h"
#include "update/TraceReader.h"

namespace sim {

// The bus of a trace read by update::parseTrace.
BusDescription busFromTrace(const update::Trace &trace);

// Reads what the simulator is given as its bus: a trace when its first character that is not
// blank is "{", else a bus file (BusFile.h). A refused trace names its line as a bus file does.
ParseResult parseBusOrTrace(std::string_view text);

}  // namespace sim
