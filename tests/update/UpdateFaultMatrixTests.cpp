// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Every failure class of a download block, on the first, a middle and the last block of a
// three-block image, answered each way the command error dialog allows: the commands the
// simulator logs (block, and how each attempt ended), the bytes the unit holds afterwards, the
// records the dialog is given and how the update ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <deque>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/update/UpdateTestSupport.h"

using errors::CommandAnswer;
using errors::CommandErrorInfo;
using update::UpdateOutcome;
using namespace update_test;

namespace {

// 40,000 data bytes make a 40,050-byte image: blocks at 0 and 16384 of 16384 bytes, then 7282.
constexpr std::size_t kDataLength = 40000;
constexpr unsigned kImageLength = kDataLength + 50;
constexpr unsigned kBlockCount = 3;
constexpr int kAdapter = 0;
constexpr int kTarget = 3;

// How an attempt ended, as the simulator logs it.
constexpr const char *kAccepted = "status=0x01 hastat=0x00 targstat=0x00";
constexpr const char *kEdcRefused = "status=0x04 hastat=0x00 targstat=0x02";

// A failure class: the words of its `fail` statement (statuses, then sense bytes if any), how the
// simulator logs it, the record the dialog must be given and the two lines of it that tell the
// class apart.
struct FailureClass {
    const char *name;
    const char *statusWords;
    const char *senseWords;
    const char *logged;
    CommandErrorInfo record;
    const char *statusLine;
    const char *detailLine;
};

// Sense bytes left in the request without a CHECK CONDITION; they must not be taken.
constexpr const char *kStraySense = "70 00 06 00 00 00 00 0a 00 00 00 00 29 00 00 00 00 00";

// The record of a failed WRITE BUFFER to the bench's unit.
constexpr CommandErrorInfo record(std::uint8_t senseByte, std::uint8_t asc, std::uint8_t ascq,
                                  std::uint8_t srbStatus, std::uint8_t hostTargetStatus) {
    return CommandErrorInfo{kAdapter, kTarget, 0x3B,      senseByte,
                            asc,      ascq,    srbStatus, hostTargetStatus};
}

const std::array kClasses = {
    // The unit ends in CHECK CONDITION: its sense data are shown.
    FailureClass{"CheckCondition", "status 4 targstat 2",
                 "70 00 03 00 00 00 00 0a 00 00 00 00 0c 00 00 00 00 00",
                 "status=0x04 hastat=0x00 targstat=0x02", record(0x03, 0x0C, 0x00, 0x04, 0x02),
                 "Sense Key:3  Medium error", "ASC:c  ASCQ:0"},
    // An error status whose target status is not CHECK CONDITION (here BUSY) carries no sense
    // data: the record keeps what the session held, zeros on a fresh bench.
    FailureClass{"ErrorWithoutSense", "status 4 targstat 8", kStraySense,
                 "status=0x04 hastat=0x00 targstat=0x08", record(0, 0, 0, 0x04, 0x08),
                 "Sense Key:0  No sense", "ASC:0  ASCQ:0"},
    // Aborted by the host adapter after a selection time-out: a unit told to fail with a host
    // adapter status alone.
    FailureClass{"AbortedSelectionTimeout", "hastat 0x11", kStraySense,
                 "status=0x02 hastat=0x11 targstat=0x00", record(0, 0, 0, 0x02, 0x11),
                 "ASPI State:2    SCSI command has been aborted.",
                 "Host adapter and target state:11    Selection time out."},
    // A request status with no text of its own.
    FailureClass{"UnlistedStatus", "status 0x82 targstat 0", kStraySense,
                 "status=0x82 hastat=0x00 targstat=0x00", record(0, 0, 0, 0x82, 0x00),
                 "ASPI State:82    ", "Host adapter and target state:0    "},
    // The unit ends the block GOOD without taking it; the manager reports the residual as a data
    // over-run/under-run of a transfer that broke off.
    FailureClass{"BlockNotTaken", "residual", "", "status=0x02 hastat=0x12 targstat=0x00",
                 record(0, 0, 0, 0x02, 0x12), "ASPI State:2    SCSI command has been aborted.",
                 "Host adapter and target state:12    Data over-run/under-run."},
};

// What the unit reports when the image check of the last block fails.
constexpr CommandErrorInfo kEdcRecord = record(0x04, 0x80, 0x00, 0x04, 0x02);

enum class Position { First, Middle, Last };

// How the user answers the failing block.
enum class Handling {
    Retry,            // it fails once; Retry sends it again and it is taken
    RetryThenIgnore,  // it fails twice; Retry, then Ignore
    Ignore,           // it fails once; Ignore
    Stop,             // it fails once; Stop
};

constexpr std::array kPositionNames = {"FirstBlock", "MiddleBlock", "LastBlock"};
constexpr std::array kHandlingNames = {"Retry", "RetryThenIgnore", "Ignore", "Stop"};

std::ostream &operator<<(std::ostream &out, Position position) {
    return out << kPositionNames[static_cast<std::size_t>(position)];
}
std::ostream &operator<<(std::ostream &out, Handling handling) {
    return out << kHandlingNames[static_cast<std::size_t>(handling)];
}

unsigned failedAttempts(Handling handling) {
    return handling == Handling::RetryThenIgnore ? 2 : 1;
}

std::deque<CommandAnswer> answersFor(Handling handling) {
    switch (handling) {
        case Handling::Retry:
            return {CommandAnswer::Retry};
        case Handling::RetryThenIgnore:
            return {CommandAnswer::Retry, CommandAnswer::Ignore};
        case Handling::Ignore:
            return {CommandAnswer::Ignore};
        case Handling::Stop:
            return {CommandAnswer::Stop};
    }
    return {};
}

SentBlock blockNumber(unsigned index) {
    const unsigned offset = index * update::kBlockSize;
    return index + 1 == kBlockCount ? block(7, offset, kImageLength - offset, true)
                                    : block(6, offset, update::kBlockSize, false);
}

// One WRITE BUFFER of the log with how it ended.
struct LoggedCommand {
    SentBlock block;
    std::string ending;
    bool operator==(const LoggedCommand &) const = default;
};

std::ostream &operator<<(std::ostream &out, const LoggedCommand &c) {
    return out << c.block << " -> " << c.ending;
}

std::vector<LoggedCommand> loggedCommands(const testing_support::SimBench &bench) {
    const std::vector<SentBlock> blocks = sentBlocks(bench);
    const std::vector<std::string> lines = bench.logLinesWith("cdb=3b");
    std::vector<LoggedCommand> commands;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        commands.push_back({blocks[i], lines[i].substr(lines[i].find("-> ") + 3)});
    }
    return commands;
}

}  // namespace

class FaultMatrix
    : public UpdateBench,
      public ::testing::WithParamInterface<std::tuple<std::size_t, Position, Handling>> {
  protected:
    const FailureClass &failure() const { return kClasses[std::get<0>(GetParam())]; }
    unsigned failingIndex() const { return static_cast<unsigned>(std::get<1>(GetParam())); }
    Handling handling() const { return std::get<2>(GetParam()); }
    bool ignored() const {
        return handling() == Handling::Ignore || handling() == Handling::RetryThenIgnore;
    }
    // Ignoring the first or the middle block leaves the unit without the header or with a hole
    // in the data, which its image check on the last block finds.
    bool edcRefused() const { return ignored() && failingIndex() + 1 < kBlockCount; }
};

TEST_P(FaultMatrix, SendsHoldsAndReportsExactly) {
    const FailureClass &cls = failure();
    const unsigned failing = failingIndex();
    bind(std::string(kFailingBus) + "fail 0 3 offset " +
         std::to_string(failing * update::kBlockSize) + " attempts " +
         std::to_string(failedAttempts(handling())) + " " + cls.statusWords +
         (*cls.senseWords != '\0' ? std::string(" sense ") + cls.senseWords : std::string()) +
         "\n");
    pickFile("lix20.hex", kDataLength);
    windows.dialog.answers = answersFor(handling());
    if (edcRefused()) {
        windows.dialog.answers.push_back(CommandAnswer::Ignore);
    }
    host.answers = {platform::Answer::No};
    const std::size_t scanLines = bench.log().size();

    const UpdateOutcome outcome = run();

    // The commands, in order.
    std::vector<LoggedCommand> expected;
    for (unsigned index = 0; index < kBlockCount; ++index) {
        if (index != failing) {
            expected.push_back({blockNumber(index), index + 1 == kBlockCount && edcRefused()
                                                        ? kEdcRefused
                                                        : kAccepted});
            continue;
        }
        for (unsigned attempt = 0; attempt < failedAttempts(handling()); ++attempt) {
            expected.push_back({blockNumber(index), cls.logged});
        }
        if (handling() == Handling::Stop) {
            break;
        }
        if (handling() == Handling::Retry) {
            expected.push_back({blockNumber(index), kAccepted});
        }
    }
    EXPECT_EQ(loggedCommands(bench), expected);
    // The update sends nothing but its blocks, inside the unit's hold, and nothing at all after
    // Stop: the hold is let go however the update ends.
    const std::vector<std::string> log = bench.log();
    ASSERT_EQ(log.size(), scanLines + expected.size() + 2);
    EXPECT_EQ(log[scanLines], "HOLD ha=0 target=3 lun=0 -> status=0x01");
    EXPECT_EQ(log.back(), "RELEASE ha=0 target=3 lun=0 -> status=0x01");

    // What the unit holds: every block it took, at its offset. An ignored block's bytes were
    // never taken: zeros inside the image, or an image that ends before it.
    const Bytes body = binBody("lix20.bin");
    ASSERT_EQ(body.size(), kImageLength);
    const std::size_t start = failing * update::kBlockSize;
    Bytes held = body;
    if (handling() == Handling::Stop || (ignored() && failing + 1 == kBlockCount)) {
        held.resize(start);
    } else if (ignored()) {
        std::fill_n(held.begin() + start, update::kBlockSize, 0);
    }
    EXPECT_EQ(bench.image(kAdapter, kTarget), held)
        << "a retried block that is taken carries the bytes of the image";

    // The records the dialog was given.
    std::vector<CommandErrorInfo> records(failedAttempts(handling()), cls.record);
    if (edcRefused()) {
        records.push_back(kEdcRecord);
    }
    EXPECT_EQ(windows.dialog.shown, records);
    ASSERT_FALSE(windows.dialog.shown.empty());
    const std::vector<std::string> lines = errors::commandErrorLines(windows.dialog.shown[0]);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[1], "Operate Code:3b");
    EXPECT_EQ(lines[2], cls.statusLine);
    EXPECT_EQ(lines[3], cls.detailLine);

    // How the update ended: Stop skips the wait and the final question.
    if (handling() == Handling::Stop) {
        EXPECT_EQ(outcome, UpdateOutcome::Stopped);
        EXPECT_TRUE(host.sleeps.empty());
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(host.boxes[0].text, update::stoppedText(failing + 1, kBlockCount));
    } else {
        EXPECT_EQ(outcome, UpdateOutcome::Declined);
        EXPECT_EQ(host.sleeps, std::vector<unsigned>{update::kFinalWaitMilliseconds});
        ASSERT_EQ(host.boxes.size(), 1u);
        // Only an update whose every block the unit took is called completed.
        const unsigned notTaken = !ignored() ? 0 : edcRefused() ? 2 : 1;
        EXPECT_EQ(state.IgnoredBlocks, notTaken);
        EXPECT_EQ(host.boxes[0].text,
                  notTaken == 0 ? "Update completed. Shutdown PC."
                                : "The unit did not take " + std::to_string(notTaken) +
                                      " of 3 blocks: its firmware may be incomplete. Update it "
                                      "again before you switch the PC off. End the program?");
        EXPECT_EQ(host.boxes[0].buttons, platform::Buttons::YesNo);
    }
}

// Test names such as CheckCondition_MiddleBlock_RetryThenIgnore.
std::string caseName(const ::testing::TestParamInfo<FaultMatrix::ParamType> &info) {
    std::ostringstream name;
    name << kClasses[std::get<0>(info.param)].name << '_' << std::get<1>(info.param) << '_'
         << std::get<2>(info.param);
    return name.str();
}

INSTANTIATE_TEST_SUITE_P(
    AllClasses, FaultMatrix,
    ::testing::Combine(::testing::Range<std::size_t>(0, kClasses.size()),
                       ::testing::Values(Position::First, Position::Middle, Position::Last),
                       ::testing::Values(Handling::Retry, Handling::RetryThenIgnore,
                                         Handling::Ignore, Handling::Stop)),
    caseName);
