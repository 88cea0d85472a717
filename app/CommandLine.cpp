// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "app/CommandLine.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>

#include "app/ShellCommands.h"
#include "units/ShownText.h"

namespace app {

namespace {

constexpr const char *kProgram = "cdrw-fwupdate";

// What the program's own options ask for.
struct Options {
    bool help = false;
    bool version = false;
    bool history = false;
    bool list = false;
    bool json = false;
    bool allowUsbBridge = false;
    bool allowBattery = false;
};

// How an option takes its value.
enum class Takes {
    Nothing,
    Next,          // the next argument: -platform offscreen
    NextOrJoined,  // the next argument, or the rest after '=': -style fusion, -style=fusion
};

// One option of the command line. The program's own are matched as written and set a field of
// Options; Qt's (`flag` null) are matched with one dash or two, as Qt reads them, and are left
// in argv for the application object.
struct Option {
    std::string_view name;
    Takes takes;
    bool Options::*flag;
};

constexpr Option kOptions[] = {
    {"-h", Takes::Nothing, &Options::help},
    {"--help", Takes::Nothing, &Options::help},
    {"-v", Takes::Nothing, &Options::version},
    {"--version", Takes::Nothing, &Options::version},
    {"--history", Takes::Nothing, &Options::history},
    {"--list", Takes::Nothing, &Options::list},
    {"--json", Takes::Nothing, &Options::json},
    {"--allow-usb-bridge", Takes::Nothing, &Options::allowUsbBridge},
    {"--allow-battery", Takes::Nothing, &Options::allowBattery},

    // QApplication's.
    {"-style", Takes::NextOrJoined, nullptr},
    {"-stylesheet", Takes::NextOrJoined, nullptr},
    {"-widgetcount", Takes::Nothing, nullptr},
    {"-qdevel", Takes::Nothing, nullptr},  // no longer acts, still taken
    {"-qdebug", Takes::Nothing, nullptr},
    // QGuiApplication's and QCoreApplication's.
    {"-platform", Takes::Next, nullptr},
    {"-platformpluginpath", Takes::Next, nullptr},
    {"-platformtheme", Takes::Next, nullptr},
    {"-plugin", Takes::Next, nullptr},
    {"-qwindowgeometry", Takes::Next, nullptr},
    {"-qwindowicon", Takes::Next, nullptr},
    {"-qwindowtitle", Takes::Next, nullptr},
    {"-reverse", Takes::Nothing, nullptr},
    {"-session", Takes::Next, nullptr},  // passed by a session manager on restore
    {"-testability", Takes::Nothing, nullptr},
    {"-qmljsdebugger", Takes::NextOrJoined, nullptr},
    {"-graphicssystem", Takes::Next, nullptr},  // older Qt's; still in session managers' records
    // The X11 platform's.
    {"-display", Takes::Next, nullptr},
    {"-geometry", Takes::Next, nullptr},
    {"-title", Takes::Next, nullptr},
    {"-icon", Takes::Next, nullptr},
    {"-name", Takes::Next, nullptr},
    {"-visual", Takes::Next, nullptr},
    {"-dograb", Takes::Nothing, nullptr},
    {"-nograb", Takes::Nothing, nullptr},
};

// The row `argument` names, and whether its value is the next argument; null when none does.
const Option *findOption(std::string_view argument, bool &valueFollows) {
    for (const Option &option : kOptions) {
        std::string_view name = argument;
        if (option.flag == nullptr && name.starts_with("--")) {
            name.remove_prefix(1);
        }
        if (name == option.name) {
            valueFollows = option.takes != Takes::Nothing;
            return &option;
        }
        if (option.takes == Takes::NextOrJoined && name.starts_with(option.name) &&
            name.substr(option.name.size()).starts_with('=')) {
            valueFollows = false;
            return &option;
        }
    }
    return nullptr;
}

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
        "       %s --update FILE --unit ADDRESS [--bus scsi|atapi] [--variant N]\n"
        "                     [--no-edc] [--yes] [--on-error ask|stop]\n"
        "                     [--allow-usb-bridge] [--allow-battery]\n"
        "       %s --check --unit ADDRESS [--json] [FILE]\n"
        "\n"
        "Replaces the firmware of CD-R/RW recorder units: started without arguments, it opens\n"
        "a window that lists the units on the SCSI and ATAPI buses and sends a firmware file\n"
        "to the unit chosen. With --update it updates from a shell, without a display: it\n"
        "sends FILE to the unit at ADDRESS with the window's checks and guard, and writes\n"
        "what the window would show on standard error.\n"
        "\n"
        "To rehearse an update on simulated units with an example firmware file, start\n"
        "cdrw-fwupdate-demo instead.\n"
        "\n"
        "Drive-access manager: %s\n"
        "\n"
        "Options:\n"
        "  -h, --help           Show this text and exit.\n"
        "  -v, --version        Show the program's version and exit.\n"
        "  --history            Show the journal of updates: when, which unit, which file, how\n"
        "                       each ended and whether the new firmware took effect, and exit.\n"
        "  --list               Show the units the window would list, each with whether it may\n"
        "                       take this build's firmware, and exit.\n"
        "  --json               With --history or --list: as JSON.\n"
        "  --update FILE        Send the Intel HEX firmware file FILE.\n"
        "  --unit ADDRESS       To the unit whose line in the unit list begins with ADDRESS\n"
        "                       (adapter:own id:target, such as 0:7:2).\n"
        "  --bus scsi|atapi     The commands' form, as the window's BUS Type (atapi).\n"
        "  --variant N          The firmware variant: only this build's, 4.\n"
        "  --no-edc             Send the image without its EDC (Create EDC unchecked).\n"
        "  -y, --yes            Send without asking first.\n"
        "  --on-error ask|stop  On a failed block, ask Retry, Ignore or Stop (the default on\n"
        "                       a terminal) or stop (the default elsewhere).\n"
        "  --check              Run every check an update of the unit at --unit runs before\n"
        "                       its first block (listed, eligible, not held, attachment,\n"
        "                       power, logind; with FILE its name and records) and print\n"
        "                       each as ok, warn or refuse; as JSON with --json. Nothing is\n"
        "                       sent, held or written. Status 0 when ready, 1 when not.\n"
        "\n"
        "Before anything is written or sent, an update (window or shell) refuses a unit behind\n"
        "a USB bridge, and a computer on battery below 25 %%; on battery above it, it says so.\n"
        "  --allow-usb-bridge   Update a unit behind a USB bridge that is known to pass\n"
        "                       firmware download commands through.\n"
        "  --allow-battery      Update on a low battery.\n"
        "\n"
        "An update from the shell ends with status 0 when the unit took every block and the\n"
        "wait is over, 1 when anything was refused, stopped or failed, 2 for usage.\n"
        "\n"
        "Qt's own options (-style, -platform, -reverse ...) are passed on to Qt.\n",
        kProgram, kProgram, kProgram, managerPath(managerFolder).c_str());
}

int refuse(const std::string &reason) {
    // The reason may echo an argument: its control characters are written escaped.
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kProgram, units::shownText(reason).c_str(),
                 kProgram);
    return 2;
}

// Status 0 once what was printed reached standard output, else 1 with the reason on standard
// error: an answer that was lost (a full disk, a closed pipe) must not read as given.
int outputWritten() {
    errno = 0;
    if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) {
        return 0;
    }
    const int error = errno != 0 ? errno : EIO;
    std::fprintf(stderr, "%s: write error on standard output: %s\n", kProgram,
                 std::strerror(error));
    return 1;
}

}  // namespace

bool givenBeforeEnd(int argc, char **argv, std::initializer_list<std::string_view> options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--") {
            return false;
        }
        if (std::find(options.begin(), options.end(), argument) != options.end()) {
            return true;
        }
    }
    return false;
}

std::optional<int> answerCommandLine(int argc, char **argv, const char *managerFolder,
                                     update::CheckOverrides &overrides) {
    if (asksForHelp(argc, argv)) {
        printUsage(managerFolder);
        return outputWritten();
    }
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--") {
            if (i + 1 < argc) {
                return refuse(std::string("takes no arguments: ") + argv[i + 1]);
            }
            break;
        }
        if (argument.size() < 2 || argument[0] != '-') {
            return refuse(std::string("takes no arguments: ") + argv[i]);
        }
        bool valueFollows = false;
        const Option *option = findOption(argument, valueFollows);
        if (option == nullptr) {
            return refuse(std::string("unknown option '") + argv[i] + "'");
        }
        if (valueFollows && ++i == argc) {
            return refuse(std::string("option '") + argv[i - 1] + "' needs a value");
        }
        if (option->flag != nullptr) {
            options.*option->flag = true;
        }
    }
    overrides = {options.allowUsbBridge, options.allowBattery};
    if (options.history && options.list) {
        return refuse("--history and --list go one at a time");
    }
    if (options.json && !options.history && !options.list) {
        return refuse("--json goes with --history or --list");
    }
    if (options.version) {
        std::printf("%s %s\n", kProgram, CDRW_VERSION);
        return outputWritten();
    }
    if (options.history || options.list) {
        const int status =
            options.history ? printHistory(options.json) : printUnitList(options.json);
        return status != 0 ? status : outputWritten();
    }
    return std::nullopt;
}

}  // namespace app
