// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "image/SideFiles.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "platform/Platform.h"

namespace image {

namespace {

constexpr std::size_t kBytesPerLine = 16;
constexpr std::size_t kFullLineLength = 70;  // 53 of hex fields, 16 characters, line feed

// Place of the hex field of each byte in a line: three characters per byte, two more spaces
// after the eighth. The 16th field's four spaces end at column 53, where the characters start.
constexpr std::size_t fieldOffset(std::size_t column) {
    return 3 * column + (column >= 8 ? 2 : 0);
}
constexpr std::size_t kCharacterColumn = 53;

// What the character column shows for a byte: line feeds and 0x13 as "."; everything else,
// carriage returns and zero bytes included, as it is.
constexpr char shownCharacter(std::uint8_t byte) {
    return byte == 0x0A || byte == 0x13 ? '.' : static_cast<char>(byte);
}

// The two upper-case hex digits of every byte.
constexpr std::array<std::array<char, 2>, 256> makeDigitPairs() {
    constexpr char kDigits[] = "0123456789ABCDEF";
    std::array<std::array<char, 2>, 256> pairs{};
    for (std::size_t i = 0; i < 256; ++i) {
        pairs[i] = {kDigits[i >> 4], kDigits[i & 0x0F]};
    }
    return pairs;
}
constexpr auto kDigitPairs = makeDigitPairs();

// Writes the hex fields of `count` bytes (at most a line) over a stretch of spaces.
void putHexFields(char *line, const std::uint8_t *bytes, std::size_t count) {
    for (std::size_t column = 0; column < count; ++column) {
        std::memcpy(line + fieldOffset(column), kDigitPairs[bytes[column]].data(), 2);
    }
}

// Writes all `length` bytes, going on after short writes and interruptions.
bool writeAll(int fd, const void *data, std::size_t length) {
    const auto *p = static_cast<const char *>(data);
    while (length > 0) {
        const ssize_t done = ::write(fd, p, length);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            return false;
        }
        p += done;
        length -= static_cast<std::size_t>(done);
    }
    return true;
}

// Puts the file's data on the disk before anything is sent: the side files are the record of
// what the unit received, and "Update completed. Shutdown PC." invites switching off at once.
bool syncFile(int fd) {
    return ::fsync(fd) == 0;
}

// The warning for a side file that could not be written, naming it and the system's reason
// (`error`, an errno); without one, the text alone.
bool reportWriteFailure(const char *text, const std::string &name, int error) {
    if (error == 0) {
        platform::messageBox(text, std::nullopt, platform::Icon::Warning);
    } else {
        platform::fileWarning(text, "cannot write " + name + ": " + std::strerror(error));
    }
    return false;
}

std::size_t ascDumpLength(std::size_t length) {
    const std::size_t rest = length % kBytesPerLine;
    const std::size_t restLength = rest == 0 ? 0 : fieldOffset(rest - 1) + 2 + (rest == 8 ? 3 : 1);
    return length / kBytesPerLine * kFullLineLength + restLength;
}

// Writes the dump of `length` bytes that start a line to `out` (ascDumpLength(length) chars).
void formatAscLines(const std::uint8_t *bytes, std::size_t length, char *out) {
    std::memset(out, ' ', ascDumpLength(length));
    for (; length >= kBytesPerLine; length -= kBytesPerLine, bytes += kBytesPerLine) {
        putHexFields(out, bytes, kBytesPerLine);
        for (std::size_t column = 0; column < kBytesPerLine; ++column) {
            out[kCharacterColumn + column] = shownCharacter(bytes[column]);
        }
        out[kFullLineLength - 1] = '\n';
        out += kFullLineLength;
    }
    putHexFields(out, bytes, length);
}

}  // namespace

std::string formatAscDump(const std::uint8_t *image, std::uint32_t imageLength) {
    std::string text(ascDumpLength(imageLength), ' ');
    formatAscLines(image, imageLength, text.data());
    return text;
}

bool WriteBinFile(UpdateFiles &files, const std::uint8_t *image, std::uint32_t imageLength) {
    std::array<std::uint8_t, 4> prefix{};
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        prefix[i] = static_cast<std::uint8_t>(imageLength >> (8 * i));
    }
    errno = 0;
    const bool written = writeAll(files.bin(), prefix.data(), prefix.size()) &&
                         writeAll(files.bin(), image, imageLength) && syncFile(files.bin());
    return written || reportWriteFailure("Can not write the .BIN file !", files.binName(), errno);
}

bool WriteAscDump(UpdateFiles &files, const std::uint8_t *image, std::uint32_t imageLength) {
    // The dump is made and written a part at a time; a part stays in the cache while written.
    constexpr std::size_t kLinesPerPart = 1024;
    std::string part(kLinesPerPart * kFullLineLength, ' ');
    bool written = true;
    errno = 0;
    for (std::size_t done = 0; written && done < imageLength;) {
        const std::size_t count =
            std::min<std::size_t>(imageLength - done, kLinesPerPart * kBytesPerLine);
        formatAscLines(image + done, count, part.data());
        written = writeAll(files.asc(), part.data(), ascDumpLength(count));
        done += count;
    }
    written = written && syncFile(files.asc());
    return written || reportWriteFailure("Can not write the .ASC file !", files.ascName(), errno);
}

bool ReplaceSideFiles(UpdateFiles &files) {
    errno = 0;
    switch (files.replaceSideFiles()) {
        case UpdateFiles::Fault::Bin:
            return reportWriteFailure("Can not write the .BIN file !", files.binName(), errno);
        case UpdateFiles::Fault::Asc:
            return reportWriteFailure("Can not write the .ASC file !", files.ascName(), errno);
        case UpdateFiles::Fault::None:
            break;
    }
    // A folder that cannot be synced now holds the new pair, whole.
    errno = 0;
    return files.syncSideFolders() ||
           reportWriteFailure("Can not write the .BIN file !", files.binName(), errno);
}

}  // namespace image
