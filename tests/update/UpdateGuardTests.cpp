// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The update guard as the program takes it: the logind and desktop portal inhibitors and the
// keeper process against stand-ins on a bus of the test's own, and, in processes of their own, the
// held termination signals, the machine-wide update lock and a program killed in the middle.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>
#include <thread>

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
constexpr const char *kReason = "Updating the firmware of VEK CDRW 8432";

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

// The state letter in /proc/<pid>/stat and the parent's id; {0, 0} when there is no such process.
std::pair<char, pid_t> processState(pid_t pid, std::string *name = nullptr) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto open = line.find('(');
    const auto close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos) {
        return {0, 0};
    }
    if (name != nullptr) {
        *name = line.substr(open + 1, close - open - 1);
    }
    std::istringstream rest(line.substr(close + 1));
    char state = 0;
    pid_t parent = 0;
    rest >> state >> parent;
    return {state, parent};
}

bool running(pid_t pid) {
    const char state = processState(pid).first;
    return state != 0 && state != 'Z';
}

// The running keeper processes that `parent` started, found by the name they show in ps.
std::vector<pid_t> keepersOf(pid_t parent) {
    std::vector<pid_t> found;
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string pidText = entry.path().filename().string();
        if (pidText.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::string name;
        const auto [state, itsParent] = processState(std::stoi(pidText), &name);
        if (name == "cdrw-fw-keeper" && itsParent == parent && state != 'Z') {
            found.push_back(std::stoi(pidText));
        }
    }
    return found;
}

// What each open descriptor of `pid` refers to ("pipe:[…]", "socket:[…]", a path).
std::vector<std::string> descriptorsOf(pid_t pid) {
    std::vector<std::string> links;
    std::error_code error;
    for (const auto &entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        links.push_back(std::filesystem::read_symlink(entry.path(), error).string());
    }
    return links;
}

// A unit hold that is one descriptor of the test's own.
class DescriptorHold : public platform::UnitHold {
  public:
    explicit DescriptorHold(int descriptor) : m_descriptor(descriptor) {}
    std::vector<int> descriptors() const override { return {m_descriptor}; }

  private:
    int m_descriptor;
};

}  // namespace

class UpdateGuard : public UpdateBench {
  protected:
    platform::UpdateGuardSettings settings(const std::string &busAddress) {
        platform::UpdateGuardSettings guard;
        guard.lockPath = (bench.dir() / "update.lock").string();
        guard.busAddress = busAddress;
        guard.sessionBusAddress = busAddress;
        guard.onHeldSignal = [](int signal) { ADD_FAILURE() << "signal " << signal << " held"; };
        return guard;
    }
};

TEST_F(UpdateGuard, InhibitorsHeldFromBeforeTheFirstBlockToTheEndOfTheWait) {
    const struct {
        const char *name;
        bool bus;
        bool tcp;  // both buses reached over TCP
        QStringList logindArguments;
        const char *granted;  // null: no logind inhibitor
        const char *refused;  // the locks refused first, if any
        bool alsoKept;        // the unit hold is the test's, with a descriptor of its own
    } rows[] = {
        {"every lock", true, false, {}, LogindInhibitor::kAllLocks, nullptr, false},
        {"key locks refused",
         true,
         false,
         {QStringLiteral("--refuse-keys")},
         LogindInhibitor::kBasicLocks,
         LogindInhibitor::kAllLocks,
         false},
        {"no bus: the unit's lock kept alone", false, false, {}, nullptr, nullptr, false},
        {"a descriptor of the unit hold's kept too",
         true,
         false,
         {},
         LogindInhibitor::kAllLocks,
         nullptr,
         true},
        // The portal's request works over TCP; logind's descriptor cannot pass there, so it is
        // not asked for.
        {"a TCP bus: the portal's request only", true, true, {}, nullptr, nullptr, false},
    };
    bind();
    pickFile("lix1.hex", kDataLength);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        std::optional<testing_support::TestBus> bus;
        if (row.bus) {
            bus.emplace(row.logindArguments, row.tcp);
            ASSERT_FALSE(bus->address().empty()) << "no test bus";
        }
        const std::string address = !bus      ? "unix:path=" + (bench.dir() / "no-bus").string()
                                    : row.tcp ? bus->tcpAddress()
                                              : bus->address();
        const std::string keptPath = (bench.dir() / "kept").string();
        const std::string simulatorLock =
            std::string(std::getenv("XDG_RUNTIME_DIR")) + "/cdrw-fwupdate-sim/built-in-a0t2.lock";
        const int kept = ::open(keptPath.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(kept, 0);
        host.makeGuard = [&](const std::string &why, std::unique_ptr<platform::UnitHold> unitHold) {
            if (row.alsoKept) {
                unitHold = std::make_unique<DescriptorHold>(kept);
            }
            // A bus that answers, or none, never holds the update up to the deadline.
            QElapsedTimer taking;
            taking.start();
            auto guard =
                platform::takeSystemUpdateGuard(settings(address), why, std::move(unitHold));
            EXPECT_LT(taking.elapsed(), platform::kBusRequestLimitMilliseconds);
            return guard;
        };
        if (bus) {
            // Nothing is asked of either without an update.
            windows.fileChosen = false;
            EXPECT_EQ(run(), UpdateOutcome::Cancelled);
            windows.fileChosen = true;
            EXPECT_EQ(bus->waitForLine(QString(), 300), QString());
        }
        // The keeper: its inhibitor (when there is one), the unit hold's descriptor (the
        // simulator's lock, or the test's), the socket that names a simulated unit, its own
        // socket, and /dev/null as its three standard streams.
        const std::size_t keeperHolds = (row.granted != nullptr) + 1 + !row.alsoKept + 1 + 3;
        pid_t keeper = 0;
        QElapsedTimer sinceTheWait;
        host.onSleep = [&](unsigned) { sinceTheWait.start(); };
        const std::size_t before = sentBlocks(bench).size();
        host.sleeps.clear();
        QString refused, taken, released, portalTaken, portalClosed;
        host.onGuard = [&](const std::string &event) {
            if (event.rfind("taken", 0) == 0) {
                EXPECT_EQ(sentBlocks(bench).size(), before) << "taken before the first block";
                if (bus && row.refused != nullptr) {
                    refused = bus->waitForLine(QStringLiteral("refused"));
                }
                taken =
                    bus && row.granted ? bus->waitForLine(QStringLiteral("inhibit")) : QString();
                portalTaken = bus ? bus->waitForLine(QStringLiteral("portal-inhibit")) : QString();
                // A keeper takes its name right after the fork.
                std::vector<pid_t> keepers;
                waitUntil([&] { return !(keepers = keepersOf(::getpid())).empty(); }, 1000);
                ASSERT_EQ(keepers.size(), 1u);
                keeper = keepers[0];
                waitUntil([&] { return descriptorsOf(keeper).size() <= keeperHolds; }, 1000);
                const std::vector<std::string> holds = descriptorsOf(keeper);
                EXPECT_EQ(holds.size(), keeperHolds) << testing::PrintToString(holds);
                for (const std::string &link : holds) {
                    EXPECT_TRUE(link.rfind("pipe:", 0) == 0 || link.rfind("socket:", 0) == 0 ||
                                link == "/dev/null" ||
                                link == (row.alsoKept ? keptPath : simulatorLock))
                        << link;
                }
            } else {
                EXPECT_EQ(sentBlocks(bench).size(), before + 3);
                EXPECT_EQ(host.sleeps, std::vector<unsigned>{70000}) << "released after the wait";
                EXPECT_TRUE(host.boxes.empty()) << "released before the final question";
                // Closed before the guard's release returns: the line is there or never comes.
                portalClosed =
                    bus ? bus->waitForLine(QStringLiteral("portal-closed"), 2000) : QString();
                released =
                    bus && row.granted ? bus->waitForLine(QStringLiteral("released")) : QString();
                if (keeper != 0) {
                    EXPECT_FALSE(running(keeper)) << "the keeper ended with the guard";
                    EXPECT_LT(sinceTheWait.elapsed(), 1000) << "and at once";
                }
            }
        };
        host.boxes.clear();
        host.answers = {platform::Answer::No};
        EXPECT_EQ(run(), UpdateOutcome::Declined);
        EXPECT_EQ(bench.image(0, 2), binBody("lix1.bin"));
        ::close(kept);
        if (bus) {
            EXPECT_EQ(portalTaken, QStringLiteral("portal-inhibit window= flags=15 reason=") +
                                       QLatin1String(kReason));
            EXPECT_TRUE(portalClosed.startsWith(QStringLiteral("portal-closed /")));
        }
        if (row.granted == nullptr) {
            continue;
        }
        const QString what = QStringLiteral("what=") + QLatin1String(row.granted);
        if (row.refused != nullptr) {
            EXPECT_EQ(refused, QStringLiteral("refused what=") + QLatin1String(row.refused));
        }
        EXPECT_EQ(taken, QStringLiteral("inhibit ") + what +
                             QStringLiteral(" who=CD-R/RW Firmware Update why=") +
                             QLatin1String(kReason) + QStringLiteral(" mode=block"));
        EXPECT_EQ(released, QStringLiteral("released ") + what);
    }
}

// With a manager that holds the unit, the unit's hold keeps other updates of it out: the
// machine-wide lock file is neither made nor taken, so no other user can block updates with it.
TEST_F(UpdateGuard, WithTheUnitHeldTheMachineLockFileIsNotUsed) {
    bind();
    pickFile("lix1.hex", kDataLength);
    const std::string address = "unix:path=" + (bench.dir() / "no-bus").string();
    host.makeGuard = [this, address](const std::string &why,
                                     std::unique_ptr<platform::UnitHold> unitHold) {
        EXPECT_NE(unitHold, nullptr);
        return platform::takeSystemUpdateGuard(settings(address), why, std::move(unitHold));
    };
    host.answers = {platform::Answer::No};
    EXPECT_EQ(run(), UpdateOutcome::Declined);
    EXPECT_EQ(sentBlocks(bench).size(), 3u);
    EXPECT_FALSE(std::filesystem::exists(bench.dir() / "update.lock"));
}

// How a copy of the program is started.
struct CopyOptions {
    // How long the update's wait lasts in this copy.
    int waitMilliseconds = 300;
    // The bus its guard asks logind on; empty: a socket path where there is nothing.
    std::string busAddress;
    // Its session bus ($DBUS_SESSION_BUS_ADDRESS); empty: a socket path where there is nothing.
    std::string sessionBusAddress;
    // After the firmware file name on the driver's command line.
    QStringList extra;
    // Started with SIGHUP ignored, as nohup starts a program.
    bool hangupIgnored = false;
    // On the simulator built without the unit hold's entry points, as an older manager.
    bool withoutUnitHold = false;
};

// One copy of the program's code in a process of its own, on its own simulated bus, log and
// images, sharing the bench's lock file and firmware file.
class Copy {
  public:
    Copy(const std::filesystem::path &bench, const std::string &name, const char *busText,
         const CopyOptions &options = {})
        : m_dir(bench / name) {
        std::filesystem::create_directories(m_dir / "images");
        std::filesystem::create_directories(m_dir / "runtime");
        std::filesystem::permissions(m_dir / "runtime", std::filesystem::perms::owner_all);
        std::ofstream(m_dir / "bus.txt") << busText;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (options.withoutUnitHold) {
            environment.insert(QStringLiteral("LD_LIBRARY_PATH"),
                               QStringLiteral(CDRW_SIM_WITHOUT_HOLD_DIR));
        }
        environment.insert(QStringLiteral("CDRW_SIM_BUS"), path("bus.txt"));
        environment.insert(QStringLiteral("CDRW_SIM_LOG"), path("requests.log"));
        environment.insert(QStringLiteral("CDRW_SIM_IMAGES"), path("images"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), path("runtime"));
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                           options.sessionBusAddress.empty()
                               ? QStringLiteral("unix:path=") + path("no-session-bus")
                               : QString::fromStdString(options.sessionBusAddress));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(QString::fromStdString(bench.string()));
        if (options.hangupIgnored) {
            process.setChildProcessModifier([] { ::signal(SIGHUP, SIG_IGN); });
        }
        process.start(
            QStringLiteral(CDRW_UPDATE_DRIVER),
            QStringList{QString::fromStdString((bench / "update.lock").string()),
                        options.busAddress.empty() ? QStringLiteral("unix:path=") + path("no-bus")
                                                   : QString::fromStdString(options.busAddress),
                        QString::number(options.waitMilliseconds), QStringLiteral("lix1.hex")} +
                options.extra);
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
    // It printed `word` within `milliseconds`; the output stays to be read.
    bool hasPrinted(const char *word, int milliseconds = 30000) {
        return waitUntil(
            [&] {
                process.waitForReadyRead(50);
                return process.peek(1 << 16).contains(word);
            },
            milliseconds);
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
    const struct {
        const char *name;
        bool hangupIgnored;
        std::vector<int> sent;
        int exitCode;  // 0: not acted on; the update goes on to its final question
    } rows[] = {
        {"the first of two counts", false, {SIGTERM, SIGINT}, 128 + SIGTERM},
        {"ignored when the program started", true, {SIGHUP}, 0},
    };
    pickFile("lix1.hex", kDataLength);
    int index = 0;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        CopyOptions options;
        options.hangupIgnored = row.hangupIgnored;
        Copy copy(bench.dir(), "copy" + std::to_string(index++), kSlowBus, options);
        ASSERT_TRUE(waitUntil([&] { return copy.blocksSent() >= 1; }))
            << copy.finish(0).toStdString();
        ASSERT_LT(copy.blocksSent(), 3u) << "the signal comes between two blocks";
        for (const int signal : row.sent) {
            ::kill(static_cast<pid_t>(copy.process.processId()), signal);
            QThread::msleep(50);
        }
        const QString printed = copy.finish();
        EXPECT_EQ(copy.process.exitStatus(), QProcess::NormalExit) << "not ended by the signal";
        EXPECT_EQ(copy.process.exitCode(), row.exitCode);
        EXPECT_EQ(copy.blocksSent(), 3u);
        EXPECT_TRUE(printed.contains(QStringLiteral("SLEEP 70000"))) << printed.toStdString();
        EXPECT_EQ(printed.contains(QStringLiteral("BOX")), row.exitCode == 0) << "final question";
        EXPECT_EQ(printed.contains(outcomeLine(UpdateOutcome::Declined)), row.exitCode == 0);
    }
}

TEST_F(UpdateGuard, TerminationSignalOutsideAnUpdateEndsTheProgramAtOnce) {
    pickFile("lix1.hex", 100);
    CopyOptions options;
    options.extra = {QStringLiteral("--stay")};
    Copy copy(bench.dir(), "copy", kBus, options);
    ASSERT_TRUE(copy.hasPrinted("IDLE"));
    ::kill(static_cast<pid_t>(copy.process.processId()), SIGTERM);
    EXPECT_TRUE(copy.process.waitForFinished(2000));
    EXPECT_EQ(copy.process.exitStatus(), QProcess::CrashExit) << "ended by the signal";
}

// With a manager that cannot hold units, the machine-wide lock keeps a second update out; such a
// manager still updates.
TEST_F(UpdateGuard, SecondCopyIsRefusedWhileTheFirstUpdatesThenUpdates) {
    pickFile("lix1.hex", kDataLength);
    // The first copy holds the machine for its blocks and a wait long enough for the second.
    CopyOptions slowWait;
    slowWait.waitMilliseconds = 8000;
    slowWait.withoutUnitHold = true;
    Copy first(bench.dir(), "first", kSlowBus, slowWait);
    ASSERT_TRUE(waitUntil([&] { return first.blocksSent() >= 1; }))
        << first.finish(0).toStdString();
    CopyOptions olderManager;
    olderManager.withoutUnitHold = true;
    {
        Copy second(bench.dir(), "second", kBus, olderManager);
        const QString printed = second.finish();
        EXPECT_TRUE(
            printed.contains(QStringLiteral("BOX ") + QLatin1String(update::kAnotherUpdateText)))
            << printed.toStdString();
        EXPECT_TRUE(printed.contains(outcomeLine(UpdateOutcome::AnotherUpdateRunning)));
        EXPECT_EQ(second.blocksSent(), 0u);
        EXPECT_EQ(second.process.exitCode(), 0);
    }
    EXPECT_TRUE(first.finish().contains(outcomeLine(UpdateOutcome::Declined)));
    Copy again(bench.dir(), "again", kBus, olderManager);
    EXPECT_TRUE(again.finish().contains(outcomeLine(UpdateOutcome::Declined)));
    EXPECT_EQ(again.blocksSent(), 3u);
}

// A bus daemon that has hung: it takes every connection and, when it `greets`, agrees to the
// authentication (OK, AGREE_UNIX_FD); then it never answers again, the Hello included.
class StallingBus {
  public:
    StallingBus(const std::filesystem::path &path, bool greets)
        : m_path(path.string()), m_greets(greets) {
        m_listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        m_path.copy(address.sun_path, sizeof address.sun_path - 1);
        if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            ::listen(m_listener, 16) != 0 || ::pipe2(m_stop, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "no stalling bus at " << m_path;
            return;
        }
        m_thread = std::thread([this] { serve(); });
    }
    ~StallingBus() {
        if (m_thread.joinable()) {
            EXPECT_EQ(::write(m_stop[1], "", 1), 1);
            m_thread.join();
        }
        for (const int fd : {m_listener, m_stop[0], m_stop[1]}) {
            ::close(fd);
        }
    }
    StallingBus(const StallingBus &) = delete;
    StallingBus &operator=(const StallingBus &) = delete;

    std::string address() const { return "unix:path=" + m_path; }
    // When it last said OK to a client; null before it did.
    std::optional<std::chrono::steady_clock::time_point> agreed() const {
        const auto ticks = m_agreed.load();
        if (ticks == 0) {
            return std::nullopt;
        }
        return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(ticks));
    }

  private:
    struct Client {
        int fd;
        std::string text;  // the greeting's lines not yet answered
        bool begun = false;
    };

    void serve() {
        std::vector<Client> clients;
        for (;;) {
            std::vector<pollfd> ready{{m_stop[0], POLLIN, 0}, {m_listener, POLLIN, 0}};
            for (const Client &client : clients) {
                ready.push_back({client.fd, POLLIN, 0});
            }
            if (::poll(ready.data(), ready.size(), -1) < 0 || ready[0].revents != 0) {
                break;
            }
            if (ready[1].revents != 0) {
                const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0) {
                    clients.push_back({fd, {}});
                }
            }
            for (std::size_t i = 2; i < ready.size(); ++i) {
                if (ready[i].revents != 0) {
                    hear(clients[i - 2]);
                }
            }
        }
        for (const Client &client : clients) {
            ::close(client.fd);
        }
    }

    // Reads what the client sent; answers each line of its greeting until BEGIN.
    void hear(Client &client) {
        char buffer[4096];
        const ssize_t n = ::read(client.fd, buffer, sizeof buffer);
        if (n <= 0 || !m_greets || client.begun) {
            return;
        }
        client.text.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t end;
             !client.begun && (end = client.text.find("\r\n")) != std::string::npos;) {
            std::string line = client.text.substr(0, end);
            client.text.erase(0, end + 2);
            line.erase(0, line.find_first_not_of('\0'));
            std::string answer;
            if (line.rfind("AUTH", 0) == 0) {
                answer = "OK 0123456789abcdef0123456789abcdef\r\n";
            } else if (line == "NEGOTIATE_UNIX_FD") {
                answer = "AGREE_UNIX_FD\r\n";
            }
            client.begun = line == "BEGIN";
            if (!answer.empty() &&
                ::send(client.fd, answer.data(), answer.size(), MSG_NOSIGNAL) > 0 &&
                answer[0] == 'O') {
                m_agreed = std::chrono::steady_clock::now().time_since_epoch().count();
            }
        }
    }

    std::string m_path;
    bool m_greets;
    int m_listener = -1;
    int m_stop[2] = {-1, -1};
    std::atomic<std::chrono::steady_clock::rep> m_agreed{0};
    std::thread m_thread;
};

TEST_F(UpdateGuard, NothingTheGuardMeetsHoldsTheUpdateUp) {
    enum class Stalls { Neither, SystemBus, SessionBus };
    const struct {
        const char *name;
        Stalls stalls;    // this bus takes the connection and then never answers
        bool greets;      // it agrees to the authentication first
        bool pipeAtLock;  // another user made a named pipe at the lock path
        const char *said;
    } rows[] = {
        {"a system bus that never answers", Stalls::SystemBus, false, false,
         "cdrw-fwupdate: no logind inhibitor"},
        {"a system bus that stalls after the greeting", Stalls::SystemBus, true, false,
         "cdrw-fwupdate: no logind inhibitor"},
        {"a session bus that stalls after the greeting", Stalls::SessionBus, true, false,
         "cdrw-fwupdate: no desktop inhibitor"},
        {"a named pipe at the lock path", Stalls::Neither, false, true,
         "is not a regular file; going on without"},
    };
    // A slow guard still lets the first block go within three seconds; a hung one never does.
    constexpr int kHeldUpMilliseconds = 3000;
    constexpr int kHungMilliseconds = 10000;
    pickFile("lix1.hex", kDataLength);
    // The bus that does not stall, which Qt D-Bus must still reach after the guard's attempt, in
    // the same process.
    testing_support::TestBus other;
    ASSERT_FALSE(other.address().empty()) << "no test bus";
    int index = 0;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove(bench.dir() / "update.lock");
        if (row.pipeAtLock) {
            ASSERT_EQ(::mkfifo((bench.dir() / "update.lock").c_str(), 0666), 0);
        }
        std::optional<StallingBus> stalling;
        if (row.stalls != Stalls::Neither) {
            stalling.emplace(bench.dir() / ("stalling-bus" + std::to_string(index)), row.greets);
        }
        CopyOptions options;
        options.busAddress =
            row.stalls == Stalls::SystemBus ? stalling->address() : other.address();
        options.sessionBusAddress =
            row.stalls == Stalls::SessionBus ? stalling->address() : other.address();
        // Only a manager without the unit hold uses the lock file.
        options.withoutUnitHold = row.pipeAtLock;
        options.extra = {QStringLiteral("--ask"), QString::fromStdString(other.address())};
        Copy copy(bench.dir(), "copy" + std::to_string(index++), kBus, options);
        ASSERT_TRUE(copy.hasPrinted("GUARD")) << copy.finish(0).toStdString();
        auto from = std::chrono::steady_clock::now();
        ASSERT_TRUE(waitUntil([&] { return copy.blocksSent() >= 1; }, kHungMilliseconds))
            << "the guard hung";
        const auto firstBlock = std::chrono::steady_clock::now();
        if (row.greets) {
            ASSERT_TRUE(stalling->agreed()) << "the guard did not reach the greeting";
            from = *stalling->agreed();
        }
        EXPECT_LT(firstBlock - from, std::chrono::milliseconds(kHeldUpMilliseconds));
        const QString printed = copy.finish(kHungMilliseconds);
        EXPECT_TRUE(printed.contains(outcomeLine(UpdateOutcome::Declined)))
            << printed.toStdString();
        EXPECT_EQ(copy.blocksSent(), 3u);
        EXPECT_TRUE(printed.contains(QRegularExpression(QStringLiteral("ASKED [0-9a-f]{32}"))))
            << "Qt D-Bus still answers";
        EXPECT_EQ(copy.process.exitStatus(), QProcess::NormalExit) << "no abort";
        EXPECT_EQ(copy.process.exitCode(), 0);
        // The guard's one line and the unchecked power supply's, and nothing else but the
        // offscreen platform's own note.
        const QString errors =
            QString::fromLocal8Bit(copy.process.readAllStandardError())
                .remove(QStringLiteral("This plugin does not support raise()\n"));
        EXPECT_EQ(errors.count(QLatin1Char('\n')), 2) << errors.toStdString();
        EXPECT_TRUE(errors.contains(QLatin1String("the power supply is not checked")));
        EXPECT_TRUE(errors.contains(QLatin1String(row.said))) << errors.toStdString();
    }
}

TEST_F(UpdateGuard, KilledBetweenBlocksTheKeeperHoldsTheInhibitorForItsTime) {
    constexpr int kKeeperMilliseconds = 3000;
    pickFile("lix1.hex", kDataLength);
    testing_support::TestBus bus;
    ASSERT_FALSE(bus.address().empty()) << "no test bus";
    CopyOptions options;
    options.busAddress = bus.address();
    options.extra = {QStringLiteral("--keeper-ms=%1").arg(kKeeperMilliseconds)};
    Copy copy(bench.dir(), "copy", kSlowBus, options);
    ASSERT_TRUE(waitUntil([&] { return copy.blocksSent() >= 1; })) << copy.finish(0).toStdString();
    ASSERT_FALSE(bus.waitForLine(QStringLiteral("inhibit")).isEmpty());
    const auto program = static_cast<pid_t>(copy.process.processId());
    const std::vector<pid_t> keepers = keepersOf(program);
    ASSERT_EQ(keepers.size(), 1u);
    ASSERT_LT(copy.blocksSent(), 3u) << "killed between two blocks";

    QElapsedTimer sinceTheKill;
    sinceTheKill.start();
    ::kill(program, SIGKILL);
    copy.finish(5000);
    // A terminal's hangup and interrupt, as a logout or Ctrl+C deliver them, change nothing.
    ::kill(keepers[0], SIGHUP);
    ::kill(keepers[0], SIGINT);
    const QString released =
        bus.waitForLine(QStringLiteral("released"), kKeeperMilliseconds + 5000);
    const qint64 held = sinceTheKill.elapsed();
    EXPECT_FALSE(released.isEmpty()) << "never let go";
    EXPECT_GE(held, kKeeperMilliseconds) << "let go before the keeper's time";
    EXPECT_LE(held, kKeeperMilliseconds + 2000) << "held on too long";
    EXPECT_TRUE(waitUntil([&] { return !running(keepers[0]); }, 1000)) << "the keeper ended";
    EXPECT_LT(copy.blocksSent(), 3u);
}

// The power supply, asked of a UPower stand-in on the guard's bus by the program's own host: on
// battery below the floor the update is refused in one box with the percentage before the chooser
// (nothing written, nothing sent); above it the update goes ahead after one box that says so; on
// the mains nothing is said. Asked when the update starts and again before the first block.
// --check says the same of each machine, sending, holding and writing nothing.
TEST_F(UpdateGuard, PowerSupplyIsAskedOfUPowerBeforeAnythingIsWritten) {
    pickFile("lix1.hex", kDataLength);
    const struct {
        const char *upower;
        UpdateOutcome outcome;
        std::size_t blocks;
        const char *box;  // the one box before the final question; none: null
        const char *ready;
    } rows[] = {
        {"battery:10", UpdateOutcome::Refused, 0, "BOX The computer runs on battery at 10 %.",
         "\"ready\": false"},
        {"battery:25", UpdateOutcome::Declined, 3, "BOX The computer runs on battery at 25 %.",
         "\"ready\": true"},
        {"battery:80", UpdateOutcome::Declined, 3, "BOX The computer runs on battery at 80 %.",
         "\"ready\": true"},
        {"mains", UpdateOutcome::Declined, 3, nullptr, "\"ready\": true"},
    };
    // A unit of its own, which no keeper of the tests before holds.
    constexpr const char *unitBus = R"(adapter 0 id 7
unit 0 5 vendor "VEK     " product "CDRW 8432       " revision "1.10"
)";
    std::ofstream("bus.txt") << unitBus;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.upower);
        std::filesystem::remove("lix1.bin");
        testing_support::TestBus bus({QStringLiteral("--upower=") + QLatin1String(row.upower)});
        ASSERT_FALSE(bus.address().empty());
        QProcess check;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("CDRW_SIM_BUS"), QStringLiteral("bus.txt"));
        environment.insert(QStringLiteral("CDRW_SIM_LOG"), QStringLiteral("check.log"));
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
                           QString::fromStdString(bus.address()));
        check.setProcessEnvironment(environment);
        check.start(QStringLiteral(CDRW_PROGRAM),
                    {QStringLiteral("--check"), QStringLiteral("--unit=0:7:5"),
                     QStringLiteral("--json"), QStringLiteral("lix1.hex")});
        ASSERT_TRUE(check.waitForFinished(10000));
        const QString report = QString::fromUtf8(check.readAllStandardOutput());
        EXPECT_TRUE(report.contains(QLatin1String(row.ready))) << report.toStdString();
        EXPECT_EQ(check.exitCode(), row.blocks > 0 ? 0 : 1);
        const std::string checkLog = image_test::readFile("check.log");
        EXPECT_EQ(checkLog.find("HOLD"), std::string::npos) << checkLog;
        EXPECT_EQ(checkLog.find("cdb=3b"), std::string::npos) << checkLog;
        EXPECT_FALSE(std::filesystem::exists("lix1.bin"));
        CopyOptions options;
        options.busAddress = bus.address();
        Copy copy(bench.dir(), row.upower, unitBus, options);
        const QString printed = copy.finish();
        EXPECT_TRUE(printed.contains(outcomeLine(row.outcome))) << printed.toStdString();
        EXPECT_EQ(copy.blocksSent(), row.blocks);
        EXPECT_EQ(std::filesystem::exists("lix1.bin"), row.blocks > 0);
        EXPECT_EQ(printed.count(QStringLiteral("BOX The computer runs on battery")),
                  row.box != nullptr ? 1 : 0)
            << printed.toStdString();
        if (row.box != nullptr) {
            EXPECT_TRUE(printed.contains(QLatin1String(row.box))) << printed.toStdString();
        }
        EXPECT_EQ(bus.waitForLine(QStringLiteral("upower-get OnBattery"), 0).isEmpty(), false);
    }
}
