// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The program's windows, host and update guard in a process of their own, for the tests that need
// a second copy of the program or a real signal. It starts as the program does, runs one update of
// the first unit with the firmware file named, and prints what happens, one line each:
//
//   UNITS <count>              the unit list after start-up
//   GUARD                      the update is about to take its guard
//   BOX <text>                 a message box, answered No (or OK)
//   SLEEP <milliseconds>       the update's wait, slept for WAIT-MS instead
//   OUTCOME <number>           update::UpdateOutcome, when the update returns
//   ASKED <bus id>             with --ask: Qt D-Bus reached that bus after the update
//   IDLE                       with --stay: the update is over and the message loop runs
//
// usage: cdrw-update-driver LOCK-FILE BUS-ADDRESS WAIT-MS FILE [--ask ADDRESS] [--stay]
//                           [--keeper-ms=N]
// The update guard is the program's own, with the lock file and bus given, and the keeper's time
// shortened to N ms where asked.
#include <QDBusConnection>
#include <QDBusMessage>
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
    std::unique_ptr<platform::UpdateGuard> takeUpdateGuard(
        const std::string &why, std::unique_ptr<platform::UnitHold> unitHold) override {
        std::printf("GUARD\n");
        return QtHost::takeUpdateGuard(why, std::move(unitHold));
    }
    void sleepMilliseconds(unsigned milliseconds) override {
        std::printf("SLEEP %u\n", milliseconds);
        QThread::msleep(m_waitMilliseconds);
    }

  private:
    unsigned m_waitMilliseconds;
};

// Whatever the update's guard met on its bus, Qt D-Bus (which the accessibility bridge shares)
// must still reach another bus.
void askBus(const QString &address) {
    QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("asked"));
    const QDBusMessage reply = bus.call(
        QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId")),
        QDBus::Block, 5000);
    std::printf("ASKED %s\n", reply.arguments().value(0).toString().toUtf8().constData());
}

}  // namespace

int main(int argc, char **argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc < 5) {
        std::fprintf(stderr,
                     "usage: cdrw-update-driver LOCK-FILE BUS-ADDRESS WAIT-MS FILE "
                     "[--ask ADDRESS] [--stay] [--keeper-ms=N]\n");
        return 2;
    }
    TApplication application(argc, argv);
    platform::UpdateGuardSettings settings;
    settings.lockPath = argv[1];
    settings.busAddress = argv[2];
    bool stay = false;
    QString askAddress;
    for (int i = 5; i < argc; ++i) {
        const std::string option = argv[i];
        stay = stay || option == "--stay";
        if (option == "--ask" && i + 1 < argc) {
            askAddress = QString::fromLocal8Bit(argv[++i]);
        } else if (option.rfind("--keeper-ms=", 0) == 0) {
            settings.keeperMilliseconds = static_cast<unsigned>(std::atoi(argv[i] + 12));
        }
    }
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
    if (!askAddress.isEmpty()) {
        askBus(askAddress);
    }
    if (stay) {
        std::printf("IDLE\n");
        return TApplication::exec();
    }
    return 0;
}
