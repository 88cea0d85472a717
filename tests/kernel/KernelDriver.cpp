// SPDX-License-Identifier: GPL-2.0-or-later
// The program that the kernel test runs inside its guest, as a non-root member of group cdrom.
// It does what the main window does, through the program's own code: binds the drive-access
// manager by name, scans the buses in the SCSI form as start-up does, and then runs the update
// of a listed unit once per --run option, with a firmware file it writes itself into the current
// directory. Its windows and host are stand-ins that print what they are shown, one line
// each, so the test reads the guest's serial output line by line:
//
//   IDENTITY uid=1000 gid=1000 groups=24,1000
//   SUPPORT word=0x0101
//   UNIT-LINE 0:7:0         VEK            CD-RW KT-1210        1.0K
//   SCAN-END ms=130
//   RUN 1 form=atapi answers=retry,stop line=1
//   IMAGE length=37768                      (the file is read and the side files written)
//   ERROR-DIALOG 1 run=1                    (a failed command, as the error dialog shows it:)
//   DIALOG 1 Host Adapter ID:0   Device ID:0
//   DIALOG 1 Operate Code:3b                (... one line per text line, the empty one too)
//   ANSWER 1 retry
//   SLEEP 70000
//   BOX caption='Confirm' text='Update completed. Shutdown PC.' answer=no
//   RUN-END 1 outcome=declined
//   DRIVER-END
//
// usage: cdrw-kernel-driver [--run=FORM[:ANSWER,...][@LINE]]...
//   FORM    scsi or atapi: the bus selection during that update
//   ANSWER  retry, ignore or stop: the answers to the run's error dialogs in order; every
//           failure past the list is answered with retry
//   LINE    the line of the unit list selected for that update, from 1 (default 1)
// Without --run the driver only scans.
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/Discovery.h"
#include "app/FirmwareVariants.h"
#include "app/MainState.h"
#include "aspi/DriveCommands.h"
#include "errors/CommandError.h"
#include "platform/Platform.h"
#include "tests/support/HexText.h"
#include "update/UpdateSequence.h"

namespace {

// The firmware file: named for the default variant, its data long enough for two full blocks and
// a short last one once the 46-byte header and the 4-byte EDC are added (37768 bytes).
constexpr const char *kFirmwareFileName = "lix1.hex";
constexpr std::size_t kFirmwareDataLength = 2 * update::kBlockSize + 5000 - 50;

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

std::vector<Run> parseRuns(int argc, char **argv) {
    std::vector<Run> runs;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument.substr(0, 6) != "--run=") {
            usageError("unknown argument " + std::string(argument));
        }
        runs.push_back(parseRun(argument.substr(6)));
    }
    return runs;
}

// Message boxes are printed and answered with their first button, except the final question of
// an update, which is answered No so the driver lives on; sleeps are printed, not slept. The
// update guard holds nothing: the guest has neither logind nor a second copy.
class PrintingHost : public platform::Host {
  public:
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
    }
    void exitProcess(int status) override {
        std::printf("EXIT %d\n", status);
        std::fflush(stdout);
        std::_Exit(status);
    }
    std::unique_ptr<platform::UpdateGuard> takeUpdateGuard(const std::string &) override {
        return std::make_unique<platform::UpdateGuard>();
    }
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
class DriverWindows : public app::UnitListView, public update::UpdateWindows {
  public:
    explicit DriverWindows(const app::MainState &state) : m_state(state) {}

    // UnitListView
    int busType() const override { return bus; }
    int firmwareVariant() const override { return app::kDefaultFirmwareVariant; }
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
    const app::MainState &m_state;
};

// The firmware file: a byte pattern contiguous from address 0.
void writeFirmwareFile() {
    std::ofstream out(kFirmwareFileName, std::ios::binary);
    out << hex_text::hexWithData(kFirmwareDataLength);
    if (!out) {
        std::printf("FIRMWARE-FILE-FAILED\n");
        std::exit(2);
    }
}

const char *outcomeName(update::UpdateOutcome outcome) {
    switch (outcome) {
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
        case update::UpdateOutcome::AnotherUpdateRunning:
            return "another-update-running";
        case update::UpdateOutcome::Stopped:
            return "stopped";
        case update::UpdateOutcome::Declined:
            return "declined";
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
    const std::vector<Run> runs = parseRuns(argc, argv);
    printIdentity();

    PrintingHost host;
    platform::installHost(&host);

    // Start-up: buffers, binding (a failure shows its box and ends the process), the scan in
    // the SCSI form.
    app::MainState state;
    state.allocateBuffers();
    state.aspi.LoadAspiManager();
    std::printf("SUPPORT word=0x%04x\n", state.aspi.AspiSupport());
    DriverWindows windows(state);
    windows.bus = aspi::kBusScsi;
    const auto scanStart = std::chrono::steady_clock::now();
    app::ScanUnits(state, windows);
    std::printf("SCAN-END ms=%lld\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - scanStart)
                                           .count()));
    state.BlockSize = update::kBlockSize;

    if (windows.lines.empty()) {
        std::printf(state.AdapterCount == 0 ? "NO-ADAPTER\n" : "NO-UNIT\n");
    } else {
        writeFirmwareFile();
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
