#include "image/SideFiles.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>

#include "platform/Platform.h"

namespace image {

namespace {

constexpr std::size_t kBytesPerLine = 16;
constexpr std::size_t kFullLineLength = 70;  // 53 of hex fields, 16 characters, line feed

// The hex field of a byte: two upper-case digits and the spaces that follow them, which depend
// on the byte's place in its line.
constexpr std::size_t separatorLength(std::size_t column) {
    return column == 7 ? 3 : column == 15 ? 4 : 1;
}

// What the character column shows for a byte: line feeds and 0x13 as "."; everything else,
// carriage returns and zero bytes included, as it is.
constexpr char shownCharacter(std::uint8_t byte) {
    return byte == 0x0A || byte == 0x13 ? '.' : static_cast<char>(byte);
}

char *putHexField(char *out, std::uint8_t byte, std::size_t column) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    *out++ = kDigits[byte >> 4];
    *out++ = kDigits[byte & 0x0F];
    for (std::size_t i = separatorLength(column); i > 0; --i) {
        *out++ = ' ';
    }
    return out;
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

bool reportWriteFailure(const char *text) {
    platform::messageBox(text, std::nullopt, platform::Icon::Warning);
    return false;
}

}  // namespace

std::string formatAscDump(const std::uint8_t *image, std::uint32_t imageLength) {
    const std::size_t fullLines = imageLength / kBytesPerLine;
    const std::size_t rest = imageLength % kBytesPerLine;
    std::string text(fullLines * kFullLineLength + 3 * rest + (rest >= 8 ? 2 : 0), '\0');
    char *out = text.data();
    for (std::size_t line = 0; line < fullLines; ++line) {
        const std::uint8_t *bytes = image + line * kBytesPerLine;
        for (std::size_t column = 0; column < kBytesPerLine; ++column) {
            out = putHexField(out, bytes[column], column);
        }
        for (std::size_t column = 0; column < kBytesPerLine; ++column) {
            *out++ = shownCharacter(bytes[column]);
        }
        *out++ = '\n';
    }
    const std::uint8_t *bytes = image + fullLines * kBytesPerLine;
    for (std::size_t column = 0; column < rest; ++column) {
        out = putHexField(out, bytes[column], column);
    }
    return text;
}

bool WriteBinFile(UpdateFiles &files, const std::uint8_t *image, std::uint32_t imageLength) {
    std::array<std::uint8_t, 4> prefix{};
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        prefix[i] = static_cast<std::uint8_t>(imageLength >> (8 * i));
    }
    const bool written = writeAll(files.bin(), prefix.data(), prefix.size()) &&
                         writeAll(files.bin(), image, imageLength);
    const bool closed = files.closeBin();
    return (written && closed) || reportWriteFailure("Can not write the .BIN file !");
}

bool WriteAscDump(UpdateFiles &files, const std::uint8_t *image, std::uint32_t imageLength) {
    const std::string text = formatAscDump(image, imageLength);
    const bool written = writeAll(files.asc(), text.data(), text.size());
    const bool closed = files.closeAsc();
    return (written && closed) || reportWriteFailure("Can not write the .ASC file !");
}

}  // namespace image
