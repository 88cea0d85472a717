// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// One simulated recorder unit: answers INQUIRY from its description, takes WRITE BUFFER in the
// microcode download modes with offsets, reassembles what it receives into one image, and on a
// block that carries the last-block flag checks that the image's EDC matches its data.
//
// Image layout the check expects: a 46-byte header whose bytes 42 to 45 hold the data length D
// big-endian, D data bytes from offset 46, then the 4-byte EDC of the data, least significant
// byte first.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "managers/sim/BusFile.h"

namespace sim {

// What the unit answers to one command; the bus puts it into the request record.
struct Reply {
    std::uint8_t status = 0x01;    // SRB_Status
    std::uint8_t haStat = 0x00;    // host adapter status
    std::uint8_t targStat = 0x00;  // target status; 0x02 CHECK CONDITION
    std::array<std::uint8_t, kSenseBytes> sense{};
};

inline constexpr std::size_t kImageHeaderLength = 46;
inline constexpr std::size_t kInquiryDataLength = 98;

class SimUnit {
  public:
    // `recorded`: the answers of a replayed trace. The n-th WRITE BUFFER of the unit gets the
    // n-th when that is a failure, taking no data; a recorded success, and every WRITE BUFFER past
    // the last recorded one, is the unit's own (it takes the block and checks the EDC).
    SimUnit(const UnitDescription &description, std::vector<BlockFailure> failures,
            std::vector<RecordedReply> recorded = {});

    const UnitDescription &description() const { return m_description; }

    // Executes one SCSI command. `data` is the request's buffer of `bufferLength` bytes (read for
    // WRITE BUFFER, written for INQUIRY); it may be null only when `bufferLength` is 0.
    // INQUIRY (6- or 12-byte CDB) returns at most the allocation length and the buffer length of
    // standard data. WRITE BUFFER (10- or 12-byte CDB, modes 6 and 7, buffer 0) stores its block
    // at its offset; a block at offset 0 starts a new image. Unknown commands, other modes or
    // CDB lengths end in CHECK CONDITION, ILLEGAL REQUEST. A CDB length field different from
    // the buffer length is aborted (0x02) with host adapter status 0x12 (data over/underrun).
    Reply execute(const std::uint8_t *cdb, std::uint8_t cdbLength, std::uint8_t *data,
                  std::uint32_t bufferLength);

    // Every byte received so far, at the offsets it was sent to.
    const std::vector<std::uint8_t> &received() const { return m_image; }
    // True once a mode-7 block (download and save) has been taken.
    bool saved() const { return m_saved; }

  private:
    Reply inquiry(const std::uint8_t *cdb, std::uint8_t cdbLength, std::uint8_t *data,
                  std::uint32_t bufferLength) const;
    Reply writeBuffer(const std::uint8_t *cdb, std::uint8_t cdbLength, const std::uint8_t *data,
                      std::uint32_t bufferLength);
    bool edcMatches() const;

    UnitDescription m_description;
    std::vector<BlockFailure> m_failures;
    std::vector<RecordedReply> m_recorded;
    std::size_t m_writeBuffers = 0;  // WRITE BUFFER commands received
    std::vector<std::uint8_t> m_image;
    bool m_saved = false;
    bool m_headerTaken = false;  // the block at offset 0 of the current download arrived
};

// Fixed-format sense data with the given key, additional sense code and qualifier.
std::array<std::uint8_t, kSenseBytes> senseData(std::uint8_t key, std::uint8_t asc,
                                                std::uint8_t ascq);

}  // namespace sim
