// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// A unit that the keeper of a killed update still holds, on the real manager: the test module
// that runs it over a kernel seam of the test's own, whose device nodes are plain files (flock
// works on them as on the nodes themselves); and on the simulator, as in a rehearsal. The
// program's own guard and keeper are used.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QThread>
#include <algorithm>

#include "managers/sim/SimUnit.h"
#include "platform/SystemUpdateGuard.h"
#include "platform/UpdateKeeper.h"
#include "tests/managers/SgTestSupport.h"
#include "tests/update/UpdateTestSupport.h"

using update::UpdateOutcome;
using namespace update_test;

namespace {

// Short, so that the test can wait for the keeper to end.
constexpr unsigned kKeeperMilliseconds = 4000;

// Two recorders, sg0 at 0:0:3:0 (block device sr0) and sg1 at 0:0:4:0, answered by one simulated
// unit. Their nodes are plain files in `nodes`. The WRITE BUFFER at offset `killAt` ends the
// process with SIGKILL, as kill -9 between two blocks does.
class RecorderKernel final : public sg::PassThrough {
  public:
    explicit RecorderKernel(std::filesystem::path nodes)
        : m_nodes(std::move(nodes)), m_unit(recorder(), {}) {
        for (const char *node : {"sg0", "sr0", "sg1"}) {
            std::ofstream(m_nodes / node) << "node";
        }
    }

    std::string node(const char *name) const { return (m_nodes / name).string(); }

    int open(const std::string &) override { return 3; }
    void close(int) override {}
    int openNode(const std::string &path, int flags) override {
        const int fd = ::open(node(std::filesystem::path(path).filename().c_str()).c_str(), flags);
        return fd < 0 ? -errno : fd;
    }
    sg::PassThroughResult run(int, const sg::PassThroughCommand &command) override {
        const std::uint8_t *cdb = command.cdb.data();
        if (cdb[0] == 0x3B &&
            static_cast<unsigned>((cdb[3] << 16) | (cdb[4] << 8) | cdb[5]) == killAt) {
            ::kill(::getpid(), SIGKILL);
        }
        const sim::Reply reply = m_unit.execute(cdb, static_cast<std::uint8_t>(command.cdb.size()),
                                                command.data, command.length);
        return {.scsiStatus = reply.targStat};
    }

    unsigned killAt = ~0u;

  private:
    static sim::UnitDescription recorder() {
        sim::UnitDescription unit;
        std::ranges::copy(std::string_view("VEK     "), unit.vendor.begin());
        std::ranges::copy(std::string_view("CDRW 8432       "), unit.product.begin());
        std::ranges::copy(std::string_view("1.10"), unit.revision.begin());
        return unit;
    }

    std::filesystem::path m_nodes;
    sim::SimUnit m_unit;
};

// The program's own guard, without buses, with a keeper of the test's short time.
auto guardWithKeeper(const std::filesystem::path &dir) {
    return [dir](const std::string &why, std::unique_ptr<platform::UnitHold> unitHold) {
        platform::UpdateGuardSettings settings;
        settings.lockPath = (dir / "update.lock").string();
        settings.busAddress = "unix:path=" + (dir / "no-bus").string();
        settings.sessionBusAddress = settings.busAddress;
        settings.keeperMilliseconds = kKeeperMilliseconds;
        return platform::takeSystemUpdateGuard(settings, why, std::move(unitHold));
    };
}

// The keeper names the unit as soon as it sees the program gone.
void waitForKeeperOf(const char *unit) {
    QElapsedTimer named;
    named.start();
    while (!platform::UpdateKeeper::keepsUnitOfEndedUpdate(unit) && !named.hasExpired(2000)) {
        QThread::msleep(10);
    }
}

class KeptUnit : public UpdateBench {
  protected:
    // Hands the tree and the kernel to the test module before the program binds it, and takes
    // them back at the end.
    void SetUp() override {
        UpdateBench::SetUp();
        sysfs.addDevice(0, "0:0:3:0", 5, "sr0");
        sysfs.addDevice(1, "0:0:4:0", 5);
        void *module = ::dlopen(aspi::kManagerLibraryName, RTLD_NOW);
        ASSERT_NE(module, nullptr) << ::dlerror();
        install = reinterpret_cast<Install>(::dlsym(module, "FakeKernelInstall"));
        ASSERT_NE(install, nullptr) << "not the fake kernel manager";
        install(sysfs.root().c_str(), &kernel);
    }
    void TearDown() override {
        if (install != nullptr) {
            install(nullptr, nullptr);
        }
        UpdateBench::TearDown();
    }

    using Install = void (*)(const char *, sg::PassThrough *);
    Install install = nullptr;
    sg_testing::FakeSysfs sysfs;
    testing_support::TempDir nodes{"cdrw-nodes"};
    RecorderKernel kernel{nodes.path()};
};

}  // namespace

// While the keeper of an update killed between two blocks holds the unit, a second update of it
// is told to wait, and sends nothing; a unit that another program holds is told so, also while a
// keeper holds another unit.
TEST_F(KeptUnit, AnUpdateOfAUnitItsKeeperHoldsIsToldToWait) {
    // The keeper of the killed update becomes this process's child when the update's process
    // ends, so that it can be reaped here.
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    bind();
    ASSERT_EQ(windows.lines.size(), 2u);
    pickFile("lix1.hex", 40000);
    host.makeGuard = guardWithKeeper(bench.dir());
    const pid_t update = ::fork();
    if (update == 0) {
        kernel.killAt = 0x4000;
        run();
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(update, &status, 0), update);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "killed between blocks";
    waitForKeeperOf("0:3");

    const int other = ::open(kernel.node("sg1").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    const struct {
        const char *name;
        int line;
        const char *text;
    } rows[] = {
        {"the unit its keeper holds", 0,
         "An update of this unit ended less than 70 seconds ago and the unit may still be "
         "storing its firmware. Wait a minute, then try again."},
        {"a unit another program holds", 1,
         "The unit is in use by another program (a mounted disc or a recording program). Close "
         "that program or eject the disc, then try again."},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        windows.selected = row.line;
        host.boxes.clear();
        EXPECT_EQ(run(), UpdateOutcome::UnitInUse);
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(host.boxes[0].text, row.text);
        EXPECT_TRUE(host.guardEvents.empty());
    }
    ::close(other);

    // The keeper ends after its time; then the unit is free.
    const pid_t keeper = ::waitpid(-1, &status, 0);
    EXPECT_GT(keeper, 0);
    EXPECT_FALSE(platform::UpdateKeeper::keepsUnitOfEndedUpdate("0:3"));
}

// The same in a rehearsal, on the simulator, whose hold is a lock that every copy of the program
// on the same bus sees: while an update of a unit runs, and while its keeper holds the unit after
// it was killed, a second update of the unit is refused and sends nothing.
class KeptSimulatedUnit : public UpdateBench {};

TEST_F(KeptSimulatedUnit, ASecondUpdateOfAUnitTheFirstStillHoldsIsRefused) {
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    // The first update's second block fails: it holds the unit in its command error dialog.
    bind(std::string(kFailingBus) + "fail 0 3 offset 16384\n");
    pickFile("lix1.hex", 40000);
    host.makeGuard = guardWithKeeper(bench.dir());
    int holding[2];
    ASSERT_EQ(::pipe(holding), 0);
    const pid_t first = ::fork();
    if (first == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        windows.dialog.onShow = [&] {
            (void)!::write(holding[1], "h", 1);
            ::pause();
        };
        run();
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(holding[0], &byte, 1), 1);
    for (const char *text : {update::kUnitInUseText, update::kUnitStoringText}) {
        SCOPED_TRACE(text);
        if (text == update::kUnitStoringText) {
            ::kill(first, SIGKILL);
            ASSERT_EQ(::waitpid(first, nullptr, 0), first);
            waitForKeeperOf("simulated 0:3");
            EXPECT_FALSE(platform::UpdateKeeper::keepsUnitOfEndedUpdate("0:3")) << "a real unit";
        }
        const std::size_t sent = sentBlocks(bench).size();
        host.boxes.clear();
        EXPECT_EQ(run(), UpdateOutcome::UnitInUse);
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(host.boxes[0].text, text);
        EXPECT_EQ(sentBlocks(bench).size(), sent) << "nothing sent";
    }
    EXPECT_GT(::waitpid(-1, nullptr, 0), 0) << "the keeper ends after its time";
    ::close(holding[0]);
    ::close(holding[1]);
}
