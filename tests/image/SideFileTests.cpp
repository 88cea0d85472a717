// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// File names, the opening of the three files and its messages, and the .bin and .asc files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "image/FileNames.h"
#include "image/SideFiles.h"
#include "tests/image/ImageTestSupport.h"
#include "tests/support/WithoutPrivilege.h"

using testing_support::WithoutPrivilege;

using namespace image_test;

namespace image_test {
extern bool unnamedFilesRefused;  // see NoUnnamedFiles.cpp
}

namespace {

using SideFiles = ImageDirTest;

// Ends the test program, naming the row, if the row is still running after a few seconds: an
// open that blocks on a pipe would otherwise hang the suite until its time-out.
class Deadline {
  public:
    explicit Deadline(unsigned seconds) {
        std::signal(SIGALRM, [](int) {
            constexpr char kText[] = "deadline passed: an open blocked\n";
            (void)!::write(STDERR_FILENO, kText, sizeof kText - 1);
            ::_exit(1);
        });
        ::alarm(seconds);
    }
    ~Deadline() {
        ::alarm(0);
        std::signal(SIGALRM, SIG_DFL);
    }
    Deadline(const Deadline &) = delete;
    Deadline &operator=(const Deadline &) = delete;
};

// A HEX file of one data byte: a 51-byte image.
const std::string kOneByteHex = hexLines({dataRecord(0, {1}), kEndRecord});

// The fsync calls of a row, counted from 1 once it sets syncCount to 0: the one numbered
// failingSync fails with EIO, as a failing disk would, and the one numbered killingSync ends the
// process with SIGKILL instead; 0: none. A preparation syncs the new .bin (1), the new .asc (2),
// then the folder (3).
int syncCount = 0;
int failingSync = 0;
int killingSync = 0;

// A name whose rename(2) the stand-in below refuses with EPERM, as when another user's file took
// it in a sticky folder after it was checked; empty: none.
std::string refusedRename;

// Another account, whose files a shared folder holds beside this user's.
constexpr uid_t kOtherUser = 4242;

// The names in the current folder, sorted.
std::vector<std::string> folderEntries(const std::filesystem::path &folder = ".") {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::ranges::sort(names);
    return names;
}

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

// The test program's own fsync and rename stand in for the C library's (a definition in the
// program comes first for every caller in it) and fail as a row asks.
extern "C" int fsync(int fd) {
    ++syncCount;
    if (syncCount == killingSync) {
        ::kill(::getpid(), SIGKILL);
    }
    if (syncCount == failingSync) {
        errno = EIO;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_fsync, fd));
}

extern "C" int rename(const char *from, const char *to) noexcept {
    if (!refusedRename.empty() && std::string_view(to).ends_with(refusedRename)) {
        errno = EPERM;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, 0));
}

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

TEST_F(SideFiles, ImageWithoutDataReplacesBothFilesWith54And216Bytes) {
    writeFile("FW01.hex", hexLines({dataRecord(0, {}), kEndRecord}));
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
    writeFile("FW01.hex", hexLines({dataRecord(0, range(14)), kEndRecord}));
    ASSERT_TRUE(prepare());
    ASSERT_EQ(imageLength, 64u);
    const std::string asc = readFile("FW01.asc");
    EXPECT_EQ(asc.size(), 4u * 70u);
    EXPECT_EQ(asc.back(), '\n');
    EXPECT_EQ(asc, image::formatAscDump(image.data(), imageLength));
    EXPECT_EQ(readFile("FW01.bin").substr(0, 4), std::string("\x40\0\0\0", 4));
}

TEST_F(SideFiles, ChosenUpperCaseNameOpensTheExistingFile) {
    writeFile("FW01.HEX", hexLines({dataRecord(0, {1, 2, 3}), kEndRecord}));
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
        const Deadline deadline(5);
        EXPECT_FALSE(prepare(name));
        expectRefusal("Can not open the .HEX file !");
    }
}

// A side file name that exists and is not a regular file is refused at once with that file's
// open message, before it is opened; one that is the HEX file or the other side file (through a
// link) is refused too. Either way every file stays as it was and no temporary file is left. A
// link to another regular file is itself replaced by the new file; the file it points to stays.
TEST_F(SideFiles, ASideFileMustBeARegularFileOfItsOwn) {
    // What the side file's name is: a pipe with a reader waiting (opening it for writing would
    // succeed), a directory, or a symbolic or hard link to `target`.
    enum class Kind { PipeWithReader, Directory, Link, HardLink };
    const struct {
        std::string name;
        Kind kind;
        const char *target;
    } rows[] = {
        {"FW01.bin", Kind::PipeWithReader, ""},   {"FW01.bin", Kind::Directory, ""},
        {"FW01.bin", Kind::Link, "/dev/null"},    {"FW01.bin", Kind::Link, "FW01.hex"},
        {"FW01.bin", Kind::HardLink, "FW01.hex"}, {"FW01.bin", Kind::Link, "elsewhere"},
        {"FW01.asc", Kind::PipeWithReader, ""},   {"FW01.asc", Kind::Directory, ""},
        {"FW01.asc", Kind::Link, "/dev/null"},    {"FW01.asc", Kind::Link, "FW01.hex"},
        {"FW01.asc", Kind::HardLink, "FW01.hex"}, {"FW01.asc", Kind::Link, "FW01.bin"},
        {"FW01.asc", Kind::Link, "elsewhere"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name + " kind " + std::to_string(static_cast<int>(row.kind)) + " " +
                     row.target);
        for (const char *old : {"FW01.bin", "FW01.asc", "elsewhere"}) {
            std::filesystem::remove(old);
        }
        writeFile("FW01.hex", kOneByteHex);
        writeFile("elsewhere", "old");
        const bool isBin = row.name == "FW01.bin";
        if (!isBin) {
            writeFile("FW01.bin", "old bin");
        }
        const char *name = row.name.c_str();
        int reader = -1;
        switch (row.kind) {
            case Kind::PipeWithReader:
                ASSERT_EQ(mkfifo(name, 0600), 0);
                reader = ::open(name, O_RDONLY | O_NONBLOCK);
                ASSERT_GE(reader, 0);
                break;
            case Kind::Directory:
                std::filesystem::create_directory(name);
                break;
            case Kind::Link:
                std::filesystem::create_symlink(row.target, name);
                break;
            case Kind::HardLink:
                std::filesystem::create_hard_link(row.target, name);
                break;
        }
        host.boxes.clear();
        imageLength = 12345;
        if (std::string(row.target) == "elsewhere") {
            EXPECT_TRUE(prepare());
            EXPECT_TRUE(host.boxes.empty());
            EXPECT_FALSE(std::filesystem::is_symlink(name));
            EXPECT_GT(std::filesystem::file_size(name), 50u);
            EXPECT_EQ(readFile("elsewhere"), "old");
            continue;
        }
        EXPECT_FALSE(prepare());
        expectRefusal(isBin ? "Can not open the .BIN file !" : "Can not open the .ASC file !");
        ASSERT_FALSE(host.boxes.empty());
        EXPECT_TRUE(host.boxes[0].fileFault.starts_with("cannot open " + row.name + ": ") &&
                    host.boxes[0].fileFault.find("No such file") == std::string::npos)
            << host.boxes[0].fileFault;
        EXPECT_EQ(readFile("FW01.hex"), kOneByteHex) << "the HEX file stays as it was";
        if (reader >= 0) {
            // A writer that came and went leaves the reader a hang-up.
            pollfd waiting{reader, POLLIN, 0};
            ASSERT_GE(::poll(&waiting, 1, 0), 0);
            EXPECT_EQ(waiting.revents & POLLHUP, 0) << "the pipe was opened";
            ::close(reader);
        }
        if (isBin) {
            EXPECT_FALSE(std::filesystem::exists("FW01.asc"));
        } else {
            EXPECT_EQ(readFile("FW01.bin"), "old bin");
        }
        const auto entries = folderEntries();
        EXPECT_EQ(std::ranges::count_if(
                      entries, [](const std::string &name) { return name.ends_with(".tmp"); }),
                  0);
    }
}

// A write or sync that fails (here: past the process's file size limit, or a sync that the
// stand-in fsync fails) reports its file and ends the preparation; the .asc is not written after
// a failed .bin. So does a rename of the .asc refused after the .bin was put in place: the .bin
// goes back to what it was. The previous pair (or none) stays as it was, and nothing is left
// beside it, unless the failing sync is the folder's, after both names were replaced: then both
// are the new pair.
TEST_F(SideFiles, WriteAndSyncErrorsAreReportedAndKeepThePreviousPair) {
    const struct {
        rlim_t limit;
        int failSync;              // the number of the fsync that fails
        const char *refuseRename;  // the name whose rename fails
        bool previous;             // a previous pair is there
        const char *message;
        bool replaced;
        const char *fault;  // the file and the system's reason, as the shell says them
    } cases[] = {
        {20, 0, "", true, "Can not write the .BIN file !", false, "FW01.bin: File too large"},
        {60, 0, "", true, "Can not write the .ASC file !", false, "FW01.asc: File too large"},
        {RLIM_INFINITY, 1, "", true, "Can not write the .BIN file !", false,
         "FW01.bin: Input/output error"},
        {RLIM_INFINITY, 2, "", true, "Can not write the .ASC file !", false,
         "FW01.asc: Input/output error"},
        {RLIM_INFINITY, 3, "", true, "Can not write the .BIN file !", true,
         "FW01.bin: Input/output error"},
        {RLIM_INFINITY, 0, "FW01.asc", true, "Can not write the .ASC file !", false,
         "FW01.asc: Operation not permitted"},
        {RLIM_INFINITY, 0, "FW01.asc", false, "Can not write the .ASC file !", false,
         "FW01.asc: Operation not permitted"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.message) + " sync " + std::to_string(c.failSync) + " rename " +
                     c.refuseRename + (c.previous ? " over a previous pair" : ""));
        writeFile("FW01.hex", kOneByteHex);
        std::filesystem::remove("FW01.bin");
        std::filesystem::remove("FW01.asc");
        if (c.previous) {
            writeFile("FW01.bin", "old bin");
            writeFile("FW01.asc", "old asc");
        }
        host.boxes.clear();
        bool prepared = true;
        {
            FileSizeLimit limit(c.limit);
            syncCount = 0;
            failingSync = c.failSync;
            refusedRename = c.refuseRename;
            prepared = prepare();
            failingSync = 0;
            refusedRename.clear();
        }
        EXPECT_FALSE(prepared);
        expectRefusal(c.message);
        ASSERT_FALSE(host.boxes.empty());
        EXPECT_EQ(host.boxes[0].fileFault, std::string("cannot write ") + c.fault);
        if (!c.previous) {
            EXPECT_EQ(folderEntries(), std::vector<std::string>{"FW01.hex"});
            continue;
        }
        EXPECT_EQ(folderEntries(), (std::vector<std::string>{"FW01.asc", "FW01.bin", "FW01.hex"}));
        EXPECT_EQ(std::filesystem::file_size("FW01.bin"), c.replaced ? 55u : 7u);
        EXPECT_EQ(std::filesystem::file_size("FW01.asc"), c.replaced ? 219u : 7u);
    }
}

// A HEX file refused after a good update leaves that update's side files byte for byte, and
// nothing beside them.
TEST_F(SideFiles, RefusedHexFileKeepsThePreviousSideFiles) {
    writeFile("FW01.hex", kOneByteHex);
    ASSERT_TRUE(prepare());
    const std::string bin = readFile("FW01.bin");
    const std::string asc = readFile("FW01.asc");
    const struct {
        const char *name;
        std::string hex;
    } rows[] = {
        {"cut short before its end-of-file record", hexLines({dataRecord(0, {1, 2, 3})})},
        {"a record with a wrong checksum", hexLines({":0100000001FF", kEndRecord})},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        writeFile("FW01.hex", row.hex);
        host.boxes.clear();
        EXPECT_FALSE(prepare());
        EXPECT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(readFile("FW01.bin"), bin);
        EXPECT_EQ(readFile("FW01.asc"), asc);
        EXPECT_EQ(folderEntries(), (std::vector<std::string>{"FW01.asc", "FW01.bin", "FW01.hex"}));
    }
}

// A folder in which a side file cannot be created gives the .bin's open message, and nothing is
// changed or left behind. A side file name that links into a read-only folder is itself replaced
// in the HEX file's folder; the file it pointed to stays as it was.
TEST_F(SideFiles, FolderThatCannotBeWrittenGivesTheOpenMessage) {
    writeFile("FW01.hex", kOneByteHex);
    ::chmod(".", 0555);
    {
        const WithoutPrivilege user;
        EXPECT_FALSE(prepare());
    }
    expectRefusal("Can not open the .BIN file !");
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"FW01.hex"});

    ::chmod(".", 0777);
    std::filesystem::create_directory("ro");
    writeFile("ro/FW01.asc", "old asc");
    writeFile("FW01.bin", "old bin");
    std::filesystem::create_symlink("ro/FW01.asc", "FW01.asc");
    for (const char *name : {"FW01.bin", "ro/FW01.asc"}) {
        ::chmod(name, 0666);
    }
    ::chmod("ro", 0555);
    host.boxes.clear();
    {
        const WithoutPrivilege user;
        EXPECT_TRUE(prepare());
    }
    ::chmod("ro", 0755);
    EXPECT_EQ(std::filesystem::file_size("FW01.asc"), 219u);
    EXPECT_EQ(readFile("ro/FW01.asc"), "old asc");
    EXPECT_EQ(folderEntries(),
              (std::vector<std::string>{"FW01.asc", "FW01.bin", "FW01.hex", "ro"}));
    EXPECT_EQ(folderEntries("ro"), std::vector<std::string>{"FW01.asc"});
}

// In a sticky folder that two users may write (such as /tmp), this user may not rename over the
// other user's files, however writable: such a side file name is refused where it is opened,
// with its open message, before anything is built, and the previous pair stays whole. Links
// planted at the names that earlier versions gave their temporary files
// (<name>.<process>-<n>.tmp) change nothing. In the other user's own sticky folder, side file
// names that user made links to this user's files are refused, and this user's links are
// replaced as names: the files behind them stay as they were. Each row runs with unnamed new
// files, and again as on a file system without them.
TEST_F(SideFiles, AStickyFolderSharedWithAnotherUser) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "giving a file to another user needs root";
    }
    const struct {
        const char *name;
        const char *othersFile;  // the side file of the other user
        const char *refusal;     // nullptr: the update goes ahead
        uid_t linksOwner = 0;    // else the side files are links of this owner to this user's
    } rows[] = {
        {"the other user's .asc", "FW01.asc", "Can not open the .ASC file !"},
        {"the other user's .bin", "FW01.bin", "Can not open the .BIN file !"},
        {"links at the names of earlier versions", "", nullptr},
        {"the other user's links", "", "Can not open the .BIN file !", kOtherUser},
        {"this user's links", "", nullptr, WithoutPrivilege::kNobody},
    };
    ::chmod(".", 01777);
    for (const bool unnamed : {true, false}) {
        for (const auto &row : rows) {
            SCOPED_TRACE(std::string(row.name) + (unnamed ? ", unnamed" : ", named") +
                         " new files");
            for (const auto &entry : std::filesystem::directory_iterator(".")) {
                std::filesystem::remove_all(entry.path());
            }
            writeFile("FW01.hex", kOneByteHex);
            const bool links = row.linksOwner != 0;  // in a folder of the other user's then
            ASSERT_EQ(::chown(".", links ? kOtherUser : 0, 0), 0);
            for (const char *side : {"FW01.bin", "FW01.asc"}) {
                if (links) {  // to this user's file, in this user's folder
                    const std::string own = std::string("home/") + side;
                    std::filesystem::create_directories("home");
                    writeFile(own, "old");
                    std::filesystem::create_symlink(own, side);
                    ASSERT_EQ(::chown("home", WithoutPrivilege::kNobody, 0) +
                                  ::chown(own.c_str(), WithoutPrivilege::kNobody, 0) +
                                  ::lchown(side, row.linksOwner, 0),
                              0);
                    continue;
                }
                writeFile(side, "old");
                ::chmod(side, 0666);
                ASSERT_EQ(
                    ::chown(side,
                            std::string_view(side) == row.othersFile ? kOtherUser
                                                                     : WithoutPrivilege::kNobody,
                            0),
                    0);
                for (int n = 0; row.refusal == nullptr && n < 100; ++n) {
                    std::filesystem::create_symlink(
                        "planted", std::string(side) + "." + std::to_string(::getpid()) + "-" +
                                       std::to_string(n) + ".tmp");
                }
            }
            host.boxes.clear();
            bool prepared = false;
            {
                unnamedFilesRefused = !unnamed;
                const WithoutPrivilege user;
                prepared = prepare();
                unnamedFilesRefused = false;
            }
            const std::vector<std::string> entries = folderEntries();
            if (links) {  // a refused link stays; the files behind the links stay as they were
                EXPECT_EQ(prepared, row.refusal == nullptr);
                EXPECT_EQ(readFile("home/FW01.bin") + readFile("home/FW01.asc"), "oldold");
                EXPECT_EQ(std::filesystem::is_symlink("FW01.asc"), row.refusal != nullptr);
                EXPECT_EQ(readFile("FW01.bin").size(), row.refusal == nullptr ? 55u : 3u);
                EXPECT_EQ(entries.size(), 4u);
                continue;
            }
            if (row.refusal != nullptr) {
                EXPECT_FALSE(prepared);
                expectRefusal(row.refusal);
                EXPECT_EQ(readFile("FW01.bin"), "old");
                EXPECT_EQ(readFile("FW01.asc"), "old");
                EXPECT_EQ(entries, (std::vector<std::string>{"FW01.asc", "FW01.bin", "FW01.hex"}));
                continue;
            }
            EXPECT_TRUE(prepared);
            EXPECT_TRUE(host.boxes.empty());
            EXPECT_EQ(std::filesystem::file_size("FW01.bin"), 55u);
            EXPECT_EQ(std::filesystem::file_size("FW01.asc"), 219u);
            EXPECT_EQ(entries.size(), 203u) << "the planted links stay";
            EXPECT_FALSE(std::filesystem::exists("planted"));
        }
    }
}

// A process killed after writing both new files and before renaming them leaves nothing behind
// when they are unnamed. Named ones (on a file system without unnamed files) stay until a later
// run for the same names removes them. Either way the previous pair stays whole until then.
TEST_F(SideFiles, AProcessKilledBeforeItsRenamesLeavesNothingALaterRunKeeps) {
    for (const bool unnamed : {true, false}) {
        SCOPED_TRACE(unnamed ? "unnamed new files" : "named new files");
        writeFile("FW01.hex", kOneByteHex);
        writeFile("FW01.bin", "old bin");
        writeFile("FW01.asc", "old asc");
        unnamedFilesRefused = !unnamed;
        const pid_t child = ::fork();
        if (child == 0) {
            syncCount = 0;
            killingSync = 2;  // the .asc's
            prepare();
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
        const std::vector<std::string> left = folderEntries();
        EXPECT_EQ(std::ranges::count_if(
                      left, [](const std::string &name) { return name.ends_with(".tmp"); }),
                  unnamed ? 0 : 2);
        EXPECT_EQ(readFile("FW01.bin"), "old bin");
        EXPECT_EQ(readFile("FW01.asc"), "old asc");

        EXPECT_TRUE(prepare());
        unnamedFilesRefused = false;
        EXPECT_EQ(folderEntries(), (std::vector<std::string>{"FW01.asc", "FW01.bin", "FW01.hex"}));
        EXPECT_EQ(std::filesystem::file_size("FW01.bin"), 55u);
    }
}
