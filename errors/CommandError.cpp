// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "errors/CommandError.h"

#include "errors/NumberForms.h"
#include "errors/SenseTexts.h"
#include "units/MainState.h"

namespace errors {

namespace {

// Offsets in fixed-format sense data.
constexpr std::size_t kSenseKeyByte = 2;
constexpr std::size_t kAscByte = 12;
constexpr std::size_t kAscqByte = 13;

}  // namespace

CommandErrorInfo makeCommandErrorInfo(const units::MainState &state, aspi::CommandResult result,
                                      std::uint8_t opCode) {
    CommandErrorInfo info;
    info.HostAdapterId = state.SelectedAdapter;
    info.DeviceId = state.SelectedTarget;
    info.OpCode = opCode;
    info.SenseByte = state.LastSense[kSenseKeyByte];
    info.Asc = state.LastSense[kAscByte];
    info.Ascq = state.LastSense[kAscqByte];
    info.SrbStatus = static_cast<std::uint8_t>(result & 0xFF);
    info.HostTargetStatus = static_cast<std::uint8_t>(result >> 8);
    return info;
}

std::vector<std::string> commandErrorLines(const CommandErrorInfo &info) {
    // Sense data belongs to a request that completed with an error; other failures show the
    // request status and the host adapter or target status instead.
    std::vector<std::string> lines;
    lines.push_back("Host Adapter ID:" + decimalText(info.HostAdapterId) +
                    "   Device ID:" + decimalText(info.DeviceId));
    lines.push_back("Operate Code:" + hexText(info.OpCode));
    if (info.SrbStatus == aspi::SS_ERR) {
        lines.push_back("Sense Key:" + hexText(info.SenseByte & 0x0Fu) + "  " +
                        SenseKeyName(info.SenseByte));
        lines.push_back("ASC:" + hexText(info.Asc) + "  ASCQ:" + hexText(info.Ascq));
        lines.push_back(AdditionalSenseText(info.SenseByte, info.Asc, info.Ascq));
    } else {
        lines.push_back("ASPI State:" + hexText(info.SrbStatus) + "    " +
                        SrbStatusText(info.SrbStatus));
        lines.push_back("Host adapter and target state:" + hexText(info.HostTargetStatus) + "    " +
                        HostTargetStatusText(info.HostTargetStatus));
    }
    lines.emplace_back();
    return lines;
}

bool CheckCommandResult(const units::MainState &state, aspi::CommandResult result,
                        std::uint8_t opCode, CommandErrorDialog &dialog) {
    if (result == aspi::kCommandSuccess) {
        return true;
    }
    dialog.showModal(makeCommandErrorInfo(state, result, opCode));
    return false;
}

CommandAnswer answerOf(const CommandErrorDialog &dialog) {
    if (dialog.stopRequested()) {
        return CommandAnswer::Stop;
    }
    return dialog.retryRequested() ? CommandAnswer::Retry : CommandAnswer::Ignore;
}

}  // namespace errors
