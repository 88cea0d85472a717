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

#include "units/Discovery.h"
#include "units/FirmwareVariants.h"
#include "units/MainState.h"
#include "units/UnitLine.h"
#include "update/JournalReader.h"

namespace app {

using units::DecodeUnitLine;
using units::entryText;
using units::kTableTargets;

namespace {

// Texts of units hold one byte per character.
QString latin1(const std::string &bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QJsonValue nullable(const std::optional<std::string> &value, bool bytes = false) {
    if (!value) {
        return QJsonValue::Null;
    }
    return bytes ? latin1(*value) : QString::fromStdString(*value);
}

QJsonObject historyJson(const update::JournalUpdate &update) {
    return QJsonObject{
        {"id", QString::fromStdString(update.id)},
        {"started", QString::fromStdString(update.started)},
        {"ended", nullable(update.ended)},
        {"boot", QString::fromStdString(update.boot)},
        {"program", QString::fromStdString(update.program)},
        {"manager", QString::fromStdString(update.manager)},
        {"unit",
         update::unitJson(update.unitAddress, update.vendor, update.product, update.revision)},
        {"bus", QString::fromStdString(update.bus)},
        {"file", update::fileJson(update.filePath, update.fileSha256)},
        {"image", update::imageJson(update.imageLength, update.imageSha256, update.edc)},
        {"blocks", QJsonObject{{"count", static_cast<qint64>(update.blockCount)},
                               {"done", static_cast<qint64>(update.blocksDone)},
                               {"failures", update::failuresJson(update.failures)}}},
        {"outcome", QString::fromStdString(update::outcomeOf(update))},
        {"verdict", nullable(update.verdict)},
        {"revision_after", nullable(update.revisionAfter, true)},
    };
}

std::string trimmed(std::string text) {
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
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
    // A completed update is judged once the machine has started again.
    const bool due = update.ended && update.outcome != update::kOutcomeStopped && !update.judged;
    return due ? "no verdict yet" : "-";
}

// One line: start, unit, file, outcome, verdict.
std::string historyLine(const update::JournalUpdate &update) {
    const QDateTime started =
        QDateTime::fromString(QString::fromStdString(update.started), Qt::ISODate);
    const QString when = started.isValid() ? started.toLocalTime().toString("yyyy-MM-dd HH:mm:ss")
                                           : QString::fromStdString(update.started);
    const QString unit = QString::fromStdString(update.unitAddress) + ' ' +
                         latin1(trimmed(update.vendor)) + ' ' + latin1(trimmed(update.product)) +
                         ' ' + latin1(update.revision);
    return (when + "  " + unit + "  " + QString::fromStdString(update.filePath) + "  " +
            QString::fromStdString(update::outcomeOf(update)) + "  ")
               .toStdString() +
           verdictText(update);
}

void printJson(const QJsonArray &array) {
    const QByteArray text = QJsonDocument(array).toJson(QJsonDocument::Indented);
    std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stdout);
}

}  // namespace

int printHistory(bool json) {
    update::JournalContents contents;
    if (!update::readJournal(update::JournalSettings::defaultPath(), contents)) {
        return 1;
    }
    if (json) {
        QJsonArray array;
        for (const update::JournalUpdate &update : contents.updates) {
            array.append(historyJson(update));
        }
        printJson(array);
        return 0;
    }
    for (const update::JournalUpdate &update : contents.updates) {
        std::printf("%s\n", historyLine(update).c_str());
    }
    return 0;
}

int printUnitList(bool json) {
    units::MainState state;
    QJsonArray array;
    for (const std::string &line : units::scanAtStart(state, units::kDefaultFirmwareVariant)) {
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
            std::printf("%s  %s  %s\n", latin1(line).toUtf8().constData(), attached.c_str(),
                        eligible ? "eligible" : "not eligible");
            continue;
        }
        QJsonObject unit{
            {"address", QString::fromStdString(line.substr(0, line.find(' ')))},
            {"adapter", a},
            {"target", t},
            {"vendor", latin1(std::string(entryText(state.units.vendor[a][t], 8)))},
            {"product", latin1(std::string(entryText(state.units.product[a][t],
                                                     sizeof state.units.product[a][t])))},
            {"revision", latin1(std::string(entryText(state.units.revision[a][t],
                                                      sizeof state.units.revision[a][t])))},
            {"line", latin1(line)},
            {"eligible", eligible},
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
    return 0;
}

}  // namespace app
