// SPDX-License-Identifier: GPL-2.0-or-later
// The program started on the real manager (LD_LIBRARY_PATH names build/lib): on a machine with
// no generic SCSI device it starts quietly with an empty unit list and Update disabled.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/DownloadMain.h"
#include "tests/support/TestHost.h"

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
