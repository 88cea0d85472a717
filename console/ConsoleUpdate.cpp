// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "console/ConsoleUpdate.h"

#include <cstdio>

#include "app/UpdateVerdicts.h"
#include "app/EmptyListNotice.h"
#include "console/ConsoleFace.h"
#include "units/Discovery.h"
#include "units/FirmwareVariants.h"
#include "units/MainState.h"
#include "units/ShownText.h"
#include "units/UnitLine.h"
#include "update/Journal.h"

namespace console {

namespace {

constexpr int kFailed = 1;

// The line whose address (up to its first blank) is `address`; empty when none is.
std::string lineAt(const std::vector<std::string> &lines, const std::string &address) {
    for (const std::string &line : lines) {
        if (line.substr(0, line.find(' ')) == address) {
            return line;
        }
    }
    return {};
}

// Says that no unit answers at the address given, which units there are, and why units are
// missing when the manager can tell (the window's texts: no sg driver, nodes this user may not
// open, units an update holds).
void sayNotListed(Terminal &terminal, const std::string &address,
                  const std::vector<std::string> &lines, const units::MainState &state) {
    const std::optional<aspi::ScanReport> report = state.aspi.scanReport();
    if (lines.empty()) {
        terminal.line("cdrw-fwupdate: no unit " + address + ": the unit list is empty");
        if (const auto why = app::emptyUnitListText(0, report)) {
            terminal.line(*why);
        }
        return;
    }
    terminal.line("cdrw-fwupdate: no unit " + address + " in the unit list:");
    for (const std::string &line : lines) {
        terminal.line("  " + units::latin1ToUtf8(line));
    }
    if (const auto held = app::heldUnitsText(report)) {
        terminal.line(*held);
    }
}

// The update's outcome as the shell's exit status, with a word where the sequence said nothing.
int statusOf(update::UpdateOutcome outcome, const units::MainState &state) {
    switch (outcome) {
        case update::UpdateOutcome::Finished:
            // The result was written: the wait is over. A block the person chose to ignore is
            // missing from the unit's firmware.
            return state.IgnoredBlocks == 0 ? 0 : kFailed;
        default:
            // Refused, not confirmed, not sent or stopped: the reason is written already.
            return kFailed;
    }
}

}  // namespace

int runUpdateCommand(int argc, char **argv, const ConsoleSettings &settings) {
    UpdateCommand command;
    if (const auto status = readUpdateCommand(argc, argv, command)) {
        return *status;
    }
    const bool interactive = Terminal::standardStreamsAreTerminals();
    if (command.onError == OnError::Ask && !interactive) {
        std::fprintf(stderr,
                     "cdrw-fwupdate: --on-error ask needs a terminal to ask on\n"
                     "Try 'cdrw-fwupdate --help'.\n");
        return 2;
    }
    const bool askOnError =
        command.onError.value_or(interactive ? OnError::Ask : OnError::Stop) == OnError::Ask;
    Terminal terminal(interactive);
    ConsoleHost host(terminal, settings);
    // The host serves until this function returns, whichever way.
    struct Installed {
        explicit Installed(platform::Host &host) { platform::installHost(&host); }
        ~Installed() { platform::installHost(nullptr); }
    } installed(host);

    // As the window starts (a manager that cannot be bound is written and ends the process);
    // the update then uses the bus the command names.
    units::MainState state;
    const std::vector<std::string> lines = units::scanAtStart(state, command.variant);
    app::sayUpdateVerdicts(state, lines);
    state.BlockSize = update::kBlockSize;
    state.AllowUsbBridge = command.overrides.allowUsbBridge;
    state.AllowBattery = command.overrides.allowBattery;
    ConsoleFace face(state, command, terminal, askOnError);

    // The unit named must be listed and may receive this build's firmware; the sequence checks the
    // latter again, but only after the side files are written.
    const std::string line = lineAt(lines, command.unit);
    std::uint8_t adapter = 0;
    std::uint8_t target = 0;
    if (line.empty() || !units::DecodeUnitLine(line, adapter, target)) {
        sayNotListed(terminal, command.unit, lines, state);
        return kFailed;
    }
    if (state.units.Eligible[adapter * units::kTableTargets + target] != 1) {
        const char *vendor = units::kFirmwareVariants[command.variant].vendorWord;
        terminal.line("cdrw-fwupdate: this program sends firmware only to units whose vendor is " +
                      std::string(vendor != nullptr ? vendor : "") + "; the unit " + command.unit +
                      " is " +
                      units::latin1ToUtf8(units::normalisedVendor(
                          units::entryText(state.units.vendor[adapter][target], 8))));
        return kFailed;
    }
    face.select(line);

    // Recorded in the user's journal, as an update from the window is.
    const update::Journal journal;
    const int status = statusOf(update::UpdateClick(state, face, &journal), state);
    // A termination signal held during the update ends the program now that its result is said.
    return host.heldSignal() != 0 ? 128 + host.heldSignal() : status;
}

}  // namespace console
