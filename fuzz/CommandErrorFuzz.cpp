// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Fuzz target of the command error record: any command result, operation code, selected unit
// and 18 sense bytes, through to the lines the command error dialog shows.
//
// Input: result (2 bytes, little-endian), operation code, selected adapter, selected target,
// then the sense buffer (18 bytes; missing ones are zero, further ones ignored).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "errors/CommandError.h"
#include "errors/SenseTexts.h"
#include "fuzz/FuzzCheck.h"
#include "units/MainState.h"

namespace {

constexpr std::size_t kHeaderLength = 5;

using fuzz_support::check;

// A dialog that records what it was shown and answers Stop.
class RecordingDialog : public errors::CommandErrorDialog {
  public:
    void showModal(const errors::CommandErrorInfo &info) override {
        ++showings;
        shown = info;
    }
    bool stopRequested() const override { return true; }
    bool retryRequested() const override { return false; }

    int showings = 0;
    errors::CommandErrorInfo shown;
};

// A line of the text box: one line of printable single-byte text.
bool isShowable(const std::string &line) {
    return std::none_of(line.begin(), line.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < kHeaderLength) {
        return 0;
    }
    static units::MainState state;
    const auto result = static_cast<aspi::CommandResult>(data[0] | data[1] << 8);
    const std::uint8_t opCode = data[2];
    state.SelectedAdapter = data[3];
    state.SelectedTarget = data[4];
    std::fill(std::begin(state.LastSense), std::end(state.LastSense), 0);
    std::copy_n(data + kHeaderLength, std::min(size - kHeaderLength, sizeof state.LastSense),
                state.LastSense);

    RecordingDialog dialog;
    const bool success = errors::CheckCommandResult(state, result, opCode, dialog);
    check(success == (result == aspi::kCommandSuccess));
    check(dialog.showings == (success ? 0 : 1));

    const errors::CommandErrorInfo info = errors::makeCommandErrorInfo(state, result, opCode);
    check(success || dialog.shown == info);
    check(info.OpCode == opCode && info.SenseByte == state.LastSense[2] &&
          info.Asc == state.LastSense[12] && info.Ascq == state.LastSense[13]);

    const std::vector<std::string> lines = errors::commandErrorLines(info);
    check(lines.size() == (info.SrbStatus == aspi::SS_ERR ? 6u : 5u));
    check(lines.back().empty());
    // Every line but the sense message (empty for a code without a text) starts with a label.
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        check((i == 4 || !lines[i].empty()) && isShowable(lines[i]));
    }
    return 0;
}
