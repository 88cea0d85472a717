// SCSI commands through the real manager with a fake kernel seam: what reaches the kernel, how
// its results land in the record, and units that may not be opened.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "aspi/AspiRecords.h"
#include "managers/sg/ExecCommand.h"
#include "managers/sg/ResultMapping.h"
#include "tests/managers/SgTestSupport.h"

using sg_testing::ManagerRig;

namespace {

constexpr std::uint8_t kSenseFill = 0xEE;
constexpr std::uint32_t kBufferField = 0x12345678;  // never touched: the fake kernel moves nothing

// An INQUIRY record of the program's kind: 98 bytes in, 6-byte CDB, sense area pre-filled.
aspi::SRB_ExecSCSICmd inquiryRecord(std::uint8_t adapter = 0, std::uint8_t target = 0) {
    aspi::SRB_ExecSCSICmd record{};
    record.SRB_Cmd = aspi::SC_EXEC_SCSI_CMD;
    record.SRB_HaId = adapter;
    record.SRB_Flags = aspi::SRB_DIR_IN;
    record.SRB_Target = target;
    record.SRB_BufLen = 98;
    record.SRB_BufPointer = kBufferField;
    record.SRB_SenseLen = aspi::kSenseLength;
    record.SRB_CDBLen = 6;
    const std::uint8_t cdb[] = {0x12, 0x00, 0x00, 0x00, 0x62, 0x00};
    std::memcpy(record.CDBByte, cdb, sizeof(cdb));
    std::memset(record.SenseArea, kSenseFill, sizeof(record.SenseArea));
    return record;
}

sg::PassThroughResult hostResult(std::uint8_t host) {
    sg::PassThroughResult result;
    result.hostStatus = host;
    return result;
}

sg::PassThroughResult checkCondition() {
    sg::PassThroughResult result;
    result.scsiStatus = aspi::STATUS_CHKCOND;
    result.driverStatus = sg::kDriverSense;
    const std::uint8_t sense[] = {0x70, 0, 0x04, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x80, 0x00};
    std::memcpy(result.sense.data(), sense, sizeof(sense));
    result.senseLength = sizeof(sense);
    return result;
}

struct MappingCase {
    const char *name;
    sg::PassThroughResult kernel;
    std::uint8_t status, haStat, targStat;
    bool senseCopied;
};

}  // namespace

// Each kernel outcome, through the whole manager into the record.
TEST(SgResultMapping, KernelOutcomesReachTheRecord) {
    sg::PassThroughResult busy;
    busy.scsiStatus = aspi::STATUS_BUSY;
    sg::PassThroughResult driverTimeout;
    driverTimeout.driverStatus = sg::kDriverTimeout | 0x20;  // with a retry suggestion
    sg::PassThroughResult driverSenseOnly = checkCondition();
    driverSenseOnly.scsiStatus = 0;
    sg::PassThroughResult senseWithReset = checkCondition();
    senseWithReset.hostStatus = 0x08;
    sg::PassThroughResult gone;
    gone.osError = ENODEV;
    sg::PassThroughResult tooBig;
    tooBig.osError = ENOMEM;
    sg::PassThroughResult interrupted;
    interrupted.osError = EINTR;
    sg::PassThroughResult shortAnswer;
    shortAnswer.residual = 62;

    const MappingCase cases[] = {
        {"good", {}, aspi::SS_COMP, 0, 0, false},
        {"short INQUIRY answer", shortAnswer, aspi::SS_COMP, 0, 0, false},
        {"check condition", checkCondition(), aspi::SS_ERR, 0, 0x02, true},
        {"driver sense, status GOOD", driverSenseOnly, aspi::SS_ERR, 0, 0x02, true},
        {"busy", busy, aspi::SS_ERR, 0, 0x08, false},
        {"no connect (selection)", hostResult(0x01), aspi::SS_ERR, 0x11, 0, false},
        {"bad target", hostResult(0x04), aspi::SS_ERR, 0x11, 0, false},
        {"time-out", hostResult(0x03), aspi::SS_ERR, 0x11, 0, false},
        {"driver time-out", driverTimeout, aspi::SS_ERR, 0x11, 0, false},
        {"bus busy", hostResult(0x02), aspi::SS_ERR, 0x13, 0, false},
        {"bus reset", hostResult(0x08), aspi::SS_ERR, 0x14, 0, false},
        {"reset with sense", senseWithReset, aspi::SS_ERR, 0x14, 0x02, true},
        {"transport disrupted", hostResult(0x0E), aspi::SS_ERR, 0x13, 0, false},
        {"unknown host byte", hostResult(0x7F), aspi::SS_ERR, 0x14, 0, false},
        {"device gone", gone, aspi::SS_ERR, 0x11, 0, false},
        {"transfer too big", tooBig, sg::kSsBufferTooBig, 0, 0, false},
        {"interrupted", interrupted, aspi::SS_ABORTED, 0, 0, false},
    };
    for (const MappingCase &c : cases) {
        SCOPED_TRACE(c.name);
        ManagerRig rig;
        rig.sysfs.addDevice(0, "0:0:0:0", 5);
        auto manager = rig.make();
        ASSERT_EQ(manager.supportInfo(), 0x0101u);
        rig.kernel.result = c.kernel;

        auto record = inquiryRecord();
        aspi::SRB_ExecSCSICmd before = record;
        EXPECT_EQ(manager.send(&record), c.status);
        EXPECT_EQ(record.SRB_Status, c.status);
        EXPECT_EQ(record.SRB_HaStat, c.haStat);
        EXPECT_EQ(record.SRB_TargStat, c.targStat);
        if (c.senseCopied) {
            EXPECT_EQ(std::memcmp(record.SenseArea, c.kernel.sense.data(), 14), 0);
            EXPECT_EQ(record.SenseArea[17], 0) << "bytes past the unit's sense are cleared";
        } else {
            EXPECT_EQ(record.SenseArea[0], kSenseFill);
            EXPECT_EQ(record.SenseArea[17], kSenseFill);
        }
        // Only the status, the two status bytes and the sense area are written.
        before.SRB_Status = record.SRB_Status;
        before.SRB_HaStat = record.SRB_HaStat;
        before.SRB_TargStat = record.SRB_TargStat;
        std::memcpy(before.SenseArea, record.SenseArea, sizeof(record.SenseArea));
        EXPECT_EQ(std::memcmp(&before, &record, sizeof(record)), 0);
    }
}

// Descriptor-format sense reaches the record in fixed format, where the program reads the sense
// key, ASC and ASCQ; fixed-format sense passes unchanged (above).
TEST(SgResultMapping, DescriptorSenseReachesTheRecordInFixedFormat) {
    using Bytes = std::vector<std::uint8_t>;
    struct SenseCase {
        const char *name;
        Bytes kernel;
        Bytes record;  // all 18 bytes
    };
    const SenseCase cases[] = {
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
    for (const SenseCase &c : cases) {
        SCOPED_TRACE(c.name);
        ManagerRig rig;
        rig.sysfs.addDevice(0, "0:0:0:0", 5);
        auto manager = rig.make();
        ASSERT_EQ(manager.supportInfo(), 0x0101u);
        sg::PassThroughResult kernel = checkCondition();
        kernel.sense.fill(0);
        std::copy(c.kernel.begin(), c.kernel.end(), kernel.sense.begin());
        kernel.senseLength = c.kernel.size();
        rig.kernel.result = kernel;

        auto record = inquiryRecord();
        EXPECT_EQ(manager.send(&record), aspi::SS_ERR);
        EXPECT_EQ(Bytes(record.SenseArea, record.SenseArea + aspi::kSenseLength), c.record);
    }
}

TEST(SgResultMapping, HostTableCoversEveryByte) {
    for (int host = 1; host < 256; ++host) {
        const std::uint8_t haStat = sg::haStatForHost(static_cast<std::uint8_t>(host));
        EXPECT_GE(haStat, aspi::HASTAT_SEL_TO) << host;
        EXPECT_LE(haStat, aspi::HASTAT_PHASE_ERR) << host;
        EXPECT_NE(haStat, aspi::HASTAT_DO_DU) << host;
    }
    EXPECT_EQ(sg::haStatForHost(0), 0);
}

// The command as the kernel gets it: CDB of SRB_CDBLen bytes, direction, buffer, time-out.
TEST(SgCommands, RecordBecomesTheKernelCommand) {
    ManagerRig rig;
    rig.sysfs.addDevice(4, "1:0:2:0", 5);
    auto manager = rig.make();
    ASSERT_EQ(manager.supportInfo(), 0x0101u);

    auto inquiry = inquiryRecord(0, 2);
    inquiry.CDBByte[6] = 0x99;  // past SRB_CDBLen: not sent
    ASSERT_EQ(manager.send(&inquiry), aspi::SS_COMP);
    EXPECT_EQ(rig.kernel.opened, std::vector<std::string>{"/dev/sg4"});
    EXPECT_EQ(rig.kernel.lastHandle, rig.kernel.handles["/dev/sg4"]);
    EXPECT_EQ(rig.kernel.lastCdb, (std::vector<std::uint8_t>{0x12, 0, 0, 0, 0x62, 0}));
    EXPECT_EQ(rig.kernel.lastCommand.direction, sg::DataDirection::toHost);
    EXPECT_EQ(rig.kernel.lastCommand.data, aspi::bufferAddress(kBufferField));
    EXPECT_EQ(rig.kernel.lastCommand.length, 98u);
    EXPECT_EQ(rig.kernel.lastCommand.timeoutSeconds, 10);

    aspi::SRB_ExecSCSICmd writeBuffer = inquiryRecord(0, 2);
    writeBuffer.SRB_Flags = aspi::SRB_DIR_OUT;
    writeBuffer.SRB_BufLen = 0x4000;
    writeBuffer.SRB_CDBLen = 12;
    const std::uint8_t cdb[] = {0x3B, 0x07, 0, 0, 0xC0, 0, 0, 0x03, 0xE8, 0, 0, 0x80};
    std::memcpy(writeBuffer.CDBByte, cdb, sizeof(cdb));
    ASSERT_EQ(manager.send(&writeBuffer), aspi::SS_COMP);
    EXPECT_EQ(rig.kernel.lastCdb, std::vector<std::uint8_t>(std::begin(cdb), std::end(cdb)));
    EXPECT_EQ(rig.kernel.lastCommand.direction, sg::DataDirection::toUnit);
    EXPECT_EQ(rig.kernel.lastCommand.length, 0x4000u);
    EXPECT_EQ(rig.kernel.lastCommand.timeoutSeconds, 300);
    EXPECT_EQ(rig.kernel.opened.size(), 1u) << "the unit stays open";

    aspi::SRB_ExecSCSICmd testUnitReady = inquiryRecord(0, 2);
    testUnitReady.SRB_Flags = 0;
    testUnitReady.SRB_BufLen = 0;
    testUnitReady.SRB_BufPointer = 0;
    std::memset(testUnitReady.CDBByte, 0, sizeof(testUnitReady.CDBByte));
    ASSERT_EQ(manager.send(&testUnitReady), aspi::SS_COMP);
    EXPECT_EQ(rig.kernel.lastCommand.direction, sg::DataDirection::none);
    EXPECT_EQ(rig.kernel.lastCommand.data, nullptr);
    EXPECT_EQ(rig.kernel.lastCommand.timeoutSeconds, 60);

    // A new enumeration closes what was open.
    manager.supportInfo();
    EXPECT_EQ(rig.kernel.closed, std::vector<int>{rig.kernel.handles["/dev/sg4"]});
}

// Records the kernel never sees.
TEST(SgCommands, RefusedRecords) {
    ManagerRig rig;
    rig.sysfs.addDevice(0, "0:0:0:0", 5);
    auto manager = rig.make();
    manager.supportInfo();

    struct Refusal {
        const char *name;
        void (*change)(aspi::SRB_ExecSCSICmd &);
        std::uint8_t status;
    };
    const Refusal refusals[] = {
        {"no CDB", [](aspi::SRB_ExecSCSICmd &r) { r.SRB_CDBLen = 0; }, aspi::SS_INVALID_SRB},
        {"CDB over 16", [](aspi::SRB_ExecSCSICmd &r) { r.SRB_CDBLen = 17; }, aspi::SS_INVALID_SRB},
        {"both directions", [](aspi::SRB_ExecSCSICmd &r) { r.SRB_Flags = 0x18; },
         aspi::SS_INVALID_SRB},
        {"data, no direction", [](aspi::SRB_ExecSCSICmd &r) { r.SRB_Flags = 0; },
         aspi::SS_INVALID_SRB},
        {"data, no buffer", [](aspi::SRB_ExecSCSICmd &r) { r.SRB_BufPointer = 0; },
         aspi::SS_INVALID_SRB},
        {"length past the interface", [](aspi::SRB_ExecSCSICmd &r) { r.SRB_BufLen = 0x80000000u; },
         sg::kSsBufferTooBig},
        {"no such target", [](aspi::SRB_ExecSCSICmd &r) { r.SRB_Target = 5; }, aspi::SS_NO_DEVICE},
        {"no such adapter", [](aspi::SRB_ExecSCSICmd &r) { r.SRB_HaId = 1; }, aspi::SS_INVALID_HA},
        {"unknown request", [](aspi::SRB_ExecSCSICmd &r) { r.SRB_Cmd = 0x07; },
         sg::kSsInvalidCommand},
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
    EXPECT_EQ(rig.kernel.runs, 0);
    EXPECT_EQ(manager.send(nullptr), aspi::SS_INVALID_SRB);
}

// A unit refused for lack of permission is absent, and a recorder among them is named once.
TEST(SgCommands, PermissionFailureIsReportedOnceAndTheUnitIsAbsent) {
    ManagerRig rig;
    rig.sysfs.addDevice(1, "0:0:0:0", 5);
    rig.sysfs.addDevice(2, "1:0:0:0", 0);
    rig.kernel.openAnswers["/dev/sg1"] = -EACCES;
    rig.kernel.openAnswers["/dev/sg2"] = -EPERM;
    auto manager = rig.make();
    ASSERT_EQ(manager.supportInfo(), 0x0102u);

    for (int attempt = 0; attempt < 2; ++attempt) {
        auto inquiry = inquiryRecord(0, 0);
        EXPECT_EQ(manager.send(&inquiry), aspi::SS_NO_DEVICE);
        auto deviceType = aspi::SRB_GDEVBlock{aspi::SC_GET_DEV_TYPE, 0, 0, 0, 0, 0, 0, 0, 0};
        EXPECT_EQ(manager.send(&deviceType), aspi::SS_NO_DEVICE);
        auto disk = inquiryRecord(1, 0);
        EXPECT_EQ(manager.send(&disk), aspi::SS_NO_DEVICE);
        manager.supportInfo();
    }
    EXPECT_EQ(rig.kernel.runs, 0);
    EXPECT_EQ(rig.kernel.opened, (std::vector<std::string>{"/dev/sg1", "/dev/sg2"}));
    ASSERT_EQ(rig.reports.size(), 1u) << "only the CD/DVD unit is reported, and once";
    EXPECT_NE(rig.reports[0].find("/dev/sg1"), std::string::npos) << rig.reports[0];
    EXPECT_NE(rig.reports[0].find("'cdrom' group"), std::string::npos) << rig.reports[0];
}

// Any other open failure is silent and tried again on the next request.
TEST(SgCommands, OtherOpenFailuresAreSilentAndRetried) {
    ManagerRig rig;
    rig.sysfs.addDevice(0, "0:0:0:0", 5);
    rig.kernel.openAnswers["/dev/sg0"] = -ENOENT;
    auto manager = rig.make();
    manager.supportInfo();
    auto first = inquiryRecord();
    EXPECT_EQ(manager.send(&first), aspi::SS_NO_DEVICE);
    rig.kernel.openAnswers.clear();
    auto second = inquiryRecord();
    EXPECT_EQ(manager.send(&second), aspi::SS_COMP);
    EXPECT_EQ(rig.kernel.opened.size(), 2u);
    EXPECT_TRUE(rig.reports.empty());
}
