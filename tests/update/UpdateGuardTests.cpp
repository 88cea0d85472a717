// SPDX-License-Identifier: GPL-2.0-or-later
// The update guard as the program takes it: the logind inhibitor against a test logind on a bus
// of the test's own, and, in processes of their own, the held termination signals and the
// machine-wide update lock.
#include <gtest/gtest.h>
#include <signal.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <filesystem>
#include <functional>

#include "platform/LogindInhibitor.h"
#include "platform/SystemUpdateGuard.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestBus.h"
#include "tests/update/UpdateTestSupport.h"

using platform::LogindInhibitor;
using update::UpdateOutcome;
using namespace update_test;

namespace {

// 40,000 data bytes: three blocks.
constexpr std::size_t kDataLength = 40000;
constexpr const char *kWhy = "why=Updating the firmware of VEK CDRW 8432 mode=block";

// A unit that takes each block slowly enough for a test to act between two of them.
constexpr const char *kSlowBus = R"(adapter 0 id 7
unit 0 2 vendor "VEK     " product "CDRW 8432       " revision "1.10" blocktime 1000
)";

constexpr const char *kBus = R"(adapter 0 id 7
unit 0 2 vendor "VEK     " product "CDRW 8432       " revision "1.10"
)";

// Generous: a sanitizer build on a loaded machine starts a copy slowly; a pass takes no wait.
bool waitUntil(const std::function<bool()> &condition, int milliseconds = 30000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.hasExpired(milliseconds)) {
            return false;
        }
        QThread::msleep(10);
    }
    return true;
}

}  // namespace

class UpdateGuard : public UpdateBench {
  protected:
    platform::UpdateGuardSettings settings(const std::string &busAddress) {
        platform::UpdateGuardSettings guard;
        guard.lockPath = (bench.dir() / "update.lock").string();
        guard.busAddress = busAddress;
        guard.onHeldSignal = [](int signal) { ADD_FAILURE() << "signal " << signal << " held"; };
        return guard;
    }
};

TEST_F(UpdateGuard, InhibitorHeldFromBeforeTheFirstBlockToTheEndOfTheWait) {
    const struct {
        const char *name;
        bool bus;
        QStringList logindArguments;
        const char *granted;  // null: no inhibitor
        const char *refused;  // the locks refused first, if any
    } rows[] = {
        {"every lock", true, {}, LogindInhibitor::kAllLocks, nullptr},
        {"key locks refused",
         true,
         {QStringLiteral("--refuse-keys")},
         LogindInhibitor::kBasicLocks,
         LogindInhibitor::kAllLocks},
        {"no bus", false, {}, nullptr, nullptr},
    };
    bind();
    pickFile("lix1.hex", kDataLength);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        std::optional<testing_support::TestBus> bus;
        if (row.bus) {
            bus.emplace(row.logindArguments);
            ASSERT_FALSE(bus->address().empty()) << "no test bus";
        }
        const std::string address =
            bus ? bus->address() : "unix:path=" + (bench.dir() / "no-bus").string();
        host.makeGuard = [this, address](const std::string &why) {
            return platform::takeSystemUpdateGuard(settings(address), why);
        };
        const std::size_t before = sentBlocks(bench).size();
        host.sleeps.clear();
        QString refused, taken, released;
        host.onGuard = [&](const std::string &event) {
            if (event.rfind("taken", 0) == 0) {
                EXPECT_EQ(sentBlocks(bench).size(), before) << "taken before the first block";
                if (bus && row.refused != nullptr) {
                    refused = bus->waitForLine(QStringLiteral("refused"));
                }
                taken = bus ? bus->waitForLine(QStringLiteral("inhibit")) : QString();
            } else {
                EXPECT_EQ(sentBlocks(bench).size(), before + 3);
                EXPECT_EQ(host.sleeps, std::vector<unsigned>{70000}) << "released after the wait";
                EXPECT_TRUE(host.boxes.empty()) << "released before the final question";
                released = bus ? bus->waitForLine(QStringLiteral("released")) : QString();
            }
        };
        host.boxes.clear();
        host.answers = {platform::Answer::No};
        EXPECT_EQ(run(), UpdateOutcome::Declined);
        EXPECT_EQ(bench.image(0, 2), binBody("lix1.bin"));
        if (row.granted == nullptr) {
            continue;
        }
        const QString what = QStringLiteral("what=") + QLatin1String(row.granted);
        if (row.refused != nullptr) {
            EXPECT_EQ(refused, QStringLiteral("refused what=") + QLatin1String(row.refused));
        }
        EXPECT_EQ(taken, QStringLiteral("inhibit ") + what +
                             QStringLiteral(" who=CD-R/RW Firmware Update ") + QLatin1String(kWhy));
        EXPECT_EQ(released, QStringLiteral("released ") + what);
    }
}

// One copy of the program's code in a process of its own, on its own simulated bus, log and
// images, sharing the bench's lock file and firmware file.
class Copy {
  public:
    // `waitMilliseconds`: how long the update's wait lasts in this copy.
    Copy(const std::filesystem::path &bench, const std::string &name, const char *busText,
         int waitMilliseconds = 300, const QStringList &extra = {})
        : m_dir(bench / name) {
        std::filesystem::create_directories(m_dir / "images");
        std::ofstream(m_dir / "bus.txt") << busText;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("CDRW_SIM_BUS"), path("bus.txt"));
        environment.insert(QStringLiteral("CDRW_SIM_LOG"), path("requests.log"));
        environment.insert(QStringLiteral("CDRW_SIM_IMAGES"), path("images"));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(QString::fromStdString(bench.string()));
        process.start(QStringLiteral(CDRW_UPDATE_DRIVER),
                      QStringList{QString::fromStdString((bench / "update.lock").string()),
                                  QStringLiteral("unix:path=") + path("no-bus"),
                                  QString::number(waitMilliseconds), QStringLiteral("lix1.hex")} +
                          extra);
    }
    ~Copy() {
        process.kill();
        process.waitForFinished(2000);
    }

    // WRITE BUFFER commands this copy sent so far.
    std::size_t blocksSent() const {
        std::ifstream log(m_dir / "requests.log");
        std::size_t count = 0;
        for (std::string line; std::getline(log, line);) {
            count += line.find("cdb=3b") != std::string::npos;
        }
        return count;
    }
    // Everything it printed, once it has ended.
    QString finish(int milliseconds = 60000) {
        process.waitForFinished(milliseconds);
        return QString::fromUtf8(process.readAllStandardOutput());
    }

    QProcess process;

  private:
    QString path(const char *name) const { return QString::fromStdString((m_dir / name).string()); }

    std::filesystem::path m_dir;
};

QString outcomeLine(UpdateOutcome outcome) {
    return QStringLiteral("OUTCOME %1").arg(static_cast<int>(outcome));
}

TEST_F(UpdateGuard, TerminationSignalBetweenBlocksIsActedOnWhenTheWaitIsOver) {
    pickFile("lix1.hex", kDataLength);
    Copy copy(bench.dir(), "copy", kSlowBus);
    ASSERT_TRUE(waitUntil([&] { return copy.blocksSent() >= 1; })) << copy.finish(0).toStdString();
    ASSERT_LT(copy.blocksSent(), 3u) << "the signal comes between two blocks";
    ::kill(static_cast<pid_t>(copy.process.processId()), SIGTERM);
    QThread::msleep(50);
    ::kill(static_cast<pid_t>(copy.process.processId()), SIGINT);
    const QString printed = copy.finish();
    EXPECT_EQ(copy.process.exitStatus(), QProcess::NormalExit) << "not ended by the signal";
    EXPECT_EQ(copy.process.exitCode(), 128 + SIGTERM) << "the first signal counts";
    EXPECT_EQ(copy.blocksSent(), 3u);
    EXPECT_TRUE(printed.contains(QStringLiteral("SLEEP 70000"))) << printed.toStdString();
    EXPECT_FALSE(printed.contains(QStringLiteral("BOX"))) << "no final question";
    EXPECT_FALSE(printed.contains(QStringLiteral("OUTCOME")));
}

TEST_F(UpdateGuard, TerminationSignalOutsideAnUpdateEndsTheProgramAtOnce) {
    pickFile("lix1.hex", 100);
    Copy copy(bench.dir(), "copy", kBus, 300, {QStringLiteral("--stay")});
    ASSERT_TRUE(waitUntil([&] {
        copy.process.waitForReadyRead(50);
        return copy.process.peek(4096).contains("IDLE");
    }));
    ::kill(static_cast<pid_t>(copy.process.processId()), SIGTERM);
    EXPECT_TRUE(copy.process.waitForFinished(2000));
    EXPECT_EQ(copy.process.exitStatus(), QProcess::CrashExit) << "ended by the signal";
}

TEST_F(UpdateGuard, SecondCopyIsRefusedWhileTheFirstUpdatesThenUpdates) {
    pickFile("lix1.hex", kDataLength);
    // The first copy holds the machine for its blocks and a wait long enough for the second.
    Copy first(bench.dir(), "first", kSlowBus, 8000);
    ASSERT_TRUE(waitUntil([&] { return first.blocksSent() >= 1; }))
        << first.finish(0).toStdString();
    {
        Copy second(bench.dir(), "second", kBus);
        const QString printed = second.finish();
        EXPECT_TRUE(
            printed.contains(QStringLiteral("BOX ") + QLatin1String(update::kAnotherUpdateText)))
            << printed.toStdString();
        EXPECT_TRUE(printed.contains(outcomeLine(UpdateOutcome::AnotherUpdateRunning)));
        EXPECT_EQ(second.blocksSent(), 0u);
        EXPECT_EQ(second.process.exitCode(), 0);
    }
    EXPECT_TRUE(first.finish().contains(outcomeLine(UpdateOutcome::Declined)));
    Copy again(bench.dir(), "again", kBus);
    EXPECT_TRUE(again.finish().contains(outcomeLine(UpdateOutcome::Declined)));
    EXPECT_EQ(again.blocksSent(), 3u);
}
