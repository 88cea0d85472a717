// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "aspi/LowMemory.h"

#include <sys/mman.h>

#include <cassert>
#include <cstdint>

namespace aspi {

namespace {

constexpr std::size_t kPage = 4096;
constexpr std::uint64_t k4GiB = 0x100000000ULL;

// One page for the INQUIRY answers, then the image buffer, each rounded up to whole pages.
constexpr std::size_t kInquiryPart = kPage;
constexpr std::size_t kImagePart = (kImageBufferSize + kPage - 1) / kPage * kPage;
constexpr std::size_t kRegionSize = kInquiryPart + kImagePart;

bool endsBelow4GiB(const void *start, std::size_t size) {
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(start)) + size <= k4GiB;
}

#if UINTPTR_MAX <= 0xFFFFFFFFu

// A 32-bit process has no address at or above 4 GiB: any mapping will do.
void *mapBelow4GiB(std::size_t size) {
    void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

#else

// Tries every slot of `size` (rounded up to 1 MiB) from 256 MiB up to 4 GiB, so that neither the
// program's own low mappings nor earlier regions (freed or not) end the search early. A kernel
// that predates MAP_FIXED_NOREPLACE takes the address as a hint only and may map elsewhere; such
// a mapping is kept only when it is below 4 GiB as well.
void *mapAtLowHint(std::size_t size) {
    constexpr std::uint64_t kFirstHint = 0x10000000;
    constexpr std::uint64_t kGranule = 0x100000;
    const std::uint64_t step = (size + kGranule - 1) / kGranule * kGranule;
    for (std::uint64_t hint = kFirstHint; hint + size <= k4GiB; hint += step) {
        auto *address = reinterpret_cast<void *>(hint);  // NOLINT(performance-no-int-to-ptr)
        void *q = mmap(address, size, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        if (q == MAP_FAILED) {
            continue;
        }
        if (endsBelow4GiB(q, size)) {
            return q;
        }
        munmap(q, size);
    }
    return nullptr;
}

void *mapBelow4GiB(std::size_t size) {
#if defined(__x86_64__) && defined(MAP_32BIT) && !defined(CDRW_LOW_MEMORY_HINTS_ONLY)
    // MAP_32BIT places the mapping in the low 2 GiB on x86-64.
    void *p =
        mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    if (p != MAP_FAILED) {
        return p;
    }
#endif
    // Elsewhere (other 64-bit systems, or MAP_32BIT exhausted): address hints below 4 GiB,
    // refusing to replace anything already mapped there.
    return mapAtLowHint(size);
}

#endif

}  // namespace

bool allocateLowBuffers(LowBuffers &buffers) {
    void *region = mapBelow4GiB(kRegionSize);
    if (region == nullptr) {
        return false;
    }
    if (!endsBelow4GiB(region, kRegionSize)) {
        munmap(region, kRegionSize);
        return false;
    }
    auto *base = static_cast<std::uint8_t *>(region);
    buffers.InquiryData = base;
    buffers.DownloadImage = base + kInquiryPart;
    return true;
}

void freeLowBuffers(LowBuffers &buffers) {
    if (buffers.InquiryData != nullptr) {
        munmap(buffers.InquiryData, kRegionSize);
    }
    buffers = {};
}

std::uint32_t lowAddress(const void *pointer) {
    const auto value = reinterpret_cast<std::uintptr_t>(pointer);
    assert(value <= 0xFFFFFFFFu);
    return static_cast<std::uint32_t>(value);
}

}  // namespace aspi
