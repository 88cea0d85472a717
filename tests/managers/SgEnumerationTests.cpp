// Enumeration of the real manager over a fake sysfs tree: adapter numbering, the support word,
// and what host adapter inquiries and device-type requests read back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "aspi/AspiRecords.h"
#include "managers/sg/SysfsScan.h"
#include "tests/managers/SgTestSupport.h"

using sg_testing::ManagerRig;

namespace {

aspi::SRB_GDEVBlock deviceTypeRecord(std::uint8_t adapter, std::uint8_t target,
                                     std::uint8_t lun = 0) {
    aspi::SRB_GDEVBlock record{};
    record.SRB_Cmd = aspi::SC_GET_DEV_TYPE;
    record.SRB_HaId = adapter;
    record.SRB_Target = target;
    record.SRB_Lun = lun;
    return record;
}

std::string identifier(const std::uint8_t (&field)[16]) {
    return std::string(reinterpret_cast<const char *>(field),
                       strnlen(reinterpret_cast<const char *>(field), 16));
}

}  // namespace

// Five pairs, two of them with a CD/DVD unit: those come first, each group by (host, channel).
TEST(SgEnumeration, NumbersAdaptersWithCdUnitsFirst) {
    ManagerRig rig;
    rig.sysfs.addDevice(0, "0:0:0:0", 0);    // disk
    rig.sysfs.addDevice(1, "0:0:1:0", 1);    // tape, same adapter
    rig.sysfs.addDevice(2, "3:1:4:0", 5);    // CD on host 3 channel 1
    rig.sysfs.addDevice(3, "1:0:0:0", 0);    // disk
    rig.sysfs.addDevice(4, "2:0:0:0", 5);    // CD on host 2
    rig.sysfs.addDevice(5, "3:0:2:0", 0);    // disk on host 3 channel 0
    rig.sysfs.addDevice(6, "2:0:0:1", 0);    // LUN 1: not addressable
    rig.sysfs.addDevice(7, "4:0:0:1", 0);    // a pair with only LUN 1: no adapter
    rig.sysfs.addDevice(8, "5:0:300:0", 5);  // id wider than the target field: left out
    rig.sysfs.addHost(2, "ahci");
    rig.sysfs.addHost(3, "scsi_debug");
    auto manager = rig.make();

    EXPECT_EQ(manager.supportInfo(), 0x0105u);

    struct Expected {
        std::uint8_t adapter, target, type;
    };
    for (const Expected &unit : {Expected{0, 0, 5}, Expected{1, 4, 5}, Expected{2, 0, 0},
                                 Expected{2, 1, 1}, Expected{3, 0, 0}, Expected{4, 2, 0}}) {
        auto record = deviceTypeRecord(unit.adapter, unit.target);
        EXPECT_EQ(manager.send(&record), aspi::SS_COMP);
        EXPECT_EQ(record.SRB_Status, aspi::SS_COMP);
        EXPECT_EQ(record.SRB_DeviceType, unit.type)
            << "adapter " << int(unit.adapter) << " target " << int(unit.target);
    }

    aspi::SRB_HAInquiry inquiry{};
    const char *drivers[] = {"ahci", "scsi_debug", "host0", "host1", "scsi_debug"};
    for (std::uint8_t adapter = 0; adapter < 5; ++adapter) {
        inquiry.SRB_HaId = adapter;  // the record is reused, as a scan reuses it
        EXPECT_EQ(manager.send(&inquiry), aspi::SS_COMP);
        EXPECT_EQ(identifier(inquiry.HA_Identifier), drivers[adapter]);
    }
}

TEST(SgEnumeration, AbsentUnitsAndAdapters) {
    ManagerRig rig;
    rig.sysfs.addDevice(0, "2:0:0:0", 5);
    rig.sysfs.addDevice(1, "2:0:0:1", 0);
    auto manager = rig.make();
    ASSERT_EQ(manager.supportInfo(), 0x0101u);

    auto otherTarget = deviceTypeRecord(0, 1);
    EXPECT_EQ(manager.send(&otherTarget), aspi::SS_NO_DEVICE);
    EXPECT_EQ(otherTarget.SRB_Status, aspi::SS_NO_DEVICE);
    auto otherLun = deviceTypeRecord(0, 0, 1);
    EXPECT_EQ(manager.send(&otherLun), aspi::SS_NO_DEVICE);
    auto otherAdapter = deviceTypeRecord(1, 0);
    EXPECT_EQ(manager.send(&otherAdapter), aspi::SS_INVALID_HA);
    EXPECT_EQ(otherAdapter.SRB_DeviceType, 0);
    aspi::SRB_HAInquiry inquiry{};
    inquiry.SRB_HaId = 1;
    EXPECT_EQ(manager.send(&inquiry), aspi::SS_INVALID_HA);
    EXPECT_EQ(inquiry.SRB_Status, aspi::SS_INVALID_HA);
    EXPECT_EQ(inquiry.HA_SCSI_ID, 0);
}

TEST(SgEnumeration, MissingDriverOrNoDeviceIsReadyWithNoAdapter) {
    ManagerRig noDriver;
    auto withoutDriver = noDriver.make();
    EXPECT_EQ(withoutDriver.supportInfo(), 0x0100u);
    aspi::SRB_HAInquiry inquiry{};
    EXPECT_EQ(withoutDriver.send(&inquiry), aspi::SS_INVALID_HA);

    ManagerRig empty;
    empty.sysfs.loadDriver();
    EXPECT_EQ(empty.make().supportInfo(), 0x0100u);
    EXPECT_TRUE(empty.kernel.opened.empty());
    EXPECT_TRUE(empty.reports.empty());
}

// A request before the support word was asked enumerates first.
TEST(SgEnumeration, RequestBeforeSupportWordEnumerates) {
    ManagerRig rig;
    rig.sysfs.addDevice(0, "0:0:3:0", 5);
    auto manager = rig.make();
    auto record = deviceTypeRecord(0, 3);
    EXPECT_EQ(manager.send(&record), aspi::SS_COMP);
    EXPECT_EQ(record.SRB_DeviceType, 5);
}

// Host adapter inquiry: exactly HA_Count, HA_SCSI_ID and the two identifier texts are written,
// and the status last; every other byte stays as handed over.
TEST(SgEnumeration, HostAdapterInquiryFillsItsFields) {
    ManagerRig rig;
    rig.sysfs.addDevice(0, "0:0:0:0", 5);
    rig.sysfs.addDevice(1, "1:0:0:0", 5);
    rig.sysfs.addHost(0, "a-very-long-driver-name");
    auto manager = rig.make();
    ASSERT_EQ(manager.supportInfo(), 0x0102u);

    aspi::SRB_HAInquiry record;
    std::memset(&record, 0xA5, sizeof(record));
    record.SRB_Cmd = aspi::SC_HA_INQUIRY;
    record.SRB_Status = aspi::SS_PENDING;
    record.SRB_HaId = 0;
    aspi::SRB_HAInquiry before = record;
    EXPECT_EQ(manager.send(&record), aspi::SS_COMP);

    EXPECT_EQ(record.SRB_Status, aspi::SS_COMP);
    EXPECT_EQ(record.HA_Count, 2);
    EXPECT_EQ(record.HA_SCSI_ID, 7);
    EXPECT_EQ(identifier(record.HA_ManagerId), "Linux SG_IO");
    EXPECT_EQ(record.HA_ManagerId[15], 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(record.HA_Identifier), 16),
              "a-very-long-driv");
    // Everything but those fields is unchanged.
    before.SRB_Status = record.SRB_Status;
    before.HA_Count = record.HA_Count;
    before.HA_SCSI_ID = record.HA_SCSI_ID;
    std::memcpy(before.HA_ManagerId, record.HA_ManagerId, 16);
    std::memcpy(before.HA_Identifier, record.HA_Identifier, 16);
    EXPECT_EQ(std::memcmp(&before, &record, sizeof(record)), 0);
}

// What the kernel's tree may hold besides well-formed entries.
TEST(SgSysfsScan, ReadsAddressTypeAndOrder) {
    sg_testing::FakeSysfs sysfs;
    sysfs.addDevice(10, "1:2:3:4", 5);
    sysfs.addDevice(2, "0:0:0:0", -1);  // no type attribute
    sysfs.addDevice(3, "0:0:bad:0", 5);
    sysfs.addDevice(4, "0:0:1", 5);
    sysfs.addDevice(5, "0:0:1:0:9", 5);
    const auto devices = sg::scanScsiGeneric(sysfs.root());
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].name, "sg2");
    EXPECT_EQ(devices[0].type, sg::kTypeUnknown);
    EXPECT_EQ(devices[1].name, "sg10");
    EXPECT_EQ(devices[1].host, 1);
    EXPECT_EQ(devices[1].channel, 2);
    EXPECT_EQ(devices[1].id, 3);
    EXPECT_EQ(devices[1].lun, 4);
    EXPECT_EQ(devices[1].type, 5);
    EXPECT_EQ(sg::hostDriverName(sysfs.root(), 9), "host9");
}
