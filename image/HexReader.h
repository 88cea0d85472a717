// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The reader of Intel HEX text: splits the text into records, checks each one and places the
// bytes of the data records into the download image. Text may arrive in pieces of any size.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace image {

// Longest record accepted: 1 + 2 * (1 + 2 + 1 + 44 + 1) characters, 44 data bytes.
inline constexpr std::size_t kMaxRecordLength = 99;
// The end-of-file character that some editors append to a text file.
inline constexpr char kEndOfFileCharacter = '\x1A';

// Value of one hex digit (0-9, A-F, a-f), or -1 for any other character.
int hexDigitValue(char c);

// Gives the value of the `count` characters of `text` from `position` on, read as hex digits,
// kept to 16 bits. The characters must be hex digits of either case (the reader checks every
// record before it reads one) and must lie inside `text`.
std::uint16_t HexValue(std::string_view text, std::size_t position, std::size_t count);

// Reads the records of one HEX file into an image. Data record bytes go to `image` from
// `dataStart` on: a record whose address lies above the address where the previous data ended
// is preceded by zero bytes up to that address; a record at or below it follows the previous
// data directly. All other record types leave the image alone, and reading goes on after an
// end-of-file record. The placement starts as if data had ended at address `dataStart`.
//
// Every record must be a ":" followed by hex digits only, at most kMaxRecordLength characters,
// as long as its byte count says, with a checksum that makes its bytes add up to zero. Records
// are separated by white space; one end-of-file character may end the text. The text must hold
// at least one data record and an end-of-file record (type 01), so that a file cut short at a
// line boundary is refused. Nothing is written at or past `dataLimit`. The first fault refuses
// the text: feed/finish return false and refusal() says what is wrong (and in which line, for a
// record). The image is then incomplete.
class HexReader {
  public:
    HexReader(std::uint8_t *image, std::size_t dataStart, std::size_t dataLimit);

    // Takes the next piece of text. Returns false once the text is refused.
    bool feed(const char *text, std::size_t length);
    // Ends the text (a record may end without white space after it). Returns false if refused,
    // also when no data record or no end-of-file record was read.
    bool finish();

    // Offset where the next data byte would go; dataStart plus the number of data bytes placed.
    std::size_t writePosition() const { return m_writePosition; }
    // The message that explains a refusal (empty while nothing is refused).
    const std::string &refusal() const { return m_refusal; }

  private:
    bool appendToToken(char c);
    bool endToken();
    bool takeRecord(std::string_view record);
    bool place(std::uint16_t address, const std::uint8_t *data, std::size_t count);
    bool refuseRecord(const char *reason);

    std::uint8_t *m_image;
    std::size_t m_dataLimit;
    std::size_t m_writePosition;
    std::uint16_t m_expectedAddress;

    std::array<char, kMaxRecordLength> m_token{};
    std::size_t m_tokenLength = 0;
    std::size_t m_line = 1;
    bool m_afterCarriageReturn = false;  // the last character before a record or line end was CR
    bool m_endOfFileSeen = false;        // the end-of-file character
    bool m_recordSeen = false;
    bool m_dataRecordSeen = false;
    bool m_endRecordSeen = false;  // a record of type 01
    std::string m_refusal;
};

// Reads the whole `text` with a HexReader. On success gives true and the number of data bytes
// placed in `dataLength`; on refusal gives false and the message in `refusal`.
bool readHexText(std::string_view text, std::uint8_t *image, std::size_t dataStart,
                 std::size_t dataLimit, std::size_t &dataLength, std::string &refusal);

}  // namespace image
