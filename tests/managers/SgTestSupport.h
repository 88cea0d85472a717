// Stand-ins for what the real manager reads and calls: a fake sysfs tree in a temporary folder,
// and a fake kernel seam that answers every command with a scripted result.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "managers/sg/PassThrough.h"
#include "managers/sg/SgManager.h"

namespace sg_testing {

namespace fs = std::filesystem;

// A sysfs tree laid out as the kernel lays it out: class/scsi_generic/sgN/device is a link to the
// device's folder, which is named H:C:I:L and holds the type attribute.
class FakeSysfs {
  public:
    FakeSysfs() {
        std::string pattern = (fs::temp_directory_path() / "cdrw-sg-XXXXXX").string();
        m_root = ::mkdtemp(pattern.data());
        EXPECT_FALSE(m_root.empty());
    }
    ~FakeSysfs() {
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }
    FakeSysfs(const FakeSysfs &) = delete;
    FakeSysfs &operator=(const FakeSysfs &) = delete;

    const fs::path &root() const { return m_root; }

    // The generic driver's class folder, present once the driver is loaded.
    void loadDriver() { fs::create_directories(m_root / "class" / "scsi_generic"); }

    // Adds sg<number> for the device at the given address; a negative type writes no attribute.
    void addDevice(int number, const std::string &address, int type) {
        loadDriver();
        const fs::path device = m_root / "devices" / "platform" / ("target" + address) / address;
        fs::create_directories(device);
        if (type >= 0) {
            std::ofstream(device / "type") << type << "\n";
        }
        const fs::path entry = m_root / "class" / "scsi_generic" / ("sg" + std::to_string(number));
        fs::create_directories(entry);
        fs::create_directory_symlink(fs::relative(device, entry), entry / "device");
    }

    void addHost(int host, const std::string &driver) {
        const fs::path folder = m_root / "class" / "scsi_host" / ("host" + std::to_string(host));
        fs::create_directories(folder);
        std::ofstream(folder / "proc_name") << driver << "\n";
    }

  private:
    fs::path m_root;
};

// The kernel seam, scripted: open() answers per path (a new handle unless told otherwise), run()
// answers with `result` and keeps what it was asked.
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
    int nextHandle = 3;
    sg::PassThroughResult result;
    sg::PassThroughCommand lastCommand;
    std::vector<std::uint8_t> lastCdb;
    int lastHandle = -1;
    int runs = 0;
};

// A manager over a fake tree and a fake seam, with its reports caught.
struct ManagerRig {
    FakeSysfs sysfs;
    FakePassThrough kernel;
    std::vector<std::string> reports;

    sg::SgManager make() {
        sg::SgConfig config;
        config.sysfsRoot = sysfs.root();
        config.devRoot = "/dev";
        config.report = [this](const std::string &line) { reports.push_back(line); };
        return sg::SgManager(config, kernel);
    }
};

}  // namespace sg_testing
