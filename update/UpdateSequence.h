// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The firmware update behind the Update button, from the selected unit to the final question:
// choose a file, check its name against the variant, build the image and write the side files,
// send the image to an eligible unit in 16 KiB WRITE BUFFER blocks with Retry / Ignore / Stop on a
// failed block, wait 70 seconds, then ask whether to end the program.
//
// From right before the first block until the wait ends (or Stop) the update holds the host's
// update guard (platform/UpdateGuard.h) and, with a manager that can, the unit itself
// (aspi/UnitHold.h); when another program holds the unit, or another update the machine, nothing
// is sent. When the holder is this program's keeper of an update of the unit that ended moments
// ago (platform/UpdateKeeper.h), the message says so and how long to wait.
//
// When the update starts and again right before the first block it runs the checks of
// update/UpdateChecks.h (a unit behind a USB bridge, a low battery) and asks its face to say a
// refusal, or what the user should know.
//
// The sequence reaches its face (the main window, or the shell's update) only through
// UpdateWindows and the host only through platform::host(), so it runs in tests with scripted
// answers and a recording sleep.
#pragma once

#include <cstdint>
#include <string>

#include "units/MainState.h"

namespace errors {
class CommandErrorDialog;
}

namespace update {

class Journal;

inline constexpr std::uint32_t kBlockSize = 16384;
inline constexpr unsigned kFinalWaitMilliseconds = 70000;

inline constexpr const char *kNameRefusedText = "This file can't be downloaded by this program!";
inline constexpr const char *kNameRefusedCaption = "error";
inline constexpr const char *kCompletedText = "Update completed. Shutdown PC.";
inline constexpr const char *kConfirmCaption = "Confirm";
inline constexpr const char *kAnotherUpdateText =
    "Another firmware update is running on this computer. Try again when it has finished.";
inline constexpr const char *kUnitInUseText =
    "The unit is in use by another program (a mounted disc or a recording program). Close that "
    "program or eject the disc, then try again.";
inline constexpr const char *kUnitStoringText =
    "An update of this unit ended less than 70 seconds ago and the unit may still be storing its "
    "firmware. Wait a minute, then try again.";

// What the update needs of the main window and its dialogs.
class UpdateWindows {
  public:
    virtual ~UpdateWindows() = default;
    // The text of the unit list's selected line; false when no line is selected.
    virtual bool selectedUnitLine(std::string &line) const = 0;
    // Shows the file chooser modally. Returns its FileChosen flag and, through `fileName`, the
    // text of its file-name field.
    virtual bool chooseFirmwareFile(std::string &fileName) = 0;
    virtual int firmwareVariant() const = 0;
    virtual int busType() const = 0;
    virtual bool createEdc() const = 0;  // the " Create  EDC" check box
    virtual int progressMaximum() const = 0;
    virtual void setProgressPosition(int position) = 0;
    virtual void setTimerInterval(int milliseconds) = 0;  // 0 stops the progress timer
    virtual void showWaitNotice() = 0;                    // modeless
    virtual void closeWaitNotice() = 0;
    virtual errors::CommandErrorDialog &commandErrorDialog() = 0;
    // Asked once the image is built and the unit found eligible, before the unit is held and
    // anything is sent: false sends nothing. The window asks nothing here (the chooser's OK was
    // the user's word); the shell asks on a terminal.
    virtual bool confirmTransfer() { return true; }
    // Told before the first block (done 0) and after each block the unit took or the user had
    // ignored: `done` of the transfer's `count` blocks. The window's progress bar follows its
    // timer and the progress target instead.
    virtual void showBlocksDone(std::uint32_t /*done*/, std::uint32_t /*count*/) {}
    // The main window's controls that act (Update, About, Quit, the bus type, the variant group,
    // Create EDC): holdControls() disables them and notes how each was, releaseControls() gives
    // each back what it had. A window without such controls holds nothing.
    virtual void holdControls() {}
    // Whether the update ends with the final question. A face that cannot wait for its answer
    // (the shell) is told the result instead, without a question.
    virtual bool asksFinalQuestion() const { return true; }
    virtual void releaseControls() {}
    // Says why a check before the first block (update/UpdateChecks.h) refuses the update, and
    // what to do: a warning box by default (a line in the shell, whose host writes boxes so).
    virtual void sayRefusal(const std::string &text);
    // Says what a check found that lets the update go on but the user should know (a battery
    // that is not low): an information box with OK by default.
    virtual void sayNotice(const std::string &text);
};

// How a run ended (Yes at the final question ends the process instead).
enum class UpdateOutcome {
    AlreadyRunning,  // called while an update runs: nothing was done
    NoUnitSelected,
    Refused,       // a check before the first block refused: the unit hangs on a USB bridge, or the
                   // battery is low (said); nothing was sent
    Cancelled,     // the chooser was not closed with OK
    NameRefused,   // the name does not begin with the variant's code
    FileProblem,   // a file could not be opened, read or written, or the HEX file was refused
    NotEligible,   // the side files were written; nothing was sent
    NotConfirmed,  // the side files were written; the transfer was not confirmed
    AnotherUpdateRunning,  // the side files were written; another update holds the machine
    UnitInUse,  // the side files were written; another program, or the keeper of an update of
                // it that ended moments ago, holds the unit
    Stopped,    // Stop in the command error dialog; stoppedText() was shown
    Declined,   // No at the final question
    Finished,   // the wait is over and the result was told to a face that asks no question
};

// Number of bytes sent: the image with or without its EDC, rounded up to an even count.
std::uint32_t transferLength(std::uint32_t imageLength, bool withEdc);

// The progress target before the first attempt of command `index` of `commandCount`.
std::int32_t progressTarget(int maximum, std::uint32_t index, std::uint32_t commandCount,
                            std::uint32_t imageLength);

// The result of an update whose wait is over: kCompletedText with no ignored block; otherwise
// how many of the transfer's blocks the unit did not take, that its firmware may be incomplete
// and that it must be updated again before the PC is switched off.
std::string finalResultText(std::uint32_t ignoredBlocks, std::uint32_t blockCount);

// The text of the final question: the result (finalResultText), and after an ignored block
// whether to end the program. Yes still ends the program and No returns to the list.
std::string finalQuestionText(std::uint32_t ignoredBlocks, std::uint32_t blockCount);

// The text after Stop in the command error dialog, shown by either face in one box: the update
// stopped after block `block` (the one that failed, 1 for the first) of `blockCount`, and what
// that means for the unit. Only the last block asks the unit to store the firmware: before it the
// unit was not asked to; at it the unit may hold part of the new firmware and must be updated
// again before it is switched off.
std::string stoppedText(std::uint32_t block, std::uint32_t blockCount);

// What the update guard tells the desktop: "Updating the firmware of <vendor> <product>", the
// unit's texts without their trailing blanks.
std::string guardReason(const units::UnitTable &units, int adapter, int target);

// Runs one update. Changes the state's selected unit, image, LastResult, LastSense,
// ProgressTarget, BlockCount and IgnoredBlocks; writes the side files beside the HEX file. From its
// start until it returns, state.UpdateRunning is set and the window's controls are held; a call
// meanwhile (the chooser, the command error dialog, the wait and the final question run event
// loops, and an accessibility client's action reaches a button whatever modality or its enabled
// state says) returns AlreadyRunning at once.
// With a journal (update/Journal.h) the update is recorded there from its first block on.
UpdateOutcome UpdateClick(units::MainState &state, UpdateWindows &windows,
                          const Journal *journal = nullptr);

}  // namespace update
