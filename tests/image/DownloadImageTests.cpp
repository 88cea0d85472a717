// The download image built from HEX files through the update's own entry point: header,
// placement of the records, EDC, the time text, and what happens to a refused file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <random>

#include "image/DownloadImage.h"
#include "image/Edc.h"
#include "image/PrepareDownloadImage.h"
#include "image/SideFiles.h"
#include "tests/image/ImageTestSupport.h"

using namespace image_test;

namespace {

Bytes zeros(std::size_t count) {
    return Bytes(count, 0);
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes &part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

std::uint32_t bigEndianAt(const std::vector<std::uint8_t> &bytes, std::size_t offset) {
    return std::uint32_t{bytes[offset]} << 24 | std::uint32_t{bytes[offset + 1]} << 16 |
           std::uint32_t{bytes[offset + 2]} << 8 | bytes[offset + 3];
}

void setModificationTime(const std::string &name, std::time_t when) {
    const timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, name.c_str(), times, 0), 0);
}

class DownloadImage : public ImageDirTest {
  protected:
    bool prepare(const std::string &chosen) {
        return image::prepareDownloadImage(chosen, image.data(), imageLength);
    }
    // Builds FW01.hex from the given lines and gives the data bytes of its image.
    Bytes dataOf(std::initializer_list<std::string> lines) {
        std::string text;
        for (const std::string &line : lines) {
            text += line + "\r\n";
        }
        writeFile("FW01.hex", text);
        EXPECT_TRUE(prepare("FW01.hex"));
        EXPECT_TRUE(host.boxes.empty());
        return imageLength >= 50 ? dataBytes() : Bytes{};
    }
    void expectRefusedWithNothingBuilt(const std::string &message) {
        expectRefusal(message);
        EXPECT_EQ(readFile("FW01.bin"), "");
        EXPECT_EQ(readFile("FW01.asc"), "");
    }
};

}  // namespace

TEST_F(DownloadImage, EmptyFileGivesHeaderAndZeroEdc) {
    writeFile("FW01.hex", "");
    ASSERT_TRUE(prepare("FW01.hex"));
    EXPECT_EQ(imageLength, 50u);
    const Bytes name = asBytes(std::string("FW01.hex") + std::string(5, '\0'));
    EXPECT_EQ(Bytes(image.begin(), image.begin() + 13), name);
    EXPECT_EQ(image[13 + 24], 0);
    EXPECT_EQ(bigEndianAt(image, 38), 0u);
    EXPECT_EQ(bigEndianAt(image, 42), 0u);
    EXPECT_EQ(bigEndianAt(image, 46), 0u);
    // Nothing of the buffer's earlier content survives past the image.
    EXPECT_TRUE(std::all_of(image.begin() + 50, image.end(), [](auto b) { return b == 0; }));
}

TEST_F(DownloadImage, OnlyNonDataRecordsGiveNoData) {
    EXPECT_EQ(dataOf({record(0, 2, {0x10, 0x00}), record(0, 4, {0, 1}), kEndRecord}), Bytes{});
    EXPECT_EQ(imageLength, 50u);
}

TEST_F(DownloadImage, RecordsArePlacedByTheirAddresses) {
    // Contiguous from address 0: the data in file order, no zero bytes before it.
    EXPECT_EQ(dataOf({dataRecord(0, range(16, 0)), dataRecord(16, range(16, 16)),
                      dataRecord(32, range(16, 32)), kEndRecord}),
              range(48));
    // A first record at 0x0100 follows 0x0100 - 46 zero bytes.
    EXPECT_EQ(dataOf({dataRecord(0x0100, range(4, 1))}), concat({zeros(210), range(4, 1)}));
    // A record below the expected address is appended, not placed back.
    EXPECT_EQ(dataOf({dataRecord(0x0100, range(4, 1)), dataRecord(0x0080, {0xAA, 0xBB})}),
              concat({zeros(210), range(4, 1), {0xAA, 0xBB}}));
    // A count-0 record at a higher address only fills the gap up to it.
    EXPECT_EQ(dataOf({dataRecord(0, range(16)), dataRecord(0x20, {}), dataRecord(0x20, {7})}),
              concat({range(16), zeros(16), {7}}));
    // A record after the end-of-file record is still read.
    EXPECT_EQ(dataOf({dataRecord(0, range(16)), kEndRecord, dataRecord(16, {9, 9})}),
              concat({range(16), {9, 9}}));
}

TEST_F(DownloadImage, HeaderDescribesTheFileAndEdcEndsTheImage) {
    const std::string digits = "123456789";
    const Bytes data = dataOf({dataRecord(0, asBytes(digits)), kEndRecord});
    EXPECT_EQ(data, asBytes(digits));
    EXPECT_EQ(imageLength, 59u);
    struct stat entry {};
    ASSERT_EQ(::stat("FW01.hex", &entry), 0);
    EXPECT_EQ(bigEndianAt(image, 38), static_cast<std::uint32_t>(entry.st_size));
    EXPECT_EQ(bigEndianAt(image, 42), 9u);
    EXPECT_EQ(Bytes(image.begin() + 55, image.begin() + 59), (Bytes{0xC4, 0xED, 0xC2, 0x6E}));
    EXPECT_EQ(image[59], 0) << "the spare byte after the EDC";
}

TEST_F(DownloadImage, LowerCaseDigitsGiveTheSameImage) {
    const std::string upper = dataRecord(0x0123, range(16, 0xA5)) + "\n" + kEndRecord + "\n";
    std::string lower = upper;
    for (char &c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    ASSERT_NE(upper, lower);
    writeFile("FW01.hex", upper);
    setModificationTime("FW01.hex", 900000000);
    ASSERT_TRUE(prepare("FW01.hex"));
    const Bytes fromUpper = imageBytes();
    writeFile("FW01.hex", lower);
    setModificationTime("FW01.hex", 900000000);
    ASSERT_TRUE(prepare("FW01.hex"));
    EXPECT_EQ(imageBytes(), fromUpper);
}

TEST_F(DownloadImage, TimeTextIsTheLocalLastWriteTime) {
    // Five hours east of UTC, so a text in UTC would read 02:08:09.
    const char *previousZone = std::getenv("TZ");
    const std::string savedZone = previousZone != nullptr ? previousZone : "";
    ::setenv("TZ", "XYZ-5", 1);
    ::tzset();
    std::tm local{};
    local.tm_year = 99;
    local.tm_mon = 4;
    local.tm_mday = 4;
    local.tm_hour = 7;
    local.tm_min = 8;
    local.tm_sec = 9;
    local.tm_isdst = -1;
    writeFile("FW01.hex", "");
    setModificationTime("FW01.hex", std::mktime(&local));
    ASSERT_TRUE(prepare("FW01.hex"));
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(image.data()) + 13),
              "Tue May 04 07:08:09 1999");
    previousZone != nullptr ? ::setenv("TZ", savedZone.c_str(), 1) : ::unsetenv("TZ");
    ::tzset();

    std::tm other{};
    other.tm_year = 98;
    other.tm_mon = 11;
    other.tm_mday = 4;
    other.tm_wday = 5;
    other.tm_hour = 18;
    other.tm_min = 55;
    other.tm_sec = 6;
    EXPECT_EQ(image::formatHexFileTime(other), "Fri Dec 04 18:55:06 1998");
}

TEST_F(DownloadImage, TraceWritesADotPer4096DataBytes) {
    std::string text;
    for (unsigned address = 0; address < 4112; address += 16) {
        text += dataRecord(static_cast<std::uint16_t>(address), range(16)) + "\n";
    }
    writeFile("FW01.hex", text);
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(prepare("FW01.hex"));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "..");
}

TEST_F(DownloadImage, LongHexNameIsCutToTwelveCharactersInTheHeader) {
    writeFile("ABCDEFGHI.hex", kEndRecord);
    ASSERT_TRUE(prepare("ABCDEFGHI.HEX"));
    EXPECT_EQ(Bytes(image.begin(), image.begin() + 13),
              asBytes(std::string("ABCDEFGHI.he") + '\0'));
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(image.data()) + 13).size(), 24u)
        << "the time text follows the name field untouched";
}

TEST_F(DownloadImage, BadRecordRefusesTheFileWithNothingBuilt) {
    writeFile("FW01.hex", dataRecord(0, range(16)) + "\n" + dataRecord(16, range(16)) + "\n" +
                              ":10002000000102030405060708090A0B0C0D0E0F00\n" + kEndRecord);
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(prepare("FW01.hex"));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "") << "no EDC was computed";
    expectRefusedWithNothingBuilt("Bad record in line 3 of the .HEX file: its checksum is wrong !");
}

TEST_F(DownloadImage, MatchesObjcopyBothWays) {
    // Random bytes over several 64 KiB segments, made into HEX by objcopy, come back unchanged.
    std::mt19937 random(1999);
    std::string bytes(200000, '\0');
    for (char &c : bytes) {
        c = static_cast<char>(random());
    }
    writeFile("random.raw", bytes);
    ASSERT_EQ(std::system("objcopy -I binary -O ihex random.raw FW01.hex"), 0);
    ASSERT_TRUE(prepare("FW01.hex"));
    EXPECT_EQ(dataBytes(), asBytes(bytes));

    // A file with gaps upward from address 0: the data equals objcopy's binary conversion.
    writeFile("FW01.hex", dataRecord(0, range(16)) + "\n" + dataRecord(0x40, range(3)) + "\n" +
                              dataRecord(0x1000, range(20, 9)) + "\n" + kEndRecord + "\n");
    ASSERT_EQ(std::system("objcopy -I ihex -O binary FW01.hex objcopy.raw"), 0);
    ASSERT_TRUE(prepare("FW01.hex"));
    EXPECT_EQ(dataBytes(), asBytes(readFile("objcopy.raw")));
}

TEST_F(DownloadImage, FullCapacityIsAcceptedAndOneByteMoreRefused) {
    std::mt19937 random(2);
    std::string bytes(aspi::kImageCapacity - 50, '\0');
    for (char &c : bytes) {
        c = static_cast<char>(random());
    }
    writeFile("full.raw", bytes);
    ASSERT_EQ(std::system("objcopy -I binary -O ihex full.raw FW01.hex"), 0);
    ASSERT_TRUE(prepare("FW01.hex"));
    EXPECT_EQ(imageLength, aspi::kImageCapacity);
    EXPECT_EQ(image[aspi::kImageCapacity], 0) << "the spare byte";
    EXPECT_EQ(dataBytes(), asBytes(bytes));
    EXPECT_EQ(asBytes(readFile("FW01.bin").substr(4)), imageBytes());
    EXPECT_EQ(readFile("FW01.asc"), image::formatAscDump(image.data(), imageLength))
        << "the dump written in parts equals the dump made at once";

    writeFile("full.raw", bytes + "!");
    ASSERT_EQ(std::system("objcopy -I binary -O ihex full.raw FW01.hex"), 0);
    EXPECT_FALSE(prepare("FW01.hex"));
    EXPECT_EQ(onlyBox().text.rfind(
                  "The data of the .HEX file does not fit into the download image (line ", 0),
              0u);
    EXPECT_EQ(imageLength, 0u);
    EXPECT_TRUE(imageAllZero());
}

TEST_F(DownloadImage, GapsBeyondTheCapacityAreRefused) {
    // Each pair of records adds 65536 bytes: one byte at 0xFFFF, then a gap up to 0xFFFF. The
    // gap of the 21st pair would end 3 bytes past the room left before the EDC.
    std::string text;
    for (int pair = 0; pair < 22; ++pair) {
        text += dataRecord(0xFFFF, {1}) + "\n" + dataRecord(0xFFFF, {}) + "\n";
    }
    writeFile("FW01.hex", text);
    EXPECT_FALSE(prepare("FW01.hex"));
    expectRefusedWithNothingBuilt(
        "The data of the .HEX file does not fit into the download image (line 42) !");
}
