// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "image/DownloadImage.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "aspi/LowMemory.h"
#include "image/Edc.h"
#include "image/HexReader.h"
#include "platform/Platform.h"

namespace image {

namespace {

// HEX text is read in pieces of this size: a few reads for a full image, little memory held.
constexpr std::size_t kReadPiece = std::size_t{1} << 20;

void putBigEndian32(std::uint8_t *p, std::uint32_t value) {
    p[0] = static_cast<std::uint8_t>(value >> 24);
    p[1] = static_cast<std::uint8_t>(value >> 16);
    p[2] = static_cast<std::uint8_t>(value >> 8);
    p[3] = static_cast<std::uint8_t>(value);
}

void putLittleEndian32(std::uint8_t *p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

bool refuse(const std::string &text, std::uint8_t *image, std::uint32_t &imageLength) {
    discardImage(image, imageLength);
    platform::messageBox(text, std::nullopt, platform::Icon::Warning);
    return false;
}

// Reads the file in pieces into the reader. Gives false with `failure` set when it is refused.
bool readRecords(int fd, HexReader &reader, std::string &failure) {
    const auto piece = std::make_unique_for_overwrite<char[]>(kReadPiece);
    for (;;) {
        const ssize_t got = ::read(fd, piece.get(), kReadPiece);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            failure = "Can not read the .HEX file !";
            return false;
        }
        if (got == 0) {
            break;
        }
        if (!reader.feed(piece.get(), static_cast<std::size_t>(got))) {
            failure = reader.refusal();
            return false;
        }
    }
    if (!reader.finish()) {
        failure = reader.refusal();
        return false;
    }
    return true;
}

void writeHexFileTime(std::uint8_t *image, const struct stat &entry) {
    std::tm local{};
    const std::time_t when = entry.st_mtim.tv_sec;
    if (::localtime_r(&when, &local) == nullptr) {
        return;
    }
    const std::string text = formatHexFileTime(local);
    // The field holds 24 characters and a zero; a year past 9999 cannot make it longer.
    std::copy_n(text.data(), std::min(text.size(), kHexFileTimeLength), image + kHexFileTimeOffset);
}

}  // namespace

std::string formatHexFileTime(const std::tm &local) {
    static constexpr const char *kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char *kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[64];
    std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %04d",
                  kDays[static_cast<unsigned>(local.tm_wday) % 7],
                  kMonths[static_cast<unsigned>(local.tm_mon) % 12], local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, local.tm_year + 1900);
    return text;
}

void discardImage(std::uint8_t *image, std::uint32_t &imageLength) {
    std::memset(image, 0, aspi::kImageBufferSize);
    imageLength = 0;
}

bool BuildDownloadImage(UpdateFiles &files, const std::string &hexName, std::uint8_t *image,
                        std::uint32_t &imageLength) {
    discardImage(image, imageLength);
    struct stat entry {};
    if (::fstat(files.hex(), &entry) != 0) {
        return refuse("Can not read the .HEX file !", image, imageLength);
    }

    HexReader reader(image, kHeaderSize, aspi::kImageCapacity - kEdcSize);
    std::string failure;
    if (!readRecords(files.hex(), reader, failure)) {
        return refuse(failure, image, imageLength);
    }

    // The header has room for 12 characters and the terminator; longer names are cut.
    std::copy_n(hexName.data(), std::min(hexName.size(), kHexFileNameSize - 1),
                image + kHexFileNameOffset);
    writeHexFileTime(image, entry);
    const std::size_t dataLength = reader.writePosition() - kHeaderSize;
    putBigEndian32(image + kHexFileSizeOffset, static_cast<std::uint32_t>(entry.st_size));
    putBigEndian32(image + kDataLengthOffset, static_cast<std::uint32_t>(dataLength));
    putLittleEndian32(image + kHeaderSize + dataLength,
                      ComputeEdc(image + kHeaderSize, dataLength));
    imageLength = static_cast<std::uint32_t>(kHeaderSize + dataLength + kEdcSize);
    return true;
}

}  // namespace image
