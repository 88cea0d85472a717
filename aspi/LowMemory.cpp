#include "aspi/LowMemory.h"

#include <sys/mman.h>

#include <cassert>
#include <cstdint>

namespace aspi {

namespace {

constexpr std::size_t kPage = 4096;

void *mapBelow4GiB(std::size_t size) {
#if defined(__x86_64__) && defined(MAP_32BIT)
    // MAP_32BIT places the mapping in the low 2 GiB on x86-64.
    void *p =
        mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    if (p != MAP_FAILED) {
        return p;
    }
#endif
    // Elsewhere (or when MAP_32BIT is exhausted): try address hints below 4 GiB, refusing to
    // replace anything that is already mapped there.
    for (std::uintptr_t hint = 0x10000000; hint + size < 0x100000000ULL; hint += 0x10000000) {
        auto *address = reinterpret_cast<void *>(hint);  // NOLINT(performance-no-int-to-ptr)
        void *q = mmap(address, size, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        if (q != MAP_FAILED) {
            return q;
        }
    }
    return nullptr;
}

}  // namespace

bool allocateLowBuffers(LowBuffers &buffers) {
    const std::size_t inquiryPart = kPage;
    const std::size_t imagePart = (kImageBufferSize + kPage - 1) / kPage * kPage;
    void *region = mapBelow4GiB(inquiryPart + imagePart);
    if (region == nullptr) {
        return false;
    }
    auto *base = static_cast<std::uint8_t *>(region);
    if (reinterpret_cast<std::uintptr_t>(base) + inquiryPart + imagePart > 0x100000000ULL) {
        munmap(region, inquiryPart + imagePart);
        return false;
    }
    buffers.InquiryData = base;
    buffers.DownloadImage = base + inquiryPart;
    return true;
}

std::uint32_t lowAddress(const void *pointer) {
    const auto value = reinterpret_cast<std::uintptr_t>(pointer);
    assert(value <= 0xFFFFFFFFu);
    return static_cast<std::uint32_t>(value);
}

}  // namespace aspi
