// File names, the opening of the three files and its messages, and the .bin and .asc files.
#include <gtest/gtest.h>

#include <filesystem>

#include "image/FileNames.h"
#include "image/SideFiles.h"
#include "tests/image/ImageTestSupport.h"

using namespace image_test;

namespace {

using SideFiles = ImageDirTest;

}  // namespace

TEST(FileNames, BaseNameIsCutAtTheFirstDot) {
    testing_support::TestHost host;
    const struct {
        const char *chosen, *hex, *bin, *asc;
    } cases[] = {
        {"FW01.HEX", "FW01.hex", "FW01.bin", "FW01.asc"},
        {"fw.old.hex", "fw.hex", "fw.bin", "fw.asc"},
        {"WOL123", "WOL123.hex", "WOL123.bin", "WOL123.asc"},
        {"ABCDEFGHIJKLMNO.hex", "ABCDEFGHIJKLMNO.hex", "ABCDEFGHIJKLMNO.bin",
         "ABCDEFGHIJKLMNO.asc"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.chosen);
        image::UpdateFileNames names;
        ASSERT_TRUE(image::DeriveFileNames(c.chosen, names));
        EXPECT_EQ(names.HexName, c.hex);
        EXPECT_EQ(names.BinName, c.bin);
        EXPECT_EQ(names.AscName, c.asc);
    }
    EXPECT_TRUE(host.boxes.empty());
}

TEST_F(SideFiles, LongBaseNameIsRefused) {
    writeFile("ABCDEFGHIJKLMNOP.hex", "");
    EXPECT_FALSE(prepare("ABCDEFGHIJKLMNOP.hex"));
    expectRefusal(
        "The file name is too long: at most 15 characters may stand before the first \".\" !");
    EXPECT_FALSE(std::filesystem::exists("ABCDEFGHIJKLMNOP.bin"));
}

TEST_F(SideFiles, EmptyImageReplacesBothFilesWith54And216Bytes) {
    writeFile("FW01.hex", "");
    writeFile("FW01.bin", std::string(5000, 'x'));
    writeFile("FW01.asc", std::string(5000, 'x'));
    ASSERT_TRUE(prepare());
    EXPECT_TRUE(host.boxes.empty());
    const std::string bin = readFile("FW01.bin");
    ASSERT_EQ(bin.size(), 54u);
    EXPECT_EQ(bin.substr(0, 4), std::string("\x32\0\0\0", 4));
    EXPECT_EQ(asBytes(bin.substr(4)), imageBytes());
    // Three full lines and a last one of two hex fields.
    const std::string asc = readFile("FW01.asc");
    ASSERT_EQ(asc.size(), 216u);
    EXPECT_EQ(asc, image::formatAscDump(image.data(), imageLength));
    EXPECT_EQ(asc.substr(0, 12), "46 57 30 31 ");
    EXPECT_EQ(asc.substr(210), "00 00 ");
}

TEST(AscDump, LineLayoutAndCharacterColumn) {
    // 0x0A and 0x13 show as "."; 0x0D, 0x00 and all else are written raw.
    const Bytes line = {0x0A, 0x13, 0x0D, 0x00, 'A',  'b',  0xFF, 0x20,
                        0x09, 0x7F, 0x80, 0x31, 0x12, 0x14, 0x1A, 0x0B};
    const std::string full = "0A 13 0D 00 41 62 FF 20   09 7F 80 31 12 14 1A 0B    " +
                             std::string("..\r\0Ab\xFF \t\x7F\x80\x31\x12\x14\x1A\x0B\n", 17);
    Bytes image = line;
    image.insert(image.end(), line.begin(), line.end());
    EXPECT_EQ(image::formatAscDump(image.data(), 0), "");
    EXPECT_EQ(image::formatAscDump(image.data(), 16), full);
    EXPECT_EQ(image::formatAscDump(image.data(), 32), full + full);
    // A partial last line holds only its hex fields; from 8 bytes on with the wider separator.
    EXPECT_EQ(image::formatAscDump(image.data(), 18), full + "0A 13 ");
    EXPECT_EQ(image::formatAscDump(image.data(), 24), full + "0A 13 0D 00 41 62 FF 20   ");
}

TEST_F(SideFiles, ImageOfWholeLinesEndsTheAscWithALineFeed) {
    // 46 + 14 + 4 = 64 bytes: four full lines.
    writeFile("FW01.hex", dataRecord(0, range(14)));
    ASSERT_TRUE(prepare());
    ASSERT_EQ(imageLength, 64u);
    const std::string asc = readFile("FW01.asc");
    EXPECT_EQ(asc.size(), 4u * 70u);
    EXPECT_EQ(asc.back(), '\n');
    EXPECT_EQ(asc, image::formatAscDump(image.data(), imageLength));
    EXPECT_EQ(readFile("FW01.bin").substr(0, 4), std::string("\x40\0\0\0", 4));
}

TEST_F(SideFiles, ChosenUpperCaseNameOpensTheExistingFile) {
    writeFile("FW01.HEX", dataRecord(0, {1, 2, 3}));
    ASSERT_TRUE(prepare("FW01.HEX"));
    EXPECT_EQ(dataBytes(), (Bytes{1, 2, 3}));
    EXPECT_TRUE(std::filesystem::exists("FW01.bin"));
    EXPECT_TRUE(std::filesystem::exists("FW01.asc"));
    EXPECT_FALSE(std::filesystem::exists("FW01.hex"));
}

TEST_F(SideFiles, OpenFailuresShowTheirMessage) {
    // No HEX file, or two that differ only in case: nothing is created.
    EXPECT_FALSE(prepare());
    expectRefusal("Can not open the .HEX file !");
    writeFile("FW01.HEX", "");
    writeFile("fw01.HEX", "");
    host.boxes.clear();
    EXPECT_FALSE(prepare());
    expectRefusal("Can not open the .HEX file !");
    EXPECT_FALSE(std::filesystem::exists("FW01.bin"));
}

TEST_F(SideFiles, UnwritableBinShowsItsMessageAndWritesNothing) {
    writeFile("FW01.hex", "");
    std::filesystem::create_directory("FW01.bin");
    EXPECT_FALSE(prepare());
    expectRefusal("Can not open the .BIN file !");
    EXPECT_FALSE(std::filesystem::exists("FW01.asc"));
}

TEST_F(SideFiles, UnopenableAscLeavesAnEmptyBin) {
    writeFile("FW01.hex", dataRecord(0, {1}));
    std::filesystem::create_directory("FW01.asc");
    EXPECT_FALSE(prepare());
    expectRefusal("Can not open the .ASC file !");
    EXPECT_EQ(std::filesystem::file_size("FW01.bin"), 0u);
}

TEST_F(SideFiles, WriteErrorsAreReportedAndDiscardTheImage) {
    writeFile("FW01.hex", dataRecord(0, {1}));
    std::filesystem::create_symlink("/dev/full", "FW01.bin");
    EXPECT_FALSE(prepare());
    expectRefusal("Can not write the .BIN file !");
    EXPECT_EQ(readFile("FW01.asc"), "") << "the .asc is not written after a failed .bin";

    std::filesystem::remove("FW01.bin");
    std::filesystem::remove("FW01.asc");
    std::filesystem::create_symlink("/dev/full", "FW01.asc");
    host.boxes.clear();
    EXPECT_FALSE(prepare());
    expectRefusal("Can not write the .ASC file !");
    EXPECT_EQ(std::filesystem::file_size("FW01.bin"), 55u);
}
