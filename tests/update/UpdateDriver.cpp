// SPDX-License-Identifier: GPL-2.0-or-later
// The program's windows, host and update guard in a process of their own, for the tests that need
// a second copy of the program or a real signal. It starts as the program does, runs one update of
// the first unit with the firmware file named, and prints what happens, one line each:
//
//   UNITS <count>              the unit list after start-up
//   BOX <text>                 a message box, answered No (or OK)
//   SLEEP <milliseconds>       the update's wait, slept for WAIT-MS instead
//   OUTCOME <number>           update::UpdateOutcome, when the update returns
//   IDLE                       with --stay: the update is over and the message loop runs
//
// usage: cdrw-update-driver LOCK-FILE BUS-ADDRESS WAIT-MS FILE [--stay]
// The update guard is the program's own, with the lock file and bus given.
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/Application.h"
#include "app/ProgramWindows.h"
#include "platform/QtHost.h"
#include "tests/support/GuiSupport.h"

namespace {

class DriverHost : public platform::QtHost {
  public:
    DriverHost(platform::UpdateGuardSettings settings, unsigned waitMilliseconds)
        : QtHost(std::move(settings)), m_waitMilliseconds(waitMilliseconds) {}

    platform::Answer messageBox(const platform::MessageBoxRequest &request) override {
        std::printf("BOX %s\n", request.text.c_str());
        return request.buttons == platform::Buttons::YesNo ? platform::Answer::No
                                                           : platform::Answer::Ok;
    }
    void sleepMilliseconds(unsigned milliseconds) override {
        std::printf("SLEEP %u\n", milliseconds);
        QThread::msleep(m_waitMilliseconds);
    }

  private:
    unsigned m_waitMilliseconds;
};

}  // namespace

int main(int argc, char **argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc < 5) {
        std::fprintf(stderr,
                     "usage: cdrw-update-driver LOCK-FILE BUS-ADDRESS WAIT-MS FILE [--stay]\n");
        return 2;
    }
    TApplication application(argc, argv);
    platform::UpdateGuardSettings settings;
    settings.lockPath = argv[1];
    settings.busAddress = argv[2];
    DriverHost host(settings, static_cast<unsigned>(std::atoi(argv[3])));
    platform::installHost(&host);

    ProgramWindows program;
    program.MainForm.show();
    std::printf("UNITS %d\n", program.MainForm.DrivesList->count());
    const QString fileName = QString::fromLocal8Bit(argv[4]);
    testing_support::whenModalShown([&program, fileName](QWidget *) {
        program.OpenFileDialog.FileName->setText(fileName);
        program.OpenFileDialog.OK->click();
    });
    const update::UpdateOutcome outcome =
        update::UpdateClick(program.MainForm.state, program.MainForm);
    std::printf("OUTCOME %d\n", static_cast<int>(outcome));
    if (argc > 5 && std::string(argv[5]) == "--stay") {
        std::printf("IDLE\n");
        return TApplication::exec();
    }
    return 0;
}
