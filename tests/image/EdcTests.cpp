// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The EDC: known values, the fast form against the bit-by-bit reference, and the trace.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "image/Edc.h"
#include "tests/image/ImageTestSupport.h"

namespace {

std::string traceOf(std::size_t length) {
    std::vector<std::uint8_t> data(length, 0x5A);
    std::FILE *trace = std::tmpfile();
    image::ComputeEdc(data.data(), data.size(), trace);
    std::rewind(trace);
    std::string text;
    for (int c; (c = std::fgetc(trace)) != EOF;) {
        text += static_cast<char>(c);
    }
    std::fclose(trace);
    return text;
}

}  // namespace

TEST(Edc, KnownValues) {
    const auto *digits = reinterpret_cast<const std::uint8_t *>("123456789");
    EXPECT_EQ(image::ComputeEdc(digits, 9, nullptr), 0x6EC2EDC4u);
    EXPECT_EQ(image::computeEdcBitwise(digits, 9), 0x6EC2EDC4u);
    EXPECT_EQ(image::ComputeEdc(digits, 0, nullptr), 0u);
}

TEST(Edc, TableFormMatchesTheBitwiseReferenceForEveryLengthAndOffset) {
    const std::string data = image_test::randomBytes(9003, 7);
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(data.data());
    for (std::size_t length : {1u, 15u, 16u, 17u, 31u, 33u, 4095u, 4096u, 4097u, 8999u}) {
        for (std::size_t offset : {0u, 1u, 3u}) {
            EXPECT_EQ(image::ComputeEdc(bytes + offset, length, nullptr),
                      image::computeEdcBitwise(bytes + offset, length))
                << "length " << length << " offset " << offset;
        }
    }
}

TEST(Edc, ReverseBitsExchangesMirroredBits) {
    EXPECT_EQ(image::ReverseBits(0x01), 0x80);
    EXPECT_EQ(image::ReverseBits(0x80), 0x01);
    EXPECT_EQ(image::ReverseBits(0x0F), 0xF0);
    EXPECT_EQ(image::ReverseBits(0x12), 0x48);
    for (int value = 0; value < 256; ++value) {
        const auto b = static_cast<std::uint8_t>(value);
        EXPECT_EQ(image::ReverseBits(image::ReverseBits(b)), b);
    }
}

TEST(Edc, TraceHasOneDotBeforeByteZeroAndEvery4096thByte) {
    EXPECT_EQ(traceOf(0), "");
    EXPECT_EQ(traceOf(1), ".");
    EXPECT_EQ(traceOf(4096), ".");
    EXPECT_EQ(traceOf(4097), "..");
    EXPECT_EQ(traceOf(3 * 4096 + 5), "....");
}
