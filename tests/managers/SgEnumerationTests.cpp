// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Enumeration of the real manager over a fake sysfs tree: adapter numbering, the support word,
// and what host adapter inquiries and device-type requests read back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "aspi/AspiRecords.h"
#include "managers/sg/SysfsScan.h"
#include "tests/managers/SgTestSupport.h"

using SgEnumeration = sg_testing::ManagerTest;

namespace {

std::string identifier(const std::uint8_t (&field)[16]) {
    return std::string(reinterpret_cast<const char *>(field),
                       strnlen(reinterpret_cast<const char *>(field), 16));
}

}  // namespace

// Five pairs, two of them with a CD/DVD unit: those come first, each group by (host, channel).
TEST_F(SgEnumeration, NumbersAdaptersWithCdUnitsFirst) {
    sysfs.addDevice(0, "0:0:0:0", 0);    // disk
    sysfs.addDevice(1, "0:0:1:0", 1);    // tape, same adapter
    sysfs.addDevice(2, "3:1:4:0", 5);    // CD on host 3 channel 1
    sysfs.addDevice(3, "1:0:0:0", 0);    // disk
    sysfs.addDevice(4, "2:0:0:0", 5);    // CD on host 2
    sysfs.addDevice(5, "3:0:2:0", 0);    // disk on host 3 channel 0
    sysfs.addDevice(6, "2:0:0:1", 0);    // LUN 1: not addressable
    sysfs.addDevice(7, "4:0:0:1", 0);    // a pair with only LUN 1: no adapter
    sysfs.addDevice(8, "5:0:300:0", 5);  // id wider than the target field: left out
    sysfs.addHost(2, "ahci");
    sysfs.addHost(3, "scsi_debug");
    EXPECT_EQ(manager.supportInfo(), 0x0105u);

    struct Expected {
        std::uint8_t adapter, target, type;
    };
    for (const Expected &unit : {Expected{0, 0, 5}, Expected{1, 4, 5}, Expected{2, 0, 0},
                                 Expected{2, 1, 1}, Expected{3, 0, 0}, Expected{4, 2, 0}}) {
        SCOPED_TRACE(testing::Message() << int(unit.adapter) << ":" << int(unit.target));
        auto record = aspi::deviceTypeRecord(unit.adapter, unit.target, 0);
        EXPECT_EQ(manager.send(&record), aspi::SS_COMP);
        EXPECT_EQ(record.SRB_Status, aspi::SS_COMP);
        EXPECT_EQ(record.SRB_DeviceType, unit.type);
    }

    aspi::SRB_HAInquiry inquiry{};
    const char *drivers[] = {"ahci", "scsi_debug", "host0", "host1", "scsi_debug"};
    for (std::uint8_t adapter = 0; adapter < 5; ++adapter) {
        inquiry.SRB_HaId = adapter;  // the record is reused, as a scan reuses it
        EXPECT_EQ(manager.send(&inquiry), aspi::SS_COMP);
        EXPECT_EQ(identifier(inquiry.HA_Identifier), drivers[adapter]);
    }
}

// The first request enumerates even before the support word was asked.
TEST_F(SgEnumeration, AbsentUnitsAndAdapters) {
    sysfs.addDevice(0, "2:0:0:0", 5);
    sysfs.addDevice(1, "2:0:0:1", 0);
    auto present = aspi::deviceTypeRecord(0, 0, 0);
    EXPECT_EQ(manager.send(&present), aspi::SS_COMP);
    EXPECT_EQ(present.SRB_DeviceType, 5);
    ASSERT_EQ(manager.supportInfo(), 0x0101u);

    const struct {
        const char *name;
        aspi::SRB_GDEVBlock record;
        std::uint8_t status;
    } absent[] = {{"other target", aspi::deviceTypeRecord(0, 1, 0), aspi::SS_NO_DEVICE},
                  {"other LUN", aspi::deviceTypeRecord(0, 0, 1), aspi::SS_NO_DEVICE},
                  {"other adapter", aspi::deviceTypeRecord(1, 0, 0), aspi::SS_INVALID_HA}};
    for (const auto &c : absent) {
        SCOPED_TRACE(c.name);
        auto record = c.record;
        EXPECT_EQ(manager.send(&record), c.status);
        EXPECT_EQ(record.SRB_Status, c.status);
        EXPECT_EQ(record.SRB_DeviceType, 0);
    }
    aspi::SRB_HAInquiry inquiry{};
    inquiry.SRB_HaId = 1;
    EXPECT_EQ(manager.send(&inquiry), aspi::SS_INVALID_HA);
    EXPECT_EQ(inquiry.SRB_Status, aspi::SS_INVALID_HA);
    EXPECT_EQ(inquiry.HA_SCSI_ID, 0);
}

TEST_F(SgEnumeration, MissingDriverOrNoDeviceIsReadyWithNoAdapter) {
    EXPECT_EQ(manager.supportInfo(), 0x0100u);
    aspi::SRB_HAInquiry inquiry{};
    EXPECT_EQ(manager.send(&inquiry), aspi::SS_INVALID_HA);

    sysfs.loadDriver();
    EXPECT_EQ(manager.supportInfo(), 0x0100u);
    EXPECT_TRUE(kernel.opened.empty());
    EXPECT_TRUE(reports.empty());
}

// Host adapter inquiry: exactly HA_Count, HA_SCSI_ID and the two identifier texts are written,
// and the status last; every other byte stays as handed over.
TEST_F(SgEnumeration, HostAdapterInquiryFillsItsFields) {
    sysfs.addDevice(0, "0:0:0:0", 5);
    sysfs.addDevice(1, "1:0:0:0", 5);
    sysfs.addHost(0, "a-very-long-driver-name");
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
    const sg::ScsiDevice &last = devices[1];
    EXPECT_EQ(last.name, "sg10");
    EXPECT_EQ((std::vector<int>{last.host, last.channel, last.id, last.lun, last.type}),
              (std::vector<int>{1, 2, 3, 4, 5}));
}

// How a unit is attached, from the folders above it in the device tree and what the manager
// answers through its entry point.
TEST_F(SgEnumeration, TellsEachUnitsTransportFromItsDevicePath) {
    const struct {
        const char *parents;
        aspi::Transport kind;
        std::uint16_t vendor, product;
    } rows[] = {
        {"pci0000:00/0000:00:01.1/ata2/host1/target1:0:0", aspi::Transport::Ata, 0, 0},
        {"pci0000:00/0000:00:04.0/virtio1/host2/target2:0:0", aspi::Transport::Scsi, 0, 0},
        {"platform/host5/session1/target5:0:0", aspi::Transport::Scsi, 0, 0},
        {"pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0", aspi::Transport::Usb, 0x152d,
         0x0578},
        {"platform/target7:0:0", aspi::Transport::Unknown, 0, 0},
    };
    int host = 1;
    for (const auto &row : rows) {
        const std::string address = std::to_string(host) + ":0:0:0";
        std::string parents = row.parents;
        parents.replace(parents.rfind("target") + 6, 1, std::to_string(host));
        sysfs.addDevice(host, address, 5, "", parents);
        ++host;
    }
    const auto usb = sysfs.root() / "devices" / "pci0000:00/0000:00:14.0/usb2";
    std::ofstream(usb / "idVendor") << "1d6b\n";  // the root hub: not the bridge
    std::ofstream(usb / "idProduct") << "0002\n";
    std::ofstream(usb / "2-1" / "idVendor") << "152d\n";
    std::ofstream(usb / "2-1" / "idProduct") << "0578\n";
    ASSERT_EQ(manager.supportInfo(), 0x0105u);
    for (std::uint8_t adapter = 0; adapter < std::size(rows); ++adapter) {
        SCOPED_TRACE(rows[adapter].parents);
        aspi::UnitTransport record{};
        record.RecordSize = sizeof(record);
        ASSERT_EQ(manager.unitTransport(adapter, 0, 0, &record), aspi::SS_COMP);
        EXPECT_EQ(record.Kind, static_cast<std::uint8_t>(rows[adapter].kind));
        EXPECT_EQ(record.UsbVendor, rows[adapter].vendor);
        EXPECT_EQ(record.UsbProduct, rows[adapter].product);
    }
    aspi::UnitTransport record{};
    record.RecordSize = sizeof(record);
    EXPECT_EQ(manager.unitTransport(0, 1, 0, &record), aspi::SS_NO_DEVICE);
    EXPECT_EQ(manager.unitTransport(9, 0, 0, &record), aspi::SS_INVALID_HA);
    record.RecordSize = 4;
    EXPECT_EQ(manager.unitTransport(0, 0, 0, &record), aspi::SS_INVALID_SRB);
}
