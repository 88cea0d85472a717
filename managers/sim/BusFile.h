// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The description of a simulated recorder bus and its text form, the bus file.
//
// A bus file is read line by line. "#" starts a comment that runs to the end of the line
// (outside quotes); blank lines are ignored. Numbers are decimal, or hexadecimal after "0x".
// Texts are in double quotes and stand for their bytes exactly; inside them \" is a quote,
// \\ a backslash, \0 a NUL byte and \xHH the byte with hexadecimal value HH. Three kinds of line:
//
//   adapter <n> id <own-id> [fails | answers <count>]
//       Host adapter n (declared in order 0, 1, 2, ...) with its own SCSI id. "fails": every
//       host adapter inquiry of it ends with status 0x04. "answers <count>": only its first
//       <count> inquiries are answered, later ones fail.
//   unit <adapter> <target> [type <n>] [vendor "<8 bytes>"] [product "<16>"] [revision "<4>"]
//        [newrevision "<4>"] [blocktime <milliseconds>] [held]
//        [transport ata | scsi | unknown | usb <vvvv>:<pppp>]
//       A unit at LUN 0 of a declared adapter. Peripheral device type n (default 5, CD). Each
//       text fills its INQUIRY field from the start; bytes not given are NUL. "newrevision": the
//       revision the unit reports once it has stored a complete download and has been switched
//       off and on (see SimOptions). "blocktime": each WRITE BUFFER takes that long (at most
//       60000) before it is answered, as a slow unit does. "held": another program uses the
//       unit (a mounted disc, a recording program), so the unit hold for an update answers 0xE5.
//   fail <adapter> <target> offset <n> [attempts <n>] [status <n>] [hastat <n>]
//        [targstat <n>] [sense <18 hex bytes>]
//       The unit's WRITE BUFFER at buffer offset n fails its next `attempts` times (default 1)
//       with the given SRB_Status (default 0x04), host adapter status (default 0), target status
//       (default 0x02) and sense bytes (default zeros), taking no data. With a non-zero host
//       adapter status the defaults are SRB_Status 0x02 and target status 0, a failure on the
//       host side as the real manager reports it.
//   fail <adapter> <target> offset <n> [attempts <n>] residual
//       The same block ends GOOD having taken none of its data, which the real manager reports
//       as SRB_Status 0x02 with host adapter status 0x12 (data over-run/under-run), target
//       status 0; so does the simulator. No status words go with it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "aspi/UnitTransport.h"

namespace sim {

inline constexpr std::size_t kVendorLength = 8;
inline constexpr std::size_t kProductLength = 16;
inline constexpr std::size_t kRevisionLength = 4;
inline constexpr std::size_t kSenseBytes = 18;
inline constexpr std::uint8_t kCdDeviceType = 5;
inline constexpr unsigned kMaxBlockMilliseconds = 60000;

struct AdapterDescription {
    std::uint8_t ownId = 7;
    bool failsInquiry = false;
    std::optional<unsigned> answeredInquiries;  // empty: answers every inquiry
};

struct UnitDescription {
    std::uint8_t adapter = 0;
    std::uint8_t target = 0;
    std::uint8_t deviceType = kCdDeviceType;
    std::array<std::uint8_t, kVendorLength> vendor{};
    std::array<std::uint8_t, kProductLength> product{};
    std::array<std::uint8_t, kRevisionLength> revision{};
    // The revision after a stored download and a power cycle; empty: the revision stays.
    std::optional<std::array<std::uint8_t, kRevisionLength>> newRevision;
    unsigned blockMilliseconds = 0;  // how long each WRITE BUFFER takes
    bool heldElsewhere = false;      // in use by another program: the hold answers 0xE5
    aspi::TransportInfo transport{aspi::Transport::Ata, 0, 0};
};

struct BlockFailure {
    std::uint8_t adapter = 0;
    std::uint8_t target = 0;
    std::uint32_t offset = 0;
    unsigned attempts = 1;
    std::uint8_t status = 0x04;
    std::uint8_t haStat = 0x00;
    std::uint8_t targStat = 0x02;
    std::array<std::uint8_t, kSenseBytes> sense{};
};

// What a unit answered to one WRITE BUFFER, as a trace recorded it (managers/sim/TraceBus.h).
struct RecordedReply {
    std::uint8_t adapter = 0;
    std::uint8_t target = 0;
    std::uint8_t status = 0x01;
    std::uint8_t haStat = 0x00;
    std::uint8_t targStat = 0x00;
    std::array<std::uint8_t, kSenseBytes> sense{};
};

struct BusDescription {
    std::vector<AdapterDescription> adapters;  // index = adapter number
    std::vector<UnitDescription> units;
    std::vector<BlockFailure> failures;
    // A replayed trace: the unit's n-th WRITE BUFFER is answered as its n-th recorded one was.
    std::vector<RecordedReply> recorded;
};

struct ParseResult {
    std::optional<BusDescription> bus;  // empty on error
    int errorLine = 0;                  // 1-based line of the error
    std::string error;                  // what is wrong there
};

// Reads a whole bus file. Stops at the first faulty line.
ParseResult parseBusFile(std::string_view text);

// The bus the simulator offers when no bus file is named, in bus-file form: adapter 0 (own id
// 7) with a VEK recorder at target 2 (revision 1.10, 1.20 after a stored download and a power
// cycle) and a ZAV recorder at target 4, adapter 1 (own id 7) with a VEK recorder at target 0.
extern const char *const kDefaultBusText;

}  // namespace sim
