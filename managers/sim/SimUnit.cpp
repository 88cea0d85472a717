// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "managers/sim/SimUnit.h"

#include <algorithm>
#include <cstring>

#include "aspi/AspiRecords.h"
#include "managers/sim/Edc.h"

namespace sim {

namespace {

constexpr std::uint8_t kIllegalRequest = 0x05;
constexpr std::uint8_t kHardwareError = 0x04;
constexpr std::uint8_t kAscInvalidOperation = 0x20;
constexpr std::uint8_t kAscInvalidField = 0x24;
constexpr std::uint8_t kAscEdcError = 0x80;

Reply checkCondition(std::uint8_t key, std::uint8_t asc) {
    Reply reply;
    reply.status = aspi::SS_ERR;
    reply.targStat = aspi::STATUS_CHKCOND;
    reply.sense = senseData(key, asc, 0x00);
    return reply;
}

std::uint32_t bigEndian24(const std::uint8_t *bytes) {
    return (static_cast<std::uint32_t>(bytes[0]) << 16) |
           (static_cast<std::uint32_t>(bytes[1]) << 8) | bytes[2];
}

}  // namespace

std::array<std::uint8_t, kSenseBytes> senseData(std::uint8_t key, std::uint8_t asc,
                                                std::uint8_t ascq) {
    std::array<std::uint8_t, kSenseBytes> sense{};
    sense[0] = 0x70;  // current error, fixed format
    sense[2] = key;
    sense[7] = kSenseBytes - 8;  // additional sense length
    sense[12] = asc;
    sense[13] = ascq;
    return sense;
}

SimUnit::SimUnit(const UnitDescription &description, std::vector<BlockFailure> failures,
                 std::vector<RecordedReply> recorded)
    : m_description(description),
      m_failures(std::move(failures)),
      m_recorded(std::move(recorded)) {}

Reply SimUnit::execute(const std::uint8_t *cdb, std::uint8_t cdbLength, std::uint8_t *data,
                       std::uint32_t bufferLength) {
    switch (cdb[0]) {
        case aspi::kOpInquiry:
            return inquiry(cdb, cdbLength, data, bufferLength);
        case aspi::kOpWriteBuffer:
            return writeBuffer(cdb, cdbLength, data, bufferLength);
        default:
            return checkCondition(kIllegalRequest, kAscInvalidOperation);
    }
}

Reply SimUnit::inquiry(const std::uint8_t *cdb, std::uint8_t cdbLength, std::uint8_t *data,
                       std::uint32_t bufferLength) const {
    if (cdbLength != 6 && cdbLength != 12) {
        return checkCondition(kIllegalRequest, kAscInvalidField);
    }
    std::array<std::uint8_t, kInquiryDataLength> answer{};
    answer[0] = m_description.deviceType;
    answer[1] = 0x80;  // removable medium
    answer[2] = 0x02;  // version
    answer[3] = 0x02;  // response data format
    answer[4] = kInquiryDataLength - 5;
    std::copy(m_description.vendor.begin(), m_description.vendor.end(), answer.begin() + 8);
    std::copy(m_description.product.begin(), m_description.product.end(), answer.begin() + 16);
    std::copy(m_description.revision.begin(), m_description.revision.end(), answer.begin() + 32);
    const std::size_t count =
        std::min<std::size_t>({answer.size(), cdb[4], static_cast<std::size_t>(bufferLength)});
    if (count > 0) {
        std::memcpy(data, answer.data(), count);
    }
    return {};
}

Reply SimUnit::writeBuffer(const std::uint8_t *cdb, std::uint8_t cdbLength,
                           const std::uint8_t *data, std::uint32_t bufferLength) {
    if (m_writeBuffers < m_recorded.size()) {
        const RecordedReply &recorded = m_recorded[m_writeBuffers++];
        if (recorded.status != aspi::SS_COMP) {
            return {recorded.status, recorded.haStat, recorded.targStat, recorded.sense};
        }
    }
    if (cdbLength != 10 && cdbLength != 12) {
        return checkCondition(kIllegalRequest, kAscInvalidField);
    }
    const std::uint8_t mode = cdb[1] & 0x1F;
    const std::uint32_t offset = bigEndian24(cdb + 3);
    const std::uint32_t length = bigEndian24(cdb + 6);
    const bool lastBlock = (cdb[cdbLength - 1] & 0x80) != 0;

    for (BlockFailure &failure : m_failures) {
        if (failure.offset == offset && failure.attempts > 0) {
            --failure.attempts;
            return {failure.status, failure.haStat, failure.targStat, failure.sense};
        }
    }
    if ((mode != 6 && mode != 7) || cdb[2] != 0) {
        return checkCondition(kIllegalRequest, kAscInvalidField);
    }
    if (length != bufferLength) {
        Reply reply;
        reply.status = aspi::SS_ABORTED;
        reply.haStat = aspi::HASTAT_DO_DU;
        return reply;
    }
    if (offset == 0) {
        m_image.clear();
        m_saved = false;
        m_headerTaken = true;
    }
    if (m_image.size() < std::size_t{offset} + length) {
        m_image.resize(std::size_t{offset} + length);
    }
    if (length > 0) {
        std::memcpy(m_image.data() + offset, data, length);
    }
    // An image whose first block never arrived has no header: it cannot check, whatever the
    // bytes left from an earlier download say.
    const bool intact = m_headerTaken && edcMatches();
    if (mode == 7) {
        m_saved = true;
        m_headerTaken = false;
    }
    if (lastBlock && !intact) {
        return checkCondition(kHardwareError, kAscEdcError);
    }
    return {};
}

bool SimUnit::edcMatches() const {
    if (m_image.size() < kImageHeaderLength + 4) {
        return false;
    }
    const std::uint8_t *header = m_image.data();
    const std::size_t dataLength = (std::size_t{header[42]} << 24) |
                                   (std::size_t{header[43]} << 16) |
                                   (std::size_t{header[44]} << 8) | header[45];
    if (dataLength > m_image.size() - kImageHeaderLength - 4) {
        return false;
    }
    const std::uint8_t *edcBytes = m_image.data() + kImageHeaderLength + dataLength;
    const std::uint32_t stored = edcBytes[0] | (std::uint32_t{edcBytes[1]} << 8) |
                                 (std::uint32_t{edcBytes[2]} << 16) |
                                 (std::uint32_t{edcBytes[3]} << 24);
    return stored == cdromEdc(m_image.data() + kImageHeaderLength, dataLength);
}

}  // namespace sim
