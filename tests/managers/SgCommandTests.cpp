// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// SCSI commands through the real manager with a fake kernel seam: what reaches the kernel, how
// its results land in the record, and units that may not be opened.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "aspi/AspiRecords.h"
#include "managers/sg/ResultMapping.h"
#include "tests/managers/SgTestSupport.h"

using SgCommands = sg_testing::ManagerTest;
using SgResultMapping = sg_testing::ManagerTest;
using sg_testing::inquiryRecord;
using sg_testing::kBufferField;
using sg_testing::kSenseFill;
using Bytes = std::vector<std::uint8_t>;

namespace {

// A result that delivers sense bytes, by default with CHECK CONDITION.
sg::PassThroughResult sensed(const Bytes &sense, std::uint8_t scsiStatus = aspi::STATUS_CHKCOND,
                             std::uint8_t hostStatus = 0) {
    sg::PassThroughResult result{
        .scsiStatus = scsiStatus, .hostStatus = hostStatus, .driverStatus = sg::kDriverSense};
    std::copy(sense.begin(), sense.end(), result.sense.begin());
    result.senseLength = sense.size();
    return result;
}

// Sense as the unit sends it (fixed format, 14 bytes), and as the record's 18 bytes hold it.
const Bytes kUnitSense = {0x70, 0, 0x04, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x80, 0x00};
const Bytes kRecordSense = {0x70, 0, 0x04, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x80, 0x00, 0, 0, 0, 0};

struct MappingCase {
    const char *name;
    sg::PassThroughResult kernel;
    std::uint8_t status, haStat, targStat;
    Bytes sense;                            // the record's 18 sense bytes; empty: cleared
    std::uint8_t flags = aspi::SRB_DIR_IN;  // SRB_DIR_OUT: the record sends a block instead
};

// A result with the sense of kUnitSense and a residual, as the kernel reports a block refused
// before it was taken.
sg::PassThroughResult sensedWithResidual(const Bytes &sense, int residual) {
    sg::PassThroughResult result = sensed(sense);
    result.residual = residual;
    return result;
}

}  // namespace

// Each kernel outcome, through the whole manager into the record.
TEST_F(SgResultMapping, KernelOutcomesReachTheRecord) {
    sysfs.addDevice(0, "0:0:0:0", 5);
    const auto check = [this](const MappingCase &c) {
        SCOPED_TRACE(c.name);
        kernel.result = c.kernel;
        auto record = inquiryRecord();
        if (c.flags == aspi::SRB_DIR_OUT) {
            record.SRB_Flags = aspi::SRB_DIR_OUT;
            record.CDBByte[0] = 0x3B;  // WRITE BUFFER
        }
        aspi::SRB_ExecSCSICmd before = record;
        EXPECT_EQ(manager.send(&record), c.status);
        EXPECT_EQ(record.SRB_Status, c.status);
        EXPECT_EQ(record.SRB_HaStat, c.haStat);
        EXPECT_EQ(record.SRB_TargStat, c.targStat);
        EXPECT_EQ(Bytes(std::begin(record.SenseArea), std::end(record.SenseArea)),
                  c.sense.empty() ? Bytes(aspi::kSenseLength, 0) : c.sense);
        // Only the status, the two status bytes and the sense area are written.
        before.SRB_Status = record.SRB_Status;
        before.SRB_HaStat = record.SRB_HaStat;
        before.SRB_TargStat = record.SRB_TargStat;
        std::memcpy(before.SenseArea, record.SenseArea, sizeof(record.SenseArea));
        EXPECT_EQ(std::memcmp(&before, &record, sizeof(record)), 0);
    };

    // The driver time-out (06h) carries a retry suggestion in the high bits.
    const MappingCase cases[] = {
        {"good", {}, aspi::SS_COMP, 0, 0, {}},
        {"short INQUIRY answer", {.residual = 62}, aspi::SS_COMP, 0, 0, {}},
        {"block taken whole", {}, aspi::SS_COMP, 0, 0, {}, aspi::SRB_DIR_OUT},
        {"block not taken, GOOD with a residual of its length",
         {.residual = 98},
         aspi::SS_ABORTED,
         aspi::HASTAT_DO_DU,
         0,
         {},
         aspi::SRB_DIR_OUT},
        {"block taken but one byte",
         {.residual = 1},
         aspi::SS_ABORTED,
         aspi::HASTAT_DO_DU,
         0,
         {},
         aspi::SRB_DIR_OUT},
        {"block refused with a residual", sensedWithResidual(kUnitSense, 98), aspi::SS_ERR, 0, 0x02,
         kRecordSense, aspi::SRB_DIR_OUT},
        {"check condition", sensed(kUnitSense), aspi::SS_ERR, 0, 0x02, kRecordSense},
        {"driver sense, status GOOD", sensed(kUnitSense, 0), aspi::SS_ERR, 0, 0x02, kRecordSense},
        {"busy", {.scsiStatus = aspi::STATUS_BUSY}, aspi::SS_ERR, 0, 0x08, {}},
        {"no connect (selection)", {.hostStatus = 0x01}, aspi::SS_ABORTED, 0x11, 0, {}},
        {"bad target", {.hostStatus = 0x04}, aspi::SS_ABORTED, 0x11, 0, {}},
        {"time-out", {.hostStatus = 0x03}, aspi::SS_ABORTED, 0x11, 0, {}},
        {"driver time-out", {.driverStatus = 0x26}, aspi::SS_ABORTED, 0x11, 0, {}},
        {"bus busy", {.hostStatus = 0x02}, aspi::SS_ABORTED, 0x13, 0, {}},
        {"bus reset", {.hostStatus = 0x08}, aspi::SS_ABORTED, 0x14, 0, {}},
        {"reset with sense", sensed(kUnitSense, aspi::STATUS_CHKCOND, 0x08), aspi::SS_ABORTED, 0x14,
         0x02, kRecordSense},
        {"transport disrupted", {.hostStatus = 0x0E}, aspi::SS_ABORTED, 0x13, 0, {}},
        {"unknown host byte", {.hostStatus = 0x7F}, aspi::SS_ABORTED, 0x14, 0, {}},
        {"device gone", {.osError = ENODEV}, aspi::SS_ABORTED, 0x11, 0, {}},
        {"no such device address", {.osError = ENXIO}, aspi::SS_ABORTED, 0x11, 0, {}},
        {"node removed", {.osError = ENOENT}, aspi::SS_ABORTED, 0x11, 0, {}},
        {"transfer too big", {.osError = ENOMEM}, sg::kSsBufferTooBig, 0, 0, {}},
        {"transfer refused by the driver", {.osError = EINVAL}, sg::kSsBufferTooBig, 0, 0, {}},
        {"transfer over the limit", {.osError = E2BIG}, sg::kSsBufferTooBig, 0, 0, {}},
        {"interrupted", {.osError = EINTR}, aspi::SS_ABORTED, 0, 0, {}},
    };
    for (const MappingCase &c : cases) {
        check(c);
    }

    // Descriptor-format sense reaches the record in fixed format, where the program reads the
    // sense key, ASC and ASCQ.
    const struct {
        const char *name;
        Bytes kernel;
        Bytes record;
    } descriptorCases[] = {
        {"unit attention, no descriptors (as the kernel's scsi_debug answers with dsense=1)",
         {0x72, 0x06, 0x29, 0x02, 0, 0, 0, 0},
         {0x70, 0, 0x06, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x29, 0x02, 0, 0, 0, 0}},
        {"deferred, with information, sense-key-specific bytes and stream flags",
         {0x73, 0x03, 0x11, 0x00, 0,    0,    0,    24,                          //
          0x00, 0x0A, 0x80, 0,    0,    0,    0,    0,  0x12, 0x34, 0x56, 0x78,  //
          0x02, 0x06, 0,    0,    0xC0, 0x00, 0x05, 0,                           //
          0x04, 0x02, 0,    0xA0},
         {0xF1, 0, 0xA3, 0x12, 0x34, 0x56, 0x78, 0x0A, 0, 0, 0, 0, 0x11, 0x00, 0, 0xC0, 0x00,
          0x05}},
        {"information wider than 32 bits, command-specific information",
         {0x72, 0x05, 0x24, 0x00, 0, 0, 0, 24,                          //
          0x00, 0x0A, 0x80, 0,    0, 0, 0, 1,  0x12, 0x34, 0x56, 0x78,  //
          0x01, 0x0A, 0,    0,    0, 0, 0, 0,  0xCA, 0xFE, 0xBA, 0xBE},
         {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0xCA, 0xFE, 0xBA, 0xBE, 0x24, 0x00, 0, 0, 0, 0}},
        {"ILI from the block commands descriptor, then a descriptor cut short",
         {0x72, 0x04, 0x44, 0x00, 0, 0, 0, 12, 0x05, 0x02, 0, 0x20, 0x02, 0x06, 0, 0, 0xC0},
         {0x70, 0, 0x24, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x44, 0x00, 0, 0, 0, 0}},
    };
    for (const auto &c : descriptorCases) {
        check({c.name, sensed(c.kernel), aspi::SS_ERR, 0, 0x02, c.record});
    }
}

// Every failing host byte lands on one of the adapter codes the program has texts for.
TEST(SgHostByte, EveryFailureMapsToAnAdapterCodeWithAText) {
    for (int host = 1; host < 256; ++host) {
        const std::uint8_t haStat = sg::haStatForHost(static_cast<std::uint8_t>(host));
        EXPECT_GE(haStat, aspi::HASTAT_SEL_TO) << host;
        EXPECT_LE(haStat, aspi::HASTAT_PHASE_ERR) << host;
        EXPECT_NE(haStat, aspi::HASTAT_DO_DU) << host;
    }
}

// The command as the kernel gets it: CDB of SRB_CDBLen bytes, direction, buffer, time-out; the
// unit stays open until the next enumeration.
TEST_F(SgCommands, RecordBecomesTheKernelCommand) {
    sysfs.addDevice(4, "1:0:2:0", 5);
    const struct {
        const char *name;
        std::uint8_t flags;
        std::uint32_t length;
        Bytes cdb;
        sg::DataDirection direction;
        int timeout;
    } cases[] = {
        {"INQUIRY", aspi::SRB_DIR_IN, 98, {0x12, 0, 0, 0, 0x62, 0}, sg::DataDirection::toHost, 10},
        {"WRITE BUFFER",
         aspi::SRB_DIR_OUT,
         0x4000,
         {0x3B, 0x07, 0, 0, 0xC0, 0, 0, 0x03, 0xE8, 0, 0, 0x80},
         sg::DataDirection::toUnit,
         300},
        {"TEST UNIT READY, no data", 0, 0, {0, 0, 0, 0, 0, 0}, sg::DataDirection::none, 60},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto record = inquiryRecord(0, 2);
        record.SRB_Flags = c.flags;
        record.SRB_BufLen = c.length;
        record.SRB_CDBLen = static_cast<std::uint8_t>(c.cdb.size());
        std::copy(c.cdb.begin(), c.cdb.end(), record.CDBByte);
        record.CDBByte[c.cdb.size()] = 0x99;  // past SRB_CDBLen: not sent
        ASSERT_EQ(manager.send(&record), aspi::SS_COMP);
        EXPECT_EQ(kernel.lastHandle, kernel.handles["/dev/sg4"]);
        EXPECT_EQ(kernel.lastCdb, c.cdb);
        EXPECT_EQ(kernel.lastCommand.direction, c.direction);
        EXPECT_EQ(kernel.lastCommand.data,
                  c.length > 0 ? aspi::bufferAddress(kBufferField) : nullptr);
        EXPECT_EQ(kernel.lastCommand.length, c.length);
        EXPECT_EQ(kernel.lastCommand.timeoutSeconds, c.timeout);
    }
    EXPECT_EQ(kernel.opened, std::vector<std::string>{"/dev/sg4"});
    manager.supportInfo();
    EXPECT_EQ(kernel.closed, std::vector<int>{kernel.handles["/dev/sg4"]});
}

// Records the kernel never sees.
TEST_F(SgCommands, RefusedRecords) {
    sysfs.addDevice(0, "0:0:0:0", 5);
    using Record = aspi::SRB_ExecSCSICmd;
    struct Refusal {
        const char *name;
        void (*change)(Record &);
        std::uint8_t status;
    };
    const Refusal refusals[] = {
        {"no CDB", [](Record &r) { r.SRB_CDBLen = 0; }, aspi::SS_INVALID_SRB},
        {"CDB over 16", [](Record &r) { r.SRB_CDBLen = 17; }, aspi::SS_INVALID_SRB},
        {"both directions", [](Record &r) { r.SRB_Flags = 0x18; }, aspi::SS_INVALID_SRB},
        {"data, no direction", [](Record &r) { r.SRB_Flags = 0; }, aspi::SS_INVALID_SRB},
        {"data, no buffer", [](Record &r) { r.SRB_BufPointer = 0; }, aspi::SS_INVALID_SRB},
        {"length past the interface", [](Record &r) { r.SRB_BufLen = 0x80000000u; },
         sg::kSsBufferTooBig},
        {"no such target", [](Record &r) { r.SRB_Target = 5; }, aspi::SS_NO_DEVICE},
        {"no such adapter", [](Record &r) { r.SRB_HaId = 1; }, aspi::SS_INVALID_HA},
        {"unknown request", [](Record &r) { r.SRB_Cmd = 0x07; }, sg::kSsInvalidCommand},
    };
    for (const Refusal &refusal : refusals) {
        SCOPED_TRACE(refusal.name);
        auto record = inquiryRecord();
        refusal.change(record);
        EXPECT_EQ(manager.send(&record), refusal.status);
        EXPECT_EQ(record.SRB_Status, refusal.status);
        EXPECT_EQ(record.SRB_HaStat, 0);
        EXPECT_EQ(record.SenseArea[0], kSenseFill);
    }
    EXPECT_EQ(kernel.runs, 0);
    EXPECT_EQ(manager.send(nullptr), aspi::SS_INVALID_SRB);
}

// A unit refused for lack of permission is absent, and a recorder among them is named once.
TEST_F(SgCommands, PermissionFailureIsReportedOnceAndTheUnitIsAbsent) {
    sysfs.addDevice(1, "0:0:0:0", 5);
    sysfs.addDevice(2, "1:0:0:0", 0);
    kernel.openAnswers["/dev/sg1"] = -EACCES;
    kernel.openAnswers["/dev/sg2"] = -EPERM;
    ASSERT_EQ(manager.supportInfo(), 0x0102u);

    for (int attempt = 0; attempt < 2; ++attempt) {
        auto inquiry = inquiryRecord(0, 0);
        EXPECT_EQ(manager.send(&inquiry), aspi::SS_NO_DEVICE);
        auto deviceType = aspi::deviceTypeRecord(0, 0, 0);
        EXPECT_EQ(manager.send(&deviceType), aspi::SS_NO_DEVICE);
        auto disk = inquiryRecord(1, 0);
        EXPECT_EQ(manager.send(&disk), aspi::SS_NO_DEVICE);
        manager.supportInfo();
    }
    EXPECT_EQ(kernel.runs, 0);
    EXPECT_EQ(kernel.opened, (std::vector<std::string>{"/dev/sg1", "/dev/sg2"}));
    ASSERT_EQ(reports.size(), 1u) << "only the CD/DVD unit is reported, and once";
    EXPECT_NE(reports[0].find("/dev/sg1"), std::string::npos) << reports[0];
    EXPECT_NE(reports[0].find("'cdrom' group"), std::string::npos) << reports[0];
}

// Any other open failure is silent and tried again on the next request.
TEST_F(SgCommands, OtherOpenFailuresAreSilentAndRetried) {
    sysfs.addDevice(0, "0:0:0:0", 5);
    kernel.openAnswers["/dev/sg0"] = -ENOENT;
    auto first = inquiryRecord();
    EXPECT_EQ(manager.send(&first), aspi::SS_NO_DEVICE);
    kernel.openAnswers.clear();
    auto second = inquiryRecord();
    EXPECT_EQ(manager.send(&second), aspi::SS_COMP);
    EXPECT_EQ(kernel.opened.size(), 2u);
    EXPECT_TRUE(reports.empty());
}
