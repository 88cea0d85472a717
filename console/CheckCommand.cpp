// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "console/CheckCommand.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>
#include <vector>

#include "app/CommandLine.h"
#include "aspi/LowMemory.h"
#include "aspi/UnitHold.h"
#include "image/DownloadImage.h"
#include "image/HexReader.h"
#include "platform/LogindInhibitor.h"
#include "platform/UPowerState.h"
#include "platform/UpdateKeeper.h"
#include "units/Discovery.h"
#include "units/FirmwareVariants.h"
#include "units/MainState.h"
#include "units/UnitLine.h"
#include "update/UpdateChecks.h"
#include "update/UpdateSequence.h"

namespace console {

namespace {

using update::Check;
using update::CheckResult;

constexpr const char *kProgram = "cdrw-fwupdate";

int refuse(const std::string &reason) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kProgram, reason.c_str(), kProgram);
    return 2;
}

struct CheckCommand {
    std::string unit;
    std::string file;  // empty: no file named
    bool json = false;
    update::CheckOverrides overrides;
};

std::optional<int> readCheckCommand(int argc, char **argv, CheckCommand &command) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    QCommandLineParser parser;
    for (const char *name : {"check", "json", "allow-usb-bridge", "allow-battery"}) {
        parser.addOption(QCommandLineOption(QString::fromLatin1(name)));
    }
    parser.addOption(QCommandLineOption(QStringLiteral("unit"), QString(), QStringLiteral("A")));
    if (!parser.parse(arguments)) {
        return refuse(parser.errorText().toStdString());
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        return refuse("--check takes one firmware file at most: " + files[1].toStdString());
    }
    if (!parser.isSet(QStringLiteral("unit"))) {
        return refuse("--check needs --unit ADDRESS");
    }
    command.unit = parser.value(QStringLiteral("unit")).toLocal8Bit().toStdString();
    command.file = files.isEmpty() ? std::string() : files[0].toLocal8Bit().toStdString();
    command.json = parser.isSet(QStringLiteral("json"));
    command.overrides = {parser.isSet(QStringLiteral("allow-usb-bridge")),
                         parser.isSet(QStringLiteral("allow-battery"))};
    return std::nullopt;
}

// The file's name gate and records, read into a buffer of the program's own: no side file.
Check fileCheck(const std::string &path) {
    Check check{"file", CheckResult::Refuse, {}};
    const std::string name = std::filesystem::path(path).filename().string();
    if (!units::IsFileNameAccepted(units::kDefaultFirmwareVariant, name)) {
        check.reason = update::kNameRefusedText;
        return check;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        check.reason = "The file " + path + " cannot be read.";
        return check;
    }
    const std::string text(std::istreambuf_iterator<char>(in), {});
    std::vector<std::uint8_t> image(aspi::kImageBufferSize);
    std::size_t length = 0;
    std::string refusal;
    if (!image::readHexText(text, image.data(), image::kHeaderSize,
                            aspi::kImageCapacity - image::kEdcSize, length, refusal)) {
        check.reason = refusal;
        return check;
    }
    check.result = CheckResult::Ok;
    check.reason = "The file " + path + " holds " + std::to_string(length) + " bytes of firmware.";
    return check;
}

// The line whose address (up to its first blank) is `address`; empty when none is.
std::string lineAt(const std::vector<std::string> &lines, const std::string &address) {
    for (const std::string &line : lines) {
        if (line.substr(0, line.find(' ')) == address) {
            return line;
        }
    }
    return {};
}

// Every check of an update of the unit, in the order the update meets them.
std::vector<Check> runChecks(const CheckCommand &command, const ConsoleSettings &settings) {
    std::vector<Check> checks;
    units::MainState state;
    const std::vector<std::string> lines =
        units::scanAtStart(state, units::kDefaultFirmwareVariant);
    const std::string line = lineAt(lines, command.unit);
    std::uint8_t a = 0;
    std::uint8_t t = 0;
    if (line.empty() || !units::DecodeUnitLine(line, a, t)) {
        checks.push_back({"unit", CheckResult::Refuse,
                          "No unit " + command.unit +
                              " is in the unit list (another program or update may hold it). "
                              "Run --list to see the units."});
    } else {
        checks.push_back({"unit", CheckResult::Ok, "Listed: " + line});
        const bool eligible = state.units.Eligible[a * units::kTableTargets + t] == 1;
        const char *vendor = units::kFirmwareVariants[units::kDefaultFirmwareVariant].vendorWord;
        checks.push_back({"eligible", eligible ? CheckResult::Ok : CheckResult::Refuse,
                          eligible ? std::string("The unit may take this build's firmware.")
                                   : "This program sends firmware only to units whose vendor is " +
                                         std::string(vendor != nullptr ? vendor : "") + "."});
        const bool storing = platform::UpdateKeeper::keepsUnitOfEndedUpdate(
            aspi::ManagerUnitHold::nameOf(state.aspi, a, t));
        checks.push_back({"hold", storing ? CheckResult::Refuse : CheckResult::Ok,
                          storing ? update::kUnitStoringText
                                  : "No other update of this program holds the unit."});
        checks.push_back(update::transportCheck(state.aspi.unitTransport(a, t), command.unit,
                                                command.overrides));
    }
    checks.push_back(update::powerCheck(platform::readUPowerState(settings.guard.busAddress),
                                        command.overrides));
    const std::string logind = platform::logindProblem(settings.guard.busAddress);
    checks.push_back({"inhibitor", logind.empty() ? CheckResult::Ok : CheckResult::Warn,
                      logind.empty() ? "logind can hold off sleep and shutdown during the update."
                                     : "No logind inhibitor (" + logind +
                                           "): sleep and shutdown would not be held off during "
                                           "the update."});
    if (!command.file.empty()) {
        checks.push_back(fileCheck(command.file));
    }
    return checks;
}

}  // namespace

bool isCheckCommand(int argc, char **argv) {
    return app::givenBeforeEnd(argc, argv, {"--check"});
}

int runCheckCommand(int argc, char **argv, const ConsoleSettings &settings) {
    CheckCommand command;
    if (const auto status = readCheckCommand(argc, argv, command)) {
        return *status;
    }
    const std::vector<Check> checks = runChecks(command, settings);
    bool ready = true;
    for (const Check &check : checks) {
        ready = ready && check.result != CheckResult::Refuse;
    }
    if (command.json) {
        QJsonArray array;
        for (const Check &check : checks) {
            array.append(QJsonObject{{"name", QString::fromStdString(check.name)},
                                     {"result", update::resultName(check.result)},
                                     {"reason", QString::fromLocal8Bit(check.reason.c_str())}});
        }
        const QByteArray text =
            QJsonDocument(QJsonObject{{"unit", QString::fromStdString(command.unit)},
                                      {"ready", ready},
                                      {"checks", array}})
                .toJson(QJsonDocument::Indented);
        std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stdout);
    } else {
        for (const Check &check : checks) {
            std::printf("%-7s %-10s %s\n", update::resultName(check.result), check.name.c_str(),
                        check.reason.c_str());
        }
        std::printf(ready ? "Ready: an update of %s would go ahead.\n"
                          : "Not ready: an update of %s would be refused.\n",
                    command.unit.c_str());
    }
    std::fflush(stdout);
    return ready ? 0 : 1;
}

}  // namespace console
