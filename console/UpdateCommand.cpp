// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "console/UpdateCommand.h"

#include <QCommandLineParser>
#include <QStringList>

#include <array>
#include <cstdio>
#include <regex>
#include <string_view>

#include "units/ShownText.h"

namespace console {

namespace {

constexpr const char *kProgram = "cdrw-fwupdate";

// The command's options, each with the name of its value (none: a switch) and its one-letter
// name (none: '\0'). The window takes the `shared` ones too, so they alone do not make an update
// command.
struct OptionRow {
    const char *name;
    const char *valueName;
    char letter = '\0';
    bool shared = false;
};
constexpr std::array<OptionRow, 9> kOptions{{
    {"update", "FILE"},
    {"unit", "ADDRESS"},
    {"bus", "scsi|atapi"},
    {"variant", "N"},
    {"no-edc", nullptr},
    {"yes", nullptr, 'y'},
    {"on-error", "ask|stop"},
    {"allow-usb-bridge", nullptr, '\0', true},
    {"allow-battery", nullptr, '\0', true},
}};

int refuse(const std::string &reason) {
    // The reason may echo an argument: its control characters are written escaped.
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kProgram, units::shownText(reason).c_str(),
                 kProgram);
    return 2;
}

// An address as the unit list shows one: adapter, the adapter's own id and the target, decimal,
// at most three digits each.
bool isUnitAddress(const std::string &text) {
    static const std::regex address("[0-9]{1,3}:[0-9]{1,3}:[0-9]{1,3}");
    return std::regex_match(text, address);
}

}  // namespace

bool isUpdateCommand(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--") {
            return false;
        }
        for (const OptionRow &row : kOptions) {
            const std::string option = std::string("--") + row.name;
            if (row.shared) {
                continue;
            }
            if (argument == option ||
                (row.valueName != nullptr && argument.rfind(option + "=", 0) == 0)) {
                return true;
            }
        }
    }
    return false;
}

std::optional<int> readUpdateCommand(int argc, char **argv, UpdateCommand &command) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    QCommandLineParser parser;
    for (const OptionRow &row : kOptions) {
        QStringList names{QString::fromLatin1(row.name)};
        if (row.letter != '\0') {
            names.prepend(QString(QChar::fromLatin1(row.letter)));
        }
        parser.addOption(
            row.valueName == nullptr
                ? QCommandLineOption(names)
                : QCommandLineOption(names, QString(), QString::fromLatin1(row.valueName)));
    }
    if (!parser.parse(arguments)) {
        return refuse(parser.errorText().toStdString());
    }
    if (!parser.positionalArguments().isEmpty()) {
        return refuse("takes no arguments: " + parser.positionalArguments().first().toStdString());
    }
    for (const OptionRow &row : kOptions) {
        const QString name = QString::fromLatin1(row.name);
        if (parser.optionNames().count(name) > 1) {
            return refuse(std::string("--") + row.name + " given twice");
        }
    }
    const auto value = [&parser](const char *name) {
        return parser.value(QString::fromLatin1(name)).toLocal8Bit().toStdString();
    };
    const auto given = [&parser](const char *name) {
        return parser.isSet(QString::fromLatin1(name));
    };
    if (!given("update") || !given("unit")) {
        return refuse("an update needs --update FILE and --unit ADDRESS");
    }
    command.file = value("update");
    if (command.file.empty()) {
        return refuse("--update needs a file name");
    }
    command.unit = value("unit");
    if (!isUnitAddress(command.unit)) {
        return refuse("--unit takes an address as the unit list shows it, such as 0:7:3");
    }
    if (given("bus")) {
        const std::string bus = value("bus");
        if (bus != "scsi" && bus != "atapi") {
            return refuse("--bus takes scsi or atapi");
        }
        command.bus = bus == "scsi" ? aspi::kBusScsi : aspi::kBusAtapi;
    }
    // The window has no control that changes the variant: only the build's own is taken.
    if (given("variant") && value("variant") != std::to_string(units::kDefaultFirmwareVariant)) {
        return refuse("--variant takes only " + std::to_string(units::kDefaultFirmwareVariant) +
                      " (" + units::kFirmwareVariants[units::kDefaultFirmwareVariant].caption +
                      "), the variant of this build");
    }
    command.edc = !given("no-edc");
    command.yes = given("yes");
    command.overrides = {given("allow-usb-bridge"), given("allow-battery")};
    if (given("on-error")) {
        const std::string onError = value("on-error");
        if (onError != "ask" && onError != "stop") {
            return refuse("--on-error takes ask or stop");
        }
        command.onError = onError == "ask" ? OnError::Ask : OnError::Stop;
    }
    return std::nullopt;
}

}  // namespace console
