// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// A bench for the update sequence: the simulated bus bound by name, a scripted stand-in for the
// windows and the command error dialog, and a HEX file of a chosen data length in a fresh
// directory (the update resolves file names against the current directory).
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "errors/CommandError.h"
#include "tests/image/ImageTestSupport.h"
#include "tests/support/SimBench.h"
#include "tests/support/TestHost.h"
#include "units/Discovery.h"
#include "units/MainState.h"
#include "update/UpdateSequence.h"

namespace update_test {

using image_test::Bytes;

// Answers each showing from a script, keeping the flags as the real dialog keeps them.
class ScriptedErrorDialog : public errors::CommandErrorDialog {
  public:
    void showModal(const errors::CommandErrorInfo &info) override {
        shown.push_back(info);
        if (onShow) {
            onShow();
        }
        m_stop = false;
        const errors::CommandAnswer answer =
            answers.empty() ? errors::CommandAnswer::Stop : answers.front();
        if (!answers.empty()) {
            answers.pop_front();
        }
        if (answer == errors::CommandAnswer::Stop) {
            m_stop = true;
        } else {
            m_retry = answer == errors::CommandAnswer::Retry;
        }
    }
    bool stopRequested() const override { return m_stop; }
    bool retryRequested() const override { return m_retry; }

    std::deque<errors::CommandAnswer> answers;
    std::vector<errors::CommandErrorInfo> shown;
    std::function<void()> onShow;  // called as each showing starts

  private:
    bool m_stop = false;
    bool m_retry = false;
};

class ScriptedWindows : public update::UpdateWindows, public units::UnitListView {
  public:
    // UnitListView
    int busType() const override { return bus; }
    int firmwareVariant() const override { return variant; }
    void appendUnitLine(const std::string &line) override { lines.push_back(line); }

    // UpdateWindows
    bool selectedUnitLine(std::string &line) const override {
        if (selected < 0 || selected >= static_cast<int>(lines.size())) {
            return false;
        }
        line = lines[selected];
        return true;
    }
    bool chooseFirmwareFile(std::string &name) override {
        ++chooserShown;
        name = fileName;
        return fileChosen;
    }
    bool createEdc() const override {
        // Asked once the image is built and before anything is sent: the moment a test may
        // tamper with the image.
        if (beforeTransfer) {
            beforeTransfer();
        }
        return edc;
    }
    int progressMaximum() const override { return 100; }
    void setProgressPosition(int position) override { progressPositions.push_back(position); }
    void setTimerInterval(int milliseconds) override { timerIntervals.push_back(milliseconds); }
    void showWaitNotice() override { events.push_back("wait shown"); }
    void closeWaitNotice() override { events.push_back("wait closed"); }
    errors::CommandErrorDialog &commandErrorDialog() override { return dialog; }

    int bus = 1;
    int variant = 4;
    bool edc = true;
    std::vector<std::string> lines;
    int selected = 0;
    bool fileChosen = true;
    std::string fileName;
    int chooserShown = 0;
    std::vector<int> progressPositions;
    std::vector<int> timerIntervals;
    std::vector<std::string> events;
    ScriptedErrorDialog dialog;
    std::function<void()> beforeTransfer;
};

// A bus with one eligible recorder, at adapter 0 target 3; tests append their `fail` lines.
inline constexpr const char *kFailingBus = R"(adapter 0 id 7
unit 0 3 vendor "VEK     " product "CDRW 8432       " revision "1.10"
)";

// The body of a .bin file: the image exactly as built.
inline Bytes binBody(const std::string &name) {
    const std::string bin = image_test::readFile(name);
    return Bytes(bin.begin() + 4, bin.end());
}

// One WRITE BUFFER as the simulator logged it.
struct SentBlock {
    unsigned mode = 0;
    unsigned offset = 0;
    unsigned length = 0;
    bool flag = false;
    unsigned bufferLength = 0;
    bool operator==(const SentBlock &) const = default;
};

// A block whose record's buffer length matches its CDB, as the update sends them.
inline SentBlock block(unsigned mode, unsigned offset, unsigned length, bool flag) {
    return SentBlock{mode, offset, length, flag, length};
}

inline std::ostream &operator<<(std::ostream &out, const SentBlock &b) {
    return out << "{mode " << b.mode << " offset " << b.offset << " length " << b.length << " flag "
               << b.flag << " buflen " << b.bufferLength << "}";
}

// The WRITE BUFFER commands in the simulator's log, in order, decoded from their CDBs.
inline std::vector<SentBlock> sentBlocks(const testing_support::SimBench &bench) {
    std::vector<SentBlock> blocks;
    for (const std::string &line : bench.logLinesWith("cdb=3b")) {
        std::istringstream cdbText(line.substr(line.find("cdb=") + 4));
        std::vector<unsigned> cdb;
        for (std::string byte; cdbText >> byte && byte != "->";) {
            cdb.push_back(std::stoul(byte, nullptr, 16));
        }
        SentBlock block;
        block.mode = cdb.at(1);
        block.offset = (cdb.at(3) << 16) | (cdb.at(4) << 8) | cdb.at(5);
        block.length = (cdb.at(6) << 16) | (cdb.at(7) << 8) | cdb.at(8);
        block.flag = ((cdb.size() == 12 ? cdb.at(11) : cdb.at(9)) & 0x80) != 0;
        const auto buflen = line.find("buflen=");
        block.bufferLength = std::stoul(line.substr(buflen + 7));
        blocks.push_back(block);
    }
    return blocks;
}

using hex_text::hexWithData;

// Runs each test in a fresh directory with the simulated bus bound and scanned.
class UpdateBench : public ::testing::Test {
  protected:
    void SetUp() override {
        m_previous = std::filesystem::current_path();
        std::filesystem::current_path(bench.dir());
    }
    void TearDown() override { std::filesystem::current_path(m_previous); }

    // Binds the simulator on `bus` (the built-in one when empty) and scans with the SCSI form,
    // as start-up does.
    void bind(const std::string &bus = "") {
        if (!bus.empty()) {
            bench.useBus(bus);
        }
        state.allocateBuffers();
        state.aspi.LoadAspiManager();
        windows.bus = 0;
        units::ScanUnits(state, windows);
        windows.bus = 1;
        state.BlockSize = 16384;
    }

    // Writes a HEX file of `dataLength` data bytes as `name` and picks it in the chooser.
    void pickFile(const std::string &name, std::size_t dataLength) {
        image_test::writeFile(name, hexWithData(dataLength));
        windows.fileName = name;
    }

    update::UpdateOutcome run() { return update::UpdateClick(state, windows); }

    testing_support::TestHost host;
    testing_support::SimBench bench;
    units::MainState state;
    ScriptedWindows windows;

  private:
    std::filesystem::path m_previous;
};

}  // namespace update_test
