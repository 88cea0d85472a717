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
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/managers/SgTestSupport.h"
#include "tests/update/UpdateTestSupport.h"
#include "update/JournalReader.h"
#include "update/TraceReader.h"

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

// In the child of forkpty(), plays a shell with job control: the rest runs as a job in a process
// group of its own in the terminal's foreground, which Ctrl+Z can stop; this process ends with
// the job's status, 128 + N for a signal N that ended it, or stopped it (the job is then ended).
void runAsForegroundJob() {
    if (const pid_t job = ::fork(); job != 0) {
        int status = 0;
        if (::waitpid(job, &status, WUNTRACED) == job && WIFSTOPPED(status)) {
            ::kill(job, SIGKILL);
        }
        ::_exit(WIFEXITED(status)    ? WEXITSTATUS(status)
                : WIFSTOPPED(status) ? 128 + WSTOPSIG(status)
                                     : 128 + WTERMSIG(status));
    }
    ::setpgid(0, 0);
    ::signal(SIGTTOU, SIG_IGN);  // taking the foreground from the background
    ::tcsetpgrp(STDIN_FILENO, ::getpid());
    ::signal(SIGTTOU, SIG_DFL);
}

// A child process with its standard streams on a pseudo-terminal, or with standard input at its
// end and its output in a pipe, in `folder`, with no display to reach.
class Child {
  public:
    // `environment`: variables set for the child besides.
    Child(const std::vector<std::string> &argv, bool terminal, const std::string &folder,
          const std::vector<std::pair<std::string, std::string>> &environment = {}) {
        int out[2] = {-1, -1};
        if (terminal) {
            m_pid = ::forkpty(&m_fd, nullptr, nullptr, nullptr);
        } else if (::pipe2(out, O_CLOEXEC) == 0) {
            m_pid = ::fork();
            m_fd = out[0];
        }
        if (m_pid == 0) {
            if (terminal) {
                runAsForegroundJob();
            } else {
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
            for (const auto &[name, value] : environment) {
                ::setenv(name.c_str(), value.c_str(), 1);
            }
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
        std::vector<std::string> unsaid = {};  // none of these in what it wrote
        // On the real manager over the kernel stand-in, whose tree holds: "no sg" nothing, "held"
        // a recorder another process holds. None: the simulator.
        const char *kernel = nullptr;
        bool dumbTerminal = false;  // TERM=dumb: no escape sequences
    } rows[] = {
        // clang-format off
        {"an empty journal is said", false, false, "", {"--history"}, {}, 0, 0, false,
         {"cdrw-fwupdate: no updates in the journal\n"}},
        {"confirmed on a terminal", true, true, "", {kUpdate, kUnit},
         {{"Unit:  0:7:3         VEK", ""}, {"[y/N] ", "y\n"}}, 0, 3, true,
         {"Sending [", "Wait a moment please... 70 s", "Update completed. Shutdown PC.\n"}},
        {"not confirmed on a terminal", false, true, "", {kUpdate, kUnit}, {{"[y/N] ", "\n"}}, 1, 0,
         false, {"Nothing sent.\n"}},
        {"a failed block retried", true, true, kSecondBlockFails, {kUpdate, kUnit, "--yes"},
         {{"[r/i/s] ", "r\n"}}, 0, 4, true, kDialogLines},
        {"a failed block ignored: the unit lacks it, and the shell says so without asking", true,
         true, kSecondBlockFails, {kUpdate, kUnit, "--yes"},
         {{"[r/i/s] ", "i\n"}, {"EDC error\n", ""}, {"[r/i/s] ", "i\n"}}, 1, 3, false,
         {kDialogLines[5], "] 3/3 blocks, 2 not taken", "The unit did not take 2 of 3 blocks: its "
          "firmware may be incomplete. Update it again before you switch the PC off.\n"},
         {"End the program?"}},
        {"a failed block stopped", true, true, kSecondBlockFails, {kUpdate, kUnit, "--yes"},
         {{"[r/i/s] ", "s\n"}}, 1, 2, false,
         {"The update was stopped after block 2 of 3 failed; nothing more was sent to the unit. "
          "The unit was not asked to store the new firmware."}},
        {"Ctrl-Z between blocks is ignored, Ctrl-C held to the end", true, true, " blocktime 700",
         {kUpdate, kUnit, "--yes"}, {{"] 1/3 blocks", "\x1a"}, {"stopped until then\n", "\x03"}},
         128 + SIGINT, 3, true,
         {"cdrw-fwupdate: SIGINT held: the update goes on to its end, then the program ends\n",
          "cdrw-fwupdate: SIGTSTP ignored: the update goes on to its end; the program cannot be "
          "stopped until then\n", "Wait a moment please...", "Update completed. Shutdown PC.\n"},
         {"\x1b"}, nullptr, true},
        {"no terminal: a failed block stops", true, false, kSecondBlockFails,
         {kUpdate, kUnit, "--yes"}, {}, 1, 2, false,
         {kDialogLines[5], "Stop (no terminal to ask on)\n"}, {"\x1b"}},
        {"no terminal and no --yes: nothing sent", false, false, "", {kUpdate, kUnit}, {}, 1, 0,
         false,
         {"cdrw-fwupdate: nothing sent: no terminal to confirm on (--yes confirms for a "
          "script)\n"}},
        {"a refused file name", false, false, "", {"--update=wol1.hex", kUnit, "-y"}, {}, 1, 0,
         false, {"This file can't be downloaded by this program!\n"}},
        {"a unit that is not eligible", false, false, "", {kUpdate, "--unit=0:7:4", "--yes"}, {}, 1,
         0, false,
         {"cdrw-fwupdate: this program sends firmware only to units whose vendor is VEK; the "
          "unit 0:7:4 is ZAV\n"}},
        {"a missing file: its name and the system's reason", false, false, "",
         {"--update=lix_missing.hex", kUnit, "-y"}, {}, 1, 0, false,
         {"cdrw-fwupdate: cannot open lix_missing.hex: No such file or directory\n"}},
        {"--help among an update's options", false, false, "", {kUpdate, kUnit, "--help"}, {}, 0, 0,
         false, {"Usage: cdrw-fwupdate", "  -y, --yes "}},
        {"control characters from the bus are escaped", false, false,
         "\nunit 0 5 vendor \"VEK\\x1b[2J\" product \"CD\\x9b2J\\x07\" revision \"1.10\"",
         {"--list"}, {}, 0, 0, false, {"0:7:5         VEK\\x1b[2J       CD\\x9b2J\\x07"},
         {"\x1b[", "\x07", "\xc2\x9b"}},
        {"an empty list without a reason", false, false, "adapter 0 id 7", {"--list"}, {}, 0, 0,
         false, {"cdrw-fwupdate: no units\n"}},
        {"an empty list: no sg driver", false, false, "", {"--list"}, {}, 1, 0, false,
         {"cdrw-fwupdate: No CD-R/RW unit is listed: ", "(sg)", "sudo modprobe sg"}, {}, "no sg"},
        {"an update to a unit an update holds: wait a minute", false, false, "",
         {kUpdate, "--unit=0:7:3", "-y"}, {}, 1, 0, false,
         {"1 CD/DVD unit was found that an update holds", "Wait a minute"}, {}, "held"},
        {"a unit behind a USB bridge: refused before anything is written", false, false,
         " transport usb 152d:0578", {kUpdate, kUnit, "--yes"}, {}, 1, 0, false,
         {"The unit 0:7:3 is attached through a USB bridge (152d:0578). Bridges often cut"}},
        {"a unit behind a USB bridge, the check turned off", true, false,
         " transport usb 152d:0578", {kUpdate, kUnit, "--yes", "--allow-usb-bridge"}, {}, 0, 3,
         true, {"The USB bridge check is off (--allow-usb-bridge)"}},
        {"--check of a unit behind a USB bridge", false, false, " transport usb 152d:0578",
         {"--check", kUnit, "lix1.hex"}, {}, 1, 0, false,
         {"refuse  transport  The unit 0:7:3 is attached", "ok      file       The file lix1.hex",
          "Not ready: an update of 0:7:3 would be refused.\n"}},
        {"a usage fault", false, false, "", {kUpdate}, {}, 2, 0, false,
         {"an update needs --update FILE and --unit ADDRESS"}},
        // clang-format on
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
    // A sanitizer build is told not to mind the stand-in preloaded before its runtime.
    const char *asan = std::getenv("ASAN_OPTIONS");
    const std::string asanOptions = asan != nullptr ? asan : "";
    std::size_t logged = 0;
    std::size_t updates = 0;  // those that sent blocks, each begun and ended in the journal
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        if (row.terminal && terminal < 0) {
            std::printf("left out without a pseudo-terminal: %s\n", row.name);
            continue;
        }
        updates += row.blocksSent > 0;
        // Words that begin with an adapter are a whole bus.
        const std::string words = row.busWords;
        bench.useBus(words.starts_with("adapter") ? words : kBus + words);
        std::vector<std::pair<std::string, std::string>> environment;
        sg_testing::FakeSysfs sysfs;
        int held = -1;
        if (row.kernel != nullptr) {
            const std::string kernel = row.kernel;
            if (kernel != "no sg") {
                sysfs.addDevice(0, "0:0:3:0", 5);
                sysfs.addNode("sg0", "VEK     CDRW 8432       1.10");
            }
            if (kernel == "held") {
                held = ::open((sysfs.folder() / "dev" / "sg0").c_str(), O_RDONLY | O_CLOEXEC);
                ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
            }
            environment = {{"LD_PRELOAD", CDRW_KERNEL_STAND_IN},
                           {"LD_LIBRARY_PATH", CDRW_MANAGER_DIR},
                           {"CDRW_FAKE_SG_ROOT", sysfs.folder().string()},
                           {"ASAN_OPTIONS", asanOptions + ":verify_asan_link_order=0"}};
        }
        if (row.dumbTerminal) {
            environment.emplace_back("TERM", "dumb");
        }
        std::vector<std::string> argv = {CDRW_PROGRAM};
        if (row.driver) {
            argv = {CDRW_CONSOLE_DRIVER, folder + "/update.lock", "unix:path=" + folder + "/no-bus",
                    "10"};
        }
        argv.insert(argv.end(), row.options.begin(), row.options.end());
        Child child(argv, row.terminal, folder, environment);
        for (const auto &[awaited, answer] : row.script) {
            ASSERT_TRUE(child.waitFor(awaited)) << "no " << awaited << " in\n" << child.output();
            child.send(answer);
        }
        EXPECT_EQ(child.finish(), row.status) << child.output();
        if (held >= 0) {
            ::close(held);
        }
        for (const std::string &text : row.unsaid) {
            EXPECT_EQ(child.output().find(text), std::string::npos) << text << " in\n"
                                                                    << child.output();
        }
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

// The first block refused once (retried), the second always (ignored, so the last fails its EDC
// check and is ignored too): the trace holds the CDBs the unit received, in order, and replays
// on the simulator to the same failures and answers; a trace cut short is refused with its line.
TEST_F(ConsoleUpdate, TraceHoldsWhatWasSentAndReplaysToTheSameFailures) {
    if (const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY); terminal < 0) {
        GTEST_SKIP() << "no pseudo-terminal";
    } else {
        ::close(terminal);
    }
    const std::string folder = bench.dir().string();
    image_test::writeFile(folder + "/lix1.hex", hex_text::hexWithData(40000));
    const auto update = [&](const std::string &why) {
        SCOPED_TRACE(why);
        Child child({CDRW_CONSOLE_DRIVER, folder + "/update.lock", "unix:path=" + folder + "/no",
                     "10", "--update=lix1.hex", "--unit=0:7:3", "--yes"},
                    true, folder);
        for (const char *answer : {"r\n", "i\n", "i\n"}) {
            ASSERT_TRUE(child.waitFor("[r/i/s] ", 10000)) << child.output();
            child.send(answer);
        }
        EXPECT_EQ(child.finish(), 1) << child.output();
    };
    const auto traces = [&folder] {
        std::vector<std::string> paths;
        for (const auto &entry :
             std::filesystem::directory_iterator(folder + "/cdrw-fwupdate/traces")) {
            paths.push_back(entry.path().string());
        }
        return paths;
    };
    bench.useBus(std::string(kBus) + "\nfail 0 3 offset 0\nfail 0 3 offset 0x4000 attempts 9");
    update("recorded");
    const std::vector<std::string> first = traces();
    ASSERT_EQ(first.size(), 1u);
    const update::TraceParse trace = update::readTrace(first[0]);
    ASSERT_TRUE(trace.trace) << trace.errorLine << ": " << trace.error;
    EXPECT_EQ(trace.trace->address, "0:7:3");
    std::vector<std::string> received;
    for (std::string line : bench.logLinesWith("cdb=3b")) {
        line = line.substr(line.find("cdb=") + 4);
        line = line.substr(0, line.find(" ->"));
        std::erase(line, ' ');
        received.push_back(line);
    }
    std::vector<std::string> traced;
    std::vector<std::string> answers;
    const image_test::Bytes image = binBody(folder + "/lix1.bin");
    for (const update::TraceCommand &command : trace.trace->commands) {
        traced.push_back(update::hexBytes(command.cdb.data(), command.cdb.size()));
        answers.push_back(command.answer);
        EXPECT_EQ(command.sense.has_value(), command.targetStatus == 0x02);
        // The hash of the block's bytes, never the bytes.
        const std::size_t offset = (command.cdb[3] << 16) | (command.cdb[4] << 8) | command.cdb[5];
        EXPECT_EQ(command.dataSha256, update::sha256Hex(image.data() + offset, command.length));
    }
    EXPECT_EQ(image_test::readFile(first[0]).find(update::hexBytes(image.data() + 100, 16)),
              std::string::npos);
    EXPECT_EQ(traced, received);
    EXPECT_EQ(answers, (std::vector<std::string>{"retry", "", "ignore", "ignore"}));

    ::setenv("CDRW_SIM_BUS", first[0].c_str(), 1);
    update("replayed");
    const update::JournalContents journal =
        update::parseJournal(image_test::readFile(folder + "/cdrw-fwupdate/journal.jsonl"));
    ASSERT_EQ(journal.updates.size(), 2u);
    const auto failures = [](const update::JournalUpdate &one) {
        std::vector<std::tuple<std::uint32_t, std::uint16_t, std::string, std::vector<std::string>>>
            list;
        for (const update::BlockFailure &failure : one.failures) {
            list.emplace_back(failure.block, failure.result, failure.sense, failure.answers);
        }
        return list;
    };
    EXPECT_EQ(failures(journal.updates[0]).size(), 3u);
    EXPECT_EQ(failures(journal.updates[1]), failures(journal.updates[0]));
    EXPECT_EQ(traces().size(), 2u);

    // Cut in the middle of its last line, the trace is refused when the program binds the bus.
    std::string cut = image_test::readFile(first[0]);
    bench.useBus(cut.substr(0, cut.size() - 9));
    Child list({CDRW_PROGRAM, "--list"}, false, folder);
    list.finish();
    EXPECT_NE(list.output().find("line 5: not a trace this program can replay: the line is cut "
                                 "short (no line end)"),
              std::string::npos)
        << list.output();
}

}  // namespace
