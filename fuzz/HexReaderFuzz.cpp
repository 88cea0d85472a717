// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Fuzz target of the HEX reader. The last input byte chooses where the text is split in two
// pieces; the bytes before it are the text, so that a seed that is a HEX file (its last byte a
// line end) reads as one from its first colon. The text is read as it is, and again with every
// record's checksum made right, so that mutated counts and addresses reach the placement. Each
// is read once whole and once in the two pieces into an image with little room, so that the
// limit is reached often. Both readings must agree exactly, and no byte may land outside the
// room given.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "image/HexReader.h"

namespace {

constexpr std::size_t kDataStart = 46;
constexpr std::size_t kDataLimit = 4096;
// A guard band after the limit shows writes past it.
constexpr std::size_t kBufferSize = kDataLimit + 256;
constexpr std::uint8_t kGuard = 0xA5;

using fuzz_support::check;

// Reads the text once whole and once in two pieces split at `split`; both readings must agree,
// and no byte may land outside the room given.
void readTwice(std::string_view text, std::size_t split) {
    static std::array<std::uint8_t, kBufferSize> whole;
    static std::array<std::uint8_t, kBufferSize> pieces;
    whole.fill(kGuard);
    pieces.fill(kGuard);

    std::size_t dataLength = 0;
    std::string refusal;
    const bool accepted =
        image::readHexText(text, whole.data(), kDataStart, kDataLimit, dataLength, refusal);

    image::HexReader reader(pieces.data(), kDataStart, kDataLimit);
    const bool piecesAccepted = reader.feed(text.data(), split) &&
                                reader.feed(text.data() + split, text.size() - split) &&
                                reader.finish();

    check(accepted == piecesAccepted);
    check(accepted ? refusal.empty() && reader.refusal().empty()
                   : !refusal.empty() && refusal == reader.refusal());
    check(reader.writePosition() <= kDataLimit);
    if (accepted) {
        check(reader.writePosition() == kDataStart + dataLength);
        check(std::memcmp(whole.data(), pieces.data(), kBufferSize) == 0);
    }
    for (std::size_t i = 0; i < kDataStart; ++i) {
        check(whole[i] == kGuard && pieces[i] == kGuard);
    }
    for (std::size_t i = kDataLimit; i < kBufferSize; ++i) {
        check(whole[i] == kGuard && pieces[i] == kGuard);
    }
}

// The text with the checksum of every record that ends in two hex digits made right, so that a
// mutated count or address still reaches the placement instead of failing the checksum.
std::string withChecksumsMadeRight(std::string_view text) {
    std::string repaired(text);
    std::size_t start = 0;
    while ((start = repaired.find(':', start)) != std::string::npos) {
        std::size_t end = start + 1;
        while (end < repaired.size() && image::hexDigitValue(repaired[end]) >= 0) {
            ++end;
        }
        if ((end - start) % 2 == 1 && end - start >= 3) {
            unsigned sum = 0;
            for (std::size_t i = start + 1; i + 2 < end; i += 2) {
                sum += static_cast<unsigned>(image::hexDigitValue(repaired[i]) * 16 +
                                             image::hexDigitValue(repaired[i + 1]));
            }
            const unsigned checksum = (0x100 - (sum & 0xFF)) & 0xFF;
            repaired[end - 2] = "0123456789ABCDEF"[checksum >> 4];
            repaired[end - 1] = "0123456789ABCDEF"[checksum & 0x0F];
        }
        start = end;
    }
    return repaired;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char *>(data), size - 1);
    const std::size_t split = data[size - 1] % size;
    readTwice(text, split);
    readTwice(withChecksumsMadeRight(text), split);
    return 0;
}
