// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The low-memory buffers: many regions held at once, each below 4 GiB, zero-filled, apart from
// the others, and gone from the address space once freed. Built twice: with the platform's own
// way of finding low memory, and (on x86-64) with the address-hint search that systems without
// MAP_32BIT use.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "aspi/LowMemory.h"

namespace {

bool endsBelow4GiB(const std::uint8_t *start, std::size_t size) {
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(start)) + size <=
           0x100000000ULL;
}

bool isMapped(void *page) {
    unsigned char resident = 0;
    return mincore(page, 1, &resident) == 0 || errno != ENOMEM;
}

}  // namespace

// Far more regions than one process needs, held together: the search for low memory must not
// give up after a fixed few tries.
TEST(LowMemory, ManyRegionsHeldTogetherThenFreed) {
    constexpr int kRegions = 64;
    std::vector<aspi::LowBuffers> regions(kRegions);
    for (int i = 0; i < kRegions; ++i) {
        ASSERT_TRUE(aspi::allocateLowBuffers(regions[i])) << "region " << i;
        const aspi::LowBuffers &r = regions[i];
        ASSERT_TRUE(endsBelow4GiB(r.InquiryData, aspi::kInquiryLength)) << "region " << i;
        ASSERT_TRUE(endsBelow4GiB(r.DownloadImage, aspi::kImageBufferSize)) << "region " << i;
        EXPECT_EQ(r.InquiryData[aspi::kInquiryLength - 1], 0);
        EXPECT_EQ(r.DownloadImage[0], 0);
        EXPECT_EQ(r.DownloadImage[aspi::kImageBufferSize - 1], 0);
    }
    // Marks at both ends of every buffer survive the marking of all the others: no two overlap.
    const auto mark = [](int i, int end) { return static_cast<std::uint8_t>(3 * i + end + 1); };
    for (int i = 0; i < kRegions; ++i) {
        regions[i].InquiryData[0] = mark(i, 0);
        regions[i].InquiryData[aspi::kInquiryLength - 1] = mark(i, 1);
        regions[i].DownloadImage[0] = mark(i, 0);
        regions[i].DownloadImage[aspi::kImageBufferSize - 1] = mark(i, 1);
    }
    for (int i = 0; i < kRegions; ++i) {
        EXPECT_EQ(regions[i].InquiryData[0], mark(i, 0)) << "region " << i;
        EXPECT_EQ(regions[i].InquiryData[aspi::kInquiryLength - 1], mark(i, 1)) << "region " << i;
        EXPECT_EQ(regions[i].DownloadImage[0], mark(i, 0)) << "region " << i;
        EXPECT_EQ(regions[i].DownloadImage[aspi::kImageBufferSize - 1], mark(i, 1))
            << "region " << i;
    }
    for (aspi::LowBuffers &r : regions) {
        std::uint8_t *start = r.InquiryData;
        aspi::freeLowBuffers(r);
        EXPECT_EQ(r.InquiryData, nullptr);
        EXPECT_EQ(r.DownloadImage, nullptr);
        EXPECT_FALSE(isMapped(start)) << "freed region still mapped";
    }
}
