// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QStringList>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/ShellCommands.h"

namespace app {

namespace {

constexpr const char *kProgram = "cdrw-fwupdate";

// The manager the program would load: wnaspi32.DLL in `managerFolder`, taken from the folder of
// the running executable.
std::string managerPath(const char *managerFolder) {
    std::error_code error;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return std::string("wnaspi32.DLL in $ORIGIN/") + managerFolder;
    }
    return (program.parent_path() / managerFolder / "wnaspi32.DLL").lexically_normal().string();
}

void printUsage(const char *managerFolder) {
    std::printf(
        "Usage: %s [--help | --version | --history [--json] | --list [--json]]\n"
        "\n"
        "Replaces the firmware of CD-R/RW recorder units: started without arguments, it opens\n"
        "a window that lists the units on the SCSI and ATAPI buses and sends a firmware file\n"
        "to the unit chosen.\n"
        "\n"
        "To rehearse an update on simulated units with an example firmware file, start\n"
        "cdrw-fwupdate-demo instead.\n"
        "\n"
        "Drive-access manager: %s\n"
        "\n"
        "Options:\n"
        "  -h, --help     Show this text and exit.\n"
        "  -v, --version  Show the program's version and exit.\n"
        "  --history      Show the journal of updates: when, which unit, which file, how each\n"
        "                 ended and whether the new firmware took effect, and exit.\n"
        "  --list         Show the units the window would list, each with whether it may take\n"
        "                 this build's firmware, and exit.\n"
        "  --json         With --history or --list: as JSON.\n",
        kProgram, managerPath(managerFolder).c_str());
}

int refuse(const QString &reason) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kProgram, qPrintable(reason), kProgram);
    return 2;
}

}  // namespace

std::optional<int> answerCommandLine(int argc, char **argv, const char *managerFolder) {
    if (argc <= 1) {
        return std::nullopt;
    }
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    QCommandLineParser parser;
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, {});
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, {});
    const QCommandLineOption history(QStringLiteral("history"));
    const QCommandLineOption list(QStringLiteral("list"));
    const QCommandLineOption json(QStringLiteral("json"));
    parser.addOptions({help, version, history, list, json});
    if (!parser.parse(arguments)) {
        return refuse(parser.errorText());
    }
    if (!parser.positionalArguments().isEmpty()) {
        return refuse(QStringLiteral("takes no arguments: ") +
                      parser.positionalArguments().first());
    }
    if (parser.isSet(history) && parser.isSet(list)) {
        return refuse(QStringLiteral("--history and --list go one at a time"));
    }
    if (parser.isSet(json) && !parser.isSet(history) && !parser.isSet(list)) {
        return refuse(QStringLiteral("--json goes with --history or --list"));
    }
    if (parser.isSet(help)) {
        printUsage(managerFolder);
    } else if (parser.isSet(version)) {
        std::printf("%s %s\n", kProgram, CDRW_VERSION);
    } else if (parser.isSet(history)) {
        return printHistory(parser.isSet(json));
    } else if (parser.isSet(list)) {
        return printUnitList(parser.isSet(json));
    }
    return 0;
}

}  // namespace app
