// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "image/HexReader.h"

#include <algorithm>
#include <cstring>

namespace image {

namespace {

// Digit value of a character that is not a hex digit.
constexpr std::uint8_t kNotADigit = 0x80;

// What a character of the text is to the record splitter.
enum CharClass : std::uint8_t { kRecordChar, kSpace, kNewLine, kEndOfFile };

struct ReaderTables {
    std::array<std::uint8_t, 256> charClass{};
    std::array<std::uint8_t, 256> digit{};
};

constexpr ReaderTables makeTables() {
    ReaderTables t{};
    for (std::size_t i = 0; i < 256; ++i) {
        t.charClass[i] = kRecordChar;
        t.digit[i] = kNotADigit;
    }
    for (unsigned char c : {' ', '\t', '\v', '\f'}) {
        t.charClass[c] = kSpace;
    }
    // Lines end in LF, CR LF or a lone CR; each ending counts one line.
    t.charClass[static_cast<unsigned char>('\n')] = kNewLine;
    t.charClass[static_cast<unsigned char>('\r')] = kNewLine;
    t.charClass[static_cast<unsigned char>(kEndOfFileCharacter)] = kEndOfFile;
    for (int i = 0; i < 10; ++i) {
        t.digit['0' + i] = static_cast<std::uint8_t>(i);
    }
    for (int i = 0; i < 6; ++i) {
        t.digit['A' + i] = static_cast<std::uint8_t>(10 + i);
        t.digit['a' + i] = static_cast<std::uint8_t>(10 + i);
    }
    return t;
}

constexpr ReaderTables kTables = makeTables();

inline std::uint8_t classOf(char c) {
    return kTables.charClass[static_cast<unsigned char>(c)];
}
inline unsigned digitOf(char c) {
    return kTables.digit[static_cast<unsigned char>(c)];
}

// Characters of a record that carry no data: ":", count, address, type and checksum.
constexpr std::size_t kRecordOverhead = 11;
constexpr std::uint8_t kDataRecord = 0;
constexpr std::uint8_t kEndOfFileRecord = 1;

}  // namespace

int hexDigitValue(char c) {
    const unsigned digit = digitOf(c);
    return digit == kNotADigit ? -1 : static_cast<int>(digit);
}

std::uint16_t HexValue(std::string_view text, std::size_t position, std::size_t count) {
    unsigned value = 0;
    for (std::size_t i = position; i < position + count; ++i) {
        value = ((value << 4) | digitOf(text[i])) & 0xFFFFu;
    }
    return static_cast<std::uint16_t>(value);
}

HexReader::HexReader(std::uint8_t *image, std::size_t dataStart, std::size_t dataLimit)
    : m_image(image),
      m_dataLimit(dataLimit),
      m_writePosition(dataStart),
      m_expectedAddress(static_cast<std::uint16_t>(dataStart)) {}

bool HexReader::feed(const char *text, std::size_t length) {
    if (!m_refusal.empty()) {
        return false;
    }
    std::size_t i = 0;
    // A record begun in the previous piece is completed here first.
    while (m_tokenLength != 0 && i < length && classOf(text[i]) == kRecordChar) {
        if (!appendToToken(text[i++])) {
            return false;
        }
    }
    if (m_tokenLength != 0 && i < length && !endToken()) {
        return false;
    }
    while (i < length) {
        const std::uint8_t charClass = classOf(text[i]);
        if (charClass == kRecordChar) {
            m_afterCarriageReturn = false;
            if (m_endOfFileSeen) {
                return refuseRecord("text follows the end-of-file character");
            }
            // Most records lie whole in the piece and are read where they stand.
            const std::size_t scanLimit = std::min(length, i + kMaxRecordLength + 1);
            std::size_t end = i + 1;
            while (end < scanLimit && classOf(text[end]) == kRecordChar) {
                ++end;
            }
            if (end - i > kMaxRecordLength) {
                return refuseRecord("it is longer than 99 characters");
            }
            if (end == length) {
                std::memcpy(m_token.data(), text + i, end - i);
                m_tokenLength = end - i;
                return true;
            }
            if (!takeRecord(std::string_view(text + i, end - i))) {
                return false;
            }
            i = end;
            continue;
        }
        if (charClass == kNewLine) {
            if (text[i] == '\r' || !m_afterCarriageReturn) {
                ++m_line;
            }
        } else if (charClass == kEndOfFile) {
            if (m_endOfFileSeen) {
                return refuseRecord("text follows the end-of-file character");
            }
            m_endOfFileSeen = true;
        }
        m_afterCarriageReturn = text[i] == '\r';
        ++i;
    }
    return true;
}

bool HexReader::finish() {
    if (!m_refusal.empty() || (m_tokenLength != 0 && !endToken())) {
        return false;
    }
    // A download cut short at a line boundary leaves records that all pass their checks: only
    // the missing end-of-file record tells.
    if (!m_endRecordSeen) {
        m_refusal = m_recordSeen
                        ? "The .HEX file ends before its end-of-file record: it is incomplete !"
                        : "The .HEX file is empty: it holds no records !";
        return false;
    }
    if (!m_dataRecordSeen) {
        m_refusal = "The .HEX file holds no data record !";
        return false;
    }
    return true;
}

bool HexReader::appendToToken(char c) {
    if (m_tokenLength == kMaxRecordLength) {
        return refuseRecord("it is longer than 99 characters");
    }
    m_token[m_tokenLength++] = c;
    return true;
}

bool HexReader::endToken() {
    const std::string_view record(m_token.data(), m_tokenLength);
    m_tokenLength = 0;
    return takeRecord(record);
}

bool HexReader::takeRecord(std::string_view record) {
    if (record.front() != ':') {
        return refuseRecord("it does not start with \":\"");
    }
    // Count, address, type, data and checksum as bytes; a character that is no hex digit sets
    // the top bit of `invalid`.
    std::array<std::uint8_t, kMaxRecordLength / 2> bytes{};
    const std::size_t byteCount = (record.size() - 1) / 2;
    unsigned invalid = record.size() % 2 == 0 ? digitOf(record.back()) : 0;
    unsigned sum = 0;
    for (std::size_t k = 0; k < byteCount; ++k) {
        const unsigned high = digitOf(record[1 + 2 * k]);
        const unsigned low = digitOf(record[2 + 2 * k]);
        invalid |= high | low;
        bytes[k] = static_cast<std::uint8_t>(high << 4 | low);
        sum += bytes[k];
    }
    if ((invalid & kNotADigit) != 0) {
        return refuseRecord("it holds a character that is not a hex digit");
    }
    if (record.size() < kRecordOverhead ||
        record.size() != kRecordOverhead + std::size_t{2} * bytes[0]) {
        return refuseRecord("its length does not match its byte count");
    }
    if ((sum & 0xFFu) != 0) {
        return refuseRecord("its checksum is wrong");
    }
    m_recordSeen = true;
    if (bytes[3] != kDataRecord) {
        // Reading goes on after the end-of-file record: records may follow it.
        m_endRecordSeen = m_endRecordSeen || bytes[3] == kEndOfFileRecord;
        return true;
    }
    m_dataRecordSeen = true;
    const auto address = static_cast<std::uint16_t>((bytes[1] << 8) | bytes[2]);
    return place(address, bytes.data() + 4, bytes[0]);
}

bool HexReader::place(std::uint16_t address, const std::uint8_t *data, std::size_t count) {
    static constexpr const char *kTooLarge =
        "The data of the .HEX file does not fit into the download image (line ";
    if (m_expectedAddress < address) {
        const std::size_t gap = address - m_expectedAddress;
        if (gap > m_dataLimit - m_writePosition) {
            m_refusal = kTooLarge + std::to_string(m_line) + ") !";
            return false;
        }
        std::memset(m_image + m_writePosition, 0, gap);
        m_writePosition += gap;
        m_expectedAddress = address;
    }
    if (count > m_dataLimit - m_writePosition) {
        m_refusal = kTooLarge + std::to_string(m_line) + ") !";
        return false;
    }
    std::memcpy(m_image + m_writePosition, data, count);
    m_writePosition += count;
    m_expectedAddress = static_cast<std::uint16_t>(address + count);
    return true;
}

bool HexReader::refuseRecord(const char *reason) {
    m_refusal =
        "Bad record in line " + std::to_string(m_line) + " of the .HEX file: " + reason + " !";
    return false;
}

bool readHexText(std::string_view text, std::uint8_t *image, std::size_t dataStart,
                 std::size_t dataLimit, std::size_t &dataLength, std::string &refusal) {
    HexReader reader(image, dataStart, dataLimit);
    if (!reader.feed(text.data(), text.size()) || !reader.finish()) {
        refusal = reader.refusal();
        return false;
    }
    dataLength = reader.writePosition() - dataStart;
    return true;
}

}  // namespace image
