// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Reading a trace of an update (update/UpdateTrace.h) back, for --history and for the simulator,
// which replays it (managers/sim/TraceBus.h).
//
// A trace comes from someone else's machine: it may have been edited by hand, cut short in the
// middle of a line, or made to harm. Unlike the journal's reader this one judges the whole file:
// the first line that is not what the program writes refuses the trace, naming that line and what
// is wrong with it, so that a replay never runs on a guess. Fields this version does not know
// are passed over. Depends on nothing of the program but Qt Core, so the simulator builds it too.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace update {

inline constexpr std::size_t kMaxTraceBytes = 16 << 20;
inline constexpr std::size_t kMaxTraceLine = 4096;

struct TraceCommand {
    std::vector<std::uint8_t> cdb;  // 6 to 16 bytes
    std::string direction;          // "out", "in" or "none"
    std::uint32_t length = 0;
    std::string dataSha256;  // empty: no data sent
    std::uint8_t aspiStatus = 0;
    std::uint8_t hostAdapterStatus = 0;
    std::uint8_t targetStatus = 0;
    std::optional<std::array<std::uint8_t, 18>> sense;
    long long atMicroseconds = 0;
    long long durationMicroseconds = 0;
    std::string answer;  // "retry", "ignore", "stop"; empty: none asked
};

struct Trace {
    std::string id;
    std::string program;
    std::string address;  // adapter:own id:target
    unsigned adapter = 0;
    unsigned ownId = 0;
    unsigned target = 0;
    // The unit's INQUIRY texts, one byte per character, at most 8, 16 and 4 bytes.
    std::string vendor;
    std::string product;
    std::string revision;
    std::string transport;  // empty: not known
    std::vector<TraceCommand> commands;
};

struct TraceParse {
    std::optional<Trace> trace;  // empty when refused
    std::size_t errorLine = 0;   // 1 for the first line
    std::string error;           // what is wrong there
};

// Reads a whole trace. Refuses text over kMaxTraceBytes, a line over kMaxTraceLine, a last line
// without its line end (cut short), and the first line that is not a trace's.
TraceParse parseTrace(std::string_view text);

// Reads the trace file at `path`, refusing what parseTrace refuses and a file that is not a
// regular one or cannot be read (errorLine 0).
TraceParse readTrace(const std::string &path);

}  // namespace update
