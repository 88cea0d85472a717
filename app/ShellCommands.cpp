// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "app/ShellCommands.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <string>
#include <vector>

#include "app/EmptyListNotice.h"
#include "app/UpdateVerdicts.h"
#include "units/Discovery.h"
#include "units/FirmwareVariants.h"
#include "units/MainState.h"
#include "units/ShownText.h"
#include "units/UnitLine.h"
#include "update/JournalReader.h"
#include "update/TraceReader.h"
#include "update/UpdateTrace.h"

namespace app {

using units::DecodeUnitLine;
using units::entryText;
using units::kTableTargets;

namespace {

// Texts of units hold one byte per character.
QString latin1(const std::string &bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// A unit's text without the blanks that pad it to its field.
std::string trimmed(std::string text) {
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

QJsonValue nullable(const std::optional<std::string> &value, bool bytes = false) {
    if (!value) {
        return QJsonValue::Null;
    }
    return bytes ? latin1(*value) : QString::fromStdString(*value);
}

// The update's trace: its file and how many commands it holds (null when the file is no trace);
// null when the update has none (removed as one of the older, or never written).
QJsonValue traceJson(const std::string &journalPath, const std::string &id) {
    // The id comes from the journal, a file like any other: only an id as the program makes them
    // (hex digits and dashes) names a file.
    if (id.empty() || id.find_first_not_of("0123456789abcdef-") != std::string::npos) {
        return QJsonValue::Null;
    }
    const std::string path = update::tracePath(journalPath, id);
    const update::TraceParse trace = update::readTrace(path);
    if (!trace.trace && trace.errorLine == 0) {
        return QJsonValue::Null;
    }
    return QJsonObject{
        {"path", QString::fromStdString(path)},
        {"commands", trace.trace ? QJsonValue(static_cast<qint64>(trace.trace->commands.size()))
                                 : QJsonValue(QJsonValue::Null)}};
}

QJsonObject historyJson(const update::JournalUpdate &update, const std::string &journalPath) {
    return QJsonObject{
        {"id", QString::fromStdString(update.id)},
        {"started", QString::fromStdString(update.started)},
        {"ended", nullable(update.ended)},
        {"boot", QString::fromStdString(update.boot)},
        {"program", QString::fromStdString(update.program)},
        {"manager", QString::fromStdString(update.manager)},
        {"unit", update::unitJson(update.unitAddress, trimmed(update.vendor),
                                  trimmed(update.product), update.revision)},
        {"bus", QString::fromStdString(update.bus)},
        {"file", update::fileJson(update.filePath, update.fileSha256)},
        {"image", update::imageJson(update.imageLength, update.imageSha256, update.edc)},
        {"blocks", QJsonObject{{"count", static_cast<qint64>(update.blockCount)},
                               {"done", static_cast<qint64>(update.blocksDone)},
                               {"failures", update::failuresJson(update.failures)}}},
        {"outcome", QString::fromStdString(update::outcomeOf(update))},
        {"verdict", nullable(update.verdict)},
        {"revision_after", nullable(update.revisionAfter, true)},
        {"trace", traceJson(journalPath, update.id)},
    };
}

std::string verdictText(const update::JournalUpdate &update) {
    const std::string after = update.revisionAfter.value_or("");
    if (update.verdict == update::kVerdictTookEffect) {
        return "took effect (" + update.revision + " -> " + after + ")";
    }
    if (update.verdict == update::kVerdictNotInEffect) {
        return "not in effect (still " + after + ")";
    }
    if (update.verdict == update::kVerdictUnitNotFound) {
        return "unit not found";
    }
    if (update.verdict == update::kVerdictIncomplete) {
        return "incomplete (" + std::to_string(update::ignoredBlocks(update)) + " of " +
               std::to_string(update.blockCount) + " blocks not taken, now " + after + ")";
    }
    // A completed update is judged once the machine has started again.
    const bool due = update.ended && update.outcome != update::kOutcomeStopped && !update.judged;
    return due ? "no verdict yet" : "-";
}

// Said after a unit of a rehearsal, which nothing real was sent to.
constexpr const char *kSimulatedMark = " (rehearsal, simulated unit)";

// One line: start, unit, file, outcome, verdict.
std::string historyLine(const update::JournalUpdate &update) {
    const QDateTime started =
        QDateTime::fromString(QString::fromStdString(update.started), Qt::ISODate);
    const QString when = started.isValid() ? started.toLocalTime().toString("yyyy-MM-dd HH:mm:ss")
                                           : QString::fromStdString(update.started);
    QString unit = QString::fromStdString(update.unitAddress) + ' ' +
                   latin1(trimmed(update.vendor)) + ' ' + latin1(trimmed(update.product)) + ' ' +
                   latin1(update.revision);
    if (update.manager == update::kManagerSimulated) {
        unit += QLatin1String(kSimulatedMark);
    }
    return (when + "  " + unit + "  " + QString::fromStdString(update.filePath) + "  " +
            QString::fromStdString(update::outcomeOf(update)) + "  ")
               .toStdString() +
           verdictText(update);
}

// A line of a report, its control characters escaped (units/ShownText.h).
void printLine(const std::string &line) {
    std::printf("%s\n", units::shownText(line).c_str());
}

void printJson(const QJsonArray &array) {
    const QByteArray text = QJsonDocument(array).toJson(QJsonDocument::Indented);
    std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stdout);
}

}  // namespace

int printHistory(bool json) {
    update::JournalContents contents;
    const std::string journalPath = update::JournalSettings::defaultPath();
    if (!update::readJournal(journalPath, contents)) {
        return 1;
    }
    if (contents.updates.empty()) {
        std::fprintf(stderr, "cdrw-fwupdate: no updates in the journal\n");
    }
    if (json) {
        QJsonArray array;
        for (const update::JournalUpdate &update : contents.updates) {
            array.append(historyJson(update, journalPath));
        }
        printJson(array);
        return 0;
    }
    for (const update::JournalUpdate &update : contents.updates) {
        printLine(historyLine(update));
    }
    return 0;
}

int printUnitList(bool json) {
    units::MainState state;
    const std::vector<std::string> lines =
        units::scanAtStart(state, units::kDefaultFirmwareVariant);
    sayUpdateVerdicts(state, lines);
    QJsonArray array;
    const bool simulated = state.aspi.simulated();
    for (const std::string &line : lines) {
        std::uint8_t a = 0;
        std::uint8_t t = 0;
        if (!DecodeUnitLine(line, a, t)) {
            continue;
        }
        const bool eligible = state.units.Eligible[a * kTableTargets + t] == 1;
        const aspi::TransportInfo transport = state.aspi.unitTransport(a, t);
        const std::string usbId = aspi::usbIdText(transport);
        if (!json) {
            const std::string attached =
                aspi::transportName(transport.kind) + (usbId.empty() ? "" : " " + usbId);
            printLine(units::latin1ToUtf8(line) + "  " + attached +
                      (eligible ? "  eligible" : "  not eligible") +
                      (simulated ? kSimulatedMark : ""));
            continue;
        }
        QJsonObject unit{
            {"address", QString::fromStdString(line.substr(0, line.find(' ')))},
            {"adapter", a},
            {"target", t},
            {"vendor", latin1(trimmed(std::string(entryText(state.units.vendor[a][t], 8))))},
            {"product", latin1(trimmed(std::string(entryText(state.units.product[a][t],
                                                             sizeof state.units.product[a][t]))))},
            {"revision", latin1(std::string(entryText(state.units.revision[a][t],
                                                      sizeof state.units.revision[a][t])))},
            {"line", latin1(line)},
            {"eligible", eligible},
            {"simulated", simulated},
            {"transport", aspi::transportName(transport.kind)},
        };
        if (!usbId.empty()) {
            unit.insert("usb_id", QString::fromStdString(usbId));
        }
        array.append(unit);
    }
    if (json) {
        printJson(array);
    }
    if (lines.empty()) {
        // Why, as the window's start-up box says it, when the manager can tell.
        const auto why = emptyUnitListText(0, state.aspi.scanReport());
        std::fprintf(stderr, "cdrw-fwupdate: %s\n",
                     units::shownText(why ? *why : std::string("no units")).c_str());
        return why ? 1 : 0;
    }
    return 0;
}

}  // namespace app
