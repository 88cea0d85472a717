// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Memory below 4 GiB for the data buffers that a request record points at. SRB_BufPointer is a
// 4-byte field, so on a 64-bit host any buffer handed to the manager must have an address that
// fits in 32 bits. All such buffers come from one mapping, kept until freeLowBuffers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace aspi {

// Capacity of the download image (header, data and EDC together), plus one spare byte that the
// transfer reads when it rounds an odd length up to an even one.
inline constexpr std::size_t kImageCapacity = 0x160000;  // 1,441,792 bytes
inline constexpr std::size_t kImageBufferSize = kImageCapacity + 1;
inline constexpr std::size_t kInquiryLength = 98;

struct LowBuffers {
    std::uint8_t *InquiryData = nullptr;    // 98 bytes, INQUIRY answers
    std::uint8_t *DownloadImage = nullptr;  // kImageBufferSize bytes
};

// Maps one zero-filled region below 4 GiB and carves the buffers from it. Returns false when
// no such memory can be had (the caller refuses to start).
bool allocateLowBuffers(LowBuffers &buffers);

// Unmaps the region that allocateLowBuffers carved `buffers` from (nothing when both are null)
// and sets both to null.
void freeLowBuffers(LowBuffers &buffers);

// The 32-bit form of an address that allocateLowBuffers handed out.
std::uint32_t lowAddress(const void *pointer);

// The message shown when no low memory can be had.
inline constexpr const char *kLowMemoryMessage =
    "Can not reserve memory below 4 GiB for the drive data buffers!";

}  // namespace aspi
