// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "managers/sg/SenseFormat.h"

#include <algorithm>

namespace sg {

namespace {

constexpr std::uint8_t kDescriptorCurrent = 0x72;
constexpr std::uint8_t kDescriptorDeferred = 0x73;
constexpr std::uint8_t kFixedCurrent = 0x70;
constexpr std::uint8_t kFixedDeferred = 0x71;
constexpr std::uint8_t kValidBit = 0x80;
constexpr std::uint8_t kFilemarkEomIli = 0xE0;
constexpr std::uint8_t kIli = 0x20;
constexpr std::size_t kDescriptorsStart = 8;

// Descriptor types and their lengths in bytes, header included.
constexpr std::uint8_t kInformation = 0x00;       // 12: VALID in byte 2, value in 4-11
constexpr std::uint8_t kCommandSpecific = 0x01;   // 12: value in 4-11
constexpr std::uint8_t kSenseKeySpecific = 0x02;  // 8: the three bytes in 4-6
constexpr std::uint8_t kStreamCommands = 0x04;    // 4: FILEMARK, EOM, ILI in byte 3
constexpr std::uint8_t kBlockCommands = 0x05;     // 4: ILI in byte 3

// Copies the 8-byte value at descriptor[4] into four bytes at `out` when its high half is zero.
bool copyLowHalf(std::span<const std::uint8_t> descriptor, std::uint8_t *out) {
    if (descriptor.size() < 12 || std::any_of(descriptor.begin() + 4, descriptor.begin() + 8,
                                              [](auto b) { return b != 0; })) {
        return false;
    }
    std::copy_n(descriptor.begin() + 8, 4, out);
    return true;
}

}  // namespace

std::array<std::uint8_t, kFixedSenseLength> fixedFormatSense(std::span<const std::uint8_t> sense) {
    std::array<std::uint8_t, kFixedSenseLength> fixed{};
    const std::uint8_t code = sense.empty() ? 0 : sense[0] & 0x7F;
    if ((code != kDescriptorCurrent && code != kDescriptorDeferred) || sense.size() < 4) {
        std::copy_n(sense.begin(), std::min(sense.size(), fixed.size()), fixed.begin());
        return fixed;
    }
    fixed[0] = code == kDescriptorCurrent ? kFixedCurrent : kFixedDeferred;
    fixed[2] = sense[1] & 0x0F;
    fixed[7] = kFixedSenseLength - 8;
    fixed[12] = sense[2];
    fixed[13] = sense[3];

    const std::size_t end = sense.size() < kDescriptorsStart
                                ? 0
                                : std::min(sense.size(), kDescriptorsStart + std::size_t{sense[7]});
    for (std::size_t at = kDescriptorsStart; at + 2 <= end; at += 2 + std::size_t{sense[at + 1]}) {
        const std::size_t length = 2 + std::size_t{sense[at + 1]};
        if (at + length > end) {
            break;
        }
        const std::span<const std::uint8_t> descriptor = sense.subspan(at, length);
        switch (descriptor[0]) {
            case kInformation:
                if (copyLowHalf(descriptor, &fixed[3])) {
                    fixed[0] |= descriptor[2] & kValidBit;
                }
                break;
            case kCommandSpecific:
                copyLowHalf(descriptor, &fixed[8]);
                break;
            case kSenseKeySpecific:
                if (descriptor.size() >= 7) {
                    std::copy_n(descriptor.begin() + 4, 3, &fixed[15]);
                }
                break;
            case kStreamCommands:
                if (descriptor.size() >= 4) {
                    fixed[2] |= descriptor[3] & kFilemarkEomIli;
                }
                break;
            case kBlockCommands:
                if (descriptor.size() >= 4) {
                    fixed[2] |= descriptor[3] & kIli;
                }
                break;
            default:
                break;
        }
    }
    return fixed;
}

}  // namespace sg
