// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The result check and the record lines, driven without a window. The dialog tests show the
// two examples and the flag rules through the real window.
#include <gtest/gtest.h>

#include "errors/CommandError.h"
#include "units/MainState.h"

using namespace errors;

namespace {

// Records what it was asked to show; never asks for a stop or a retry.
class RecordingDialog : public CommandErrorDialog {
  public:
    void showModal(const CommandErrorInfo &info) override { shown.push_back(info); }
    bool stopRequested() const override { return false; }
    bool retryRequested() const override { return false; }

    std::vector<CommandErrorInfo> shown;
};

}  // namespace

TEST(CheckCommandResult, OnlyExactSuccessPassesWithoutShowing) {
    units::MainState state;
    RecordingDialog dialog;
    EXPECT_TRUE(CheckCommandResult(state, 0x0001, 0x3B, dialog));
    EXPECT_TRUE(dialog.shown.empty());
    // Completed, but with a target status: still a failure.
    for (const aspi::CommandResult result : {0x0201, 0x0000, 0x0004, 0x1102, 0x0101}) {
        EXPECT_FALSE(CheckCommandResult(state, result, 0x3B, dialog)) << result;
    }
    EXPECT_EQ(dialog.shown.size(), 5u);
}

TEST(CheckCommandResult, FillsTheRecordFromSelectedUnitSenseAndResult) {
    units::MainState state;
    state.SelectedAdapter = 2;
    state.SelectedTarget = 5;
    state.LastSense[2] = 0x25;
    state.LastSense[12] = 0x80;
    state.LastSense[13] = 0x07;
    state.LastSense[7] = 0x0A;  // other bytes play no part
    RecordingDialog dialog;
    EXPECT_FALSE(CheckCommandResult(state, 0x1104, 0x3B, dialog));
    ASSERT_EQ(dialog.shown.size(), 1u);
    const CommandErrorInfo expected{2, 5, 0x3B, 0x25, 0x80, 0x07, 0x04, 0x11};
    EXPECT_EQ(dialog.shown[0], expected);
}

TEST(CommandErrorLines, NumberFormsAndTexts) {
    using Lines = std::vector<std::string>;
    const struct {
        CommandErrorInfo info;
        Lines lines;
    } cases[] = {
        // Flags in the sense byte: the key shows its low four bits, the message needs the whole
        // byte.
        {{0, 0, 0x3B, 0xE5, 0x80, 0x00, 0x04, 0x11},
         {"Host Adapter ID:0   Device ID:0", "Operate Code:3b", "Sense Key:5  Illegal request",
          "ASC:80  ASCQ:0", "", ""}},
        {{12, 6, 0xE0, 0x0B, 0xFF, 0x80, 0x04, 0x00},
         {"Host Adapter ID:12   Device ID:6", "Operate Code:e0", "Sense Key:b  Aborted command",
          "ASC:ff  ASCQ:80", "IAP over run", ""}},
        {{255, 6, 0xE0, 0x05, 0x24, 0x00, 0x02, 0x11},
         {"Host Adapter ID:255   Device ID:6", "Operate Code:e0",
          "ASPI State:2    SCSI command has been aborted.",
          "Host adapter and target state:11    Selection time out.", ""}},
        // Completed with CHECK CONDITION: status lines, no sense lines.
        {{0, 2, 0x00, 0x05, 0x24, 0x00, 0x01, 0x02},
         {"Host Adapter ID:0   Device ID:2", "Operate Code:0",
          "ASPI State:1    SCSI request has completed without error.",
          "Host adapter and target state:2    ", ""}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(commandErrorLines(c.info), c.lines);
    }
}
