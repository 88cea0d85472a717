// File names, the opening of the three files and its messages, and the .bin and .asc files.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>

#include "image/FileNames.h"
#include "image/SideFiles.h"
#include "tests/image/ImageTestSupport.h"

using namespace image_test;

namespace {

using SideFiles = ImageDirTest;

// Lowers the process's file size limit for its lifetime, with SIGXFSZ ignored, so that a write
// past it fails with EFBIG instead of ending the process.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_previous);
        m_previousHandler = signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{bytes, m_previous.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_previous);
        signal(SIGXFSZ, m_previousHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

  private:
    rlimit m_previous{};
    sighandler_t m_previousHandler;
};

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
    // No HEX file, two that differ only in case, or a HEX name that is a pipe or a directory
    // (read, a pipe would pass for an empty firmware file): nothing is created.
    EXPECT_FALSE(prepare());
    expectRefusal("Can not open the .HEX file !");
    writeFile("FW01.HEX", "");
    writeFile("fw01.HEX", "");
    host.boxes.clear();
    EXPECT_FALSE(prepare());
    expectRefusal("Can not open the .HEX file !");
    EXPECT_FALSE(std::filesystem::exists("FW01.bin"));
    ASSERT_EQ(mkfifo("pipe.hex", 0600), 0);
    std::filesystem::create_directory("dir.hex");
    for (const char *name : {"pipe.hex", "dir.hex"}) {
        SCOPED_TRACE(name);
        host.boxes.clear();
        EXPECT_FALSE(prepare(name));
        expectRefusal("Can not open the .HEX file !");
    }
}

// A side file name that exists and is not a regular file is refused at once with that file's
// open message, and nothing is written to it; a link to a regular file is written through.
TEST_F(SideFiles, ASideFileMustBeARegularFile) {
    enum class Kind { Pipe, Directory, LinkToDevice, LinkToFile };
    for (const std::string name : {"FW01.bin", "FW01.asc"}) {
        for (const Kind kind :
             {Kind::Pipe, Kind::Directory, Kind::LinkToDevice, Kind::LinkToFile}) {
            SCOPED_TRACE(name + " kind " + std::to_string(static_cast<int>(kind)));
            for (const char *old : {"FW01.bin", "FW01.asc", "elsewhere"}) {
                std::filesystem::remove(old);
            }
            writeFile("FW01.hex", dataRecord(0, {1}));
            writeFile("elsewhere", "old");
            switch (kind) {
                case Kind::Pipe:
                    ASSERT_EQ(mkfifo(name.c_str(), 0600), 0);
                    break;
                case Kind::Directory:
                    std::filesystem::create_directory(name);
                    break;
                case Kind::LinkToDevice:
                    std::filesystem::create_symlink("/dev/null", name);
                    break;
                case Kind::LinkToFile:
                    std::filesystem::create_symlink("elsewhere", name);
                    break;
            }
            host.boxes.clear();
            imageLength = 12345;
            const bool isBin = name == "FW01.bin";
            if (kind == Kind::LinkToFile) {
                EXPECT_TRUE(prepare());
                EXPECT_TRUE(host.boxes.empty());
                EXPECT_TRUE(std::filesystem::is_symlink(name));
                EXPECT_GT(std::filesystem::file_size("elsewhere"), 50u);
            } else {
                EXPECT_FALSE(prepare());
                expectRefusal(isBin ? "Can not open the .BIN file !"
                                    : "Can not open the .ASC file !");
                EXPECT_EQ(std::filesystem::exists("FW01.asc"), !isBin);
                if (!isBin) {
                    EXPECT_EQ(std::filesystem::file_size("FW01.bin"), 0u) << "opened before";
                }
            }
        }
    }
}

// A write that fails (here: past the process's file size limit) reports its file and ends the
// preparation; the .asc is not written after a failed .bin.
TEST_F(SideFiles, WriteErrorsAreReportedAndDiscardTheImage) {
    const struct {
        rlim_t limit;
        const char *message;
        std::uintmax_t binSize, ascSize;
    } cases[] = {
        {20, "Can not write the .BIN file !", 20, 0},
        {60, "Can not write the .ASC file !", 55, 60},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        writeFile("FW01.hex", dataRecord(0, {1}));
        host.boxes.clear();
        bool prepared = true;
        {
            FileSizeLimit limit(c.limit);
            prepared = prepare();
        }
        EXPECT_FALSE(prepared);
        expectRefusal(c.message);
        EXPECT_EQ(std::filesystem::file_size("FW01.bin"), c.binSize);
        EXPECT_EQ(std::filesystem::file_size("FW01.asc"), c.ascSize);
    }
}
