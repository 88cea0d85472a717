// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The real manager as the program meets it: wnaspi32.DLL loaded by name (LD_LIBRARY_PATH names
// build/lib), the real kernel seam on paths that are no SCSI device, and the module over the
// kernel stand-in (KernelStandIn.cpp, preloaded by its own test row).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <string>

#include "aspi/AspiManager.h"
#include "aspi/AspiRecords.h"
#include "aspi/DriveCommands.h"
#include "aspi/LowMemory.h"
#include "managers/sg/SgIoPassThrough.h"
#include "tests/managers/SgTestSupport.h"

TEST(SgLibrary, LoadsByNameAndAnswersOnThisMachine) {
    void *handle = dlopen(aspi::kManagerLibraryName, RTLD_NOW);
    ASSERT_NE(handle, nullptr) << dlerror();
    auto support =
        reinterpret_cast<aspi::GetASPI32SupportInfoFn>(dlsym(handle, "GetASPI32SupportInfo"));
    auto send = reinterpret_cast<aspi::SendASPI32CommandFn>(dlsym(handle, "SendASPI32Command"));
    ASSERT_NE(support, nullptr);
    ASSERT_NE(send, nullptr);
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void *>(support), &info), 0);
    EXPECT_NE(std::string(info.dli_fname).find("/lib/wnaspi32.DLL"), std::string::npos)
        << info.dli_fname;

    const std::uint32_t word = support();
    EXPECT_EQ((word >> 8) & 0xFF, aspi::SS_COMP);
    const std::uint8_t count = word & 0xFF;

    aspi::SRB_HAInquiry inquiry{};
    inquiry.SRB_HaId = count;
    EXPECT_EQ(send(&inquiry), aspi::SS_INVALID_HA);
    EXPECT_EQ(inquiry.SRB_Status, aspi::SS_INVALID_HA);
    if (count > 0) {
        inquiry.SRB_HaId = 0;
        EXPECT_EQ(send(&inquiry), aspi::SS_COMP);
        EXPECT_EQ(inquiry.HA_Count, count);
        EXPECT_EQ(inquiry.HA_SCSI_ID, 7);
    }
    auto command = sg_testing::inquiryRecord(count);
    EXPECT_EQ(send(&command), aspi::SS_INVALID_HA);
    EXPECT_EQ(command.SRB_Status, aspi::SS_INVALID_HA);

    // The unit hold's entry points, exported with C linkage beside the two.
    for (const char *name : {"HoldUnitForUpdate", "ReleaseUnitForUpdate"}) {
        auto entry = reinterpret_cast<aspi::UnitHoldFn>(dlsym(handle, name));
        ASSERT_NE(entry, nullptr) << name;
        EXPECT_EQ(entry(count, 0, 0), aspi::SS_INVALID_HA) << name;
    }
    // The scan report's, which refuses a record of another layout.
    auto report = reinterpret_cast<aspi::GetScanReportFn>(dlsym(handle, "GetScanReport"));
    ASSERT_NE(report, nullptr);
    aspi::ScanReport record{};
    record.ReportSize = sizeof(record) - 1;
    EXPECT_EQ(report(&record), aspi::SS_INVALID_SRB);
    EXPECT_EQ(report(nullptr), aspi::SS_INVALID_SRB);
    record.ReportSize = sizeof(record);
    EXPECT_EQ(report(&record), aspi::SS_COMP);
    // The units' transport, for an address without a unit.
    auto transport = reinterpret_cast<aspi::GetUnitTransportFn>(dlsym(handle, "GetUnitTransport"));
    ASSERT_NE(transport, nullptr);
    aspi::UnitTransport attached{sizeof(aspi::UnitTransport), 0, 0, 0, 0};
    EXPECT_EQ(transport(count, 0, 0, &attached), aspi::SS_INVALID_HA);
}

// The whole path down to the real seam, on a device node that is a plain file: the open works,
// the command fails in the kernel, and the record says so instead of claiming success.
TEST(SgRealSeam, PlainFileIsNoDevice) {
    sg_testing::FakeSysfs sysfs;
    sysfs.addDevice(0, "0:0:0:0", 5);
    sysfs.addDevice(1, "0:0:1:0", 5);
    const auto devRoot = sysfs.root() / "dev";
    std::filesystem::create_directories(devRoot);
    std::ofstream(devRoot / "sg0") << "not a device";

    sg::SgIoPassThrough kernel;
    EXPECT_EQ(kernel.open((devRoot / "sg1").string()), -ENOENT);

    sg::SgManager manager({.sysfsRoot = sysfs.root(), .devRoot = devRoot, .report = {}}, kernel);
    ASSERT_EQ(manager.supportInfo(), 0x0101u);

    auto record = sg_testing::inquiryRecord();
    record.SRB_BufLen = 0;  // no data: only the kernel's answer to the command matters here
    const std::uint32_t status = manager.send(&record);
    EXPECT_NE(status, aspi::SS_COMP);
    EXPECT_NE(status, aspi::SS_PENDING);
    EXPECT_EQ(record.SRB_Status, status);

    record.SRB_Target = 1;  // listed in sysfs, no node
    EXPECT_EQ(manager.send(&record), aspi::SS_NO_DEVICE);
}

// The built module with the kernel stand-in preloaded: each command goes through the module's
// own pass-through down to ioctl(SG_IO), and the residual and the host and driver bytes that the
// kernel reports decide, whichever way the data moves: a block the unit did not take fails as a
// data over-run/under-run (status 02h, host adapter status 12h), a block the host side ended as
// aborted after a selection time-out (02h, 11h); a short INQUIRY answer is an answer.
TEST(SgModuleAtIoctl, KernelEndingsOfEitherDirection) {
    aspi::LowBuffers buffers;
    ASSERT_TRUE(aspi::allocateLowBuffers(buffers));
    const struct {
        const char *name;
        const char *residuals;  // the stand-in's rules
        bool block;             // WRITE BUFFER of 16 KiB, else INQUIRY
        aspi::CommandResult result;
        const char *logged;  // the stand-in's log line
    } cases[] = {
        {"block GOOD with a residual of its length", "3b * length 1\n", true, 0x1202,
         "sg0 3b 06 00 00 00 00 00 40 00 00 out 16384 16384\n"},
        {"block GOOD with a residual of half its length", "3b * half 1\n", true, 0x1202,
         "sg0 3b 06 00 00 00 00 00 40 00 00 out 16384 8192\n"},
        {"block ended by DID_TIME_OUT", "3b * 0 1 03\n", true, 0x1102,
         "sg0 3b 06 00 00 00 00 00 40 00 00 out 16384 0\n"},
        {"block ended by DID_NO_CONNECT", "3b * length 1 01\n", true, 0x1102,
         "sg0 3b 06 00 00 00 00 00 40 00 00 out 16384 16384\n"},
        {"block ended by a driver time-out", "3b * 0 1 00 26\n", true, 0x1102,
         "sg0 3b 06 00 00 00 00 00 40 00 00 out 16384 0\n"},
        {"block taken whole", "", true, aspi::kCommandSuccess,
         "sg0 3b 06 00 00 00 00 00 40 00 00 out 16384 0\n"},
        {"INQUIRY answered short", "12 * 62 1\n", false, aspi::kCommandSuccess,
         "sg0 12 00 00 00 62 00 in 98 62\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        sg_testing::FakeSysfs sysfs;
        sysfs.addDevice(0, "0:0:3:0", 5);
        sysfs.addNode("sg0", "VEK     CDRW 8432       1.10");
        std::ofstream(sysfs.folder() / "residuals") << c.residuals;
        const sg_testing::StandInRoot standIn(sysfs.folder());
        aspi::AspiManager manager;
        manager.LoadAspiManager();
        ASSERT_EQ(manager.AspiSupport(), 0x0101);
        const aspi::DriveCommands commands(manager, [] { return aspi::kBusScsi; });
        std::uint8_t sense[aspi::kSenseLength] = {};
        if (c.block) {
            std::fill_n(buffers.DownloadImage, 0x4000, 0x5A);
            EXPECT_EQ(commands.SendWriteBuffer(0, 3, 0, 0x4000, 0, buffers.DownloadImage, sense,
                                               aspi::kModeDownloadWithOffsets, 0, 0),
                      c.result);
        } else {
            std::fill_n(buffers.InquiryData, aspi::kInquiryLength, 0);
            EXPECT_EQ(commands.SendInquiry(0, 3, 0, buffers.InquiryData, sense), c.result);
            EXPECT_EQ(std::string(reinterpret_cast<char *>(buffers.InquiryData) + 8, 8),
                      "VEK     ");
        }
        std::ifstream log(sysfs.folder() / "log");
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(log), {}), c.logged);
    }
    aspi::freeLowBuffers(buffers);
}
