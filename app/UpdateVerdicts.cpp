// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "app/UpdateVerdicts.h"

#include <QDateTime>
#include <QJsonObject>
#include <algorithm>
#include <cstdio>

#include "platform/Platform.h"
#include "units/UnitLine.h"

namespace app {

using units::DecodeUnitLine;
using units::entryText;

namespace {

std::string withoutTrailingBlanks(std::string text) {
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

// A journal text for a message box, whose texts hold one byte per character.
std::string shown(const std::string &utf8) {
    return QString::fromStdString(utf8).toLatin1().toStdString();
}

// "0:7:2 VEK CDRW 8432, update of 2026-12-07 11:15 with /home/me/lix0101.hex: "
std::string lead(const update::JournalUpdate &update) {
    const QDateTime started =
        QDateTime::fromString(QString::fromStdString(update.started), Qt::ISODate);
    const std::string when = started.isValid()
                                 ? started.toLocalTime().toString("yyyy-MM-dd HH:mm").toStdString()
                                 : shown(update.started);
    return update.unitAddress + " " + withoutTrailingBlanks(update.vendor) + " " +
           withoutTrailingBlanks(update.product) + ", update of " + when + " with " +
           shown(update.filePath) + ": ";
}

std::string cutOffText(const update::JournalUpdate &update) {
    const std::string count = std::to_string(update.blockCount);
    const std::string where =
        update.blocksDone == 0
            ? "before the unit had taken block 1 of " + count
            : "after block " + std::to_string(update.blocksDone) + " of " + count;
    return lead(update) + "cut off " + where +
           ". The unit may not work properly until it gets its firmware again: update it again "
           "with the same file.";
}

const ListedUnit *sameUnit(const update::JournalUpdate &update,
                           const std::vector<ListedUnit> &units) {
    const auto found = std::find_if(units.begin(), units.end(), [&](const ListedUnit &unit) {
        return unit.address == update.unitAddress && unit.vendor == update.vendor &&
               unit.product == update.product;
    });
    return found == units.end() ? nullptr : &*found;
}

// "1 of 3 blocks": the blocks the unit never took, of all the update sent.
std::string missingBlocks(const update::JournalUpdate &update) {
    const std::size_t ignored = update::ignoredBlocks(update);
    return (ignored == 0 ? std::string("some") : std::to_string(ignored)) + " of " +
           std::to_string(update.blockCount) + " blocks";
}

// Tells what became of a completed update, judged against the units the scan listed.
void judgeCompleted(const update::JournalUpdate &update, const std::vector<ListedUnit> &units,
                    UpdateVerdict &verdict) {
    const bool incomplete = update.outcome == update::kOutcomeIgnoredBlocks;
    const std::string missing = incomplete ? missingBlocks(update) : "";
    if (units.empty()) {
        // Nothing was listed: the unit may be off, held or not yet reachable. No verdict yet.
        verdict.recorded = false;
        verdict.text += incomplete ? "the unit did not take " + missing +
                                         ", so its firmware may be incomplete: update it again "
                                         "with the same file before you switch the PC off. "
                                   : "";
        verdict.text +=
            "No unit is listed now (switched off, its driver not loaded yet, or held by another "
            "program), so the unit's revision is not known yet; it is looked at again at the next "
            "start that lists units.";
        return;
    }
    const ListedUnit *unit = sameUnit(update, units);
    if (unit == nullptr) {
        verdict.verdict = update::kVerdictUnitNotFound;
        verdict.text += "the updated unit was not found at " + update.unitAddress +
                        " since the computer started again.";
        verdict.text += incomplete ? " It did not take " + missing +
                                         ": once it is back, update it again with the same file."
                                   : "";
    } else if (incomplete) {
        // The revision may have changed all the same: the unit stored what it took.
        verdict.verdict = update::kVerdictIncomplete;
        verdict.revisionAfter = unit->revision;
        verdict.text += "the unit did not take " + missing +
                        ", so its firmware may be incomplete; it reports revision " +
                        unit->revision +
                        " now. Update it again with the same file before you switch the PC off.";
    } else if (unit->revision != update.revision) {
        verdict.verdict = update::kVerdictTookEffect;
        verdict.revisionAfter = unit->revision;
        verdict.text += "the new firmware took effect: revision " + update.revision + " before, " +
                        unit->revision + " now.";
    } else {
        verdict.verdict = update::kVerdictNotInEffect;
        verdict.revisionAfter = unit->revision;
        verdict.text += "the unit still reports revision " + unit->revision +
                        ", so the new firmware is not in effect. Perhaps it was the same "
                        "firmware again; otherwise the restart did not switch the unit off: "
                        "switch the computer off completely, then on again.";
    }
}

}  // namespace

std::vector<ListedUnit> listedUnits(const units::UnitTable &units,
                                    const std::vector<std::string> &lines) {
    std::vector<ListedUnit> listed;
    for (const std::string &line : lines) {
        std::uint8_t a = 0;
        std::uint8_t t = 0;
        if (!DecodeUnitLine(line, a, t)) {
            continue;
        }
        listed.push_back(
            {line.substr(0, line.find(' ')), std::string(entryText(units.vendor[a][t], 8)),
             std::string(entryText(units.product[a][t], sizeof units.product[a][t])),
             std::string(entryText(units.revision[a][t], sizeof units.revision[a][t]))});
    }
    return listed;
}

std::vector<UpdateVerdict> judgeUpdates(const std::vector<update::JournalUpdate> &updates,
                                        const std::vector<ListedUnit> &units,
                                        const update::JournalContext &now) {
    std::vector<UpdateVerdict> verdicts;
    for (const update::JournalUpdate &update : updates) {
        // Another manager's units are other units: a rehearsal's are not the machine's.
        if (update.judged || update.manager != now.manager) {
            continue;
        }
        if (!update.ended) {
            if (!update::stillRunning(update)) {
                verdicts.push_back({update.id, update::kOutcomeCutOff, std::nullopt, std::nullopt,
                                    cutOffText(update)});
            }
            continue;
        }
        const bool startedSince =
            !now.boot.empty() && !update.boot.empty() && update.boot != now.boot;
        if (update.outcome == update::kOutcomeStopped || !startedSince) {
            continue;
        }
        UpdateVerdict verdict{update.id, update.outcome, {}, {}, lead(update)};
        judgeCompleted(update, units, verdict);
        verdicts.push_back(std::move(verdict));
    }
    return verdicts;
}

void tellUpdateVerdicts(const update::Journal &journal, const update::JournalContext &now,
                        const std::vector<ListedUnit> &units,
                        const std::function<void(const std::vector<UpdateVerdict> &)> &tell) {
    update::JournalContents contents;
    if (!update::readJournal(journal.settings().path, contents)) {
        return;
    }
    const std::vector<UpdateVerdict> verdicts = judgeUpdates(contents.updates, units, now);
    if (verdicts.empty()) {
        return;
    }
    tell(verdicts);
    const auto optional = [](const std::optional<std::string> &value) {
        return value ? QJsonValue(QString::fromLatin1(value->data(), qsizetype(value->size())))
                     : QJsonValue(QJsonValue::Null);
    };
    for (const UpdateVerdict &verdict : verdicts) {
        if (!verdict.recorded) {
            continue;
        }
        journal.append(QJsonObject{{"event", "verdict"},
                                   {"id", QString::fromStdString(verdict.id)},
                                   {"judged", QString::fromStdString(update::journalTime())},
                                   {"boot", QString::fromStdString(now.boot)},
                                   {"outcome", QString::fromStdString(verdict.outcome)},
                                   {"verdict", optional(verdict.verdict)},
                                   {"revision_after", optional(verdict.revisionAfter)}});
    }
}

void showUpdateVerdicts(const update::Journal &journal, const update::JournalContext &now,
                        const std::vector<ListedUnit> &units) {
    tellUpdateVerdicts(journal, now, units, [](const std::vector<UpdateVerdict> &verdicts) {
        std::string text;
        for (const UpdateVerdict &verdict : verdicts) {
            text += (text.empty() ? "" : "\n\n") + verdict.text;
        }
        platform::messageBox(text, std::string(kVerdictCaption), platform::Icon::Information);
    });
}

void sayUpdateVerdicts(const units::MainState &state, const std::vector<std::string> &lines,
                       const update::Journal &journal) {
    const update::JournalContext now =
        journal.context(state.aspi.simulated(), state.aspi.simulatedBoot());
    tellUpdateVerdicts(journal, now, listedUnits(state.units, lines),
                       [](const std::vector<UpdateVerdict> &verdicts) {
                           for (const UpdateVerdict &verdict : verdicts) {
                               // The texts hold one byte per character; the shell reads UTF-8.
                               const QByteArray line =
                                   "cdrw-fwupdate: " +
                                   QString::fromLatin1(verdict.text.data(),
                                                       qsizetype(verdict.text.size()))
                                       .toUtf8() +
                                   "\n";
                               std::fwrite(line.constData(), 1, std::size_t(line.size()), stderr);
                           }
                       });
}

}  // namespace app
