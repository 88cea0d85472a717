// SPDX-License-Identifier: GPL-2.0-or-later
// The program on the real manager. With the built module (LD_LIBRARY_PATH names build/lib), on a
// machine with no generic SCSI device: it starts quietly with an empty unit list and Update
// disabled. With the test module that runs the real manager over a kernel seam of the test's own
// (tests/managers/fake_kernel): a whole update through the real windows.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <cerrno>

#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <vector>

#include "app/DownloadMain.h"
#include "app/ProgramWindows.h"
#include "managers/sim/SimUnit.h"
#include "tests/image/ImageTestSupport.h"
#include "tests/managers/SgTestSupport.h"
#include "tests/support/GuiSupport.h"
#include "tests/support/HexText.h"
#include "tests/support/TestHost.h"

namespace {

// A kernel whose one unit is a simulated recorder. Every command runs on the unit, except that
// the WRITE BUFFER at `residualOffset` ends GOOD, its first `residualAttempts` times, with a
// residual of its whole length and nothing taken, as a unit or a USB bridge may answer.
class SimulatedKernel final : public sg::PassThrough {
  public:
    explicit SimulatedKernel(const sim::UnitDescription &unit) : m_unit(unit, {}) {}

    int open(const std::string &) override { return 3; }
    void close(int) override {}
    // No node to hold: the update goes on as with a manager that cannot hold units.
    int openNode(const std::string &, int) override { return -ENOENT; }
    sg::PassThroughResult run(int, const sg::PassThroughCommand &command) override {
        const std::uint8_t *cdb = command.cdb.data();
        if (cdb[0] == 0x3B) {
            const unsigned offset = (cdb[3] << 16) | (cdb[4] << 8) | cdb[5];
            blockOffsets.push_back(offset);
            if (offset == residualOffset && residualAttempts > 0) {
                --residualAttempts;
                return {.residual = static_cast<int>(command.length)};
            }
        }
        const sim::Reply reply = m_unit.execute(cdb, static_cast<std::uint8_t>(command.cdb.size()),
                                                command.data, command.length);
        sg::PassThroughResult result{.scsiStatus = reply.targStat};
        if (reply.haStat != 0) {
            result.hostStatus = 0x07;  // DID_ERROR
        }
        if (reply.targStat == aspi::STATUS_CHKCOND) {
            result.driverStatus = sg::kDriverSense;
            std::copy(reply.sense.begin(), reply.sense.end(), result.sense.begin());
            result.senseLength = reply.sense.size();
        }
        return result;
    }

    const sim::SimUnit &unit() const { return m_unit; }

    unsigned residualOffset = 0;
    int residualAttempts = 0;
    std::vector<unsigned> blockOffsets;  // of every WRITE BUFFER, in order

  private:
    sim::SimUnit m_unit;
};

// Hands a sysfs tree and a kernel to the test module for its lifetime, from before the program
// binds the module.
class InstalledKernel {
  public:
    InstalledKernel(const std::filesystem::path &sysfsRoot, sg::PassThrough &kernel) {
        void *module = dlopen(aspi::kManagerLibraryName, RTLD_NOW);
        if (module == nullptr) {
            ADD_FAILURE() << dlerror();
            return;
        }
        m_install = reinterpret_cast<Install>(dlsym(module, "FakeKernelInstall"));
        if (m_install == nullptr) {
            ADD_FAILURE() << "not the fake kernel manager";
            return;
        }
        m_install(sysfsRoot.c_str(), &kernel);
    }
    ~InstalledKernel() {
        if (m_install != nullptr) {
            m_install(nullptr, nullptr);
        }
    }
    InstalledKernel(const InstalledKernel &) = delete;
    InstalledKernel &operator=(const InstalledKernel &) = delete;

  private:
    using Install = void (*)(const char *, sg::PassThrough *);
    Install m_install = nullptr;
};

}  // namespace

TEST(SgMainWindow, NoDeviceMeansEmptyListAndDisabledUpdate) {
    std::error_code error;
    if (!std::filesystem::is_empty("/sys/class/scsi_generic", error) && !error) {
        GTEST_SKIP() << "this machine has generic SCSI devices";
    }
    testing_support::TestHost host;
    TMainForm form;
    EXPECT_TRUE(host.boxes.empty()) << "no message box at start-up";
    EXPECT_EQ(form.DrivesList->count(), 0);
    EXPECT_FALSE(form.Update->isEnabled());
}

// A block that the unit ends GOOD without taking it fails (status 02h, host adapter status 12h):
// the command error dialog explains it, and Retry sends the whole block again. The update then
// completes with the whole image on the unit.
TEST(SgFakeKernelWindow, BlockNotTakenFailsAndRetrySendsItAgain) {
    sg_testing::FakeSysfs sysfs;
    sysfs.addDevice(0, "0:0:3:0", 5);
    sim::UnitDescription recorder;
    recorder.target = 3;
    std::ranges::copy(std::string_view("VEK     "), recorder.vendor.begin());
    std::ranges::copy(std::string_view("CDRW 8432       "), recorder.product.begin());
    std::ranges::copy(std::string_view("1.10"), recorder.revision.begin());
    SimulatedKernel kernel(recorder);
    kernel.residualOffset = 0x4000;
    kernel.residualAttempts = 1;
    const InstalledKernel installed(sysfs.root(), kernel);

    testing_support::TempDir folder("cdrw-sg-window");
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());
    image_test::writeFile("lix101.hex", hex_text::hexWithData(40000));
    testing_support::TestHost host;
    host.answers = {platform::Answer::No};  // to the final question: the program stays
    ProgramWindows program;
    program.MainForm.show();
    ASSERT_EQ(program.MainForm.DrivesList->count(), 1);
    // The first command error dialog is answered Retry, any later one Stop.
    QString dialogText;
    int dialogs = 0;
    QTimer answerDialogs;
    QObject::connect(&answerDialogs, &QTimer::timeout, [&] {
        if (program.CMD_Error_Form.isVisible()) {
            dialogText = program.CMD_Error_Form.Memo1->toPlainText();
            (++dialogs == 1 ? program.CMD_Error_Form.Retry_btn : program.CMD_Error_Form.Stop_btn)
                ->click();
        }
    });
    answerDialogs.start(10);
    testing_support::whenModalShown([&](QWidget *) {
        program.OpenFileDialog.FileName->setText(QStringLiteral("lix101.hex"));
        program.OpenFileDialog.OK->click();
    });
    program.MainForm.UpdateClick();
    std::filesystem::current_path(previous);

    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(dialogText.toStdString(),
              "Host Adapter ID:0   Device ID:3\nOperate Code:3b\n"
              "ASPI State:2    SCSI command has been aborted.\n"
              "Host adapter and target state:12    Data over-run/under-run.\n");
    EXPECT_EQ(kernel.blockOffsets, (std::vector<unsigned>{0, 0x4000, 0x4000, 0x8000}));
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "Update completed. Shutdown PC.");
    const std::string bin = image_test::readFile((folder.path() / "lix101.bin").string());
    ASSERT_GT(bin.size(), 4u);
    EXPECT_EQ(kernel.unit().received(), image_test::Bytes(bin.begin() + 4, bin.end()));
}
