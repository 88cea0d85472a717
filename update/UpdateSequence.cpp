// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "update/UpdateSequence.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "aspi/DriveCommands.h"
#include "aspi/UnitHold.h"
#include "errors/CommandError.h"
#include "image/PrepareDownloadImage.h"
#include "platform/InputlessWait.h"
#include "platform/Platform.h"
#include "platform/UpdateKeeper.h"
#include "units/FirmwareVariants.h"
#include "units/UnitLine.h"
#include "update/Journal.h"
#include "update/UpdateChecks.h"
#include "update/UpdateTrace.h"

namespace update {

namespace {

// One run of UpdateClick, from its start until it returns whichever way (Stop, an error, an
// exception): marks the state as updating and holds the window's controls, then lets go of both.
class RunningUpdate {
  public:
    RunningUpdate(units::MainState &state, UpdateWindows &windows)
        : m_state(state), m_windows(windows) {
        m_state.UpdateRunning = true;
        m_windows.holdControls();
    }
    ~RunningUpdate() {
        m_windows.releaseControls();
        m_state.UpdateRunning = false;
    }
    RunningUpdate(const RunningUpdate &) = delete;
    RunningUpdate &operator=(const RunningUpdate &) = delete;

  private:
    units::MainState &m_state;
    UpdateWindows &m_windows;
};

struct Block {
    std::uint32_t number;  // 1 for the first
    std::uint32_t offset;
    std::uint32_t length;
    std::uint8_t mode;
    bool lastBlockFlag;
};

Block blockAt(std::uint32_t index, std::uint32_t commandCount, std::uint32_t length, bool withEdc) {
    const bool last = index + 1 == commandCount;
    const std::uint32_t offset = index * kBlockSize;
    return Block{index + 1, offset, last ? length - offset : kBlockSize,
                 last ? aspi::kModeDownloadWithOffsetsAndSave : aspi::kModeDownloadWithOffsets,
                 last && withEdc};
}

const char *answerName(errors::CommandAnswer answer) {
    switch (answer) {
        case errors::CommandAnswer::Retry:
            return "retry";
        case errors::CommandAnswer::Ignore:
            return "ignore";
        case errors::CommandAnswer::Stop:
            break;
    }
    return "stop";
}

enum class BlockEnd { Taken, Ignored, Stopped };

// The journal's record and the trace of one update.
struct UpdateRecords {
    UpdateRecord &journal;
    UpdateTrace &trace;
};

// Sends one block until it succeeds, is ignored or stopped. While the unit takes a block the
// window stays drawn and answers the window manager, taking no input, as during the wait.
BlockEnd sendBlock(units::MainState &state, UpdateWindows &windows, const Block &block,
                   UpdateRecords records) {
    errors::CommandErrorDialog &dialog = windows.commandErrorDialog();
    int bus = 0;
    // The command runs off the window's thread: the bus type is read here, before each attempt.
    const aspi::DriveCommands commands(state.aspi, [&bus]() { return bus; });
    const std::uint8_t *data = state.DownloadImage + block.offset;
    for (;;) {
        bus = windows.busType();
        aspi::SRB_ExecSCSICmd sent{};
        const UpdateTrace::Clock::time_point began = UpdateTrace::Clock::now();
        platform::runWithoutInput([&] {
            state.LastResult = commands.SendWriteBuffer(
                state.SelectedAdapter, state.SelectedTarget, 0, block.length, block.offset, data,
                state.LastSense, block.mode, 0, block.lastBlockFlag ? 1 : 0, &sent);
        });
        const UpdateTrace::Clock::time_point ended = UpdateTrace::Clock::now();
        if (errors::CheckCommandResult(state, state.LastResult, aspi::kOpWriteBuffer, dialog)) {
            records.trace.command(sent, data, began, ended, nullptr);
            return BlockEnd::Taken;
        }
        const errors::CommandAnswer answer = errors::answerOf(dialog);
        records.trace.command(sent, data, began, ended, answerName(answer));
        UpdateRecord &record = records.journal;
        // LastSense holds this command's sense only when it ended in CHECK CONDITION; after any
        // other failure it still holds an earlier command's (or zeros).
        record.blockFailed(block.number, state.LastResult, state.LastSense,
                           state.LastResult == aspi::kCheckConditionResult, answerName(answer));
        switch (answer) {
            case errors::CommandAnswer::Stop:
                return BlockEnd::Stopped;
            case errors::CommandAnswer::Ignore:
                return BlockEnd::Ignored;
            case errors::CommandAnswer::Retry:
                break;  // the same command again; the progress target stays
        }
    }
}

// Sends every block, counting them and those ignored in the state. Returns the number of the block
// stopped at (1 for the first), or nothing when every block went.
std::optional<std::uint32_t> sendImage(units::MainState &state, UpdateWindows &windows,
                                       bool withEdc, UpdateRecords records) {
    const std::uint32_t length = transferLength(state.ImageLength, withEdc);
    const std::uint32_t commandCount = (length + kBlockSize - 1) / kBlockSize;
    state.BlockCount = commandCount;
    state.IgnoredBlocks = 0;
    const int maximum = windows.progressMaximum();
    windows.showBlocksDone(0, commandCount);
    for (std::uint32_t index = 0; index < commandCount; ++index) {
        state.ProgressTarget = progressTarget(maximum, index, commandCount, state.ImageLength);
        switch (sendBlock(state, windows, blockAt(index, commandCount, length, withEdc), records)) {
            case BlockEnd::Stopped:
                return index + 1;
            case BlockEnd::Ignored:
                ++state.IgnoredBlocks;
                break;
            case BlockEnd::Taken:
                break;
        }
        records.journal.blockDone(index + 1);
        windows.showBlocksDone(index + 1, commandCount);
    }
    return std::nullopt;
}

// The unit's text up to its first NUL, without trailing blanks.
std::string trimmed(const char *entry, std::size_t width) {
    std::string text(units::entryText(entry, width));
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

// The checks before the first block of update/UpdateChecks.h, on the selected unit, run when the
// update starts and again right before the first block: says a refusal, and once per update a
// notice or that the power supply could not be asked. Returns false when a check refuses.
class BeforeFirstBlock {
  public:
    BeforeFirstBlock(units::MainState &state, UpdateWindows &windows, std::string unitAddress)
        : m_state(state), m_windows(windows), m_unitAddress(std::move(unitAddress)) {}

    bool pass() {
        const CheckOverrides overrides{m_state.AllowUsbBridge, m_state.AllowBattery};
        m_transport = m_state.aspi.unitTransport(m_state.SelectedAdapter, m_state.SelectedTarget);
        const Check transport = transportCheck(m_transport, m_unitAddress, overrides);
        if (transport.result == CheckResult::Refuse) {
            m_windows.sayRefusal(transport.reason);
            return false;
        }
        // A system that could not tell at the start (no UPower, a bus that does not answer) is
        // not asked again: that would only hold the first block up for the deadline once more.
        if (m_power.source != platform::PowerState::Source::Unknown) {
            m_power = platform::host().powerState();
        }
        const Check power = powerCheck(m_power, overrides);
        if (power.result == CheckResult::Refuse) {
            m_windows.sayRefusal(power.reason);
            return false;
        }
        if (m_power.source == platform::PowerState::Source::Unknown && !m_saidUnknown) {
            m_saidUnknown = true;
            std::fprintf(stderr,
                         "cdrw-fwupdate: the power supply is not checked (%s); keep the computer "
                         "on the mains until the update has finished\n",
                         m_power.problem.c_str());
        }
        if (m_power.source == platform::PowerState::Source::Battery && !m_saidBattery) {
            m_saidBattery = true;
            m_windows.sayNotice(power.reason);
        }
        return true;
    }

    // What the latest pass found, for the journal.
    void describe(UpdateFacts &facts) const {
        facts.transport = aspi::transportName(m_transport.kind);
        facts.usbId = aspi::usbIdText(m_transport);
        facts.power = powerText(m_power);
    }

  private:
    units::MainState &m_state;
    UpdateWindows &m_windows;
    std::string m_unitAddress;
    aspi::TransportInfo m_transport;
    platform::PowerState m_power;
    bool m_saidUnknown = false;
    bool m_saidBattery = false;
};

// What the journal records of the update about to send its first block.
UpdateFacts journalFacts(const units::MainState &state, const UpdateWindows &windows,
                         const std::string &unitLine, const image::HexFileFacts &hexFile,
                         bool withEdc, JournalContext context, long long keeperPid) {
    const int a = state.SelectedAdapter;
    const int t = state.SelectedTarget;
    UpdateFacts facts;
    facts.context = std::move(context);
    facts.unitAddress = unitLine.substr(0, unitLine.find(' '));
    facts.vendor = units::entryText(state.units.vendor[a][t], 8);
    facts.product = units::entryText(state.units.product[a][t], sizeof state.units.product[a][t]);
    facts.revision =
        units::entryText(state.units.revision[a][t], sizeof state.units.revision[a][t]);
    facts.bus = windows.busType() == 0 ? "SCSI" : "ATAPI";
    facts.filePath = hexFile.path;
    facts.fileSha256 = hexFile.sha256;
    facts.image = state.DownloadImage;
    facts.imageLength = transferLength(state.ImageLength, withEdc);
    const std::uint8_t *edc = state.DownloadImage + state.ImageLength - 4;
    facts.edc = edc[0] | (std::uint32_t{edc[1]} << 8) | (std::uint32_t{edc[2]} << 16) |
                (std::uint32_t{edc[3]} << 24);
    facts.blockCount = (facts.imageLength + kBlockSize - 1) / kBlockSize;
    facts.keeperPid = keeperPid;
    return facts;
}

}  // namespace

void UpdateWindows::sayRefusal(const std::string &text) {
    platform::messageBox(text, std::nullopt, platform::Icon::Warning);
}

void UpdateWindows::sayNotice(const std::string &text) {
    platform::messageBox(text, std::nullopt, platform::Icon::Information);
}

std::string finalResultText(std::uint32_t ignoredBlocks, std::uint32_t blockCount) {
    if (ignoredBlocks == 0) {
        return kCompletedText;
    }
    return "The unit did not take " + std::to_string(ignoredBlocks) + " of " +
           std::to_string(blockCount) +
           " blocks: its firmware may be incomplete. Update it again before you switch the PC "
           "off.";
}

std::string finalQuestionText(std::uint32_t ignoredBlocks, std::uint32_t blockCount) {
    const std::string result = finalResultText(ignoredBlocks, blockCount);
    return ignoredBlocks == 0 ? result : result + " End the program?";
}

std::string stoppedText(std::uint32_t block, std::uint32_t blockCount) {
    const std::string stopped = "The update was stopped after block " + std::to_string(block) +
                                " of " + std::to_string(blockCount) +
                                " failed; nothing more was sent to the unit. ";
    if (block < blockCount) {
        return stopped +
               "The unit was not asked to store the new firmware. To install it, update the unit "
               "again.";
    }
    return stopped +
           "That block asks the unit to store the new firmware, so the unit may hold part of it. "
           "Update it again before you switch the PC off.";
}

std::string guardReason(const units::UnitTable &units, int adapter, int target) {
    return "Updating the firmware of " +
           trimmed(units.vendor[adapter][target], sizeof units.vendor[adapter][target]) + " " +
           trimmed(units.product[adapter][target], sizeof units.product[adapter][target]);
}

std::uint32_t transferLength(std::uint32_t imageLength, bool withEdc) {
    const std::uint32_t length = withEdc ? imageLength : imageLength - 4;
    // The unit always receives an even count; the extra byte is the next image byte.
    return length + (length & 1u);
}

std::int32_t progressTarget(int maximum, std::uint32_t index, std::uint32_t commandCount,
                            std::uint32_t imageLength) {
    if (index + 1 == commandCount) {
        return maximum;
    }
    const std::int64_t reached = std::int64_t{maximum} * kBlockSize * (index + 1);
    return static_cast<std::int32_t>(reached / (std::int64_t{imageLength} + 4));
}

UpdateOutcome UpdateClick(units::MainState &state, UpdateWindows &windows, const Journal *journal) {
    // A second update inside the first would rebuild the image that is being sent.
    if (state.UpdateRunning) {
        return UpdateOutcome::AlreadyRunning;
    }
    const RunningUpdate running(state, windows);
    state.BlockCount = 0;
    state.IgnoredBlocks = 0;

    std::string line;
    if (!windows.selectedUnitLine(line) ||
        !units::DecodeUnitLine(line, state.SelectedAdapter, state.SelectedTarget)) {
        return UpdateOutcome::NoUnitSelected;
    }

    BeforeFirstBlock checks(state, windows, line.substr(0, line.find(' ')));
    if (!checks.pass()) {
        return UpdateOutcome::Refused;
    }

    std::string fileName;
    if (!windows.chooseFirmwareFile(fileName)) {
        return UpdateOutcome::Cancelled;
    }
    if (!units::IsFileNameAccepted(windows.firmwareVariant(), fileName)) {
        platform::messageBox(kNameRefusedText, std::string(kNameRefusedCaption),
                             platform::Icon::Warning);
        return UpdateOutcome::NameRefused;
    }

    image::HexFileFacts hexFile;
    if (!image::prepareDownloadImage(fileName, state.DownloadImage, state.ImageLength, &hexFile)) {
        return UpdateOutcome::FileProblem;
    }

    const int unit = state.SelectedAdapter * units::kTableTargets + state.SelectedTarget;
    if (state.SelectedAdapter >= units::kTableAdapters || state.units.Eligible[unit] != 1) {
        return UpdateOutcome::NotEligible;
    }

    const bool withEdc = windows.createEdc();
    if (!windows.confirmTransfer()) {
        return UpdateOutcome::NotConfirmed;
    }
    // The battery may have run down, or the mains gone, while the image was built and confirmed.
    if (!checks.pass()) {
        return UpdateOutcome::Refused;
    }
    {
        // The unit first: when another program has it, nothing else is taken. A manager that
        // cannot hold it for another reason (the unit is gone) leaves the update as without a
        // hold, and the first block tells what is wrong.
        std::unique_ptr<platform::UnitHold> unitHold;
        if (state.aspi.canHoldUnits()) {
            std::uint32_t status = aspi::SS_COMP;
            unitHold = aspi::ManagerUnitHold::take(state.aspi, state.SelectedAdapter,
                                                   state.SelectedTarget, status);
            if (status == aspi::SS_ASPI_IS_BUSY) {
                const bool storing =
                    platform::UpdateKeeper::keepsUnitOfEndedUpdate(aspi::ManagerUnitHold::nameOf(
                        state.aspi, state.SelectedAdapter, state.SelectedTarget));
                platform::messageBox(storing ? kUnitStoringText : kUnitInUseText, std::nullopt,
                                     platform::Icon::Warning);
                return UpdateOutcome::UnitInUse;
            }
        }
        // Held from here to the end of the wait, whichever way this block is left.
        const std::unique_ptr<platform::UpdateGuard> guard = platform::host().takeUpdateGuard(
            guardReason(state.units, state.SelectedAdapter, state.SelectedTarget),
            std::move(unitHold));
        if (!guard) {
            platform::messageBox(kAnotherUpdateText, std::nullopt, platform::Icon::Warning);
            return UpdateOutcome::AnotherUpdateRunning;
        }
        UpdateRecord record(journal);
        UpdateTrace trace;
        if (journal != nullptr) {
            UpdateFacts facts =
                journalFacts(state, windows, line, hexFile, withEdc,
                             journal->context(state.aspi.simulated(), state.aspi.simulatedBoot()),
                             guard->keeperProcess());
            checks.describe(facts);
            record.begin(facts);
            trace.begin(journal, record.updateId(), facts);
        }
        if (const auto stoppedAt = sendImage(state, windows, withEdc, {record, trace})) {
            record.end(true);
            windows.setTimerInterval(0);
            windows.setProgressPosition(0);
            platform::messageBox(stoppedText(*stoppedAt, state.BlockCount), std::nullopt,
                                 platform::Icon::Warning);
            return UpdateOutcome::Stopped;
        }
        windows.showWaitNotice();
        windows.setTimerInterval(0);
        windows.setProgressPosition(0);
        platform::waitWithoutInput(kFinalWaitMilliseconds);
        windows.closeWaitNotice();
        record.end(false);
    }  // a termination signal held meanwhile ends the program here, without the question

    if (!windows.asksFinalQuestion()) {
        platform::messageBox(
            finalResultText(state.IgnoredBlocks, state.BlockCount), std::nullopt,
            state.IgnoredBlocks == 0 ? platform::Icon::Information : platform::Icon::Warning);
        return UpdateOutcome::Finished;
    }
    if (platform::messageBox(finalQuestionText(state.IgnoredBlocks, state.BlockCount),
                             std::string(kConfirmCaption), platform::Icon::Question,
                             platform::Buttons::YesNo) == platform::Answer::Yes) {
        platform::exitProcess(0);
    }
    return UpdateOutcome::Declined;
}

}  // namespace update
