// The simulator as the program meets it: loaded by name, bound, and driven through the drive
// command set. Each test names its own bus before it binds.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "aspi/DriveCommands.h"
#include "aspi/LowMemory.h"
#include "tests/support/SimBench.h"
#include "tests/support/TestHost.h"

namespace {

// The built-in image layout: 46-byte header with the data length at 42 (big-endian), the data,
// then the EDC least significant byte first. `edc` is the value the test claims.
std::uint32_t putImage(std::uint8_t *image, std::uint32_t dataLength, std::uint32_t edc) {
    std::memset(image, 0, 46);
    image[42] = static_cast<std::uint8_t>(dataLength >> 24);
    image[43] = static_cast<std::uint8_t>(dataLength >> 16);
    image[44] = static_cast<std::uint8_t>(dataLength >> 8);
    image[45] = static_cast<std::uint8_t>(dataLength);
    for (std::uint32_t i = 0; i < dataLength; ++i) {
        image[46 + i] = static_cast<std::uint8_t>('1' + i % 9);
    }
    for (int i = 0; i < 4; ++i) {
        image[46 + dataLength + i] = static_cast<std::uint8_t>(edc >> (8 * i));
    }
    return 50 + dataLength;
}

}  // namespace

class SimLibrary : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(aspi::allocateLowBuffers(low)); }

    // Sends the image in 16 KiB blocks as an update does; returns each block's result.
    std::vector<aspi::CommandResult> sendImage(std::uint32_t length, bool flag) {
        std::vector<aspi::CommandResult> results;
        for (std::uint32_t offset = 0; offset < length; offset += 16384) {
            const std::uint32_t block = std::min<std::uint32_t>(16384, length - offset);
            const bool last = offset + block == length;
            results.push_back(commands.SendWriteBuffer(0, 2, 0, block, offset,
                                                       low.DownloadImage + offset, sense,
                                                       last ? 7 : 6, 0, last && flag ? 1 : 0));
        }
        return results;
    }

    testing_support::TestHost host;
    testing_support::SimBench bench;
    aspi::LowBuffers low;
    aspi::AspiManager manager;
    int bus = aspi::kBusAtapi;
    aspi::DriveCommands commands{manager, [this] { return bus; }};
    std::uint8_t sense[18] = {};
};

TEST_F(SimLibrary, TheBusIsReadAtBindingNotAtLoading) {
    void *handle = dlopen(aspi::kManagerLibraryName, RTLD_NOW);
    ASSERT_NE(handle, nullptr);
    bench.useBus("adapter 0 id 7\nadapter 1 id 7\nadapter 2 id 5\n");
    manager.LoadAspiManager();
    EXPECT_EQ(manager.AspiSupport(), 0x0103);
    bench.useBus("adapter 0 id 7\n");
    aspi::AspiManager second;
    second.LoadAspiManager();
    EXPECT_EQ(second.AspiSupport(), 0x0101) << "each binding reads the bus afresh";
    EXPECT_EQ(dlsym(handle, "parseBusFile"), nullptr) << "only the two entry points are exported";
}

TEST_F(SimLibrary, AWholeImageArrivesAndPassesTheEdcCheck) {
    bench.useBus("adapter 0 id 7\nunit 0 2 vendor \"VEK\"\n");
    manager.LoadAspiManager();
    // 40000 data bytes of "123456789..." repeated; its EDC computed here the slow way.
    const std::uint32_t dataLength = 40000;
    std::uint32_t edc = 0;
    for (std::uint32_t i = 0; i < dataLength; ++i) {
        std::uint8_t byte = static_cast<std::uint8_t>('1' + i % 9);
        for (int bit = 0; bit < 8; ++bit, byte >>= 1) {
            edc = ((edc ^ byte) & 1u) != 0 ? (edc >> 1) ^ 0xD8018001u : edc >> 1;
        }
    }
    const std::uint32_t length = putImage(low.DownloadImage, dataLength, edc);
    for (const aspi::CommandResult result : sendImage(length, true)) {
        EXPECT_EQ(result, 0x0001);
    }
    const std::vector<std::uint8_t> received = bench.image(0, 2);
    ASSERT_EQ(received.size(), length);
    EXPECT_EQ(0, std::memcmp(received.data(), low.DownloadImage, length));
    EXPECT_EQ(bench.logLinesWith("cdblen=12 cdb=3b 07 00 00 80 00 00 1c 72 00 00 80").size(), 1u);
}

TEST_F(SimLibrary, AWrongEdcEndsInCheckConditionWithEdcSense) {
    bench.useBus("adapter 0 id 7\nunit 0 2 vendor \"VEK\"\n");
    manager.LoadAspiManager();
    const std::uint32_t length = putImage(low.DownloadImage, 9, 0x6EC2EDC5);
    bus = aspi::kBusScsi;
    EXPECT_EQ(sendImage(length, true).back(), 0x0204);
    EXPECT_EQ(sense[2], 0x04);
    EXPECT_EQ(sense[12], 0x80);
    EXPECT_EQ(sense[13], 0x00);

    // The right EDC of "123456789" passes; without the flag nothing is checked at all.
    putImage(low.DownloadImage, 9, 0x6EC2EDC4);
    EXPECT_EQ(sendImage(length, true).back(), 0x0001);
    putImage(low.DownloadImage, 9, 0);
    EXPECT_EQ(sendImage(length, false).back(), 0x0001);
}

TEST_F(SimLibrary, AFailingBlockReportsItsStatusesUntilItsAttemptsAreUsed) {
    bench.useBus(
        "adapter 0 id 7\nunit 0 2 vendor \"VEK\"\n"
        "fail 0 2 offset 16384 attempts 2 status 0x04 hastat 0x11 targstat 0x02 "
        "sense 70 00 02 00 00 00 00 0a 00 00 00 00 04 01 00 00 00 00\n");
    manager.LoadAspiManager();
    const std::uint32_t length = putImage(low.DownloadImage, 20000, 0);
    std::memset(sense, 0xAB, sizeof sense);
    EXPECT_EQ(sendImage(length, false), (std::vector<aspi::CommandResult>{0x0001, 0x1104}));
    EXPECT_EQ(sense[2], 0xAB) << "an adapter status leaves the sense buffer alone";
    EXPECT_EQ(sendImage(length, false), (std::vector<aspi::CommandResult>{0x0001, 0x1104}));
    EXPECT_EQ(sendImage(length, false), (std::vector<aspi::CommandResult>{0x0001, 0x0001}));
}

TEST_F(SimLibrary, ABadBusFileIsNamedOnStandardErrorAndLeavesNoAdapter) {
    bench.useBus("adapter 0 id 7\n\nunit 0 2 vendor \"VEK\" colour \"red\"\n");
    testing::internal::CaptureStderr();
    manager.LoadAspiManager();
    std::string message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find("bus.txt line 3: unknown unit keyword \"colour\""), std::string::npos)
        << message;
    EXPECT_EQ(manager.AspiSupport(), 0x0100);

    setenv("CDRW_SIM_BUS", (bench.dir() / "missing.txt").c_str(), 1);
    testing::internal::CaptureStderr();
    aspi::AspiManager second;
    second.LoadAspiManager();
    message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find("cannot read the bus file"), std::string::npos) << message;
    EXPECT_EQ(second.AspiSupport(), 0x0100);
    EXPECT_TRUE(host.boxes.empty()) << "a bus without adapters binds; the list stays empty";
}
