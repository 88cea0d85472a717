// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The shell's update end to end on the simulated bus, as a person at a terminal or a script sees
// it: each row starts the program (or, where the update takes its guard, the driver, whose guard
// meets no system bus and whose wait is short) with no display to open, on a pseudo-terminal or
// with standard input at its end, answers what it asks, and checks its exit status, what it
// wrote and what the unit received.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "tests/update/UpdateTestSupport.h"

namespace {

using update_test::binBody;
using update_test::sentBlocks;

// One VEK unit (eligible) and one ZAV unit (not) on one adapter; rows append their own words to
// the VEK unit's line, or lines of their own.
constexpr const char *kBus = R"(adapter 0 id 7
unit 0 4 vendor "ZAV     " product "CD-RW ZR-1210   " revision "2.03"
unit 0 3 vendor "VEK     " product "CDRW 8432       " revision "1.10")";

// The second block fails once with a unit attention.
constexpr const char *kSecondBlockFails =
    "\nfail 0 3 offset 0x4000 sense 70 00 06 00 00 00 00 0a 00 00 00 00 29 00 00 00 00 00";

// What the command error dialog shows for that failure, in order.
const std::vector<std::string> kDialogLines = {
    "Command error information\n",
    "Host Adapter ID:0   Device ID:3\n",
    "Operate Code:3b\n",
    "Sense Key:6  Unit attention\n",
    "ASC:29  ASCQ:0\n",
    "Power on,reset,or BUS device reset occurred\n",
};

// A child process with its standard streams on a pseudo-terminal, or with standard input at its
// end and its output in a pipe, in `folder`, with no display to reach.
class Child {
  public:
    Child(const std::vector<std::string> &argv, bool terminal, const std::string &folder) {
        int out[2] = {-1, -1};
        if (terminal) {
            m_pid = ::forkpty(&m_fd, nullptr, nullptr, nullptr);
        } else if (::pipe2(out, O_CLOEXEC) == 0) {
            m_pid = ::fork();
            m_fd = out[0];
        }
        if (m_pid == 0) {
            if (!terminal) {
                ::dup2(out[1], STDOUT_FILENO);
                ::dup2(out[1], STDERR_FILENO);
                const int none = ::open("/dev/null", O_RDONLY);
                ::dup2(none, STDIN_FILENO);
            }
            // The journal is the test's; a program that opened a display here would end at once.
            ::setenv("XDG_STATE_HOME", folder.c_str(), 1);
            ::unsetenv("DISPLAY");
            ::unsetenv("WAYLAND_DISPLAY");
            // No system bus: no UPower and no logind, whatever the machine has.
            ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + folder + "/no-bus").c_str(), 1);
            ::setenv("QT_QPA_PLATFORM", "xcb", 1);
            std::vector<char *> args;
            args.reserve(argv.size() + 1);
            for (const std::string &arg : argv) {
                args.push_back(const_cast<char *>(arg.c_str()));
            }
            args.push_back(nullptr);
            if (::chdir(folder.c_str()) == 0) {
                ::execv(args[0], args.data());
            }
            ::_exit(127);
        }
        if (out[1] >= 0) {
            ::close(out[1]);
        }
    }
    ~Child() {
        if (m_pid > 0 && !m_ended) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    // Reads until `text` has come after what earlier calls found; false when it has not within
    // `milliseconds` or the output ended first.
    bool waitFor(const std::string &text, int milliseconds = 30000) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        for (;;) {
            const std::size_t found = output().find(text, m_searchFrom);
            if (found != std::string::npos) {
                m_searchFrom = found + text.size();
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !readSome(static_cast<int>(left.count()))) {
                return false;
            }
        }
    }
    void send(const std::string &text) {
        EXPECT_EQ(::write(m_fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    // Reads to the end and returns the exit status, 128 + N for signal N; -1 when the child
    // still runs after 30 s without a word (it waits for an answer), and it is ended.
    int finish() {
        while (readSome(30000)) {
        }
        int status = 0;
        for (int tries = 0; ::waitpid(m_pid, &status, WNOHANG) != m_pid; ++tries) {
            if (tries == 500) {
                return -1;
            }
            ::usleep(10000);
        }
        m_ended = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    // What it wrote so far, its line ends as "\n" (a terminal writes "\r\n").
    std::string output() const {
        std::string text;
        for (std::size_t i = 0; i < m_raw.size(); ++i) {
            if (!(m_raw[i] == '\r' && i + 1 < m_raw.size() && m_raw[i + 1] == '\n')) {
                text += m_raw[i];
            }
        }
        return text;
    }

  private:
    // False at the output's end or after `milliseconds` without any.
    bool readSome(int milliseconds) {
        pollfd ready{m_fd, POLLIN, 0};
        if (::poll(&ready, 1, milliseconds) <= 0) {
            return false;
        }
        char buffer[4096];
        const ssize_t count = ::read(m_fd, buffer, sizeof buffer);
        if (count <= 0) {
            return false;  // a pseudo-terminal whose other side has closed reads EIO
        }
        m_raw.append(buffer, static_cast<std::size_t>(count));
        return true;
    }

    pid_t m_pid = -1;
    int m_fd = -1;
    bool m_ended = false;
    std::string m_raw;
    std::size_t m_searchFrom = 0;
};

class ConsoleUpdate : public ::testing::Test {
  protected:
    testing_support::SimBench bench;
};

TEST_F(ConsoleUpdate, AnswersChecksAndStatusAsAPersonOrAScriptMeetsThem) {
    constexpr const char *kUpdate = "--update=lix1.hex";
    constexpr const char *kUnit = "--unit=0:7:3";
    const struct {
        const char *name;
        bool driver;    // the update takes its guard or waits: the driver
        bool terminal;  // on a pseudo-terminal, else standard input at its end
        const char *busWords;
        std::vector<std::string> options;
        std::vector<std::pair<std::string, std::string>> script;  // wait for, then send
        int status;
        std::size_t blocksSent;  // WRITE BUFFER commands the unit received
        bool imageTaken;         // the unit holds the image of the .bin side file
        std::vector<std::string> said;
    } rows[] = {
        {"confirmed on a terminal",
         true,
         true,
         "",
         {kUpdate, kUnit},
         {{"Unit:  0:7:3         VEK", ""}, {"[y/N] ", "y\n"}},
         0,
         3,
         true,
         {"Sending [", "Wait a moment please... 70 s", "Update completed. Shutdown PC.\n"}},
        {"not confirmed on a terminal",
         false,
         true,
         "",
         {kUpdate, kUnit},
         {{"[y/N] ", "\n"}},
         1,
         0,
         false,
         {"Nothing sent.\n"}},
        {"a failed block retried",
         true,
         true,
         kSecondBlockFails,
         {kUpdate, kUnit, "--yes"},
         {{"[r/i/s] ", "r\n"}},
         0,
         4,
         true,
         kDialogLines},
        {"a failed block ignored: the unit lacks it",
         true,
         true,
         kSecondBlockFails,
         {kUpdate, kUnit, "--yes"},
         {{"[r/i/s] ", "i\n"}, {"EDC error\n", ""}, {"[r/i/s] ", "i\n"}},
         1,
         3,
         false,
         kDialogLines},
        {"a failed block stopped",
         true,
         true,
         kSecondBlockFails,
         {kUpdate, kUnit, "--yes"},
         {{"[r/i/s] ", "s\n"}},
         1,
         2,
         false,
         {"cdrw-fwupdate: stopped"}},
        {"Ctrl-C between blocks is held to the end",
         true,
         true,
         " blocktime 700",
         {kUpdate, kUnit, "--yes"},
         {{"] 1/3 blocks", "\x03"}},
         128 + SIGINT,
         3,
         true,
         {"cdrw-fwupdate: SIGINT held: the update goes on to its end, then the program ends\n",
          "Wait a moment please..."}},
        {"no terminal: a failed block stops",
         true,
         false,
         kSecondBlockFails,
         {kUpdate, kUnit, "--yes"},
         {},
         1,
         2,
         false,
         {kDialogLines[5], "Stop (no terminal to ask on)\n"}},
        {"no terminal and no --yes: nothing sent",
         false,
         false,
         "",
         {kUpdate, kUnit},
         {},
         1,
         0,
         false,
         {"cdrw-fwupdate: nothing sent: no terminal to confirm on (--yes confirms for a "
          "script)\n"}},
        {"a refused file name",
         false,
         false,
         "",
         {"--update=wol1.hex", kUnit, "--yes"},
         {},
         1,
         0,
         false,
         {"This file can't be downloaded by this program!\n"}},
        {"a unit that is not eligible",
         false,
         false,
         "",
         {kUpdate, "--unit=0:7:4", "--yes"},
         {},
         1,
         0,
         false,
         {"cdrw-fwupdate: this program sends firmware only to units whose vendor is VEK; the "
          "unit 0:7:4 is ZAV\n"}},
        {"a unit behind a USB bridge: refused before anything is written",
         false,
         false,
         " transport usb 152d:0578",
         {kUpdate, kUnit, "--yes"},
         {},
         1,
         0,
         false,
         {"The unit 0:7:3 is attached through a USB bridge (152d:0578). Bridges often cut"}},
        {"a unit behind a USB bridge, the check turned off",
         true,
         false,
         " transport usb 152d:0578",
         {kUpdate, kUnit, "--yes", "--allow-usb-bridge"},
         {},
         0,
         3,
         true,
         {"The USB bridge check is off (--allow-usb-bridge)"}},
        {"--check of a unit behind a USB bridge",
         false,
         false,
         " transport usb 152d:0578",
         {"--check", kUnit, "lix1.hex"},
         {},
         1,
         0,
         false,
         {"refuse  transport  The unit 0:7:3 is attached", "ok      file       The file lix1.hex",
          "Not ready: an update of 0:7:3 would be refused.\n"}},
        {"a usage fault",
         false,
         false,
         "",
         {kUpdate},
         {},
         2,
         0,
         false,
         {"an update needs --update FILE and --unit ADDRESS"}},
    };
    const std::string folder = bench.dir().string();
    const std::string hex = hex_text::hexWithData(40000);  // three blocks
    image_test::writeFile(folder + "/lix1.hex", hex);
    image_test::writeFile(folder + "/wol1.hex", hex);
    // A build chroot may have no pseudo-terminals: the rows that need one are then left out.
    const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (terminal >= 0) {
        ::close(terminal);
    }
    std::size_t logged = 0;
    std::size_t updates = 0;  // those that sent blocks, each begun and ended in the journal
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        if (row.terminal && terminal < 0) {
            std::printf("left out without a pseudo-terminal: %s\n", row.name);
            continue;
        }
        updates += row.blocksSent > 0;
        bench.useBus(std::string(kBus) + row.busWords);
        std::vector<std::string> argv = {CDRW_PROGRAM};
        if (row.driver) {
            argv = {CDRW_CONSOLE_DRIVER, folder + "/update.lock", "unix:path=" + folder + "/no-bus",
                    "10"};
        }
        argv.insert(argv.end(), row.options.begin(), row.options.end());
        Child child(argv, row.terminal, folder);
        for (const auto &[awaited, answer] : row.script) {
            ASSERT_TRUE(child.waitFor(awaited)) << "no " << awaited << " in\n" << child.output();
            child.send(answer);
        }
        EXPECT_EQ(child.finish(), row.status) << child.output();
        for (const std::string &text : row.said) {
            EXPECT_NE(child.output().find(text), std::string::npos) << "no " << text << " in\n"
                                                                    << child.output();
        }
        const std::vector<update_test::SentBlock> sent = sentBlocks(bench);
        EXPECT_EQ(sent.size() - logged, row.blocksSent);
        logged = sent.size();
        if (row.blocksSent > 0) {
            EXPECT_EQ(bench.image(0, 3) == binBody(folder + "/lix1.bin"), row.imageTaken);
        }
    }
    // Each update that sent blocks is in the journal, begun and ended, as the window's are.
    const std::string journal = image_test::readFile(folder + "/cdrw-fwupdate/journal.jsonl");
    const auto count = [&journal](const std::string &event) {
        std::size_t found = 0;
        for (std::size_t at = 0; (at = journal.find(event, at)) != std::string::npos; ++at) {
            ++found;
        }
        return found;
    };
    EXPECT_EQ(count("\"event\":\"begin\""), updates) << journal;
    EXPECT_EQ(count("\"event\":\"end\""), updates) << journal;
}

}  // namespace
