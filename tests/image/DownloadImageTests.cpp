// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The download image built from HEX files through the update's own entry point: header,
// placement of the records, EDC, the time text, and what happens to a refused file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <ctime>
#include <optional>

#include "image/DownloadImage.h"
#include "image/SideFiles.h"
#include "tests/image/ImageTestSupport.h"

using namespace image_test;

namespace {

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes &part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

std::string lowerCase(std::string text) {
    std::ranges::transform(text, text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::uint32_t bigEndianAt(const std::vector<std::uint8_t> &bytes, std::size_t offset) {
    return std::uint32_t{bytes[offset]} << 24 | std::uint32_t{bytes[offset + 1]} << 16 |
           std::uint32_t{bytes[offset + 2]} << 8 | bytes[offset + 3];
}

void setModificationTime(const std::string &name, std::time_t when) {
    const timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, name.c_str(), times, 0), 0);
}

// A local time with month 1 to 12 and weekday 0 (Sunday) to 6, for mktime or for formatting.
std::tm calendarTime(int year, int month, int day, int hour, int minute, int second,
                     int weekday = 0) {
    std::tm time{};
    time.tm_year = year - 1900;
    time.tm_mon = month - 1;
    time.tm_mday = day;
    time.tm_hour = hour;
    time.tm_min = minute;
    time.tm_sec = second;
    time.tm_wday = weekday;
    time.tm_isdst = -1;
    return time;
}

std::string timeText(const std::vector<std::uint8_t> &image) {
    return reinterpret_cast<const char *>(image.data()) + 13;
}

using DownloadImage = ImageDirTest;

}  // namespace

TEST_F(DownloadImage, NoDataBytesGiveHeaderAndZeroEdc) {
    const std::string text = hexLines({dataRecord(0, {}), kEndRecord});
    writeFile("FW01.hex", text);
    ASSERT_TRUE(prepare());
    EXPECT_EQ(imageLength, 50u);
    EXPECT_EQ(Bytes(image.begin(), image.begin() + 13),
              asBytes(std::string("FW01.hex\0\0\0\0\0", 13)));
    EXPECT_EQ(image[13 + 24], 0);
    EXPECT_EQ(bigEndianAt(image, 38), text.size());
    EXPECT_EQ(bigEndianAt(image, 42), 0u);
    EXPECT_EQ(bigEndianAt(image, 46), 0u);
    // Nothing of the buffer's earlier content survives past the image.
    EXPECT_TRUE(std::all_of(image.begin() + 50, image.end(), [](auto b) { return b == 0; }));
}

TEST_F(DownloadImage, RecordsArePlacedByTheirAddresses) {
    const struct {
        const char *what;
        std::string hex;
        Bytes data;
    } cases[] = {
        {"other record types place nothing",
         hexLines(
             {record(0, 2, {0x10, 0x00}), dataRecord(0, {5}), record(0, 4, {0, 1}), kEndRecord}),
         {5}},
        {"contiguous from address 0: the data in file order, no zero bytes before it",
         hexLines({dataRecord(0, range(16, 0)), dataRecord(16, range(16, 16)),
                   dataRecord(32, range(16, 32)), kEndRecord}),
         range(48)},
        {"a first record at 0x0100 follows 0x0100 - 46 zero bytes",
         hexLines({dataRecord(0x0100, range(4, 1)), kEndRecord}),
         concat({Bytes(210, 0), range(4, 1)})},
        {"a record below the expected address is appended, not placed back",
         hexLines({dataRecord(0x0100, range(4, 1)), dataRecord(0x0080, {0xAA, 0xBB}), kEndRecord}),
         concat({Bytes(210, 0), range(4, 1), {0xAA, 0xBB}})},
        {"a count-0 record at a higher address only fills the gap up to it",
         hexLines(
             {dataRecord(0, range(16)), dataRecord(0x20, {}), dataRecord(0x20, {7}), kEndRecord}),
         concat({range(16), Bytes(16, 0), {7}})},
        {"a record after the end-of-file record is still read",
         hexLines({dataRecord(0, range(16)), kEndRecord, dataRecord(16, {9, 9})}),
         concat({range(16), {9, 9}})},
        {"lower-case hex digits read as upper-case ones",
         lowerCase(hexLines({dataRecord(0x0123, range(16, 0xA5)), kEndRecord})),
         concat({Bytes(0x0123 - 46, 0), range(16, 0xA5)})},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        writeFile("FW01.hex", c.hex);
        ASSERT_TRUE(prepare());
        EXPECT_TRUE(host.boxes.empty());
        ASSERT_EQ(imageLength, 50 + c.data.size());
        EXPECT_EQ(bigEndianAt(image, 42), c.data.size());
        EXPECT_EQ(dataBytes(), c.data);
    }
}

TEST_F(DownloadImage, HeaderDescribesTheFileAndEdcEndsTheImage) {
    writeFile("FW01.hex", hexLines({dataRecord(0, asBytes("123456789")), kEndRecord}));
    ASSERT_TRUE(prepare());
    ASSERT_EQ(dataBytes(), asBytes("123456789"));
    struct stat entry {};
    ASSERT_EQ(::stat("FW01.hex", &entry), 0);
    EXPECT_EQ(bigEndianAt(image, 38), static_cast<std::uint32_t>(entry.st_size));
    EXPECT_EQ(Bytes(image.begin() + 55, image.begin() + 59), (Bytes{0xC4, 0xED, 0xC2, 0x6E}));
    EXPECT_EQ(image[59], 0) << "the spare byte after the EDC";
}

TEST_F(DownloadImage, TimeTextIsTheLocalLastWriteTime) {
    // Five hours east of UTC, so a text in UTC would read 02:08:09.
    const char *zone = std::getenv("TZ");
    const std::optional<std::string> savedZone =
        zone ? std::optional<std::string>(zone) : std::nullopt;
    ::setenv("TZ", "XYZ-5", 1);
    ::tzset();
    std::tm local = calendarTime(1999, 5, 4, 7, 8, 9);
    writeFile("FW01.hex", hexLines({dataRecord(0, {1}), kEndRecord}));
    setModificationTime("FW01.hex", std::mktime(&local));
    const bool built = prepare();
    savedZone ? ::setenv("TZ", savedZone->c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
    ASSERT_TRUE(built);
    EXPECT_EQ(timeText(image), "Tue May 04 07:08:09 1999");

    EXPECT_EQ(image::formatHexFileTime(calendarTime(1998, 12, 4, 18, 55, 6, 5)),
              "Fri Dec 04 18:55:06 1998");
}

TEST_F(DownloadImage, TraceWritesADotPer4096DataBytes) {
    std::string text;
    for (unsigned address = 0; address < 4112; address += 16) {
        text += dataRecord(static_cast<std::uint16_t>(address), range(16)) + "\n";
    }
    writeFile("FW01.hex", text + kEndRecord);
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(prepare());
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "..");
}

TEST_F(DownloadImage, LongHexNameIsCutToTwelveCharactersInTheHeader) {
    writeFile("ABCDEFGHI.hex", hexLines({dataRecord(0, {1}), kEndRecord}));
    ASSERT_TRUE(prepare("ABCDEFGHI.HEX"));
    EXPECT_EQ(Bytes(image.begin(), image.begin() + 13), asBytes(std::string("ABCDEFGHI.he\0", 13)));
    EXPECT_EQ(timeText(image).size(), 24u) << "the time text follows the name field untouched";
}

TEST_F(DownloadImage, BadRecordRefusesTheFileWithNothingBuilt) {
    writeFile("FW01.hex", hexLines({dataRecord(0, range(16)), dataRecord(16, range(16)),
                                    ":10002000000102030405060708090A0B0C0D0E0F00", kEndRecord}));
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(prepare());
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "") << "no EDC was computed";
    expectRefusal("Bad record in line 3 of the .HEX file: its checksum is wrong !");
    EXPECT_EQ(readFile("FW01.bin"), "");
    EXPECT_EQ(readFile("FW01.asc"), "");
}

// A file must hold a data record and its end-of-file record: a file cut short at a line boundary
// (an interrupted download) passes every record check, and an empty one has nothing to check.
TEST_F(DownloadImage, IncompleteFileIsRefusedWithNothingBuilt) {
    const std::string cutShort =
        "The .HEX file ends before its end-of-file record: it is incomplete !";
    const std::string empty = "The .HEX file is empty: it holds no records !";
    const std::string noData = "The .HEX file holds no data record !";
    const std::string whole = hex_text::hexWithData(1600);
    const struct {
        const char *what;
        std::string hex;
        const std::string &message;
    } cases[] = {
        {"empty", "", empty},
        {"blank lines and an end-of-file character", "\r\n\r\n\x1A", empty},
        {"cut after 50 of 51 lines", whole.substr(0, whole.find(kEndRecord)), cutShort},
        {"other records only", hexLines({record(0, 2, {0x10, 0x00})}), cutShort},
        {"an end-of-file record only", hexLines({kEndRecord}), noData},
        {"other records and an end-of-file record", hexLines({record(0, 4, {0, 1}), kEndRecord}),
         noData},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        writeFile("FW01.hex", c.hex);
        host.boxes.clear();
        imageLength = 12345;
        ::testing::internal::CaptureStdout();
        EXPECT_FALSE(prepare());
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "") << "no EDC was computed";
        expectRefusal(c.message);
        EXPECT_EQ(readFile("FW01.hex"), c.hex);
    }
}

TEST_F(DownloadImage, FileWithGapsMatchesObjcopysBinaryConversion) {
    writeFile("FW01.hex", hexLines({dataRecord(0, range(16)), dataRecord(0x40, range(3)),
                                    dataRecord(0x1000, range(20, 9)), kEndRecord}));
    ASSERT_EQ(std::system("objcopy -I ihex -O binary FW01.hex objcopy.raw"), 0);
    ASSERT_TRUE(prepare());
    EXPECT_EQ(dataBytes(), asBytes(readFile("objcopy.raw")));
}

TEST_F(DownloadImage, FullCapacityIsAcceptedAndOneByteMoreRefused) {
    // Random bytes over 22 segments of 64 KiB, made into HEX by objcopy, come back unchanged.
    const std::string bytes = randomBytes(aspi::kImageCapacity - 50, 2);
    writeFile("full.raw", bytes);
    ASSERT_EQ(std::system("objcopy -I binary -O ihex full.raw FW01.hex"), 0);
    ASSERT_TRUE(prepare());
    EXPECT_EQ(imageLength, aspi::kImageCapacity);
    EXPECT_EQ(image[aspi::kImageCapacity], 0) << "the spare byte";
    EXPECT_EQ(dataBytes(), asBytes(bytes));
    EXPECT_EQ(asBytes(readFile("FW01.bin")), concat({{0x00, 0x00, 0x16, 0x00}, imageBytes()}));
    EXPECT_EQ(readFile("FW01.asc"), image::formatAscDump(image.data(), imageLength))
        << "the dump written in parts equals the dump made at once";

    writeFile("full.raw", bytes + "!");
    ASSERT_EQ(std::system("objcopy -I binary -O ihex full.raw FW01.hex"), 0);
    EXPECT_FALSE(prepare());
    expectRefusal("The data of the .HEX file does not fit into the download image (line ", true);
}

TEST_F(DownloadImage, GapsBeyondTheCapacityAreRefused) {
    // Each pair of records adds 65536 bytes: one byte at 0xFFFF, then a gap up to 0xFFFF. The
    // gap of the 21st pair would end 3 bytes past the room left before the EDC.
    std::string text;
    for (int pair = 0; pair < 22; ++pair) {
        text += dataRecord(0xFFFF, {1}) + "\n" + dataRecord(0xFFFF, {}) + "\n";
    }
    writeFile("FW01.hex", text);
    EXPECT_FALSE(prepare());
    expectRefusal("The data of the .HEX file does not fit into the download image (line 42) !");
    EXPECT_EQ(readFile("FW01.bin"), "");
    EXPECT_EQ(readFile("FW01.asc"), "");
}
