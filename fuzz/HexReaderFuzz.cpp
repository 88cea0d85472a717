// Fuzz target of the HEX reader. The last input byte chooses where the text is split in two
// pieces; the bytes before it are the text, so that a seed that is a HEX file (its last byte a
// line end) reads as one from its first colon. It is read once whole and once in the two pieces
// into an image with little room, so that the limit is reached often. Both readings must agree
// exactly, and no byte may land outside the room given.
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const char *text = reinterpret_cast<const char *>(data);
    const std::size_t length = size - 1;
    const std::size_t split = data[length] % (length + 1);

    static std::array<std::uint8_t, kBufferSize> whole;
    static std::array<std::uint8_t, kBufferSize> pieces;
    whole.fill(kGuard);
    pieces.fill(kGuard);

    std::size_t dataLength = 0;
    std::string refusal;
    const bool accepted = image::readHexText(std::string_view(text, length), whole.data(),
                                             kDataStart, kDataLimit, dataLength, refusal);

    image::HexReader reader(pieces.data(), kDataStart, kDataLimit);
    const bool piecesAccepted =
        reader.feed(text, split) && reader.feed(text + split, length - split) && reader.finish();

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
    return 0;
}
