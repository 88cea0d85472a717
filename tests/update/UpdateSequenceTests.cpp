// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The update sequence against the simulated bus, loaded by name: what it sends, what the units
// receive, and how each early end leaves things.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/update/UpdateTestSupport.h"

using errors::CommandAnswer;
using update::UpdateOutcome;
using namespace update_test;

class UpdateSequence : public UpdateBench {};

TEST_F(UpdateSequence, CancelInTheChooserOpensWritesAndSendsNothing) {
    bind();
    pickFile("lix1.hex", 100);
    windows.fileChosen = false;
    EXPECT_EQ(run(), UpdateOutcome::Cancelled);
    EXPECT_EQ(windows.chooserShown, 1);
    EXPECT_FALSE(std::filesystem::exists("lix1.bin"));
    EXPECT_TRUE(sentBlocks(bench).empty());
    EXPECT_TRUE(host.boxes.empty());
}

TEST_F(UpdateSequence, RefusedNameShowsOnlyItsMessage) {
    bind();
    pickFile("wol1.hex", 100);
    EXPECT_EQ(run(), UpdateOutcome::NameRefused);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "This file can't be downloaded by this program!");
    EXPECT_EQ(host.boxes[0].caption, std::optional<std::string>("error"));
    EXPECT_EQ(host.boxes[0].icon, platform::Icon::Warning);
    EXPECT_FALSE(std::filesystem::exists("wol1.bin"));
    EXPECT_TRUE(sentBlocks(bench).empty());
}

TEST_F(UpdateSequence, EmptyImageIsOneSavingCommandWithOrWithoutItsEdc) {
    bind();
    pickFile("lix0.hex", 0);
    host.answers = {platform::Answer::No};
    EXPECT_EQ(run(), UpdateOutcome::Declined);
    EXPECT_EQ(sentBlocks(bench), std::vector<SentBlock>{block(7, 0, 50, true)});
    EXPECT_EQ(bench.image(0, 2), binBody("lix0.bin"));

    windows.edc = false;
    host.answers = {platform::Answer::No};
    EXPECT_EQ(run(), UpdateOutcome::Declined);
    const std::vector<SentBlock> sent = sentBlocks(bench);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1], block(7, 0, 46, false));
}

TEST_F(UpdateSequence, FinishWaitsSeventySecondsThenAsksAndNoReturnsToIdle) {
    bind();
    pickFile("LIX2.HEX", 10);
    host.answers = {platform::Answer::No};
    // The guard, and with it the unit, is held from before the first block until the wait is
    // over; the simulator logs the unit's hold and release among the commands.
    const auto unit = [this] {
        const std::vector<std::string> log = bench.log();
        const auto last = std::find_if(log.rbegin(), log.rend(), [](const std::string &line) {
            return line.rfind("HOLD", 0) == 0 || line.rfind("RELEASE", 0) == 0;
        });
        return last == log.rend() ? std::string("never held") : last->substr(0, last->find(' '));
    };
    host.onGuard = [&](const std::string &event) {
        windows.events.push_back(event + " after " + std::to_string(sentBlocks(bench).size()) +
                                 " blocks, unit " + unit());
    };
    host.onSleep = [&](unsigned) { windows.events.push_back("wait, unit " + unit()); };
    EXPECT_EQ(run(), UpdateOutcome::Declined);
    EXPECT_EQ(
        windows.events,
        (std::vector<std::string>{
            "taken: Updating the firmware of VEK CDRW 8432 after 0 blocks, unit HOLD", "wait shown",
            "wait, unit HOLD", "wait closed", "released after 1 blocks, unit RELEASE"}));
    EXPECT_EQ(host.sleeps, std::vector<unsigned>{70000});
    EXPECT_EQ(windows.timerIntervals, std::vector<int>{0});
    EXPECT_EQ(windows.progressPositions, std::vector<int>{0});
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "Update completed. Shutdown PC.");
    EXPECT_EQ(host.boxes[0].icon, platform::Icon::Question);
    EXPECT_EQ(host.boxes[0].buttons, platform::Buttons::YesNo);
    EXPECT_EQ(windows.lines.size(), 3u) << "the unit list is left as it was";
    // The side files keep their derived names; the chosen HEX file was opened despite its case.
    EXPECT_TRUE(std::filesystem::exists("LIX2.bin"));
    EXPECT_TRUE(std::filesystem::exists("LIX2.asc"));
}

TEST_F(UpdateSequence, YesAtTheFinalQuestionEndsWithStatusZero) {
    bind();
    pickFile("lix3.hex", 10);
    host.answers = {platform::Answer::Yes};
    EXPECT_THROW(run(), testing_support::ProcessExit);
    EXPECT_EQ(host.exitStatus, 0);
}

TEST_F(UpdateSequence, BlocksSplitAtSixteenKibibytesWithEvenLengths) {
    bind();
    // ImageLength 16385: 16386 bytes go out, a full block then two bytes.
    pickFile("lix4.hex", 16385 - 50);
    host.answers = {platform::Answer::No};
    run();
    EXPECT_EQ(sentBlocks(bench),
              (std::vector<SentBlock>{block(6, 0, 16384, false), block(7, 16384, 2, true)}));
    Bytes expected = binBody("lix4.bin");
    expected.push_back(0);  // the byte after the EDC rounds the length up
    EXPECT_EQ(bench.image(0, 2), expected);
    EXPECT_EQ(update::progressTarget(100, 0, 2, 16385), 99);
    EXPECT_EQ(state.ProgressTarget, 100);
}

TEST_F(UpdateSequence, ExactlyTwoFullBlocksWithAndWithoutEdc) {
    bind();
    pickFile("lix5.hex", 32768 - 50);  // with the EDC: 32768 bytes
    host.answers = {platform::Answer::No, platform::Answer::No};
    run();
    windows.edc = false;
    pickFile("lix6.hex", 32768 + 4 - 50);  // without the EDC: 32768 bytes
    run();
    EXPECT_EQ(sentBlocks(bench),
              (std::vector<SentBlock>{block(6, 0, 16384, false), block(7, 16384, 16384, true),
                                      block(6, 0, 16384, false), block(7, 16384, 16384, false)}));
}

TEST_F(UpdateSequence, RetryResendsTheSameBlockUntilIgnored) {
    bind(std::string(kFailingBus) +
         "fail 0 3 offset 0 attempts 4 sense 70 00 02 00 00 00 00 "
         "0a 00 00 00 00 04 01 00 00 00 00\n");
    pickFile("lix7.hex", 20000);
    // The ignored first block leaves the unit without the image's header, so the last block's
    // image check fails too; that failure is ignored as well.
    windows.dialog.answers = {CommandAnswer::Retry, CommandAnswer::Retry, CommandAnswer::Retry,
                              CommandAnswer::Ignore, CommandAnswer::Ignore};
    host.answers = {platform::Answer::No};
    EXPECT_EQ(run(), UpdateOutcome::Declined);
    const std::vector<SentBlock> sent = sentBlocks(bench);
    ASSERT_EQ(sent.size(), 5u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(sent[i], block(6, 0, 16384, false)) << "attempt " << i;
    }
    EXPECT_EQ(sent[4], block(7, 16384, 20050 - 16384, true));
    ASSERT_EQ(windows.dialog.shown.size(), 5u);
    EXPECT_EQ(windows.dialog.shown[4].Asc, 0x80) << "EDC error";
    EXPECT_EQ(windows.dialog.shown[0].SenseByte, 0x02);
    EXPECT_EQ(windows.dialog.shown[0].Asc, 0x04);
    EXPECT_EQ(windows.dialog.shown[0].Ascq, 0x01);
    EXPECT_EQ(windows.dialog.shown[0].OpCode, 0x3B);
    EXPECT_EQ(windows.dialog.shown[0].DeviceId, 3);
}

TEST_F(UpdateSequence, StopOnAMiddleBlockSendsNothingMoreAndSkipsTheWait) {
    bind(std::string(kFailingBus) + "fail 0 3 offset 16384 hastat 0x11 targstat 0 status 2\n");
    pickFile("lix8.hex", 40000);
    windows.dialog.answers = {CommandAnswer::Stop};
    EXPECT_EQ(run(), UpdateOutcome::Stopped);
    EXPECT_EQ(sentBlocks(bench),
              (std::vector<SentBlock>{block(6, 0, 16384, false), block(6, 16384, 16384, false)}));
    EXPECT_EQ(windows.progressPositions, std::vector<int>{0});
    EXPECT_EQ(windows.timerIntervals, std::vector<int>{0});
    EXPECT_TRUE(windows.events.empty()) << "no wait notice";
    EXPECT_EQ(host.guardEvents.size(), 2u) << "the guard is let go";
    EXPECT_TRUE(host.sleeps.empty());
    ASSERT_EQ(host.boxes.size(), 1u) << "no final question, one word on the stop";
    EXPECT_EQ(host.boxes[0].text,
              "The update was stopped after block 2 of 3 failed; nothing more was sent to the "
              "unit. The unit was not asked to store the new firmware. To install it, update the "
              "unit again.");
    ASSERT_EQ(windows.dialog.shown.size(), 1u);
    EXPECT_EQ(windows.dialog.shown[0].SrbStatus, 0x02);
    EXPECT_EQ(windows.dialog.shown[0].HostTargetStatus, 0x11);
}

TEST_F(UpdateSequence, IneligibleUnitGetsSideFilesButNothingIsSentOrShown) {
    bind();
    windows.selected = 1;  // the ZAV recorder at 0:7:4
    pickFile("lix9.hex", 100);
    EXPECT_EQ(run(), UpdateOutcome::NotEligible);
    EXPECT_EQ(state.SelectedTarget, 4);
    EXPECT_TRUE(std::filesystem::exists("lix9.bin"));
    EXPECT_TRUE(std::filesystem::exists("lix9.asc"));
    EXPECT_TRUE(sentBlocks(bench).empty());
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_TRUE(windows.dialog.shown.empty());
    EXPECT_TRUE(host.guardEvents.empty());
}

TEST_F(UpdateSequence, AnotherUpdateOrProgramLeavesTheUnitUntouched) {
    bind("adapter 0 id 7\nunit 0 2 vendor \"VEK\"\nunit 0 3 vendor \"VEK\" held\n");
    const struct {
        const char *name;
        int line;  // 0:7:2, or 0:7:3 which the bus marks as used by another program
        bool anotherUpdate;
        UpdateOutcome outcome;
        const char *text;
        const char *lastLogged;
    } rows[] = {
        {"another update holds the machine", 0, true, UpdateOutcome::AnotherUpdateRunning,
         update::kAnotherUpdateText, "RELEASE ha=0 target=2 lun=0 -> status=0x01"},
        {"another program holds the unit", 1, false, UpdateOutcome::UnitInUse,
         "The unit is in use by another program (a mounted disc or a recording program). Close "
         "that program or eject the disc, then try again.",
         "HOLD ha=0 target=3 lun=0 -> status=0xe5"},
    };
    pickFile("lix14.hex", 100);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        windows.selected = row.line;
        host.anotherUpdateRunning = row.anotherUpdate;
        host.boxes.clear();
        EXPECT_EQ(run(), row.outcome);
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(host.boxes[0].text, row.text);
        EXPECT_EQ(host.boxes[0].caption, std::nullopt);
        EXPECT_EQ(host.boxes[0].icon, platform::Icon::Warning);
        EXPECT_TRUE(sentBlocks(bench).empty());
        EXPECT_EQ(bench.log().back(), row.lastLogged);
        EXPECT_TRUE(host.guardEvents.empty());
        EXPECT_TRUE(windows.events.empty()) << "no wait";
        EXPECT_EQ(windows.lines.size(), 2u) << "the unit list is left as it was";
    }
}

// A damaged record, or a file cut short at a line boundary (every record it holds is good).
TEST_F(UpdateSequence, RefusedHexFileSendsNothing) {
    bind();
    const std::string whole = hex_text::hexWithData(3200);
    for (const std::string &text : {std::string(":10000000BADRECORD\n"),
                                    whole.substr(0, whole.find('\n', whole.size() / 2) + 1)}) {
        image_test::writeFile("lix10.hex", text);
        windows.fileName = "lix10.hex";
        host.boxes.clear();
        EXPECT_EQ(run(), UpdateOutcome::FileProblem);
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(host.boxes[0].icon, platform::Icon::Warning);
        EXPECT_TRUE(sentBlocks(bench).empty());
    }
}

TEST_F(UpdateSequence, FullCapacityImageArrivesByteForByte) {
    bind();
    pickFile("lix11.hex", aspi::kImageCapacity - 50);
    host.answers = {platform::Answer::No};
    EXPECT_EQ(run(), UpdateOutcome::Declined);
    const std::vector<SentBlock> sent = sentBlocks(bench);
    ASSERT_EQ(sent.size(), 88u);
    EXPECT_EQ(sent.back(), block(7, 87 * 16384, 16384, true));
    EXPECT_EQ(bench.image(0, 2), binBody("lix11.bin"));
    EXPECT_TRUE(windows.dialog.shown.empty()) << "the unit accepted the EDC";
}

TEST_F(UpdateSequence, CorruptedEdcIsReportedAsEdcError) {
    bind();
    pickFile("lix12.hex", 1000);
    windows.beforeTransfer = [this]() { state.DownloadImage[state.ImageLength - 1] ^= 0xFF; };
    windows.dialog.answers = {CommandAnswer::Ignore};
    host.answers = {platform::Answer::No};
    EXPECT_EQ(run(), UpdateOutcome::Declined);
    ASSERT_EQ(windows.dialog.shown.size(), 1u);
    const std::vector<std::string> lines = errors::commandErrorLines(windows.dialog.shown[0]);
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[2], "Sense Key:4  Hardware error");
    EXPECT_EQ(lines[3], "ASC:80  ASCQ:0");
    EXPECT_EQ(lines[4], "EDC error");
}

TEST_F(UpdateSequence, DownloadsUseTheBusSelectedAtUpdateTime) {
    bind();
    pickFile("lix13.hex", 10);
    host.answers = {platform::Answer::No};
    windows.bus = 0;
    run();
    const auto lines = bench.logLinesWith("cdb=3b");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("cdblen=10"), std::string::npos) << lines[0];
}
