// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The shell's face of the update sequence: what the window's controls, chooser and dialogs give
// the sequence, taken from the update command, and what they show, written to standard error.
// On a terminal it asks: [y/N] before the first block unless --yes, and Retry, Ignore or Stop
// (r/i/s) on a failed block unless --on-error stop; without a person nothing is sent unconfirmed
// and a failed block stops the update.
#pragma once

#include <cstdint>
#include <string>

#include "console/Terminal.h"
#include "console/UpdateCommand.h"
#include "errors/CommandError.h"
#include "units/MainState.h"
#include "update/UpdateSequence.h"

namespace console {

class ConsoleFace : public update::UpdateWindows, public errors::CommandErrorDialog {
  public:
    // `askOnError`: a failed block is put to the person at the terminal; otherwise it stops.
    ConsoleFace(const units::MainState &state, const UpdateCommand &command, Terminal &terminal,
                bool askOnError);

    // Selects the line of the unit list the update is aimed at.
    void select(const std::string &line) { m_selected = line; }

    // update::UpdateWindows
    bool selectedUnitLine(std::string &line) const override;
    // Moves into FILE's folder and returns its name, as the chooser leaves the process in the
    // folder of the file it returns; false (said on standard error) when the folder cannot be
    // entered.
    bool chooseFirmwareFile(std::string &fileName) override;
    int firmwareVariant() const override { return m_command.variant; }
    int busType() const override { return m_command.bus; }
    bool createEdc() const override { return m_command.edc; }
    int progressMaximum() const override { return 100; }
    void setProgressPosition(int) override {}
    void setTimerInterval(int) override {}
    void showWaitNotice() override {}  // the host's countdown shows the wait
    void closeWaitNotice() override {}
    errors::CommandErrorDialog &commandErrorDialog() override { return *this; }
    bool confirmTransfer() override;
    // "2/3 blocks", and how many of them the unit did not take (ignored failures).
    void showBlocksDone(std::uint32_t done, std::uint32_t count) override;
    // The shell cannot wait for an answer at the end: it states the result.
    bool asksFinalQuestion() const override { return false; }

    // errors::CommandErrorDialog: writes the dialog's caption and lines, then asks or stops.
    void showModal(const errors::CommandErrorInfo &info) override;
    bool stopRequested() const override { return m_stop; }
    bool retryRequested() const override { return m_retry; }

  private:
    const units::MainState &m_state;
    const UpdateCommand &m_command;
    Terminal &m_terminal;
    const bool m_askOnError;
    std::string m_hexPath;  // FILE as a whole path, for the confirmation
    std::string m_selected;
    // The dialog's flags, kept as the window's dialog keeps them: stop for the latest showing,
    // retry from the latest Retry or Ignore.
    bool m_stop = false;
    bool m_retry = false;
};

}  // namespace console
