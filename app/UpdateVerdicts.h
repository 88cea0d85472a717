// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// What became of earlier updates, told once after a start's scan of the units (the window's, and
// the shell's --list and --update). For every update of the journal (update/Journal.h) that has
// no verdict yet and ran on the manager that serves the program now:
//   - without its end, and neither its process nor its keeper runs still: it was cut off;
//   - completed, and the machine has started since (another boot id): the unit at the same
//     address with the same vendor and product reports another revision (took effect), the same
//     one (not in effect), or no such unit answers in a list that holds other units (not found);
//     with ignored blocks it is incomplete whatever its revision says, for the unit never took
//     those blocks;
//   - completed since another boot, but the scan listed no unit at all (the driver not loaded
//     yet, the unit off, another program holding it): said, and judged again at a later start;
//   - completed on this boot: nothing yet, the unit needs its power cycle; stopped: nothing,
//     the user saw that end.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "units/MainState.h"
#include "units/UnitTable.h"
#include "update/JournalReader.h"

namespace app {

// A unit of the list as the journal names units: its address as the list shows it and its texts
// as the scan stored them.
struct ListedUnit {
    std::string address;
    std::string vendor;
    std::string product;
    std::string revision;
};

// The units of the unit list's `lines`, with their texts from `units`.
std::vector<ListedUnit> listedUnits(const units::UnitTable &units,
                                    const std::vector<std::string> &lines);

struct UpdateVerdict {
    std::string id;
    std::string outcome;                 // the update's outcome (kOutcomeCutOff, ...)
    std::optional<std::string> verdict;  // none for an update that was cut off
    std::optional<std::string> revisionAfter;
    std::string text;  // the line that tells the user, one byte per character
    // False for an update whose unit could not be looked for (the list was empty): told now, not
    // recorded, and judged again at the next start.
    bool recorded = true;
};

// The verdicts due now, in the journal's order.
std::vector<UpdateVerdict> judgeUpdates(const std::vector<update::JournalUpdate> &updates,
                                        const std::vector<ListedUnit> &units,
                                        const update::JournalContext &now);

inline constexpr const char *kVerdictCaption = "Earlier firmware updates";

// Reads the journal, hands the verdicts due to `tell` (at least one), then appends a verdict line
// for each recorded one, so that each is told once. Tells nothing when none is due or the journal
// cannot be read.
void tellUpdateVerdicts(const update::Journal &journal, const update::JournalContext &now,
                        const std::vector<ListedUnit> &units,
                        const std::function<void(const std::vector<UpdateVerdict> &)> &tell);

// The window's: the verdicts in one information box, one line per update.
void showUpdateVerdicts(const update::Journal &journal, const update::JournalContext &now,
                        const std::vector<ListedUnit> &units);

// The shell's, once its scan of `state`'s manager listed `lines`: each verdict as one line on
// standard error, before anything else the command writes.
void sayUpdateVerdicts(const units::MainState &state, const std::vector<std::string> &lines,
                       const update::Journal &journal = update::Journal());

}  // namespace app
