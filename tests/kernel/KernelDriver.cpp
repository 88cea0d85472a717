// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The program that the kernel test runs inside its guest, as a non-root member of group cdrom.
// It does what the main window does, through the program's own code: binds the drive-access
// manager by name, scans the buses in the SCSI form as start-up does, and then runs the update
// of a listed unit once per --run option, with a firmware file it writes itself into the current
// directory. Its windows and host are stand-ins that print what they are shown, one line
// each, so the test reads the guest's serial output line by line:
//
//   IDENTITY uid=1000 gid=1000 groups=24,1000
//   SUPPORT word=0x0101
//   UNIT-HOLD bound=yes                     (the manager's unit hold is bound)
//   UNIT-LINE 0:7:0         VEK            CD-RW KT-1210        1.0K
//   SCAN-END ms=130
//   RUN 1 form=atapi answers=retry,stop line=1
//   IMAGE length=37768                      (the file is read and the side files written)
//   ERROR-DIALOG 1 run=1                    (a failed command, as the error dialog shows it:)
//   DIALOG 1 Host Adapter ID:0   Device ID:0
//   DIALOG 1 Operate Code:3b                (... one line per text line, the empty one too)
//   ANSWER 1 retry
//   GUARD unit-hold=yes descriptors=2       (the update guard taken, with the unit's hold)
//   SLEEP 70000
//   GUARD-END                               (the guard and the unit's hold let go)
//   BOX caption='Confirm' text='Update completed. Shutdown PC.' answer=no
//   RUN-END 1 outcome=declined
//   DRIVER-END
//
// usage: cdrw-kernel-driver [--without-hold] [--wait-ms=N] [--blocks=N]
//                           [--run=FORM[:ANSWER,...][@LINE]]...
//        cdrw-kernel-driver --occupy=NODE
//        cdrw-kernel-driver --at-terminal PROGRAM ARGUMENT...
//   FORM    scsi or atapi: the bus selection during that update
//   ANSWER  retry, ignore or stop: the answers to the run's error dialogs in order; every
//           failure past the list is answered with retry
//   LINE    the line of the unit list selected for that update, from 1 (default 1)
//   --without-hold  the manager's unit hold is not bound, as with a manager without it
//   --allow-usb-bridge  a unit behind a USB bridge is updated, as the program's option allows
//   --wait-ms=N     the update's 70 s wait lasts N ms (default 0), standing for the store time
//   --blocks=N      the firmware file makes an image of N blocks (default 3, at most 80)
//   --occupy=NODE   instead of all else: opens the block device NODE read-write, exclusive and
//                   non-blocking, as a recording program or a mount holds it, prints
//                   OCCUPIED NODE (or OCCUPY-FAILED NODE <error>), creates /tmp/occupied and
//                   waits until it is killed
//   --at-terminal   instead of all else: prints its identity, writes the firmware file (three
//                   blocks), then runs PROGRAM with its arguments on a pseudo-terminal as a person
//                   there would: a failed block put to r/i/s is answered r, a [y/N] question n.
//                   What the program shows comes out line by line (a line redrawn in place, once
//                   per drawing), each failed block as the error dialog's record:
//                     TTY Sending [##########....................] 1/3 blocks
//                     ERROR-DIALOG 1
//                     DIALOG 1 Host Adapter ID:0   Device ID:0    (... each line of the dialog)
//                     ANSWER 1 retry
//                     TTY Update completed. Shutdown PC.
//                     PROGRAM-EXIT 0                 (its exit status, 128 + N for signal N)
//                     SIDE-FILES none                (or written: lix1.bin or lix1.asc exists)
// Without --run the driver only scans.
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "aspi/DriveCommands.h"
#include "errors/CommandError.h"
#include "platform/Platform.h"
#include "tests/support/HexText.h"
#include "units/Discovery.h"
#include "units/FirmwareVariants.h"
#include "units/MainState.h"
#include "update/UpdateSequence.h"

namespace {

// The firmware file: named for the default variant, its data long enough for full blocks and a
// short last one of 5000 bytes once the 46-byte header and the 4-byte EDC are added (three blocks,
// 37768 bytes, unless --blocks says otherwise).
constexpr const char *kFirmwareFileName = "lix1.hex";
constexpr unsigned kFirmwareBlocks = 3;
constexpr unsigned kMaxFirmwareBlocks = 80;  // within the image's capacity
std::size_t firmwareDataLength(unsigned blocks) {
    return std::size_t{blocks - 1} * update::kBlockSize + 5000 - 50;
}

using Answer = errors::CommandAnswer;

struct Run {
    int busType = aspi::kBusScsi;
    std::vector<Answer> answers;
    std::size_t line = 1;
};

const char *answerName(Answer answer) {
    switch (answer) {
        case Answer::Retry:
            return "retry";
        case Answer::Ignore:
            return "ignore";
        case Answer::Stop:
            return "stop";
    }
    return "?";
}

const char *formName(int busType) {
    return busType == aspi::kBusAtapi ? "atapi" : "scsi";
}

[[noreturn]] void usageError(const std::string &what) {
    std::fprintf(stderr, "cdrw-kernel-driver: %s\n", what.c_str());
    std::exit(2);
}

// One --run value: FORM[:ANSWER,...][@LINE].
Run parseRun(std::string_view text) {
    Run run;
    if (const std::size_t at = text.find('@'); at != std::string_view::npos) {
        const std::string line(text.substr(at + 1));
        if (line.empty() || line.size() > 2 || line.find_first_not_of("0123456789") != line.npos ||
            std::stoul(line) == 0) {
            usageError("unknown line in --run=" + std::string(text));
        }
        run.line = std::stoul(line);
        text = text.substr(0, at);
    }
    const std::string_view form = text.substr(0, text.find(':'));
    if (form == "scsi") {
        run.busType = aspi::kBusScsi;
    } else if (form == "atapi") {
        run.busType = aspi::kBusAtapi;
    } else {
        usageError("unknown form in --run=" + std::string(text));
    }
    std::string_view rest = form.size() < text.size() ? text.substr(form.size() + 1) : "";
    while (!rest.empty()) {
        const std::string_view word = rest.substr(0, rest.find(','));
        rest.remove_prefix(std::min(rest.size(), word.size() + 1));
        if (word == "retry") {
            run.answers.push_back(Answer::Retry);
        } else if (word == "ignore") {
            run.answers.push_back(Answer::Ignore);
        } else if (word == "stop") {
            run.answers.push_back(Answer::Stop);
        } else {
            usageError("unknown answer in --run=" + std::string(text));
        }
    }
    return run;
}

struct Options {
    std::vector<Run> runs;
    bool withoutHold = false;
    bool allowUsbBridge = false;
    unsigned waitMilliseconds = 0;
    unsigned blocks = kFirmwareBlocks;
    std::string occupy;
};

// The number after NAME= in `argument`, at most `limit`.
unsigned numberOption(std::string_view argument, std::size_t nameLength, unsigned limit) {
    const std::string value(argument.substr(nameLength));
    if (value.empty() || value.size() > 6 || value.find_first_not_of("0123456789") != value.npos ||
        std::stoul(value) > limit) {
        usageError("bad " + std::string(argument));
    }
    return static_cast<unsigned>(std::stoul(value));
}

Options parseOptions(int argc, char **argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--without-hold") {
            options.withoutHold = true;
        } else if (argument == "--allow-usb-bridge") {
            options.allowUsbBridge = true;
        } else if (argument.substr(0, 10) == "--wait-ms=") {
            options.waitMilliseconds = numberOption(argument, 10, 70000);
        } else if (argument.substr(0, 9) == "--blocks=") {
            options.blocks = std::max(1u, numberOption(argument, 9, kMaxFirmwareBlocks));
        } else if (argument.substr(0, 9) == "--occupy=") {
            options.occupy = argument.substr(9);
        } else if (argument.substr(0, 6) == "--run=") {
            options.runs.push_back(parseRun(argument.substr(6)));
        } else {
            usageError("unknown argument " + std::string(argument));
        }
    }
    return options;
}

// Another program holding the unit's block device as a mount or a recording program does, until
// it is killed.
[[noreturn]] void occupy(const std::string &node) {
    const int fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_EXCL);
    if (fd < 0) {
        std::printf("OCCUPY-FAILED %s %s\n", node.c_str(), std::strerror(errno));
        std::exit(1);
    }
    std::printf("OCCUPIED %s\n", node.c_str());
    std::ofstream("/tmp/occupied") << node << "\n";
    for (;;) {
        ::pause();
    }
}

// What a person at a terminal sees of `program`, and answers; see --at-terminal above.
[[noreturn]] void atTerminal(char **program) {
    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (child < 0) {
        std::printf("FORKPTY-FAILED %s\n", std::strerror(errno));
        std::exit(1);
    }
    if (child == 0) {
        // The answers are not echoed: each is printed with its question instead.
        termios modes{};
        ::tcgetattr(STDIN_FILENO, &modes);
        modes.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &modes);
        ::execv(program[0], program);
        std::fprintf(stderr, "cdrw-kernel-driver: %s: %s\n", program[0], std::strerror(errno));
        ::_exit(127);
    }
    int dialog = 0;  // the dialog being shown; 0 outside one
    int dialogs = 0;
    std::string pending;  // output after the last line's end
    const auto show = [&](std::string line) {
        // Escape sequences (clearing the rest of a redrawn line) are not text.
        for (std::size_t escape; (escape = line.find('\033')) != std::string::npos;) {
            const std::size_t end = line.find_first_of("ABCDEFGHJKSTfhlmsu", escape);
            line.erase(escape, end == std::string::npos ? std::string::npos : end - escape + 1);
        }
        if (line.empty() && dialog == 0) {
            return;
        }
        if (line == "Command error information") {
            dialog = ++dialogs;
            std::printf("ERROR-DIALOG %d\n", dialog);
        } else if (dialog != 0) {
            std::printf("DIALOG %d %s\n", dialog, line.c_str());
        } else {
            std::printf("TTY %s\n", line.c_str());
        }
    };
    char buffer[4096];
    for (ssize_t count; (count = ::read(terminal, buffer, sizeof buffer)) > 0;) {
        pending.append(buffer, static_cast<std::size_t>(count));
        // A line ends in "\r\n" (the terminal's line end) or alone in "\r" (a line redrawn).
        for (std::size_t end; (end = pending.find_first_of("\r\n")) != std::string::npos;) {
            const bool crlf =
                pending[end] == '\r' && end + 1 < pending.size() && pending[end + 1] == '\n';
            if (pending[end] == '\r' && end + 1 == pending.size()) {
                break;  // its "\n" may come with the next read
            }
            show(pending.substr(0, end));
            pending.erase(0, end + (crlf ? 2 : 1));
        }
        const bool onError = pending.size() >= 8 && pending.ends_with("[r/i/s] ");
        if (onError || pending.ends_with("[y/N] ")) {
            if (onError) {
                std::printf("ANSWER %d retry\n", dialog);
                dialog = 0;
            } else {
                std::printf("TTY %sn\n", pending.c_str());
            }
            pending.clear();
            const char *answer = onError ? "r\n" : "n\n";
            [[maybe_unused]] const ssize_t written = ::write(terminal, answer, 2);
        }
    }
    // The program has closed the terminal (reads end in EIO).
    int status = 0;
    ::waitpid(child, &status, 0);
    std::printf("PROGRAM-EXIT %d\n",
                WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    std::error_code error;
    std::printf("SIDE-FILES %s\n", std::filesystem::exists("lix1.bin", error) ||
                                           std::filesystem::exists("lix1.asc", error)
                                       ? "written"
                                       : "none");
    std::exit(0);
}

// The update guard as the guest has it: nothing but the unit's hold (no logind, no second copy);
// taking it and letting go are printed, the latter once the hold is let go. The moment right
// before the hold is let go is marked in the kernel's log too (where the guest lets the driver
// write it), so that the test can tell which commands reached the unit while it was held: closing
// the block device makes the kernel poll it at once.
class PrintingGuard : public platform::UpdateGuard {
  public:
    explicit PrintingGuard(std::unique_ptr<platform::UnitHold> hold)
        : UpdateGuard(std::move(hold)) {
        const platform::UnitHold *held = unitHold();
        std::printf("GUARD unit-hold=%s descriptors=%zu\n", held != nullptr ? "yes" : "no",
                    held != nullptr ? held->descriptors().size() : 0);
    }
    ~PrintingGuard() override {
        std::ofstream("/dev/kmsg") << "cdrw-kernel-test: guard ends\n";
        releaseUnit();
        std::printf("GUARD-END\n");
    }
};

// Message boxes are printed and answered with their first button, except the final question of
// an update, which is answered No so the driver lives on; sleeps are printed, and last the
// driver's own wait instead.
class PrintingHost : public platform::Host {
  public:
    explicit PrintingHost(unsigned waitMilliseconds) : m_waitMilliseconds(waitMilliseconds) {}

    platform::Answer messageBox(const platform::MessageBoxRequest &request) override {
        const platform::Answer answer = request.buttons == platform::Buttons::YesNo
                                            ? platform::Answer::No
                                            : platform::Answer::Ok;
        std::printf("BOX caption='%s' text='%s' answer=%s\n", request.caption.value_or("").c_str(),
                    request.text.c_str(), answer == platform::Answer::No ? "no" : "ok");
        return answer;
    }
    void sleepMilliseconds(unsigned milliseconds) override {
        std::printf("SLEEP %u\n", milliseconds);
        std::this_thread::sleep_for(std::chrono::milliseconds(m_waitMilliseconds));
    }
    void exitProcess(int status) override {
        std::printf("EXIT %d\n", status);
        std::fflush(stdout);
        std::_Exit(status);
    }
    std::unique_ptr<platform::UpdateGuard> takeUpdateGuard(
        const std::string &, std::unique_ptr<platform::UnitHold> unitHold) override {
        return std::make_unique<PrintingGuard>(std::move(unitHold));
    }

  private:
    unsigned m_waitMilliseconds;
};

// Prints each record with the lines the error dialog shows and answers from the run's script,
// keeping the two flags as the real dialog keeps them.
class ScriptedErrorDialog : public errors::CommandErrorDialog {
  public:
    void startRun(int run, std::vector<Answer> answers) {
        m_run = run;
        m_answers = std::move(answers);
        m_next = 0;
    }

    void showModal(const errors::CommandErrorInfo &info) override {
        ++m_shown;
        std::printf("ERROR-DIALOG %d run=%d\n", m_shown, m_run);
        for (const std::string &line : errors::commandErrorLines(info)) {
            std::printf("DIALOG %d %s\n", m_shown, line.c_str());
        }
        const Answer answer = m_next < m_answers.size() ? m_answers[m_next++] : Answer::Retry;
        m_stop = answer == Answer::Stop;
        if (answer != Answer::Stop) {
            m_retry = answer == Answer::Retry;
        }
        std::printf("ANSWER %d %s\n", m_shown, answerName(answer));
    }
    bool stopRequested() const override { return m_stop; }
    bool retryRequested() const override { return m_retry; }

  private:
    int m_run = 0;
    std::vector<Answer> m_answers;
    std::size_t m_next = 0;
    int m_shown = 0;
    bool m_stop = false;
    bool m_retry = false;
};

// The main window as discovery and the update see it: the unit list printed as it fills, the
// run's line selected, the default variant, the EDC box checked.
class DriverWindows : public units::UnitListView, public update::UpdateWindows {
  public:
    explicit DriverWindows(const units::MainState &state) : m_state(state) {}

    // UnitListView
    int busType() const override { return bus; }
    int firmwareVariant() const override { return units::kDefaultFirmwareVariant; }
    void appendUnitLine(const std::string &line) override {
        std::printf("UNIT-LINE %s\n", line.c_str());
        lines.push_back(line);
    }

    // UpdateWindows
    bool selectedUnitLine(std::string &line) const override {
        if (selected == 0 || selected > lines.size()) {
            return false;
        }
        line = lines[selected - 1];
        return true;
    }
    bool chooseFirmwareFile(std::string &fileName) override {
        fileName = kFirmwareFileName;
        return true;
    }
    bool createEdc() const override {
        // Asked once the image is built, before anything is sent. The newline ends the EDC's
        // progress dots.
        std::printf("\nIMAGE length=%u\n", static_cast<unsigned>(m_state.ImageLength));
        imageReported = true;
        return true;
    }
    int progressMaximum() const override { return 100; }
    void setProgressPosition(int) override {}
    void setTimerInterval(int) override {}
    void showWaitNotice() override {}
    void closeWaitNotice() override {}
    errors::CommandErrorDialog &commandErrorDialog() override { return dialog; }

    int bus = aspi::kBusScsi;
    std::size_t selected = 1;  // the selected line, from 1
    mutable bool imageReported = false;
    std::vector<std::string> lines;
    ScriptedErrorDialog dialog;

  private:
    const units::MainState &m_state;
};

// The firmware file: a byte pattern contiguous from address 0.
void writeFirmwareFile(unsigned blocks) {
    std::ofstream out(kFirmwareFileName, std::ios::binary);
    out << hex_text::hexWithData(firmwareDataLength(blocks));
    if (!out) {
        std::printf("FIRMWARE-FILE-FAILED\n");
        std::exit(2);
    }
}

const char *outcomeName(update::UpdateOutcome outcome) {
    switch (outcome) {
        case update::UpdateOutcome::AlreadyRunning:
            return "already-running";
        case update::UpdateOutcome::Refused:
            return "refused";
        case update::UpdateOutcome::NoUnitSelected:
            return "no-unit-selected";
        case update::UpdateOutcome::Cancelled:
            return "cancelled";
        case update::UpdateOutcome::NameRefused:
            return "name-refused";
        case update::UpdateOutcome::FileProblem:
            return "file-problem";
        case update::UpdateOutcome::NotEligible:
            return "not-eligible";
        case update::UpdateOutcome::NotConfirmed:
            return "not-confirmed";
        case update::UpdateOutcome::AnotherUpdateRunning:
            return "another-update-running";
        case update::UpdateOutcome::UnitInUse:
            return "unit-in-use";
        case update::UpdateOutcome::Stopped:
            return "stopped";
        case update::UpdateOutcome::Declined:
            return "declined";
        case update::UpdateOutcome::Finished:
            return "finished";
    }
    return "?";
}

void printIdentity() {
    std::string groups;
    gid_t list[32];
    const int count = getgroups(32, list);
    for (int i = 0; i < count; ++i) {
        groups += (i == 0 ? "" : ",") + std::to_string(list[i]);
    }
    std::printf("IDENTITY uid=%u gid=%u groups=%s\n", static_cast<unsigned>(getuid()),
                static_cast<unsigned>(getgid()), groups.c_str());
}

}  // namespace

int main(int argc, char **argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc > 2 && std::string_view(argv[1]) == "--at-terminal") {
        printIdentity();
        writeFirmwareFile(kFirmwareBlocks);
        // What an earlier pass left beside it must not read as this program's side files.
        std::error_code error;
        std::filesystem::remove("lix1.bin", error);
        std::filesystem::remove("lix1.asc", error);
        atTerminal(argv + 2);
    }
    const Options options = parseOptions(argc, argv);
    if (!options.occupy.empty()) {
        occupy(options.occupy);
    }
    const std::vector<Run> &runs = options.runs;
    printIdentity();

    PrintingHost host(options.waitMilliseconds);
    platform::installHost(&host);

    // Start-up: buffers, binding (a failure shows its box and ends the process), the scan in
    // the SCSI form.
    units::MainState state;
    state.allocateBuffers();
    state.aspi.LoadAspiManager(!options.withoutHold);
    std::printf("SUPPORT word=0x%04x\n", state.aspi.AspiSupport());
    std::printf("UNIT-HOLD bound=%s\n", state.aspi.canHoldUnits() ? "yes" : "no");
    DriverWindows windows(state);
    windows.bus = aspi::kBusScsi;
    const auto scanStart = std::chrono::steady_clock::now();
    units::ScanUnits(state, windows);
    std::printf("SCAN-END ms=%lld\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - scanStart)
                                           .count()));
    state.BlockSize = update::kBlockSize;
    state.AllowUsbBridge = options.allowUsbBridge;

    if (windows.lines.empty()) {
        std::printf(state.AdapterCount == 0 ? "NO-ADAPTER\n" : "NO-UNIT\n");
    } else {
        writeFirmwareFile(options.blocks);
        for (std::size_t i = 0; i < runs.size(); ++i) {
            const int number = static_cast<int>(i) + 1;
            std::string answers;
            for (Answer answer : runs[i].answers) {
                answers += (answers.empty() ? "" : ",") + std::string(answerName(answer));
            }
            std::printf("RUN %d form=%s answers=%s line=%zu\n", number, formName(runs[i].busType),
                        answers.empty() ? "-" : answers.c_str(), runs[i].line);
            windows.bus = runs[i].busType;
            windows.selected = runs[i].line;
            windows.dialog.startRun(number, runs[i].answers);
            windows.imageReported = false;
            const update::UpdateOutcome outcome = update::UpdateClick(state, windows);
            // An update that ends before sending leaves the EDC's dots without a line end.
            std::printf("%sRUN-END %d outcome=%s\n", windows.imageReported ? "" : "\n", number,
                        outcomeName(outcome));
        }
    }
    platform::installHost(nullptr);
    std::printf("DRIVER-END\n");
    return 0;
}
