// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Test entry for suites that need a QApplication: runs on the offscreen platform.
#include <gtest/gtest.h>

#include <cstdlib>
#include "app/Application.h"

int main(int argc, char **argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    TApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
