// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The real manager's unit hold over a fake sysfs and dev tree: which nodes it opens and how, what
// another holder makes it answer, what releasing closes, and that a unit another process holds is
// not scanned. A descriptor of the test stands for the other process: flock locks of two open
// files conflict within one process as between two.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "aspi/AspiRecords.h"
#include "tests/managers/SgTestSupport.h"

namespace {

constexpr int kBlockFlags = O_RDWR | O_NONBLOCK | O_EXCL | O_CLOEXEC;

// A descriptor of its own on a node of the fake tree, as another program holds one.
class OtherHolder {
  public:
    explicit OtherHolder(const std::filesystem::path &node)
        : m_fd(::open(node.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~OtherHolder() { ::close(m_fd); }
    OtherHolder(const OtherHolder &) = delete;
    OtherHolder &operator=(const OtherHolder &) = delete;
    // Takes the exclusive lock; false when someone else has a lock on the node.
    bool lock() const { return ::flock(m_fd, LOCK_EX | LOCK_NB) == 0; }

  private:
    int m_fd;
};

bool isOpen(int descriptor) {
    return ::fcntl(descriptor, F_GETFD) != -1;
}

}  // namespace

// Unit 0:0 (sg0, block device sr0) and unit 1:0 (sg1, no block device), with their nodes as
// plain files in a dev tree beside the fake sysfs.
class SgHold : public ::testing::Test {
  protected:
    SgHold() {
        sysfs.addDevice(0, "0:0:0:0", 5, "sr0");
        sysfs.addDevice(1, "1:0:0:0", 5);
        std::filesystem::create_directories(dev());
        for (const char *node : {"sg0", "sr0", "sg1"}) {
            std::ofstream(dev() / node) << "node";
        }
        kernel.realNodes = true;
    }

    std::filesystem::path dev() const { return sysfs.root() / "dev"; }
    std::string node(const char *name) const { return (dev() / name).string(); }

    // How often the manager tried to open `path` so far.
    std::size_t opensOf(const std::string &path) const {
        std::size_t count = 0;
        for (const auto &[opened, flags] : kernel.nodeOpens) {
            count += opened == path;
        }
        return count;
    }

    sg_testing::FakeSysfs sysfs;
    sg_testing::FakePassThrough kernel;
    std::vector<std::string> reports;
    sg::SgManager manager{{.sysfsRoot = sysfs.root(),
                           .devRoot = sysfs.root() / "dev",
                           .report = [this](const std::string &line) { reports.push_back(line); }},
                          kernel};
};

TEST_F(SgHold, HoldsTheBlockDeviceExclusivelyAndLocksTheGenericNodeUntilReleased) {
    ASSERT_EQ(manager.holdUnit(0, 0, 0), aspi::SS_COMP);
    EXPECT_EQ(kernel.nodeOpens,
              (std::vector<std::pair<std::string, int>>{
                  {node("sg0"), O_RDONLY | O_NONBLOCK | O_CLOEXEC}, {node("sr0"), kBlockFlags}}));
    OtherHolder other(dev() / "sg0");
    EXPECT_FALSE(other.lock()) << "the generic node is locked";
    const std::vector<int> held = kernel.nodeDescriptors;
    ASSERT_EQ(held.size(), 2u);
    EXPECT_TRUE(isOpen(held[0]) && isOpen(held[1]));

    EXPECT_EQ(manager.holdUnit(0, 0, 0), aspi::SS_COMP) << "already held";
    EXPECT_EQ(kernel.nodeOpens.size(), 2u) << "nothing opened again";

    // Without a block device: the lock alone.
    ASSERT_EQ(manager.holdUnit(1, 0, 0), aspi::SS_COMP);
    EXPECT_EQ(kernel.nodeOpens.back().first, node("sg1"));
    EXPECT_EQ(kernel.nodeOpens.size(), 3u);

    EXPECT_EQ(manager.releaseUnit(0, 0, 0), aspi::SS_COMP);
    EXPECT_FALSE(isOpen(held[0]) || isOpen(held[1])) << "both closed";
    EXPECT_TRUE(other.lock()) << "the lock is let go";
    EXPECT_EQ(manager.releaseUnit(0, 0, 0), aspi::SS_COMP) << "releasing twice";
    EXPECT_TRUE(reports.empty());

    const struct {
        std::uint8_t adapter, target, lun, status;
    } absent[] = {{2, 0, 0, aspi::SS_INVALID_HA},
                  {0, 1, 0, aspi::SS_NO_DEVICE},
                  {0, 0, 1, aspi::SS_NO_DEVICE}};
    for (const auto &a : absent) {
        EXPECT_EQ(manager.holdUnit(a.adapter, a.target, a.lun), a.status);
        EXPECT_EQ(manager.releaseUnit(a.adapter, a.target, a.lun), a.status);
    }
}

// Another holder gives 0xE5 and leaves nothing held; a block device that cannot be opened for
// another reason is reported and the lock holds the unit alone.
TEST_F(SgHold, AnotherHolderMakesTheUnitBusy) {
    const struct {
        const char *name;
        bool lockHeldElsewhere;
        int blockAnswer;  // 0: opens
        std::uint8_t status;
        bool blockTried;
    } rows[] = {
        {"another copy holds the lock", true, 0, aspi::SS_ASPI_IS_BUSY, false},
        {"block device open exclusively elsewhere (mount, recorder)", false, -EBUSY,
         aspi::SS_ASPI_IS_BUSY, true},
        {"block device not open to this user", false, -EACCES, aspi::SS_COMP, true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        kernel.nodeOpens.clear();
        kernel.nodeAnswers.clear();
        reports.clear();
        if (row.blockAnswer != 0) {
            kernel.nodeAnswers[node("sr0")] = row.blockAnswer;
        }
        {
            OtherHolder other(dev() / "sg0");
            ASSERT_TRUE(!row.lockHeldElsewhere || other.lock());
            EXPECT_EQ(manager.holdUnit(0, 0, 0), row.status);
            EXPECT_EQ(opensOf(node("sr0")), row.blockTried ? 1u : 0u);
        }
        OtherHolder after(dev() / "sg0");
        EXPECT_EQ(after.lock(), row.status != aspi::SS_COMP) << "held only on success";
        EXPECT_EQ(reports.size(), row.blockAnswer == -EACCES ? 1u : 0u);
        if (!reports.empty()) {
            EXPECT_NE(reports[0].find(node("sr0")), std::string::npos) << reports[0];
        }
        manager.releaseUnit(0, 0, 0);
    }
}

// A scan's requests (INQUIRY, device type): the unit another process holds gets no command, is
// named on standard error, and answers as absent; the holder itself still reaches its unit.
TEST_F(SgHold, UnitHeldByAnotherProcessIsNotScanned) {
    {
        OtherHolder other(dev() / "sg0");
        ASSERT_TRUE(other.lock());
        auto inquiry = sg_testing::inquiryRecord(0, 0);
        EXPECT_EQ(manager.send(&inquiry), aspi::SS_NO_DEVICE);
        auto held = aspi::deviceTypeRecord(0, 0, 0);
        EXPECT_EQ(manager.send(&held), aspi::SS_NO_DEVICE);
        auto free = aspi::deviceTypeRecord(1, 0, 0);
        EXPECT_EQ(manager.send(&free), aspi::SS_COMP);
        EXPECT_EQ(kernel.opened, std::vector<std::string>{node("sg1")}) << "sg0 not opened";
        EXPECT_EQ(kernel.runs, 0);
        ASSERT_EQ(reports.size(), 2u);
        EXPECT_NE(
            reports[0].find(node("sg0") + " (unit 0:0:0:0) is being updated by another program"),
            std::string::npos)
            << reports[0];
    }
    auto again = aspi::deviceTypeRecord(0, 0, 0);
    EXPECT_EQ(manager.send(&again), aspi::SS_COMP) << "let go: listed again";

    ASSERT_EQ(manager.holdUnit(0, 0, 0), aspi::SS_COMP);
    auto own = aspi::deviceTypeRecord(0, 0, 0);
    EXPECT_EQ(manager.send(&own), aspi::SS_COMP) << "its own hold does not hide it";
    EXPECT_EQ(reports.size(), 2u);
}
