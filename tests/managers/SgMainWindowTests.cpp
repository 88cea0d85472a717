// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The program on the real manager as built (LD_LIBRARY_PATH names build/lib). On a machine with
// no generic SCSI device: it starts with an empty unit list and Update disabled. With the kernel
// stand-in preloaded (KernelStandIn.cpp): the box that explains an empty list, and a whole update
// through the real windows, the module's commands answered at ioctl(SG_IO) by a simulated
// recorder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <vector>

#include "app/DownloadMain.h"
#include "app/ProgramWindows.h"
#include "app/StartupNotices.h"
#include "tests/image/ImageTestSupport.h"
#include "tests/managers/SgTestSupport.h"
#include "tests/support/GuiSupport.h"
#include "tests/support/HexText.h"
#include "tests/support/TestHost.h"

namespace {

// The buffer offsets of the WRITE BUFFER commands in the stand-in's log, in order.
std::vector<unsigned> blockOffsets(const std::filesystem::path &log) {
    std::vector<unsigned> offsets;
    std::ifstream in(log);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string node;
        unsigned cdb[6] = {};
        fields >> node >> std::hex;
        for (unsigned &byte : cdb) {
            fields >> byte;
        }
        if (cdb[0] == 0x3B) {
            offsets.push_back((cdb[3] << 16) | (cdb[4] << 8) | cdb[5]);
        }
    }
    return offsets;
}

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

// An update whose second block the stand-in ends by its `residuals` rule: the command error
// dialog's last line is `lastLine`, and Retry sends the whole block again. The update then
// completes with the whole image on the unit.
static void secondBlockFailsAndRetrySendsItAgain(const char *residuals, const char *lastLine) {
    sg_testing::FakeSysfs sysfs;
    sysfs.addDevice(0, "0:0:3:0", 5, "sr0");
    sysfs.addNode("sg0", "VEK     CDRW 8432       1.10");
    sysfs.addNode("sr0");
    std::ofstream(sysfs.folder() / "residuals") << residuals;
    const sg_testing::StandInRoot standIn(sysfs.folder());

    testing_support::TempDir folder("cdrw-sg-window");
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());
    image_test::writeFile("lix101.hex", hex_text::hexWithData(40000));
    testing_support::TestHost host;
    host.answers = {platform::Answer::No};  // to the final question: the program stays
    ProgramWindows program;
    program.MainForm.show();
    ASSERT_EQ(program.MainForm.DrivesList->count(), 1);
    EXPECT_EQ(program.MainForm.windowTitle(), QString::fromLatin1(kWindowTitle)) << "no rehearsal";
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
              "ASPI State:2    SCSI command has been aborted.\n" +
                  std::string(lastLine) + "\n");
    EXPECT_EQ(blockOffsets(sysfs.folder() / "log"),
              (std::vector<unsigned>{0, 0x4000, 0x4000, 0x8000}));
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "Update completed. Shutdown PC.");
    const std::string bin = image_test::readFile((folder.path() / "lix101.bin").string());
    ASSERT_GT(bin.size(), 4u);
    EXPECT_EQ(image_test::readFile((sysfs.folder() / "images" / "sg0.bin").string()),
              bin.substr(4));
}

// A block that the unit ends GOOD without taking it (the kernel's resid is its length) fails
// (status 02h, host adapter status 12h), and so does one that the host side ends with a host byte
// (02h, 11h, never sense lines).
TEST(SgKernelStandInWindow, BlockNotTakenFailsAndRetrySendsItAgain) {
    secondBlockFailsAndRetrySendsItAgain(
        "3b 0x4000 length 1\n", "Host adapter and target state:12    Data over-run/under-run.");
    secondBlockFailsAndRetrySendsItAgain("3b 0x4000 0 1 03\n",
                                         "Host adapter and target state:11    Selection time out.");
}

// A start-up scan that lists no unit is explained in one information box once the main window
// is up, from what the manager found; with a unit listed there is none.
TEST(SgKernelStandInWindow, AnEmptyListIsExplainedOnce) {
    using sg_testing::FakeSysfs;
    const std::string recorder = "VEK     CDRW 8432       1.10";
    int held = -1;  // the descriptor through which "another process" holds a unit
    const struct {
        const char *name;
        std::function<void(FakeSysfs &)> layOut;
        std::vector<std::string> said;  // each in the box's text; no box when empty
    } cases[] = {
        // First: the manager remembers for the process's life which nodes refused it.
        {"a unit listed",
         [&](FakeSysfs &sysfs) {
             sysfs.addDevice(0, "0:0:3:0", 5);
             sysfs.addNode("sg0", recorder);
         },
         {}},
        {"a unit that an update holds",
         [&](FakeSysfs &sysfs) {
             sysfs.addDevice(0, "0:0:3:0", 5);
             sysfs.addNode("sg0", recorder);
             held = ::open((sysfs.folder() / "dev" / "sg0").c_str(), O_RDONLY | O_CLOEXEC);
             ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
         },
         {"1 CD/DVD unit was found that an update holds", "less than 70 seconds", "Wait a minute"}},
        {"no sg driver", [](FakeSysfs &) {}, {"(sg)", "sudo modprobe sg", "/etc/modules-load.d/"}},
        {"units that this user may not open",
         [&](FakeSysfs &sysfs) {
             for (int n = 0; n < 5; ++n) {
                 sysfs.addDevice(n, "0:0:" + std::to_string(n) + ":0", 5);
                 sysfs.addNode("sg" + std::to_string(n), recorder, std::filesystem::perms::none);
             }
         },
         {"5 CD/DVD units were found that you may not use: /dev/sg0, /dev/sg1, /dev/sg2, "
          "/dev/sg3 and 1 other node.",
          "group \"cdrom\"", "local desktop session", "log in again"}},
        {"no CD/DVD unit, a disk",
         [](FakeSysfs &sysfs) { sysfs.addDevice(0, "0:0:0:0", 0); },
         {"no CD/DVD unit was found"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        FakeSysfs sysfs;
        c.layOut(sysfs);
        const sg_testing::StandInRoot standIn(sysfs.folder());
        testing_support::TestHost host;
        ProgramWindows program;
        program.MainForm.show();
        app::showStartupNotices(program.MainForm);
        app::showStartupNotices(program.MainForm);
        if (held >= 0) {
            ::close(held);
            held = -1;
        }
        if (c.said.empty()) {
            EXPECT_TRUE(host.boxes.empty());
            continue;
        }
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(host.boxes[0].icon, platform::Icon::Information);
        for (const std::string &words : c.said) {
            EXPECT_NE(host.boxes[0].text.find(words), std::string::npos) << host.boxes[0].text;
        }
    }
}
