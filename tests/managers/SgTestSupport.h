// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Stand-ins for what the real manager reads and calls: a fake sysfs tree in a temporary folder,
// and a fake kernel seam that answers every command with a scripted result.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "aspi/DriveCommands.h"
#include "managers/sg/PassThrough.h"
#include "managers/sg/SgManager.h"
#include "tests/support/TempDir.h"

namespace sg_testing {

namespace fs = std::filesystem;

// A sysfs tree laid out as the kernel lays it out: class/scsi_generic/sgN/device is a link to the
// device's folder, which is named H:C:I:L and holds the type attribute and, under block/, the
// block device a driver made for it. It is the sys/ folder of a temporary folder whose dev/
// holds the nodes, as the kernel stand-in (KernelStandIn.cpp) reads them.
class FakeSysfs {
  public:
    const fs::path &root() const { return m_root; }
    const fs::path &folder() const { return m_dir.path(); }

    // Adds the node dev/<name>, a plain file holding `contents` with the given mode.
    void addNode(const std::string &name, const std::string &contents = "",
                 fs::perms mode = fs::perms::owner_read | fs::perms::owner_write) {
        fs::create_directories(folder() / "dev");
        std::ofstream(folder() / "dev" / name) << contents;
        fs::permissions(folder() / "dev" / name, mode);
    }

    // The generic driver's class folder, present once the driver is loaded.
    void loadDriver() { fs::create_directories(root() / "class" / "scsi_generic"); }

    // Adds sg<number> for the device at the given address; a negative type writes no attribute;
    // `block` names its block device ("sr0"), none when empty. `parents` is the device's path
    // under devices/ above its own folder ("pci0000:00/0000:00:01.1/ata2/host1/target1:0:0").
    void addDevice(int number, const std::string &address, int type, const std::string &block = "",
                   const std::string &parents = "") {
        loadDriver();
        const fs::path device = root() / "devices" /
                                (parents.empty() ? "platform/target" + address : parents) / address;
        fs::create_directories(device);
        if (!block.empty()) {
            fs::create_directories(device / "block" / block);
        }
        if (type >= 0) {
            std::ofstream(device / "type") << type << "\n";
        }
        const fs::path entry = root() / "class" / "scsi_generic" / ("sg" + std::to_string(number));
        fs::create_directories(entry);
        fs::create_directory_symlink(fs::relative(device, entry), entry / "device");
    }

    void addHost(int host, const std::string &driver) {
        const fs::path folder = root() / "class" / "scsi_host" / ("host" + std::to_string(host));
        fs::create_directories(folder);
        std::ofstream(folder / "proc_name") << driver << "\n";
    }

  private:
    testing_support::TempDir m_dir{"cdrw-sg"};
    fs::path m_root = m_dir.path() / "sys";
};

// Points the preloaded kernel stand-in at a tree for the object's lifetime: the manager's next
// enumeration reads it.
class StandInRoot {
  public:
    explicit StandInRoot(const fs::path &folder) {
        ::setenv("CDRW_FAKE_SG_ROOT", folder.c_str(), 1);
    }
    ~StandInRoot() { ::unsetenv("CDRW_FAKE_SG_ROOT"); }
    StandInRoot(const StandInRoot &) = delete;
    StandInRoot &operator=(const StandInRoot &) = delete;
};

// The kernel seam, scripted: open() answers per path (a new handle unless told otherwise), run()
// answers with `result` and keeps what it was asked. openNode() keeps each path and its flags and
// answers from nodeAnswers, else, with realNodes, opens the path for real (a test's fake dev tree
// holds plain files, on which flock works as on device nodes), else as a missing node.
class FakePassThrough final : public sg::PassThrough {
  public:
    int open(const std::string &path) override {
        opened.push_back(path);
        const auto answer = openAnswers.find(path);
        if (answer != openAnswers.end()) {
            return answer->second;
        }
        handles[path] = nextHandle;
        return nextHandle++;
    }
    void close(int handle) override { closed.push_back(handle); }
    int openNode(const std::string &path, int flags) override {
        nodeOpens.emplace_back(path, flags);
        if (const auto answer = nodeAnswers.find(path); answer != nodeAnswers.end()) {
            return answer->second;
        }
        if (!realNodes) {
            return -ENOENT;
        }
        const int descriptor = ::open(path.c_str(), flags);
        if (descriptor < 0) {
            return -errno;
        }
        nodeDescriptors.push_back(descriptor);
        return descriptor;
    }
    sg::PassThroughResult run(int handle, const sg::PassThroughCommand &command) override {
        lastHandle = handle;
        lastCommand = command;
        lastCdb.assign(command.cdb.begin(), command.cdb.end());
        ++runs;
        return result;
    }

    std::map<std::string, int> openAnswers;  // path -> handle or negated errno
    std::map<std::string, int> handles;      // path -> handle handed out
    std::vector<std::string> opened;
    std::vector<int> closed;
    std::map<std::string, int> nodeAnswers;  // path -> negated errno
    bool realNodes = false;
    std::vector<std::pair<std::string, int>> nodeOpens;  // path, flags
    std::vector<int> nodeDescriptors;                    // opened for real, in order
    int nextHandle = 3;
    sg::PassThroughResult result;
    sg::PassThroughCommand lastCommand;
    std::vector<std::uint8_t> lastCdb;
    int lastHandle = -1;
    int runs = 0;
};

// A manager over a fake tree and a fake seam, with its reports caught. The manager reads the tree
// at its first request, so a test lays the tree out before it asks anything.
class ManagerTest : public ::testing::Test {
  protected:
    sg::SgConfig config() {
        sg::SgConfig config;
        config.sysfsRoot = sysfs.root();
        config.devRoot = "/dev";
        config.report = [this](const std::string &line) { reports.push_back(line); };
        return config;
    }

    FakeSysfs sysfs;
    FakePassThrough kernel;
    std::vector<std::string> reports;
    sg::SgManager manager{config(), kernel};
};

inline constexpr std::uint8_t kSenseFill = 0xEE;
inline constexpr std::uint32_t kBufferField = 0x12345678;  // never dereferenced by the fakes

// The program's INQUIRY record (98 bytes in, 6-byte CDB) with a buffer field that only the fake
// kernel sees and the sense area pre-filled.
inline aspi::SRB_ExecSCSICmd inquiryRecord(std::uint8_t adapter = 0, std::uint8_t target = 0) {
    auto record =
        aspi::inquiryRecord(*aspi::inquiryCdb(aspi::kBusScsi), adapter, target, 0, nullptr);
    record.SRB_BufPointer = kBufferField;
    std::memset(record.SenseArea, kSenseFill, sizeof(record.SenseArea));
    return record;
}

}  // namespace sg_testing
