// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Judging the result of a drive command during a download, and the record of a failed one.
//
// Contract with the caller (the update sequence), for every command it sends:
//   if (!errors::CheckCommandResult(state, result, opCode, dialog)) {
//       switch (errors::answerOf(dialog)) { Stop: abandon the download; Retry: send the same
//       command again and judge the new result the same way; Ignore: count it as done. }
//   }
// Stop outranks Retry: the retry flag may still be set from an earlier failure.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "aspi/AspiManager.h"

namespace units {
struct MainState;
}

namespace errors {

// The eight bytes that describe a failed command.
struct CommandErrorInfo {
    std::uint8_t HostAdapterId = 0;     // the selected adapter the command went to
    std::uint8_t DeviceId = 0;          // the selected target the command went to
    std::uint8_t OpCode = 0;            // CDB byte 0 (3Bh for WRITE BUFFER)
    std::uint8_t SenseByte = 0;         // sense data byte 2, whole; low four bits: sense key
    std::uint8_t Asc = 0;               // sense data byte 12
    std::uint8_t Ascq = 0;              // sense data byte 13
    std::uint8_t SrbStatus = 0;         // low byte of the command result
    std::uint8_t HostTargetStatus = 0;  // high byte: host adapter status, else target status

    bool operator==(const CommandErrorInfo &) const = default;
};

// Fills the record from the selected unit, the shared sense buffer and the result. The sense
// buffer holds the sense data of the latest command that ended in CHECK CONDITION with no host
// adapter status; for other failures these are an earlier command's bytes, or zeros.
CommandErrorInfo makeCommandErrorInfo(const units::MainState &state, aspi::CommandResult result,
                                      std::uint8_t opCode);

// The lines a record adds to the error text box, the separating empty line last: six lines
// when the request status is SS_ERR (ids, operation code, sense key, ASC/ASCQ, sense message),
// five otherwise (ids, operation code, request status, host adapter/target status).
std::vector<std::string> commandErrorLines(const CommandErrorInfo &info);

// The dialog that shows a failed command and asks how to go on.
class CommandErrorDialog {
  public:
    virtual ~CommandErrorDialog() = default;
    // Shows the record modally (appending its lines to the text box, resetting the stop flag)
    // and returns once the user has answered or the window was closed.
    virtual void showModal(const CommandErrorInfo &info) = 0;
    // The outcome flags, read after showModal: stop from "Stop" of the latest showing only;
    // retry from the latest "Retry" (set) or "Ignore" (cleared), kept across showings.
    virtual bool stopRequested() const = 0;
    virtual bool retryRequested() const = 0;
};

// True exactly when `result` is 0x0001 (success with no adapter or target status); nothing is
// shown then. Otherwise fills the record, shows `dialog` modally and returns false once it has
// closed; the caller then reads the answer with answerOf.
bool CheckCommandResult(const units::MainState &state, aspi::CommandResult result,
                        std::uint8_t opCode, CommandErrorDialog &dialog);

enum class CommandAnswer { Stop, Retry, Ignore };

// The user's answer as the flags give it: stop outranks retry; neither means ignore.
CommandAnswer answerOf(const CommandErrorDialog &dialog);

}  // namespace errors
